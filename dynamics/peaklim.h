// Multichannel look-ahead peak limiter; all channels share one gain. Input
// gain -30 to +30 dB, threshold -30 to 0 dB, release time 1 ms to 1 s; any
// sample rate; 1 to 100 channels. The output is the input times the input
// gain, delayed by `delay` samples (at least 1.2 ms), times the limiting gain.

#ifndef VESK_PEAKLIM_H
#define VESK_PEAKLIM_H

#include <atomic>
#include "histmin.h"

class Peaklim;
namespace vesk_avx2 { void peaklim_run (Peaklim &P, int nframes, float **inp, float **out); }


class Peaklim
{
public:

    enum { MAXCHAN = 100 };

    Peaklim (void);
    ~Peaklim (void);

    // Frees any buffers, then sets up for the given rate and channel count
    // (limited to 1..100) with all gains at 1 and a release time of 10 ms.
    void init (float fsamp, int nchan);
    void fini (void);

    // Setters run on any thread and only store. NaN is ignored (the previous
    // setting stays); everything else, infinities included, is limited.
    void set_inpgain (float db);     // -30 .. +30 dB, ramps over one group from the next group end
    void set_threshold (float db);   // -30 .. 0 dB, acts from the next block end
    void set_release (float t);      // 0.001 .. 1 s, acts at once

    // inp and out hold nchan pointers; a null input reads as silence and a
    // null output is skipped.
    void process (int nframes, float **inp, float **out);

    float   fsamp;
    int     nchan;
    int     div1;      // samples per block
    int     div2;      // blocks per group
    int     delay;     // look-ahead in samples, a multiple of div1
    int     dsize;     // delay buffer length, a power of two
    int     dmask;
    int     rindex;    // read position; the write position is delay samples ahead
    float **dbuff;     // nchan delay buffers of dsize samples
    int     c1;        // samples left in the current block
    int     c2;        // blocks left in the current group
    float   g0;        // input gain now applied
    float   dg;        // input gain increment per sample
    float   m1;        // largest absolute input sample of the current block
    float   m2;        // largest absolute low-passed sample of the current group
    float   w1;        // fast smoother and attack coefficient
    float   w2;        // slow smoother coefficient
    float   wlf;       // 500 Hz low-pass coefficient
    float   z1, z2;    // fast and slow smoothed gain targets
    float   z3;        // output gain
    float   zlf [MAXCHAN];   // low-pass state per channel
    Histmin hist1;     // gains the blocks need, over the look-ahead
    Histmin hist2;     // gains the low-passed groups need, over 12 groups
    float  *gbuff;     // input, then output gain per sample of the current chunk, div1 samples
    float  *zbuff;     // div1 zeros, read in place of a missing input

    // Written by the setters (Python thread), read by process: g1 at group
    // ends, gt at block ends, w3 at every chunk. Relaxed single stores and
    // loads; no ordering between them is needed.
    std::atomic<float> g1;   // input gain target, linear
    std::atomic<float> gt;   // 1 / threshold level
    std::atomic<float> w3;   // release coefficient, 1 / (release time x fsamp)

    int     simd;      // vector instructions (filters/simdlevel.h), chosen by init:
                       // from AVX2 on, a build with fused multiply-adds

private:

    Peaklim (const Peaklim&) = delete;
    Peaklim& operator= (const Peaklim&) = delete;
};

#endif
