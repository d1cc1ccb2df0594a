// Python module "mimoconvolution": functions over a Jmatconv.

#include <limits.h>
#include <math.h>
#include "framework/pyframe.h"
#include "jmatconv.h"

static const char *CAPNAME = "Jmatconv";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          maxlen, ninp, nout, nthr;

    if (!PyArg_ParseTuple (args, "Osziiii", &P, &client, &server, &maxlen, &ninp, &nout, &nthr)) return nullptr;
    return vesk_make_capsules (new Jmatconv (client, server, maxlen, ninp, nout, nthr), CAPNAME);
}


static PyObject *set_state (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        s;

    if (!PyArg_ParseTuple (args, "Oi", &P, &s)) return nullptr;
    Jmatconv *J = vesk_object <Jmatconv> (P, CAPNAME);
    if (!J) return nullptr;
    if (J->set_state (s) < 0)
    {
        PyErr_Format (PyExc_ValueError, "State must be PASSIVE (%d) or PROCESS (%d)",
                      (int) Jclient::PASSIVE, (int) Jclient::PROCESS);
        return nullptr;
    }
    Py_RETURN_NONE;
}


static PyObject *load_impulse (PyObject *self, PyObject *args)
{
    PyObject      *P, *A;
    int            inp, out, r;
    float          gain;
    Py_buffer      view;
    Vesk_samples   smp;

    if (!PyArg_ParseTuple (args, "OOiif", &P, &A, &inp, &out, &gain)) return nullptr;
    Jmatconv *J = vesk_object <Jmatconv> (P, CAPNAME);
    if (!J) return nullptr;
    if (A == Py_None) return Py_BuildValue ("i", J->load_impulse (nullptr, 0, 0, inp, out, 0.0f));
    if (vesk_refuse_nonfinite (gain, "Gain")) return nullptr;
    if (vesk_array_view (A, VESK_ARRAY_FILTER, &view, &smp)) return nullptr;
    if (smp.size > INT_MAX)
    {
        PyBuffer_Release (&view);
        PyErr_SetString (PyExc_ValueError, "Array too large");
        return nullptr;
    }
    // A NaN or infinity would reach every output the response feeds.
    if (vesk_refuse_nonfinite_samples (&smp, smp.size, "Impulse sample"))
    {
        PyBuffer_Release (&view);
        return nullptr;
    }
    r = J->load_impulse (smp.data, (int) smp.size, smp.stride, inp, out, gain);
    PyBuffer_Release (&view);
    return Py_BuildValue ("i", r);
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_state", set_state, METH_VARARGS, "Set new state." },
    { "load_impulse", load_impulse, METH_VARARGS, "Load single impulse." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (mimoconvolution, methods)
