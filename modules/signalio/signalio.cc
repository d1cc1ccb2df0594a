// Python module "signalio": functions over a Jsignal.

#include <limits.h>
#include "framework/pyframe.h"
#include "jsignal.h"

static const char *CAPNAME = "Jsignal";


// A held buffer view: keeps the array's memory in place while a slot uses
// it. Slots are only cleared on the Python thread (setters, destruction), so
// the view is released with the interpreter lock held.
class Pyview : public Jsholder
{
public:
    Py_buffer  view;
    virtual ~Pyview (void) { PyBuffer_Release (&view); }
};


// set_input_data and set_output_data: None clears the slot (nloop and nskip 0).
static PyObject *set_data (PyObject *args, int flags, bool input)
{
    PyObject      *P, *A;
    int            index, nloop, nskip;
    Vesk_samples   smp;

    if (!PyArg_ParseTuple (args, "OiOii", &P, &index, &A, &nloop, &nskip)) return nullptr;
    Jsignal *J = vesk_object <Jsignal> (P, CAPNAME);
    if (!J) return nullptr;
    if (A == Py_None)
    {
        if (input) J->set_inp_data (index, nullptr, 0, 0, nullptr, 0, 0);
        else       J->set_out_data (index, nullptr, 0, 0, nullptr, 0, 0);
        Py_RETURN_NONE;
    }
    Pyview *V = new Pyview;
    if (vesk_array_view (A, flags, &V->view, &smp))
    {
        // No view is held: nothing to release.
        V->view.obj = nullptr;
        V->view.buf = nullptr;
        delete V;
        return nullptr;
    }
    if (smp.size > INT_MAX)
    {
        delete V;
        PyErr_SetString (PyExc_ValueError, "Array too large");
        return nullptr;
    }
    // The slot owns the view from here, also when it refuses the array.
    if (input) J->set_inp_data (index, smp.data, smp.stride, (int) smp.size, V, nloop, nskip);
    else       J->set_out_data (index, smp.data, smp.stride, (int) smp.size, V, nloop, nskip);
    Py_RETURN_NONE;
}


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P;
    const char  *client, *server;

    if (!PyArg_ParseTuple (args, "Osz", &P, &client, &server)) return nullptr;
    return vesk_make_capsules (new Jsignal (client, server), CAPNAME);
}


static PyObject *set_state (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        s;

    if (!PyArg_ParseTuple (args, "Oi", &P, &s)) return nullptr;
    Jsignal *J = vesk_object <Jsignal> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_state (s);
    Py_RETURN_NONE;
}


static PyObject *set_input_data (PyObject *self, PyObject *args)
{
    return set_data (args, VESK_ARRAY_RECORD, true);
}


static PyObject *set_output_data (PyObject *self, PyObject *args)
{
    return set_data (args, VESK_ARRAY_PLAY, false);
}


static PyObject *set_gain (PyObject *args, bool input)
{
    PyObject  *P;
    int        index;
    float      g;

    if (!PyArg_ParseTuple (args, "Oif", &P, &index, &g)) return nullptr;
    Jsignal *J = vesk_object <Jsignal> (P, CAPNAME);
    if (!J) return nullptr;
    if (vesk_refuse_nonfinite (g, "Gain")) return nullptr;
    if (input) J->set_inp_gain (index, g);
    else       J->set_out_gain (index, g);
    Py_RETURN_NONE;
}


static PyObject *set_input_gain (PyObject *self, PyObject *args)
{
    return set_gain (args, true);
}


static PyObject *set_output_gain (PyObject *self, PyObject *args)
{
    return set_gain (args, false);
}


static PyObject *set_trigger_inp (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        index;

    if (!PyArg_ParseTuple (args, "Oi", &P, &index)) return nullptr;
    Jsignal *J = vesk_object <Jsignal> (P, CAPNAME);
    if (!J) return nullptr;
    J->set_trig_inp (index);
    Py_RETURN_NONE;
}


static PyObject *get_posit (PyObject *self, PyObject *args)
{
    PyObject  *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jsignal *J = vesk_object <Jsignal> (P, CAPNAME);
    if (!J) return nullptr;
    // State first: once it shows the run ended, the position is final.
    int s = J->state;
    return Py_BuildValue ("iL", s, (long long) J->get_posit ());
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_state", set_state, METH_VARARGS, "Set new jack state." },
    { "set_input_data", set_input_data, METH_VARARGS, "Set input buffer." },
    { "set_output_data", set_output_data, METH_VARARGS, "Set output buffer." },
    { "set_input_gain", set_input_gain, METH_VARARGS, "Set input gain." },
    { "set_output_gain", set_output_gain, METH_VARARGS, "Set output gain." },
    { "set_trigger_inp", set_trigger_inp, METH_VARARGS, "Select trigger input." },
    { "get_posit", get_posit, METH_VARARGS, "Get current state and position." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (signalio, methods)
