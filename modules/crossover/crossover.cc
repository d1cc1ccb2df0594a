// Python module "crossover": functions over a Jlr4filt.

#include "framework/pyframe.h"
#include "jlr4filt.h"

static const char *CAPNAME = "Jlr4filt";


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;
    int          ninp, nout;
    float        maxdel;

    if (!PyArg_ParseTuple (args, "Osziif", &P, &client, &server, &ninp, &nout, &maxdel)) return nullptr;
    if (vesk_refuse_nan (maxdel, "Delay")) return nullptr;
    return vesk_make_capsules (new Jlr4filt (client, server, ninp, nout, maxdel), CAPNAME);
}


static PyObject *set_filter (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        inp, out;
    float      hpf, hps, lpf, lps;

    if (!PyArg_ParseTuple (args, "Oiiffff", &P, &inp, &out, &hpf, &hps, &lpf, &lps)) return nullptr;
    Jlr4filt *J = vesk_object <Jlr4filt> (P, CAPNAME);
    if (!J) return nullptr;
    if (   vesk_refuse_nan (hpf, "Frequency")
        || vesk_refuse_nan (hps, "Shape")
        || vesk_refuse_nan (lpf, "Frequency")
        || vesk_refuse_nan (lps, "Shape")) return nullptr;
    J->set_filter (inp, out, hpf, hps, lpf, lps);
    Py_RETURN_NONE;
}


static PyObject *set_delay (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        out;
    float      t;

    if (!PyArg_ParseTuple (args, "Oif", &P, &out, &t)) return nullptr;
    Jlr4filt *J = vesk_object <Jlr4filt> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nan (t, "Delay")) return nullptr;
    J->set_delay (out, t);
    Py_RETURN_NONE;
}


static PyObject *set_gain (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        out;
    float      g;

    if (!PyArg_ParseTuple (args, "Oif", &P, &out, &g)) return nullptr;
    Jlr4filt *J = vesk_object <Jlr4filt> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nonfinite (g, "Gain")) return nullptr;
    J->set_gain (out, g);
    Py_RETURN_NONE;
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_filter", set_filter, METH_VARARGS, "Set input and filter for output." },
    { "set_delay", set_delay, METH_VARARGS, "Set output delay." },
    { "set_gain", set_gain, METH_VARARGS, "Set output gain." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (crossover, methods)
