// Python module "servercontrol": transport and connections of a JACK server,
// through a Jcontrol. Its one capsule is named "Jcontrol"; there is no
// "Jclient" capsule.

#include "framework/pyframe.h"
#include "jcontrol.h"

static const char *CAPNAME = "Jcontrol";


static PyObject *create (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;

    if (!PyArg_ParseTuple (args, "Osz", &P, &client, &server)) return nullptr;
    return vesk_make_capsule (new Jcontrol (client, server), CAPNAME);
}


// Parses (capsule,) and returns the object, or null with an exception set.
static Jcontrol *only_capsule (PyObject *args)
{
    PyObject *P;
    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    return vesk_object <Jcontrol> (P, CAPNAME);
}


static PyObject *get_jack_info (PyObject *self, PyObject *args)
{
    Jcontrol *J = only_capsule (args);
    if (!J) return nullptr;
    return Py_BuildValue ("(sii)", J->jack_name, J->fsamp, J->fsize);
}


static PyObject *get_transport_state (PyObject *self, PyObject *args)
{
    Jcontrol *J = only_capsule (args);
    if (!J) return nullptr;
    return Py_BuildValue ("(ii)", (int) J->transport_state, (int) J->transport_frame);
}


static PyObject *transport_start (PyObject *self, PyObject *args)
{
    Jcontrol *J = only_capsule (args);
    if (!J) return nullptr;
    J->transport_start ();
    Py_RETURN_NONE;
}


static PyObject *transport_stop (PyObject *self, PyObject *args)
{
    Jcontrol *J = only_capsule (args);
    if (!J) return nullptr;
    J->transport_stop ();
    Py_RETURN_NONE;
}


static PyObject *transport_locate (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        frame;

    if (!PyArg_ParseTuple (args, "Oi", &P, &frame)) return nullptr;
    Jcontrol *J = vesk_object <Jcontrol> (P, CAPNAME);
    if (!J) return nullptr;
    J->transport_locate (frame);
    Py_RETURN_NONE;
}


static PyObject *connection (PyObject *args, bool connect)
{
    PyObject    *P;
    const char  *src, *dst;

    if (!PyArg_ParseTuple (args, "Oss", &P, &src, &dst)) return nullptr;
    Jcontrol *J = vesk_object <Jcontrol> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("i", connect ? J->connect_ports (src, dst) : J->disconn_ports (src, dst));
}


static PyObject *connect_ports (PyObject *self, PyObject *args)
{
    return connection (args, true);
}


static PyObject *disconn_ports (PyObject *self, PyObject *args)
{
    return connection (args, false);
}


static PyMethodDef methods [] =
{
    { "create", create, METH_VARARGS, "Create a ServerControl." },
    { "get_jack_info", get_jack_info, METH_VARARGS, "Get (name, fsamp, fsize)." },
    { "get_transport_state", get_transport_state, METH_VARARGS, "Get current transport state." },
    { "transport_start", transport_start, METH_VARARGS, "Start jack transport" },
    { "transport_stop", transport_stop, METH_VARARGS, "Stop jack transport" },
    { "transport_locate", transport_locate, METH_VARARGS, "Locate jack transport" },
    { "connect_ports", connect_ports, METH_VARARGS, "Connect jack ports" },
    { "disconn_ports", disconn_ports, METH_VARARGS, "Disconnect jack ports" },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (servercontrol, methods)
