// The frame shared by all extension modules.

#include <math.h>
#include <string.h>
#include "pyframe.h"


PyObject *vesk_module_create (PyModuleDef *def)
{
    return PyModule_Create2 (def, 1013);
}


// Destructor of every tool capsule: deletes the object through its virtual
// destructor, which closes the JACK client before freeing anything.
static void vesk_destroy (PyObject *capsule)
{
    Jclient *J = static_cast <Jclient *> (PyCapsule_GetPointer (capsule, PyCapsule_GetName (capsule)));
    if (J) delete J;
    else PyErr_Clear ();
}


// Destructor of every client capsule: lets go of its tool capsule.
static void vesk_release_owner (PyObject *capsule)
{
    PyObject *owner = static_cast <PyObject *> (PyCapsule_GetContext (capsule));
    Py_XDECREF (owner);
}


PyObject *vesk_make_capsule (Jclient *obj, const char *capname)
{
    PyObject *C = PyCapsule_New (obj, capname, vesk_destroy);
    if (!C) delete obj;
    return C;
}


PyObject *vesk_make_capsules (Jclient *obj, const char *capname)
{
    PyObject *C, *B;

    C = vesk_make_capsule (obj, capname);
    if (!C) return nullptr;
    B = PyCapsule_New (obj, "Jclient", vesk_release_owner);
    if (!B)
    {
        Py_DECREF (C);
        return nullptr;
    }
    Py_INCREF (C);
    PyCapsule_SetContext (B, C);
    return Py_BuildValue ("NN", C, B);
}


int vesk_array_view (PyObject *obj, int flags, Py_buffer *view, Vesk_samples *smp)
{
    if (PyObject_GetBuffer (obj, view, flags)) return -1;
    if (!view->format || strcmp (view->format, "f"))
    {
        PyBuffer_Release (view);
        PyErr_SetString (PyExc_TypeError, "Data type must be float32");
        return -1;
    }
    if (view->ndim != 1)
    {
        PyBuffer_Release (view);
        PyErr_SetString (PyExc_TypeError, "Array must be single dimension");
        return -1;
    }
    smp->data = static_cast <float *> (view->buf);
    smp->size = view->shape [0];
    smp->stride = view->strides [0] / (Py_ssize_t) sizeof (float);
    return 0;
}


int vesk_result_view (PyObject *obj, Py_ssize_t n, Py_buffer *view)
{
    Vesk_samples smp;

    if (vesk_array_view (obj, PyBUF_FULL, view, &smp)) return -1;
    if (smp.size != n)
    {
        PyBuffer_Release (view);
        PyErr_Format (PyExc_ValueError, "Array must have %zd elements", n);
        return -1;
    }
    if (view->strides [0] != (Py_ssize_t) sizeof (float) || (view->suboffsets && view->suboffsets [0] >= 0))
    {
        PyBuffer_Release (view);
        PyErr_SetString (PyExc_ValueError, "Array must be contiguous");
        return -1;
    }
    return 0;
}


int vesk_array_check (PyObject *obj, int flags, Vesk_samples *smp)
{
    Py_buffer view;
    if (vesk_array_view (obj, flags, &view, smp)) return -1;
    PyBuffer_Release (&view);
    return 0;
}


int vesk_refuse_nan (double v, const char *what)
{
    if (!isnan (v)) return 0;
    PyErr_Format (PyExc_ValueError, "%s must not be NaN", what);
    return -1;
}


int vesk_refuse_nonfinite (double v, const char *what)
{
    if (isfinite (v)) return 0;
    PyErr_Format (PyExc_ValueError, "%s must be a finite number", what);
    return -1;
}


int vesk_refuse_nonfinite_samples (const Vesk_samples *smp, Py_ssize_t n, const char *what)
{
    for (Py_ssize_t k = 0; k < n; k++)
    {
        if (vesk_refuse_nonfinite (smp->data [k * smp->stride], what)) return -1;
    }
    return 0;
}
