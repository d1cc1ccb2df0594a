// Python module "noisemeter": functions over a Jnmeter.

#include "framework/pyframe.h"
#include "jnmeter.h"

static const char *CAPNAME = "Jnmeter";


// The noise meter as Python owns it: it holds the view of the level array
// for its whole lifetime, so dropping the array in Python can never leave
// get_levels writing into freed memory (and numpy cannot resize it
// meanwhile). Only get_levels writes the array, on the Python thread, so
// the view may go before the base destructor closes the client.
class Pynmeter : public Jnmeter
{
public:

    // A requested meter count of 0 still makes one meter; get_levels then
    // writes nothing, since the array has no elements.
    Pynmeter (const char *client, const char *server, int ninp, int nout, Py_buffer *lev) :
        Jnmeter (client, server, ninp, nout, static_cast <float *> (lev->buf), nout),
        _lev (*lev)
    {
    }

    virtual ~Pynmeter (void)
    {
        PyBuffer_Release (&_lev);
    }

private:

    Py_buffer  _lev;
};


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P, *L;
    const char  *client, *server;
    int          ninp, nout;
    Py_buffer    lev;

    if (!PyArg_ParseTuple (args, "OsziiO", &P, &client, &server, &ninp, &nout, &L)) return nullptr;
    if (vesk_result_view (L, nout, &lev)) return nullptr;
    return vesk_make_capsules (new Pynmeter (client, server, ninp, nout, &lev), CAPNAME);
}


static Jnmeter *object (PyObject *P)
{
    return vesk_object <Jnmeter> (P, CAPNAME);
}


static PyObject *set_input (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        inp, meter;

    if (!PyArg_ParseTuple (args, "Oii", &P, &inp, &meter)) return nullptr;
    Jnmeter *J = object (P);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->set_input (inp, meter));
}


static PyObject *set_filter (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        meter, code, dc;

    if (!PyArg_ParseTuple (args, "Oiii", &P, &meter, &code, &dc)) return nullptr;
    Jnmeter *J = object (P);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->set_filter (meter, code, dc));
}


static PyObject *set_detect (PyObject *self, PyObject *args)
{
    PyObject  *P;
    int        meter, code;

    if (!PyArg_ParseTuple (args, "Oii", &P, &meter, &code)) return nullptr;
    Jnmeter *J = object (P);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->set_detect (meter, code));
}


static PyObject *get_levels (PyObject *self, PyObject *args)
{
    PyObject  *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jnmeter *J = object (P);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->get_levels ());
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "set_input", set_input, METH_VARARGS, "Select input." },
    { "set_filter", set_filter, METH_VARARGS, "Select filter type." },
    { "set_detect", set_detect, METH_VARARGS, "Select detector type." },
    { "get_levels", get_levels, METH_VARARGS, "Get current state and levels." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (noisemeter, methods)
