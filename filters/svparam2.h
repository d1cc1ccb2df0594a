// Svparam2: one equaliser section, a second-order state-variable filter used
// as low shelf (0), high shelf (1) or peak (2, 3, 4) on up to 100 channels.
// Frequency as a fraction of the sample rate, 1e-5 to 0.49 (low shelf 1e-5 to
// 0.3), linear gain 0.1 to 10, shape -1 to 1 (shelf slope) or 0.1 to 10 (peak
// bandwidth). Changes move in bounded steps on the caller's step grid.

#ifndef VESK_SVPARAM2_H
#define VESK_SVPARAM2_H

#include <stdint.h>
#include <atomic>

class Eqgain;


class Svparam2
{
public:

    enum { LOSHELF = 0, HISHELF = 1, PEAK_FIXED = 2, PEAK_SYMM = 3, PEAK_GAINBW = 4 };
    enum { MAXCHAN = 100 };

    // Highest low-shelf frequency: above about 0.31 the low shelf's
    // prewarped tangent passes pi/2 and its poles leave the unit circle.
    static constexpr float LOSHELF_FMAX = 0.3f;

    explicit Svparam2 (int type);

    // Control side: stores clamped targets and requests them. A NaN in any
    // argument makes the call change nothing.
    void setpars (float f, float g, float s);
    // Process side, at every step boundary of nstep samples.
    void prepare (int nstep);
    // Computes coefficients (nstep 0) or per-sample increments towards them.
    void calcpar1 (int nstep, float f, float g, float s);
    // Filters nframes samples of nchan channels in place. data [i] uses the
    // state of channel chan [i] when chan is given, else of channel i.
    void process1 (int nframes, int nchan, float **data, const int *chan = nullptr);
    void reset (void);
    // The equaliser's make-up gain G, then the sections S [0 .. ns-1] that
    // are active (mode not 0), on n samples of nch channels from inp to out
    // (which may be the same buffers), side by side in vector lanes at the
    // given level (simdlevel.h): the results of G.process and process1 for
    // every section in turn, the lanes to within about a float rounding
    // (they fuse multiply-adds; see filtkern.h). At most 8 sections.
    static void process_multi (int simd, Eqgain &G, Svparam2 *const *S, int ns, int n, int nch,
                               float **inp, float **out);

    // Written by the Python thread, read by prepare(): the targets, the
    // bypass flag, and req_count, stored last with release order and read
    // first with acquire order (single writer, no read-modify-write).
    std::atomic<uint16_t> req_count;   // published after the values it covers
    bool      bypass;
    float     freq;
    float     gain;
    float     shape;

    // Process thread only.
    uint16_t  ack_count;
    int       mode;        // 0 inactive, 1 fixed, 2 interpolating
    int       type;
    float     freq_cur;
    float     gain_cur;
    float     shape_cur;
    float     c0, c1, c2, c3, c4;
    float     dc0, dc1, dc2, dc3, dc4;
    double    z1 [MAXCHAN];
    double    z2 [MAXCHAN];

private:

    template <int N, bool INTERP> void run (int nframes, float **data, const int *chan, int i0, double *end);
    template <bool INTERP> void run_all (int nframes, int nchan, float **data, const int *chan, double *end);
};

#endif
