// Python module "hoabinaural": functions over a Jambbin.

#include "framework/pyframe.h"
#include "jambbin.h"

static const char *CAPNAME = "Jambbin";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          maxlen, degree;

    if (!PyArg_ParseTuple (args, "Oszii", &P, &client, &server, &maxlen, &degree)) return nullptr;
    return vesk_make_capsules (new Jambbin (client, server, maxlen, degree), CAPNAME);
}


static PyObject *set_nfcomp (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      distance;

    if (!PyArg_ParseTuple (args, "Of", &P, &distance)) return nullptr;
    Jambbin *J = vesk_object <Jambbin> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (distance, "Distance")) return nullptr;
    if (J->renderer) J->renderer->set_nfcomp (distance);
    Py_RETURN_NONE;
}


// The array is checked (and its samples refused if not finite) before
// anything changes; the filter is copied while the view is held.
static PyObject *set_filter (PyObject *self, PyObject *args)
{
    PyObject      *P, *A;
    int            index;
    Py_buffer      view;
    Vesk_samples   smp;

    if (!PyArg_ParseTuple (args, "OiO", &P, &index, &A)) return nullptr;
    Jambbin *J = vesk_object <Jambbin> (P, CAPNAME);
    if (!J) return nullptr;
    if (A == Py_None)
    {
        if (J->renderer) J->renderer->binconv->setimp (index, 1.0f, nullptr, 0, 1);
        return PyLong_FromLong (0);
    }
    if (vesk_array_view (A, VESK_ARRAY_FILTER, &view, &smp)) return nullptr;
    // Samples beyond the filter's nparts * fsize are never used.
    Py_ssize_t used = J->renderer ? (Py_ssize_t) J->renderer->binconv->nparts * J->renderer->binconv->fsize : 0;
    int len = (int) (smp.size < used ? smp.size : used);
    if (vesk_refuse_nonfinite_samples (&smp, len, "Filter sample"))
    {
        PyBuffer_Release (&view);
        return nullptr;
    }
    if (J->renderer) J->renderer->binconv->setimp (index, 1.0f, smp.data, len, (int) smp.stride);
    PyBuffer_Release (&view);
    return PyLong_FromLong (0);
}


static PyObject *set_rotation (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      angle, x, y, z, tramp;

    if (!PyArg_ParseTuple (args, "Offfff", &P, &angle, &x, &y, &z, &tramp)) return nullptr;
    Jambbin *J = vesk_object <Jambbin> (P, CAPNAME);
    if (!J) return nullptr;
    if (J->renderer) J->renderer->rotator->set_rotation (angle, x, y, z, tramp);
    return PyLong_FromLong (0);
}


static PyObject *set_quaternion (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      w, x, y, z, tramp;

    if (!PyArg_ParseTuple (args, "Offfff", &P, &w, &x, &y, &z, &tramp)) return nullptr;
    Jambbin *J = vesk_object <Jambbin> (P, CAPNAME);
    if (!J) return nullptr;
    if (J->renderer) J->renderer->rotator->set_quaternion (w, x, y, z, tramp);
    return PyLong_FromLong (0);
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_nfcomp", set_nfcomp, METH_VARARGS, "Set NF compensation." },
    { "set_filter", set_filter, METH_VARARGS, "Set rendering filter." },
    { "set_rotation", set_rotation, METH_VARARGS, "Set rotation angle and axis." },
    { "set_quaternion", set_quaternion, METH_VARARGS, "Set rotation by quaternion." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (hoabinaural, methods)
