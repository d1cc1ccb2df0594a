// Python module "fastplayback": functions over a Jfwplay.

#include "framework/pyframe.h"
#include "jfwplay.h"

static const char *CAPNAME = "Jfwplay";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          nchan;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &nchan)) return nullptr;
    return vesk_make_capsules (new Jfwplay (client, server, nchan), CAPNAME);
}


static PyObject *load_file (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *name;

    if (!PyArg_ParseTuple (args, "Oz", &P, &name)) return nullptr;
    Jfwplay *J = vesk_object <Jfwplay> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->load_file (name));
}


static PyObject *set_range (PyObject *self, PyObject *args)
{
    PyObject   *P;
    long long   start, end;

    if (!PyArg_ParseTuple (args, "OLL", &P, &start, &end)) return nullptr;
    Jfwplay *J = vesk_object <Jfwplay> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->set_range (start, end));
}


static PyObject *set_state (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        onoff;

    if (!PyArg_ParseTuple (args, "Oi", &P, &onoff)) return nullptr;
    Jfwplay *J = vesk_object <Jfwplay> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->set_state (onoff));
}


static PyObject *fileinfo (PyObject *self, PyObject *args)
{
    PyObject  *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jfwplay *J = vesk_object <Jfwplay> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("Li", (long long) J->flen (), J->fchan ());
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "load_file", load_file, METH_VARARGS, "Open file for playback." },
    { "set_range", set_range, METH_VARARGS, "Set playback sample range." },
    { "set_state", set_state, METH_VARARGS, "Set process state." },
    { "fileinfo", fileinfo, METH_VARARGS, "Return file shape." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (fastplayback, methods)
