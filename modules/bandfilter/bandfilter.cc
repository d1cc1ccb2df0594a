// Python module "bandfilter": functions over a Jiecfilt.

#include "framework/pyframe.h"
#include "jiecfilt.h"

static const char *CAPNAME = "Jiecfilt";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          ninp, nout;

    if (!PyArg_ParseTuple (args, "Oszii", &P, &client, &server, &ninp, &nout)) return nullptr;
    return vesk_make_capsules (new Jiecfilt (client, server, ninp, nout), CAPNAME);
}


static PyObject *set_filter (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        inp, out, system, band;

    if (!PyArg_ParseTuple (args, "Oiiii", &P, &inp, &out, &system, &band)) return nullptr;
    Jiecfilt *J = vesk_object <Jiecfilt> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_filter (inp, out, system, band);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_filter", set_filter, METH_VARARGS, "Set input and filter for channel." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (bandfilter, methods)
