// JACK client of the freewheel player.

#include <string.h>
#include "jfwplay.h"
#include "audiofile/fwio.h"
#include "audiofile/fwsync.h"


Jfwplay::Jfwplay (const char *client_name, const char *server_name, int nchan) :
    _nchan (nchan > 0 ? nchan : 0),
    _fchan (0),
    _flen (0),
    _buff (nullptr),
    _bsize (0),
    _start (0),
    _end (0),
    _posit (0),
    _fw (false)
{
    int nout = (_nchan <= MAXCHAN) ? _nchan + 1 : MAXCHAN + 1;
    if (open_jack (client_name, server_name, 0, nout) || init ())
    {
        state = FAILED;
    }
}


Jfwplay::~Jfwplay (void)
{
    fini ();
}


int Jfwplay::init (void)
{
    char s [32];
    for (int i = 0; i < _nchan; i++)
    {
        snprintf (s, sizeof (s), "out_%d", i);
        if (create_out_port (i, s)) return 1;
    }
    if (create_out_port (_nchan, "_sync")) return 1;
    state = PASSIVE;
    return 0;
}


// Freewheel mode is left before the client goes (JACK restores the
// connections saved at the start of freewheel mode when it ends, those of
// clients closed meanwhile included, which breaks its graph), and the client
// before the file, so that no period reads a closed file.
void Jfwplay::fini (void)
{
    int st = state.exchange (INITIAL);
    if (jack_client && st != ZOMBIE) jack_set_freewheel (jack_client, 0);
    close_jack ();
    drop_file ();
}


void Jfwplay::drop_file (void)
{
    _afile.close ();
    delete[] _buff;
    _buff = nullptr;
    _bsize = 0;
    _fchan = 0;
    _flen = 0;
}


int Jfwplay::close_file (void)
{
    if (state > PASSIVE) return 1;
    drop_file ();
    return 0;
}


int Jfwplay::load_file (const char *name)
{
    if (state != PASSIVE) return 1;
    drop_file ();
    if (!name) return 0;
    if (_afile.open_read (name) || !(_afile.mode () & Audiofile::MODE_READ)) return 1;
    _flen = _afile.size ();
    _fchan = _afile.chan ();
    _bsize = fsize;
    _buff = new float [(size_t) _fchan * _bsize];
    _start = 0;
    _end = _flen;
    return 0;
}


int Jfwplay::set_range (int64_t start, int64_t end)
{
    if (start < 0 || end < start) return 1;
    _start.store (start, std::memory_order_relaxed);
    _end.store (end, std::memory_order_relaxed);
    return 0;
}


int Jfwplay::set_state (int onoff)
{
    if (jack_client) jack_set_freewheel (jack_client, onoff ? 1 : 0);
    return 0;
}


void Jfwplay::jack_freewheel (int starting)
{
    int st = state.load ();
    _fw.store (starting != 0);
    if (starting && st == PASSIVE)
    {
        int64_t s = _start.load (std::memory_order_relaxed);
        if (s < _flen) _afile.seek (s, SEEK_SET);
        _posit = s;
        // _posit and the file position before the state (release).
        state.compare_exchange_strong (st, PROCESS);
    }
    else if (st > PASSIVE)
    {
        state.compare_exchange_strong (st, PASSIVE);
    }
}


int Jfwplay::jack_process (int nframes)
{
    int st = state.load (std::memory_order_acquire);
    float *out [MAXCHAN + 1];
    if (st < PASSIVE)
    {
        // A port buffer keeps what was written last: the marker of the
        // period before would be read again by the capture while this
        // client is being closed. Silence and no marker instead.
        if (st == INITIAL && _nchan <= MAXCHAN)
        {
            get_out_buffers (nframes, out, _nchan + 1);
            for (int i = 0; i <= _nchan; i++) memset (out [i], 0, nframes * sizeof (float));
        }
        return 0;
    }
    get_out_buffers (nframes, out, _nchan + 1);
    int k = 0;     // frames from the file
    int d = 0;     // frames marked
    if (st == PROCESS)
    {
        int64_t r = _end.load (std::memory_order_relaxed) - _posit;
        if (r <= 0)
        {
            state.compare_exchange_strong (st, PASSIVE);
        }
        else
        {
            d = (r < nframes) ? (int) r : nframes;
            int64_t f = _flen - _posit;
            if (f > d) f = d;
            // Read in pieces of the buffer's size, which is the period size
            // when the file was loaded: a larger period later still fits.
            Freewheel_io fwio (_fw.load ());
            while (k < f && _bsize > 0)
            {
                int n = (int) f - k;
                if (n > _bsize) n = _bsize;
                int m = _afile.read (_buff, n);
                if (m <= 0) break;
                int nc = (_fchan < _nchan) ? _fchan : _nchan;
                for (int i = 0; i < nc; i++)
                {
                    float *p = out [i] + k;
                    const float *s = _buff + i;
                    for (int j = 0; j < m; j++) p [j] = s [j * _fchan];
                }
                k += m;
                if (m < n) break;
            }
        }
    }
    memset (out [_nchan], 0, nframes * sizeof (float));
    if (d)
    {
        fwsync_write (out [_nchan], d);
        _posit += d;
    }
    for (int i = 0; i < _nchan; i++)
    {
        int from = (i < _fchan) ? k : 0;
        memset (out [i] + from, 0, (nframes - from) * sizeof (float));
    }
    return 0;
}
