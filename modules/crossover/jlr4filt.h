// JACK client of the crossover: ninp inputs "in_%d" and nout outputs "out_%d"
// (each 1 .. 100). Each output takes one input, delays it (0 to the largest
// delay, at most 0.1 s), filters it through an optional high-pass and an
// optional low-pass Lr4filter and scales it by a linear gain.

#ifndef VESK_JLR4FILT_H
#define VESK_JLR4FILT_H

#include <stdint.h>
#include <atomic>
#include "jclient.h"
#include "framework/delay.h"
#include "filters/lr4filter.h"


class Jlr4chan
{
public:

    Jlr4chan (void);

    // Written by the Python thread: the filter settings, then req_count with
    // release order. Read by the process thread when req_count differs from
    // ack_count (acquire).
    std::atomic<uint16_t> req_count;
    float      hp_freq;     // fraction of fsamp; 0 or less: no high-pass
    float      hp_shape;    // dB at hp_freq
    float      lp_freq;
    float      lp_shape;
    // Written by the Python thread, read by the process thread every period.
    std::atomic<int16_t>  inp;
    std::atomic<float>    gain;
    std::atomic<int>      delay;   // samples, 0 .. maxdelay
    // Process thread only.
    uint16_t   ack_count;
    uint16_t   flags;       // bit 0 high-pass, bit 1 low-pass
    Lr4filter  hipass;
    Lr4filter  lopass;
    Delay      dline;       // allocated only when the largest delay is not 0
};


class Jlr4filt : public Jclient
{
public:

    enum { MAXCHAN = 100 };
    static constexpr float MAXDELAY = 0.1f;   // seconds

    Jlr4filt (const char *client_name, const char *server_name, int ninp, int nout, float maxdel);
    virtual ~Jlr4filt (void);

    // Python thread; bad indices are ignored, NaN arguments change nothing.
    void set_filter (int inp, int out, float hpf, float hps, float lpf, float lps);
    void set_delay (int out, float t);
    void set_gain (int out, float g);

    Jlr4chan  *chans;      // nout of them; null until created
    int        maxdelay;   // largest delay in samples
    int        simd;       // vector instructions, chosen when built

private:

    void init (float maxdel);

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
