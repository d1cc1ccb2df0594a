// Python module "hoapanner": functions over a Jambpan.

#include "framework/pyframe.h"
#include "jambpan.h"

static const char *CAPNAME = "Jambpan";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          degree, ninp;

    if (!PyArg_ParseTuple (args, "Oszii", &P, &client, &server, &degree, &ninp)) return nullptr;
    return vesk_make_capsules (new Jambpan (client, server, degree, ninp), CAPNAME);
}


static PyObject *set_direction (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        index;
    float      azim, elev, tramp;

    if (!PyArg_ParseTuple (args, "Oifff", &P, &index, &azim, &elev, &tramp)) return nullptr;
    Jambpan *J = vesk_object <Jambpan> (P, CAPNAME);
    if (!J) return nullptr;
    // Angles are not limited, but a non-finite one has no direction.
    if (   vesk_refuse_nonfinite (azim, "Azimuth")
        || vesk_refuse_nonfinite (elev, "Elevation")
        || vesk_refuse_nan (tramp, "Ramp time")) return nullptr;
    J->set_direction (index, azim, elev, tramp);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_direction", set_direction, METH_VARARGS, "Set panning direction." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (hoapanner, methods)
