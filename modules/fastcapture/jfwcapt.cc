// JACK client of the freewheel capture.

#include <string.h>
#include <time.h>
#include "jfwcapt.h"
#include "audiofile/fwio.h"
#include "audiofile/fwsync.h"


Jfwcapt::Jfwcapt (const char *client_name, const char *server_name, int nchan) :
    _nchan (nchan > 0 ? nchan : 0),
    _fchan (0),
    _buff (nullptr),
    _bsize (0),
    _ready (false),
    _fw (false),
    _inproc (false)
{
    int ninp = (_nchan <= MAXCHAN) ? _nchan + 1 : MAXCHAN + 1;
    if (open_jack (client_name, server_name, ninp, 0) || init ())
    {
        state = FAILED;
    }
}


Jfwcapt::~Jfwcapt (void)
{
    fini ();
}


int Jfwcapt::init (void)
{
    char s [32];
    for (int i = 0; i < _nchan; i++)
    {
        snprintf (s, sizeof (s), "in_%d", i);
        if (create_inp_port (i, s)) return 1;
    }
    if (create_inp_port (_nchan, "_sync")) return 1;
    state = PASSIVE;
    return 0;
}


// The client goes first, so that no period runs while the file is closed:
// every frame written so far is in the file when it is completed. A client
// must not close in freewheel mode: when that mode ends, JACK restores the
// connections it saved at its start, those of the closed client included,
// and its graph breaks. So freewheel mode ends first, as the player does.
void Jfwcapt::fini (void)
{
    int st = state.exchange (INITIAL);
    if (jack_client && st != ZOMBIE && _fw.load ()) jack_set_freewheel (jack_client, 0);
    close_jack ();
    drop_file ();
}


void Jfwcapt::drop_file (void)
{
    _ready.store (false, std::memory_order_release);
    _afile.close ();
    delete[] _buff;
    _buff = nullptr;
    _bsize = 0;
    _fchan = 0;
}


int Jfwcapt::close_file (void)
{
    if (state != PASSIVE) return 1;
    drop_file ();
    return 0;
}


int Jfwcapt::create_file (const char *name, int nchan, const char *opts)
{
    if (state != PASSIVE) return 1;
    drop_file ();
    if (!name) return 0;
    if (nchan < 1 || nchan > MAXFCHAN) return 1;

    int type = Audiofile::TYPE_WAV;
    int form = Audiofile::FORM_24BIT;
    int dith = Audiofile::DITHER_NONE;
    if (opts)
    {
        char copy [64];
        strncpy (copy, opts, 63);
        copy [63] = 0;
        char *save = nullptr;
        for (char *w = strtok_r (copy, ",", &save); w; w = strtok_r (nullptr, ",", &save))
        {
            int c;
            if ((c = Audiofile::enc_type (w)) >= 0) type = c;
            else if ((c = Audiofile::enc_form (w)) >= 0) form = c;
            else if ((c = Audiofile::enc_dith (w)) >= 0) dith = c;
            else return 1;
        }
    }
    if (_afile.open_write (name, type, form, fsamp, nchan)) return 1;
    _afile.set_dither (dith);    // only "16bit" takes a dither; others stay undithered
    _fchan = nchan;
    _bsize = fsize;
    _buff = new float [(size_t) nchan * _bsize];
    _ready.store (true, std::memory_order_release);
    return 0;
}


void Jfwcapt::jack_freewheel (int starting)
{
    _fw.store (starting != 0);
}


// The server has gone: no period will complete the capture, so the file is
// closed here, once a period in flight has left, with every frame written so
// far. The Python thread leaves the file alone in state ZOMBIE.
void Jfwcapt::jack_shutdown (void)
{
    state.store (ZOMBIE);
    struct timespec ts = { 0, 1000000 };
    for (int i = 0; i < 1000 && _inproc.load (); i++) nanosleep (&ts, nullptr);
    _ready.store (false);
    _afile.close ();
}


void Jfwcapt::write_frames (float **inp, int k)
{
    int off = 0;
    while (off < k)
    {
        int n = k - off;
        if (n > _bsize) n = _bsize;
        for (int c = 0; c < _fchan; c++)
        {
            float *d = _buff + c;
            if (c < _nchan)
            {
                const float *s = inp [c] + off;
                for (int i = 0; i < n; i++) d [i * _fchan] = s [i];
            }
            else
            {
                for (int i = 0; i < n; i++) d [i * _fchan] = 0.0f;
            }
        }
        {
            Freewheel_io fwio (_fw.load ());
            _afile.write (_buff, n);
        }
        off += n;
    }
}


int Jfwcapt::jack_process (int nframes)
{
    // _inproc before the state, against the shutdown's state before _inproc
    // (both sequentially consistent): one of the two sees the other.
    _inproc.store (true);
    int st = state.load ();
    if (st >= PASSIVE)
    {
        float *inp [MAXCHAN + 1];
        get_inp_buffers (nframes, inp, _nchan + 1);
        int k = fwsync_read (inp [_nchan]);
        // The count is never trusted beyond the period.
        if (k > nframes) k = nframes;
        if (k > 0) _fw.store (true, std::memory_order_relaxed);
        // State changes by compare-and-swap: the destructor (INITIAL) and
        // the shutdown notification (ZOMBIE) may have stored theirs meanwhile,
        // and those must stand.
        if (st == PASSIVE && k > 0 && _ready.load (std::memory_order_acquire))
        {
            if (state.compare_exchange_strong (st, PROCESS)) st = PROCESS;
        }
        if (st == PROCESS)
        {
            if (k > 0)
            {
                write_frames (inp, k);
            }
            else
            {
                // End of the capture. In freewheel mode the file is completed
                // here; a capture cut short after freewheel mode ended leaves
                // it to the Python thread (next create_file or destruction).
                _ready.store (false, std::memory_order_relaxed);
                if (_fw.load ())
                {
                    Freewheel_io fwio (true);
                    _afile.close ();
                }
                state.compare_exchange_strong (st, PASSIVE);
            }
        }
    }
    _inproc.store (false);
    return 0;
}
