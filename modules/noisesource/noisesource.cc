// Python module "noisesource": functions over a Jnoise.

#include "framework/pyframe.h"
#include "jnoise.h"

static const char *CAPNAME = "Jnoise";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          nout;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &nout)) return nullptr;
    return vesk_make_capsules (new Jnoise (client, server, nout), CAPNAME);
}


static PyObject *set_output (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        index, type;
    float      db;

    if (!PyArg_ParseTuple (args, "Oiif", &P, &index, &type, &db)) return nullptr;
    Jnoise *J = vesk_object <Jnoise> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (db, "Level")) return nullptr;
    if (J->set_output (index, type, db))
    {
        PyErr_SetString (PyExc_ValueError, "Level too large");
        return nullptr;
    }
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_output", set_output, METH_VARARGS, "Set noise type and level." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (noisesource, methods)
