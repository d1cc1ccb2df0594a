// Python module "fileplayer": functions over a Jplayer.

#include "framework/pyframe.h"
#include "jplayer.h"

static const char *CAPNAME = "Jplayer";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          nout;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &nout)) return nullptr;
    return vesk_make_capsules (new Jplayer (client, server, nout), CAPNAME);
}


static PyObject *set_state (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        s;

    if (!PyArg_ParseTuple (args, "Oi", &P, &s)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_state (s);
    Py_RETURN_NONE;
}


static PyObject *get_posit (PyObject *self, PyObject *args)
{
    PyObject  *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    int s = J->state;
    return Py_BuildValue ("iL", s, (long long) J->get_posit ());
}


static PyObject *set_posit (PyObject *self, PyObject *args)
{
    PyObject   *P;
    long long   p;

    if (!PyArg_ParseTuple (args, "OL", &P, &p)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_posit (p);
    Py_RETURN_NONE;
}


static PyObject *set_gain (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      gain, time;

    if (!PyArg_ParseTuple (args, "Off", &P, &gain, &time)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nonfinite (gain, "Gain") || vesk_refuse_nonfinite (time, "Time")) return nullptr;
    J->set_gain (gain, time);
    Py_RETURN_NONE;
}


static PyObject *open_file (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *name;
    int          r;

    if (!PyArg_ParseTuple (args, "Os", &P, &name)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    r = J->open_file (name);
    return Py_BuildValue ("i", r);
}


static PyObject *close_file (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        r;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    r = J->close_file ();
    return Py_BuildValue ("i", r);
}


static PyObject *get_file_info (PyObject *self, PyObject *args)
{
    PyObject  *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jplayer *J = vesk_object <Jplayer> (P, CAPNAME);
    if (!J) return nullptr;
    const AFreader &R = J->reader ();
    return Py_BuildValue ("(iiL)", R._nchan, R._frate, (long long) R._flen);
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_state", set_state, METH_VARARGS, "Set new state." },
    { "get_posit", get_posit, METH_VARARGS, "Get current state and position." },
    { "set_posit", set_posit, METH_VARARGS, "Locate to new postition." },
    { "set_gain", set_gain, METH_VARARGS, "Set playback gain." },
    { "open_file", open_file, METH_VARARGS, "Open an audio file." },
    { "close_file", close_file, METH_VARARGS, "Close current audio file." },
    { "get_file_info", get_file_info, METH_VARARGS, "Get (chan, rate, size)." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (fileplayer, methods)
