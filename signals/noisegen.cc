// White and pink test noise for one channel.

#include <math.h>
#include <string.h>
#include "noisegen.h"


Noisegen::Noisegen (void) :
    rgen (0),
    type (0),
    level (0.0f),
    b0 (0), b1 (0), b2 (0), b3 (0), b4 (0), b5 (0), b6 (0)
{
}


int Noisegen::setparam (int t, float db)
{
    if (isnan (db) || (db > MAXDB)) return -1;
    level.store (powf (10.0f, 0.05f * db), std::memory_order_relaxed);
    type.store (t, std::memory_order_relaxed);
    return 0;
}


void Noisegen::process (int n, float *out)
{
    int    t = type.load (std::memory_order_relaxed);
    float  g = level.load (std::memory_order_relaxed);
    float  x;

    switch (t)
    {
    case WHITE:
        // 0.70710677 puts the RMS of 0 dB noise at that of a full-scale sine.
        g *= 0.70710677f;
        for (int i = 0; i < n; i++) out [i] = g * rgen.grandf ();
        break;
    case PINK:
        g *= 0.23f;
        for (int i = 0; i < n; i++)
        {
            x = g * rgen.grandf ();
            b0 = 0.99886f * b0 + 0.0555179f * x;
            b1 = 0.99332f * b1 + 0.0750759f * x;
            b2 = 0.969f   * b2 + 0.153852f  * x;
            b3 = 0.8665f  * b3 + 0.3104856f * x;
            b4 = 0.55f    * b4 + 0.5329522f * x;
            b5 = -0.7616f * b5 - 0.016898f  * x;
            out [i] = 0.5362f * x + (b0 + b1 + b2 + b3 + b4 + b5 + b6);
            b6 = 0.115926f * x;
        }
        break;
    default:
        memset (out, 0, n * sizeof (float));
    }
}
