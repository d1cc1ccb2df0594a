// Python module "hoarotator": functions over a Jambrot.

#include "framework/pyframe.h"
#include "jambrot.h"

static const char *CAPNAME = "Jambrot";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          degree;

    if (!PyArg_ParseTuple (args, "Oszi", &P, &client, &server, &degree)) return nullptr;
    return vesk_make_capsules (new Jambrot (client, server, degree), CAPNAME);
}


// Invalid rotations (zero axis or angle, zero-length or non-finite
// quaternion) are dropped by the rotator without a report.
static PyObject *set_rotation (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      angle, x, y, z, tramp;

    if (!PyArg_ParseTuple (args, "Offfff", &P, &angle, &x, &y, &z, &tramp)) return nullptr;
    Jambrot *J = vesk_object <Jambrot> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_rotation (angle, x, y, z, tramp);
    Py_RETURN_NONE;
}


static PyObject *set_quaternion (PyObject *self, PyObject *args)
{
    PyObject  *P;
    float      w, x, y, z, tramp;

    if (!PyArg_ParseTuple (args, "Offfff", &P, &w, &x, &y, &z, &tramp)) return nullptr;
    Jambrot *J = vesk_object <Jambrot> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_quaternion (w, x, y, z, tramp);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_rotation", set_rotation, METH_VARARGS, "Set rotation angle and axis." },
    { "set_quaternion", set_quaternion, METH_VARARGS, "Set rotation by quaternion." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (hoarotator, methods)
