// Python module "equaliser": functions over a Jparameq.

#include "framework/pyframe.h"
#include "jparameq.h"

static const char *CAPNAME = "Jparameq";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server, *sections;
    int          nchan;

    if (!PyArg_ParseTuple (args, "Oszis", &P, &client, &server, &nchan, &sections)) return nullptr;
    return vesk_make_capsules (new Jparameq (client, server, nchan, sections), CAPNAME);
}


static PyObject *set_filter (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        index;
    float      freq, gain, shape;

    if (!PyArg_ParseTuple (args, "Oifff", &P, &index, &freq, &gain, &shape)) return nullptr;
    Jparameq *J = vesk_object <Jparameq> (P, CAPNAME);
    if (!J) return nullptr;
    if (   vesk_refuse_nan (freq, "Frequency")
        || vesk_refuse_nan (gain, "Gain")
        || vesk_refuse_nan (shape, "Shape")) return nullptr;
    J->set_filter (index, freq, gain, shape);
    Py_RETURN_NONE;
}


static PyObject *set_bypass (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        on;

    if (!PyArg_ParseTuple (args, "Oi", &P, &on)) return nullptr;
    Jparameq *J = vesk_object <Jparameq> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_bypass (on != 0);
    Py_RETURN_NONE;
}


static PyObject *set_gain (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      gain;

    if (!PyArg_ParseTuple (args, "Of", &P, &gain)) return nullptr;
    Jparameq *J = vesk_object <Jparameq> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (gain, "Gain")) return nullptr;
    J->set_gain (gain);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_filter", set_filter, METH_VARARGS, "Set filter parameters." },
    { "set_bypass", set_bypass, METH_VARARGS, "Set global bypass." },
    { "set_gain", set_gain, METH_VARARGS, "Set make up gain." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (equaliser, methods)
