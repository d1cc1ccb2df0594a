// Python module "gaindelaymatrix": functions over a Jmatrix.

#include "framework/pyframe.h"
#include "jmatrix.h"

static const char *CAPNAME = "Jmatrix";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          ninp, nout;
    float        maxdelay;

    if (!PyArg_ParseTuple (args, "Osziif", &P, &client, &server, &ninp, &nout, &maxdelay)) return nullptr;
    // Limited to 0..3 s, infinities too; NaN has no place to go.
    if (vesk_refuse_nan (maxdelay, "Maximum delay")) return nullptr;
    return vesk_make_capsules (new Jmatrix (client, server, ninp, nout, maxdelay), CAPNAME);
}


static PyObject *set_gain (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        i, o;
    float      g;

    if (!PyArg_ParseTuple (args, "Oiif", &P, &i, &o, &g)) return nullptr;
    Jmatrix *J = vesk_object <Jmatrix> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nonfinite (g, "Gain")) return nullptr;
    if (J->set_gain (i, o, g))
    {
        PyErr_SetString (PyExc_ValueError, "Gain too large");
        return nullptr;
    }
    Py_RETURN_NONE;
}


static PyObject *set_delay (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        i, o;
    float      t;

    if (!PyArg_ParseTuple (args, "Oiif", &P, &i, &o, &t)) return nullptr;
    Jmatrix *J = vesk_object <Jmatrix> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nonfinite (t, "Delay")) return nullptr;
    J->set_delay (i, o, t);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_gain", set_gain, METH_VARARGS, "Set gain." },
    { "set_delay", set_delay, METH_VARARGS, "Set delay." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (gaindelaymatrix, methods)
