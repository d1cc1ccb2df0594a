// Python module "clientops": operations that are the same for every tool,
// on the "Jclient" capsule that each tool's makecaps returns second.

#include "framework/pyframe.h"


static PyObject *get_state (PyObject *self, PyObject *args)
{
    PyObject *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jclient *J = vesk_object <Jclient> (P, "Jclient");
    if (!J) return nullptr;
    return Py_BuildValue ("i", (int) J->state);
}


static PyObject *get_jack_info (PyObject *self, PyObject *args)
{
    PyObject *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jclient *J = vesk_object <Jclient> (P, "Jclient");
    if (!J) return nullptr;
    return Py_BuildValue ("sii", J->jack_name, J->fsamp, J->fsize);
}


static PyObject *port_operation (PyObject *self, PyObject *args)
{
    PyObject    *P;
    int          op, index;
    const char  *name;

    if (!PyArg_ParseTuple (args, "Oiiz", &P, &op, &index, &name)) return nullptr;
    Jclient *J = vesk_object <Jclient> (P, "Jclient");
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->port_operation (op, index, name));
}


static PyMethodDef methods [] =
{
    { "get_state", get_state, METH_VARARGS, "Get current state" },
    { "get_jack_info", get_jack_info, METH_VARARGS, "Get Jack server info." },
    { "port_operation", port_operation, METH_VARARGS, "Port operations." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (clientops, methods)
