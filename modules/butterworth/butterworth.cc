// Python module "butterworth": functions over a Jbw8filt.

#include "framework/pyframe.h"
#include "jbw8filt.h"

static const char *CAPNAME = "Jbw8filt";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          ninp, nout;

    if (!PyArg_ParseTuple (args, "Oszii", &P, &client, &server, &ninp, &nout)) return nullptr;
    return vesk_make_capsules (new Jbw8filt (client, server, ninp, nout), CAPNAME);
}


static PyObject *set_filter (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        inp, out;
    float      hpf, lpf;

    if (!PyArg_ParseTuple (args, "Oiiff", &P, &inp, &out, &hpf, &lpf)) return nullptr;
    Jbw8filt *J = vesk_object <Jbw8filt> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (hpf, "Frequency") || vesk_refuse_nan (lpf, "Frequency")) return nullptr;
    J->set_filter (inp, out, hpf, lpf);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_filter", set_filter, METH_VARARGS, "Set input and filter for output." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (butterworth, methods)
