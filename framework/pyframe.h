// The frame shared by all extension modules: module creation, the capsule
// pair that hands a processing object to Python, and the checks applied to
// values and sample arrays coming from Python. Module functions only.

#ifndef VESK_PYFRAME_H
#define VESK_PYFRAME_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include "jclient.h"


// Creates the module from its definition (API version 1013, nothing else).
PyObject *vesk_module_create (PyModuleDef *def);

// The module definition and init function of module `name` over its method
// table `methods`: no doc string, no per-module state, no slots.
#define VESK_MODULE(name, methods) \
    static PyModuleDef vesk_module_def = \
    { \
        PyModuleDef_HEAD_INIT, #name, nullptr, -1, methods, \
        nullptr, nullptr, nullptr, nullptr \
    }; \
    PyMODINIT_FUNC PyInit_##name (void) \
    { \
        return vesk_module_create (&vesk_module_def); \
    }

// Returns (tool capsule, client capsule) for a new object, or null with an
// exception set (the object is then deleted). The tool capsule, named after
// the class, owns the object. The "Jclient" capsule views the same object as
// its base and holds a reference to the tool capsule, so the object lives as
// long as either of them: a client capsule can never outlive its object.
PyObject *vesk_make_capsules (Jclient *obj, const char *capname);

// Returns one owning capsule (for modules without a client capsule).
PyObject *vesk_make_capsule (Jclient *obj, const char *capname);

// The object behind a capsule of the given name, or null with an exception
// set when the argument is not such a capsule.
template <class T> inline T *vesk_object (PyObject *capsule, const char *capname)
{
    return static_cast <T *> (PyCapsule_GetPointer (capsule, capname));
}

// Sample arrays: one-dimensional float32 buffers, taken with one of the
// buffer protocol requests below.
enum
{
    VESK_ARRAY_FILTER = PyBUF_FULL_RO,   // read-only data read during the call
    VESK_ARRAY_PLAY   = PyBUF_RECORDS_RO,// read-only data kept for playback
    VESK_ARRAY_RECORD = PyBUF_RECORDS    // writable data written by the process thread
};

struct Vesk_samples
{
    float       *data;
    Py_ssize_t   size;     // number of elements
    Py_ssize_t   stride;   // in samples, sign kept
};

// Requests a view of obj with the given flags and checks it. On success
// returns 0, fills smp and leaves the view held in *view (release it with
// PyBuffer_Release). On failure returns -1 with the exception set and no
// view held.
int vesk_array_view (PyObject *obj, int flags, Py_buffer *view, Vesk_samples *smp);

// A result array that an object writes into for its whole lifetime (the
// meters' level arrays): a writable view of exactly n contiguous float32
// elements. Returns 0 with the view held (the object keeps it until it is
// destroyed, so the array can neither go away nor be resized meanwhile), or
// -1 with an exception set and no view held.
int vesk_result_view (PyObject *obj, Py_ssize_t n, Py_buffer *view);

// As vesk_array_view, but releases the view before returning: for data read during the call.
int vesk_array_check (PyObject *obj, int flags, Vesk_samples *smp);

// Values that would put NaN or infinity into a signal path are refused:
// these return 0 when v is acceptable, else set ValueError naming what and
// return -1.
int vesk_refuse_nan (double v, const char *what);       // NaN refused, infinities allowed
int vesk_refuse_nonfinite (double v, const char *what); // NaN and infinities refused
// The same for the first n samples of smp (impulse responses and filters).
int vesk_refuse_nonfinite_samples (const Vesk_samples *smp, Py_ssize_t n, const char *what);

#endif
