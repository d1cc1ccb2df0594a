// The linear gain ramp shared by the panner and the rotation: over a segment
// of k samples sample s gets the gain g + (s+1) d, so the first sample of a
// segment already moves and the last one lands on g + k d. Computed from s
// rather than accumulated, so that the loop vectorises.

#ifndef VESK_RAMP_H
#define VESK_RAMP_H

// q [s] = (or +=, with ADD) (g + (s+1) d) p [s] for s = 0 .. k-1; returns g + k d.
template <bool ADD> inline float ramp_gain (float *q, const float *p, float g, float d, int k)
{
    for (int s = 0; s < k; s++)
    {
        const float v = (g + (s + 1) * d) * p [s];
        if (ADD) q [s] += v;
        else q [s] = v;
    }
    return g + d * k;
}

// q [s] = (or +=, with ADD) g p [s] for s = 0 .. k-1.
template <bool ADD> inline void const_gain (float *q, const float *p, float g, int k)
{
    for (int s = 0; s < k; s++)
    {
        if (ADD) q [s] += g * p [s];
        else q [s] = g * p [s];
    }
}

#endif
