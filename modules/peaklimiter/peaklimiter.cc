// Python module "peaklimiter": functions over a Jpeaklim.

#include "framework/pyframe.h"
#include "jpeaklim.h"

static const char *CAPNAME = "Jpeaklim";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          nchan;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &nchan)) return nullptr;
    return vesk_make_capsules (new Jpeaklim (client, server, nchan), CAPNAME);
}


// The three setters share one shape: parse a float, refuse NaN (the setting
// is clamped, so infinities are limited like any other value), store it.
typedef void (Peaklim::*Setter) (float);

static PyObject *set_value (PyObject *args, Setter fn, const char *what)
{
    PyObject  *P;
    float      v;

    if (!PyArg_ParseTuple (args, "Of", &P, &v)) return nullptr;
    Jpeaklim *J = vesk_object <Jpeaklim> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (v, what)) return nullptr;
    if (J->state != Jclient::FAILED) (J->peaklim.*fn) (v);
    Py_RETURN_NONE;
}


static PyObject *set_inpgain (PyObject *self, PyObject *args)
{
    return set_value (args, &Peaklim::set_inpgain, "Input gain");
}


static PyObject *set_threshold (PyObject *self, PyObject *args)
{
    return set_value (args, &Peaklim::set_threshold, "Threshold");
}


static PyObject *set_release (PyObject *self, PyObject *args)
{
    return set_value (args, &Peaklim::set_release, "Release time");
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_inpgain", set_inpgain, METH_VARARGS, "Set input gain." },
    { "set_threshold", set_threshold, METH_VARARGS, "Set threshold." },
    { "set_release", set_release, METH_VARARGS, "Set release time." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (peaklimiter, methods)
