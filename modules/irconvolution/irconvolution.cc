// Python module "irconvolution": functions over a Jconvolv.

#include <limits.h>
#include "framework/pyframe.h"
#include "jconvolv.h"

static const char *CAPNAME = "Jconvolv";

// Result of the functions when the object has no engine (construction failed).
enum { NO_ENGINE = -1 };


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          ninp, nout;

    if (!PyArg_ParseTuple (args, "Oszii", &P, &client, &server, &ninp, &nout)) return nullptr;
    return vesk_make_capsules (new Jconvolv (client, server, ninp, nout), CAPNAME);
}


static PyObject *set_state (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        s;

    if (!PyArg_ParseTuple (args, "Oi", &P, &s)) return nullptr;
    Jconvolv *J = vesk_object <Jconvolv> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_state (s);
    Py_RETURN_NONE;
}


static PyObject *configure (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        len;
    float      density;

    if (!PyArg_ParseTuple (args, "Oif", &P, &len, &density)) return nullptr;
    Jconvolv *J = vesk_object <Jconvolv> (P, CAPNAME);
    if (!J) return nullptr;
    if (len) return PyLong_FromLong (J->configure (len, density));
    if (!J->_convproc) return PyLong_FromLong (NO_ENGINE);
    return PyLong_FromLong (J->_convproc->cleanup ());
}


static PyObject *impdata_write (PyObject *self, PyObject *args)
{
    PyObject      *P, *A;
    int            inp, out, offs, create;
    Py_buffer      view;
    Vesk_samples   smp;

    if (!PyArg_ParseTuple (args, "OOiiii", &P, &A, &inp, &out, &offs, &create)) return nullptr;
    Jconvolv *J = vesk_object <Jconvolv> (P, CAPNAME);
    if (!J) return nullptr;
    Convproc *C = J->_convproc;
    if (A == Py_None)
    {
        return PyLong_FromLong (C ? C->impdata_clear (inp, out) : NO_ENGINE);
    }
    if (vesk_array_view (A, VESK_ARRAY_FILTER, &view, &smp)) return nullptr;
    int r = NO_ENGINE;
    if ((long long) offs + smp.size > INT_MAX || smp.stride > INT_MAX || smp.stride < INT_MIN)
    {
        PyBuffer_Release (&view);
        PyErr_SetString (PyExc_ValueError, "Array too large");
        return nullptr;
    }
    if (C)
    {
        int step = (int) smp.stride;
        int n = (int) smp.size;
        r = create ? C->impdata_create (inp, out, step, smp.data, offs, offs + n)
                   : C->impdata_update (inp, out, step, smp.data, offs, offs + n);
    }
    PyBuffer_Release (&view);
    return PyLong_FromLong (r);
}


static PyObject *impdata_link (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        i1, o1, i2, o2;

    if (!PyArg_ParseTuple (args, "Oiiii", &P, &i1, &o1, &i2, &o2)) return nullptr;
    Jconvolv *J = vesk_object <Jconvolv> (P, CAPNAME);
    if (!J) return nullptr;
    Convproc *C = J->_convproc;
    return PyLong_FromLong (C ? C->impdata_link (i1, o1, i2, o2) : NO_ENGINE);
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create objects." },
    { "set_state", set_state, METH_VARARGS, "Set new state." },
    { "configure", configure, METH_VARARGS, "Configure." },
    { "impdata_write", impdata_write, METH_VARARGS, "Write IR data." },
    { "impdata_link", impdata_link, METH_VARARGS, "Link IR data." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (irconvolution, methods)
