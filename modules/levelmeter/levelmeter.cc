// Python module "levelmeter": functions over a Jkmeter.

#include "framework/pyframe.h"
#include "jkmeter.h"

static const char *CAPNAME = "Jkmeter";


// The level meter as Python owns it: it holds the views of both level
// arrays for its whole lifetime, so dropping the arrays in Python can never
// leave get_levels writing into freed memory (and numpy cannot resize them
// meanwhile). Only get_levels writes the arrays, on the Python thread, so
// the views may go before the base destructor closes the client.
class Pykmeter : public Jkmeter
{
public:

    Pykmeter (const char *client, const char *server, int nchan, Py_buffer *rms, Py_buffer *peak) :
        Jkmeter (client, server, nchan, static_cast <float *> (rms->buf), static_cast <float *> (peak->buf)),
        _rms (*rms),
        _peak (*peak)
    {
    }

    virtual ~Pykmeter (void)
    {
        PyBuffer_Release (&_rms);
        PyBuffer_Release (&_peak);
    }

private:

    Py_buffer  _rms;
    Py_buffer  _peak;
};


static PyObject *makecaps (PyObject *self, PyObject *args)
{
    PyObject    *P, *R, *K;
    const char  *client, *server;
    int          nchan;
    Py_buffer    rms, peak;

    if (!PyArg_ParseTuple (args, "OsziOO", &P, &client, &server, &nchan, &R, &K)) return nullptr;
    if (vesk_result_view (R, nchan, &rms)) return nullptr;
    if (vesk_result_view (K, nchan, &peak))
    {
        PyBuffer_Release (&rms);
        return nullptr;
    }
    return vesk_make_capsules (new Pykmeter (client, server, nchan, &rms, &peak), CAPNAME);
}


static PyObject *get_levels (PyObject *self, PyObject *args)
{
    PyObject  *P;

    if (!PyArg_ParseTuple (args, "O", &P)) return nullptr;
    Jkmeter *J = vesk_object <Jkmeter> (P, CAPNAME);
    if (!J) return nullptr;
    return Py_BuildValue ("i", J->get_levels ());
}


static PyMethodDef methods [] =
{
    { "makecaps", makecaps, METH_VARARGS, "Create object capsules." },
    { "get_levels", get_levels, METH_VARARGS, "Get current state and levels." },
    { nullptr, nullptr, 0, nullptr }
};

VESK_MODULE (levelmeter, methods)
