// Quantises one channel of float samples (full scale +-1.0) to 16-bit
// integers, clamped to +-32767, with rectangular, triangular or noise-shaped
// dither. The noise state (error ring, generator) runs on from call to call.

#ifndef VESK_DITHER_H
#define VESK_DITHER_H

#include <stdint.h>


class Dither
{
public:

    Dither (void);

    // Clears the error ring and restarts the generator from its seed.
    void reset (void);

    // Each quantises n samples: sample k is read at inp + k * istep and
    // stored at out + k * ostep.
    void proc_rectangular (int n, const float *inp, short *out, int istep, int ostep);
    void proc_triangular (int n, const float *inp, short *out, int istep, int ostep);
    void proc_lipschitz (int n, const float *inp, short *out, int istep, int ostep);

    enum { SIZE = 64 };

    // Ring of the SIZE most recent quantisation errors, the newest at _ind,
    // plus 4 entries mirroring entries 0 to 3 so that the five-tap window of
    // the noise shaper never wraps. Entry 0 also keeps the last uniform value
    // of the triangular process.
    float         _err [SIZE + 4];
    int           _ind;
    uint32_t      _ran;          // linear congruential generator state
    static float  _div;          // 2^32: scales the generator to [0, 1]

private:

    // One step of the generator: a uniform value in [0, 1].
    float urand (void)
    {
        _ran = _ran * 1103515245u + 12345u;
        return (float) _ran / _div;
    }
};

#endif
