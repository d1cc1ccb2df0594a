// Multichannel gain stage with 10 ms ramps.

#include <float.h>
#include <math.h>
#include <string.h>
#include "fader2.h"


Fader2chan::Fader2chan (void) :
    mute (false),
    mode (0),
    gain (1.0f),
    gain_step (0.0f),
    gain_cur (0.0f),
    gain_inc (0.0f)
{
}


void Fader2chan::prepare (int step_len, float master_gain, bool master_mute)
{
    float  c, t, e;

    // Take the previous step's end gain exactly, whatever rounding the ramp left.
    c = gain_cur = gain_step;
    t = (mute || master_mute) ? 0.0f : master_gain * gain;
    if (t == c)
    {
        mode = (c != 0.0f) ? 2 : 0;
        return;
    }
    // At most a factor of two per step, except from or to exactly zero.
    if (t > 2 * c) e = (c == 0.0f) ? t : 2 * c;
    else if (c > 2 * t) e = (t == 0.0f) ? 0.0f : c / 2;
    else e = t;
    mode = 1;
    gain_step = e;
    gain_inc = (e - c) / step_len;
}


void Fader2chan::process (int n, const float *inp, float *out)
{
    switch (mode)
    {
    case 2:
    {
        const float g = gain_cur;
        for (int i = 0; i < n; i++) out [i] = g * inp [i];
        break;
    }
    case 1:
    {
        float g = gain_cur;
        const float d = gain_inc;
        for (int i = 0; i < n; i++)
        {
            g += d;
            out [i] = g * inp [i];
        }
        gain_cur = g;
        break;
    }
    default:
        memset (out, 0, n * sizeof (float));
    }
}


Fader2::Fader2 (int nchan_, int fsamp) :
    nchan (nchan_ < 0 ? 0 : (nchan_ > MAXCHAN ? MAXCHAN : nchan_)),
    step_len (fsamp / 100),
    step_left (0),
    mute (false),
    gain (0.0f),
    chans (nullptr)
{
    if (step_len < 1) step_len = 1;
    chans = new Fader2chan [nchan ? nchan : 1];
}


Fader2::~Fader2 (void)
{
    delete[] chans;
}


int Fader2::setgain (int index, float db)
{
    // g * g must stay finite so that master x channel never overflows.
    static const float gmax = sqrtf (FLT_MAX);
    float g;

    if (isnan (db)) return -1;
    g = (db < -120.0f) ? 0.0f : (float) pow (10.0, 0.05 * db);
    if (!(g <= gmax)) return -1;
    if (index < 0) gain = g;
    else if (index < nchan) chans [index].gain = g;
    return 0;
}


void Fader2::setmute (int index, bool on)
{
    if (index < 0) mute = on;
    else if (index < nchan) chans [index].mute = on;
}


void Fader2::process (int nframes, float **inp, float **out)
{
    int  k, n;

    k = 0;
    while (nframes)
    {
        if (step_left == 0)
        {
            const float g = gain;
            const bool  m = mute;
            for (int i = 0; i < nchan; i++) chans [i].prepare (step_len, g, m);
            step_left = step_len;
        }
        n = (step_left < nframes) ? step_left : nframes;
        for (int i = 0; i < nchan; i++) chans [i].process (n, inp [i] + k, out [i] + k);
        step_left -= n;
        nframes -= n;
        k += n;
    }
}
