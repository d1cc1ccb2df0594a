// Python module "fastcapture": functions over a Jfwcapt.

#include "framework/pyframe.h"
#include "jfwcapt.h"

static const char *CAPNAME = "Jfwcapt";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          nchan;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &nchan)) return nullptr;
    return vesk_make_capsules (new Jfwcapt (client, server, nchan), CAPNAME);
}


static PyObject *create_file (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *name, *opts;
    int          nchan;

    if (!PyArg_ParseTuple (args, "Osiz", &P, &name, &nchan, &opts)) return nullptr;
    Jfwcapt *J = vesk_object <Jfwcapt> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->create_file (name, nchan, opts));
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "create_file", create_file, METH_VARARGS, "Create file for capture." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (fastcapture, methods)
