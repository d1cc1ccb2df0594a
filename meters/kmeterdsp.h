// One channel of the level meter: a DC-blocked RMS level (two-stage mean
// square, scaled by sqrt 2 so that a sine reads its peak) and a peak level
// with hold and fall-back. Any sample rate and period size above 0; hold in
// seconds (>= 0), fall in dB per second (>= 0); settled once from the
// client's rate and period size (a later period size change keeps them).

#ifndef VESK_KMETERDSP_H
#define VESK_KMETERDSP_H

#include <atomic>


class Kmeterdsp
{
public:

    Kmeterdsp (void);

    // Settings of this meter from the sample rate and period size of its
    // client: each meter keeps its own, so clients on servers of different
    // rates or period sizes in one process never disturb each other. Call
    // before the process thread runs the meter.
    void init (int fsamp, int fsize, float hold, float fall);

    // One period of n >= 0 samples (process thread); a null p is silence.
    void process (const float *p, int n);
    // nch meters at once, K [i] on p [i], side by side in vector lanes at
    // the given level (filters/simdlevel.h): the same results as process,
    // meter by meter.
    static void process_multi (int simd, Kmeterdsp *const *K, const float *const *p, int nch, int n);
    // Copies the RMS level (the largest end-of-period value since the last
    // read) and the held peak level out, and asks process to restart the RMS
    // maximum (Python thread).
    void read (float *rms_out, float *peak_out);

    float  dc;         // state of the 5 Hz DC-tracking filter
    float  ms1;        // first low-pass stage of the squared DC-free signal
    float  ms2;        // second low-pass stage
    int    hold_cnt;   // periods left in the current hold

    // Written by process, read by read.
    std::atomic<float>  rms;    // largest end-of-period RMS since the last read
    std::atomic<float>  peak;   // peak with hold and fall
    // Set by read, taken and cleared by process with one exchange, so that a
    // read between two periods is never lost.
    std::atomic<bool>   read_flag;

    float  wdcf;    // 5 Hz DC filter coefficient
    float  wrms;    // RMS low-pass coefficient
    int    nhold;   // peak hold in periods
    float  fall;    // per-period peak fall factor

private:

    // Start and end of a period around the loop, which leaves its states in
    // dc, ms1, ms2 and its largest square in smax.
    void start (void);
    void finish (float smax);

    Kmeterdsp (const Kmeterdsp&) = delete;
    Kmeterdsp& operator= (const Kmeterdsp&) = delete;
};

#endif
