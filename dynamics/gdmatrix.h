// Gain and delay routing matrix of 0 to 100 inputs by 0 to 100 outputs: each
// output sums every input, delayed by (input + matrix + output delay, limited
// to 0 .. maxdel samples) and scaled by (input x matrix x output gain). Gain
// changes ramp linearly over one period; a delay change crossfades linearly
// over one period from the old tap to the new one. Maximum delay 0 to 3 s.

#ifndef VESK_GDMATRIX_H
#define VESK_GDMATRIX_H

#include <atomic>
#include "framework/delay.h"


class Gdmatrix
{
public:

    enum { MAXCHAN = 100 };

    Gdmatrix (void);
    ~Gdmatrix (void);

    // Frees anything held, then sets up ninp x nout routes (each clamped to
    // 0..100) for periods of fsize samples. maxdelay is limited to 0..3 s
    // (NaN counts as 0); when it rounds to 0 samples there are no delay lines.
    void init (int ninp, int nout, int fsamp, int fsize, float maxdelay);
    void fini (void);

    // Addressing: (i, o) both in range sets the matrix element, i in range
    // with o < 0 the input, i < 0 with o in range the output, anything else
    // nothing. Both only store; the change acts from the next period.
    // set_gain stores g as it is; it refuses (returns -1, keeps the previous
    // value) a gain that is not finite or whose size exceeds GMAX, so that
    // no product of three gains can overflow. set_delay stores t in samples,
    // floor(t x fsamp + 0.5); it refuses NaN and infinities, and does nothing
    // without delay lines. Both return 0 otherwise.
    int set_gain (int i, int o, float g);
    int set_delay (int i, int o, float t);

    // inp holds ninp pointers and out nout pointers, each to n samples; a
    // null input is silence, a null output is skipped. With delay lines n
    // must be the fsize given to init: any other period gives silence.
    void process (int n, float **inp, float **out);

    static constexpr float GMAX = 1e12f;        // largest gain size accepted (+240 dB)
    static constexpr int   DLIM = 1 << 29;      // stored delays are limited to +-DLIM samples

    int     ninp;
    int     nout;
    int     fsamp;
    int     fsize;
    int     maxdel;   // largest total delay in samples; 0: no delay lines

    // Set by the Python thread with relaxed stores, read once per period by
    // the process thread. A value set while a period runs acts in that period
    // or the next; no ordering between elements is needed.
    std::atomic<float> *ginp;   // [ninp] input gains, 1.0
    std::atomic<float> *gout;   // [nout] output gains, 1.0
    std::atomic<float> *gmat;   // [ninp x nout] matrix gains, element (i, o) at i + o x ninp, 0
    std::atomic<int>   *dinp;   // [ninp] input delays in samples (only with delay lines)
    std::atomic<int>   *dout;   // [nout] output delays
    std::atomic<int>   *dmat;   // [ninp x nout] matrix delays

    // Process thread only.
    float  *gcur;     // [ninp x nout] route gains applied in the last period
    int    *dcur;     // [ninp x nout] route delays applied in the last period
    Delay  *delays;   // [ninp] input delay lines
    float  *zeros;    // fsize zero samples, read in place of a missing input

private:

    Gdmatrix (const Gdmatrix&) = delete;
    Gdmatrix& operator= (const Gdmatrix&) = delete;
};

#endif
