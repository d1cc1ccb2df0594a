// Eqgain: make-up gain of the equaliser.

#include <math.h>
#include <string.h>
#include "eqgain.h"


Eqgain::Eqgain (void) :
    req_count (0),
    bypass (true),
    gain (1.0f),
    ack_count (0),
    mode (0),
    gain_step (1.0f),
    gain_cur (1.0f),
    gain_inc (0.0f)
{
}


void Eqgain::prepare (int nstep)
{
    uint16_t req = req_count.load (std::memory_order_acquire);
    if (req == ack_count) return;
    // The control side stores unclamped values; NaN never gets here (the
    // setter ignores it) and infinities clamp like any other value. The
    // clamped value stays local: writing it back from this thread could
    // overwrite a newer gain stored meanwhile by the control side.
    float G = gain;
    if (G < 0.1f) G = 0.1f;
    if (G > 10.0f) G = 10.0f;
    if (bypass) G = 1.0f;
    if (G != gain_step)
    {
        if (G > 2.5f * gain_step) gain_step *= 2.0f;
        else if (gain_step > 2.5f * G) gain_step *= 0.5f;
        else gain_step = G;
        if (fabsf (gain_step - gain_cur) < 1e-6f)
        {
            gain_cur = gain_step;
            gain_inc = 0;
            mode = 1;
        }
        else
        {
            gain_inc = (gain_step - gain_cur) / nstep;
            mode = 2;
        }
    }
    else
    {
        ack_count = req;
        mode = (fabsf (gain_cur - 1.0f) >= 0.001f) ? 1 : 0;
    }
}


void Eqgain::process (int nframes, int nchan, float **inp, float **out)
{
    float g = gain_cur;

    for (int i = 0; i < nchan; i++)
    {
        const float *p = inp [i];
        float *q = out [i];
        switch (mode)
        {
        case 0:
            if (p != q) memcpy (q, p, nframes * sizeof (float));
            break;
        case 1:
            for (int n = 0; n < nframes; n++) q [n] = gain_cur * p [n];
            break;
        default:
            g = gain_cur;
            for (int n = 0; n < nframes; n++)
            {
                g += gain_inc;
                q [n] = g * p [n];
            }
        }
    }
    if (mode == 2 && nchan > 0) gain_cur = g;
}
