// JACK client of the file player.

#include <math.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include "jplayer.h"


Jplayer::Jplayer (const char *client_name, const char *server_name, int nout) :
    _cmd_state (0),
    _cmd_posit (0),
    _cmd_req (0),
    _cmd_ack (0),
    _gain_req (0),
    _gain_ack (0),
    _gain_cur (0),
    _gain_targ (0),
    _gain_time (0),
    _gain_step (0),
    _gain_nstep (0),
    _rsbuff (nullptr),
    _rsframes (0),
    _ratio (1),
    _g0 (1),
    _g1 (1),
    _ginc (0)
{
    memset (_outbuf, 0, sizeof (_outbuf));
    if (nout < 0) nout = 0;
    if (nout > MAXPORT) nout = MAXPORT;
    if (!_cmdsync.ok () || open_jack (client_name, server_name, 0, nout) || create_out_ports ("out_%d", 0))
    {
        state = FAILED;
        return;
    }
    // JACK's policy at its lowest priority: the thread wrapper raises 0 to
    // the policy's minimum. Without a disk thread nothing would ever be
    // read, so a refused real-time thread becomes an ordinary one.
    if (_reader.runthr (jack_policy, 0)) _reader.runthr (SCHED_OTHER, 0);
    _cmd_state.store (PASSIVE, std::memory_order_relaxed);
    state = PASSIVE;
}


Jplayer::~Jplayer (void)
{
    state = INITIAL;
    close_jack ();
    // No callback runs any more; the reader stops its disk thread when it goes.
    free (_rsbuff);
}


bool Jplayer::idle (void) const
{
    return (state == PASSIVE)
        && (_cmd_req.load (std::memory_order_relaxed) == _cmd_ack.load (std::memory_order_acquire));
}


int Jplayer::command (void)
{
    _cmdsync.drain ();
    int r = _cmd_req.load (std::memory_order_relaxed) + 1;
    _cmd_req.store (r, std::memory_order_release);
    return _cmdsync.wait (*this, [&] { return _cmd_ack.load (std::memory_order_acquire) == r; }) ? 0 : 1;
}


int Jplayer::set_state (int s)
{
    if (state <= 0) return 1;
    _cmd_state.store (s, std::memory_order_relaxed);
    return command ();
}


int Jplayer::set_posit (int64_t posit)
{
    if (state < PROCESS) return 1;
    _cmd_state.store (LOCATE, std::memory_order_relaxed);
    _cmd_posit.store (posit, std::memory_order_relaxed);
    return command ();
}


void Jplayer::set_gain (float gain, float time)
{
    _gain_targ.store (gain, std::memory_order_relaxed);
    _gain_time.store ((time > 0) ? time : 0.0f, std::memory_order_relaxed);
    _gain_req.store (_gain_req.load (std::memory_order_relaxed) + 1, std::memory_order_release);
}


int Jplayer::open_file (const char *name)
{
    if (!idle ()) return 1;
    if (_reader.open (name)) return 1;
    free (_rsbuff);
    _rsbuff = nullptr;
    _rsframes = 0;
    if (_reader._frate == fsamp)
    {
        _resampler.clear ();
        return 0;
    }
    // Rates or channel counts the converter cannot serve are refused.
    _rsframes = fsize;
    _rsbuff = (float *) malloc ((size_t) _reader._nchan * _rsframes * sizeof (float));
    if (!_rsbuff || _resampler.setup (_reader._frate, fsamp, _reader._nchan, RS_HLEN))
    {
        free (_rsbuff);
        _rsbuff = nullptr;
        _rsframes = 0;
        _resampler.clear ();
        _reader.close ();
        return 1;
    }
    _ratio = (double) fsamp / _reader._frate;
    _resampler.inp_count = 0;
    _resampler.inp_data = nullptr;
    return 0;
}


int Jplayer::close_file (void)
{
    if (!idle () || _reader.close ()) return 1;
    free (_rsbuff);
    _rsbuff = nullptr;
    _rsframes = 0;
    _resampler.clear ();
    return 0;
}


void Jplayer::update_state (void)
{
    int s = state;
    switch (_cmd_state.load (std::memory_order_relaxed))
    {
    case PASSIVE:
        s = PASSIVE;
        break;
    case PROCESS:
        if ((s == PASSIVE) || (s == PLAYING)) s = PROCESS;
        else if (s == PLAYWAIT) s = STOPWAIT;
        break;
    case PLAYING:
        if ((s == PROCESS) || (s == STOPWAIT)) s = PLAYWAIT;
        break;
    case LOCATE:
        if (s >= PROCESS)
        {
            _reader.locate (_cmd_posit.load (std::memory_order_relaxed));
            s = ((s == PLAYING) || (s == PLAYWAIT)) ? PLAYWAIT : STOPWAIT;
        }
        break;
    }
    state = s;
}


void Jplayer::check_reader (void)
{
    _reader.update_avail ();
    int64_t rem = _reader._flen - _reader.posit ();
    if (rem <= 0)
    {
        state = ENDFILE;
        return;
    }
    int64_t avail = _reader.avail ();
    if ((avail >= rem) || (avail >= _reader._frate))
    {
        if (state == STOPWAIT) state = PROCESS;
        else if (state == PLAYWAIT) state = PLAYING;
    }
}


// Once per period. A ramp is linear in dB from period to period and linear
// in amplitude within each: N = ceil (fsamp * (time + 1 ms) / fsize)
// periods, or one for a change under 0.1 dB.
void Jplayer::gain_step (int nframes)
{
    int r = _gain_req.load (std::memory_order_acquire);
    if (r != _gain_ack)
    {
        float d = _gain_targ.load (std::memory_order_relaxed) - _gain_cur;
        int n = 1;
        if (fabsf (d) >= 0.1f)
        {
            n = (int) ceilf (fsamp * (_gain_time.load (std::memory_order_relaxed) + 0.001f) / fsize);
            if (n < 1) n = 1;
        }
        _gain_step = d / n;
        _gain_nstep = n;
        _gain_ack = r;
    }
    if (_gain_nstep > 0)
    {
        _gain_cur += _gain_step;
        _g1 = (_gain_cur <= -150.0f) ? 0.0f : powf (10.0f, 0.05f * _gain_cur);
        _ginc = (_g1 - _g0) / nframes;
        _gain_nstep--;
    }
    else _ginc = 0;
}


// n frames of interleaved file data (file channels per frame) to frames
// k .. k + n - 1 of the outputs, the j-th frame at gain _g0 + j * _ginc.
void Jplayer::output_frames (int k, int n, const float *data)
{
    int nc = _reader._nchan;
    for (int i = 0; i < nout; i++)
    {
        float *d = _outbuf [i];
        if (!d) continue;
        d += k;
        if (i < nc)
        {
            const float *p = data + i;
            float g = _g0;
            for (int j = 0; j < n; j++, p += nc)
            {
                g += _ginc;
                d [j] = g * *p;
            }
        }
        else memset (d, 0, n * sizeof (float));
    }
    _g0 += n * _ginc;
}


void Jplayer::output_silence (int k, int n)
{
    for (int i = 0; i < nout; i++)
    {
        if (_outbuf [i]) memset (_outbuf [i] + k, 0, n * sizeof (float));
    }
    _g0 += n * _ginc;
}


void Jplayer::play_direct (int nframes)
{
    int k = 0;
    while ((k < nframes) && (state == PLAYING))
    {
        // A run ends at the ring's end and goes on at its start.
        int64_t n = nframes - k;
        n = std::min (n, _reader.avail ());
        n = std::min (n, _reader._flen - _reader.posit ());
        n = std::min (n, (int64_t)(_reader._rsize - _reader._rindex));
        if (n <= 0) break;
        output_frames (k, (int) n, _reader._ring + (size_t) _reader._rindex * _reader._nchan);
        _reader.forward ((int) n);
        k += (int) n;
    }
    if (k < nframes) output_silence (k, nframes - k);
}


void Jplayer::play_resampled (int nframes)
{
    Resampler &R = _resampler;
    for (int k = 0; k < nframes; )
    {
        int m = std::min (nframes - k, _rsframes);
        // The remainder offered last time was not counted by forward and
        // is offered again from the reader's position: it is dropped here.
        R.inp_count = 0;
        R.inp_data = nullptr;
        R.out_count = m;
        R.out_data = _rsbuff;
        if (R.process ())
        {
            // Not set up: cannot happen while _rsbuff exists, but never spin.
            output_silence (k, nframes - k);
            return;
        }
        while (R.out_count)
        {
            int h = (int) ceilf ((float)(R.out_count / _ratio));
            int64_t n = 0;
            if (state == PLAYING)
            {
                n = h;
                n = std::min (n, _reader.avail ());
                n = std::min (n, _reader._flen - _reader.posit ());
                n = std::min (n, (int64_t)(_reader._rsize - _reader._rindex));
            }
            if (n > 0)
            {
                R.inp_data = _reader._ring + (size_t) _reader._rindex * _reader._nchan;
                R.inp_count = (unsigned int) n;
                R.process ();
                _reader.forward ((int)(n - R.inp_count));
            }
            else
            {
                // Underrun, end of file or stopped: silence, the position stays.
                R.inp_data = nullptr;
                R.inp_count = h;
                R.process ();
            }
        }
        output_frames (k, m, _rsbuff);
        k += m;
    }
}


int Jplayer::jack_process (int nframes)
{
    if (state <= 0) return 0;

    int r = _cmd_req.load (std::memory_order_acquire);
    if (r != _cmd_ack.load (std::memory_order_relaxed))
    {
        update_state ();
        _cmd_ack.store (r, std::memory_order_release);
        _cmdsync.post ();
    }
    if (state < PASSIVE) return 0;

    get_out_buffers (nframes, _outbuf, nout, true);
    gain_step (nframes);
    if (state == PASSIVE)
    {
        output_silence (0, nframes);
        _g0 = _g1;
        return 0;
    }
    check_reader ();
    if (_rsbuff) play_resampled (nframes);
    else play_direct (nframes);
    _g0 = _g1;
    return 0;
}
