// Python module "gaincontrol": functions over a Jgainctl.

#include "framework/pyframe.h"
#include "jgainctl.h"

static const char *CAPNAME = "Jgainctl";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          nchan;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &nchan)) return nullptr;
    return vesk_make_capsules (new Jgainctl (client, server, nchan), CAPNAME);
}


static PyObject *set_gain (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        index;
    float      db;

    if (!PyArg_ParseTuple (args, "Oif", &P, &index, &db)) return nullptr;
    Jgainctl *J = vesk_object <Jgainctl> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (db, "Gain")) return nullptr;
    if (J->fader && J->fader->setgain (index, db))
    {
        PyErr_SetString (PyExc_ValueError, "Gain too large");
        return nullptr;
    }
    Py_RETURN_NONE;
}


static PyObject *set_mute (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        index, on;

    if (!PyArg_ParseTuple (args, "Oii", &P, &index, &on)) return nullptr;
    Jgainctl *J = vesk_object <Jgainctl> (P, CAPNAME);
    if (!J) return nullptr;
    if (J->fader) J->fader->setmute (index, on != 0);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_gain", set_gain, METH_VARARGS, "Set gain in dB." },
    { "set_mute", set_mute, METH_VARARGS, "Set mute state on or off" },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (gaincontrol, methods)
