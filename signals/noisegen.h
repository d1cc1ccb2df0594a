// One channel of test noise: silence, white Gaussian noise, or pink noise
// (Kellet's refined filter, falling 3 dB per octave) at a level in dB.
// Type 1 white, 2 pink, anything else silence. Levels up to +MAXDB dB; 0 dB
// gives the RMS of a full-scale sine (0.7071) for white noise.

#ifndef VESK_NOISEGEN_H
#define VESK_NOISEGEN_H

#include <atomic>
#include "rngen.h"


class Noisegen
{
public:

    enum { WHITE = 1, PINK = 2 };

    // Above this level even the largest Gaussian value (about 9.6 in float)
    // through the pink filter (gain below 16) could overflow a float.
    static constexpr float MAXDB = 700.0f;

    Noisegen (void);   // seeds from the random device; silent until setparam

    // Stores type (any value) and level = 10^(0.05 db), taken at the start of
    // the next process call. Refuses NaN and levels above MAXDB: returns -1
    // and keeps the previous setting; else 0. -inf dB is level 0.
    int setparam (int type, float db);

    // Writes n samples. Real-time safe.
    void process (int n, float *out);

    Rngen              rgen;    // this channel's own generator
    // Written by the control thread, read once per process call.
    std::atomic<int>   type;
    std::atomic<float> level;
    // Pink filter: six first-order sections, and b6 = 0.115926 x of the
    // previous sample. Kept while another type plays.
    float  b0, b1, b2, b3, b4, b5, b6;

private:

    Noisegen (const Noisegen&) = delete;
    Noisegen& operator= (const Noisegen&) = delete;
};

#endif
