// JACK client of the Butterworth filters: ninp inputs "in_%d" and nout
// outputs "out_%d" (each 1 .. 100). Each output takes one input through an
// optional eighth-order high-pass and an optional low-pass (both: band-pass;
// neither: a copy). Frequencies clamp to 1e-6 .. 0.48 of the sample rate.

#ifndef VESK_JBW8FILT_H
#define VESK_JBW8FILT_H

#include <stdint.h>
#include <atomic>
#include "jclient.h"
#include "filters/bw8filter.h"


class Jbw8chan
{
public:

    Jbw8chan (void);

    // Written by the Python thread: the frequencies, then req_count with
    // release order; read by the process thread when the counters differ.
    std::atomic<uint16_t> req_count;
    float      hp_freq;     // fraction of fsamp; 0 or less: none
    float      lp_freq;
    // Written by the Python thread, read by the process thread every period.
    std::atomic<int16_t>  inp;
    // Process thread only.
    uint16_t   ack_count;
    uint16_t   flags;       // bit 0 high-pass, bit 1 low-pass
    Bw8filter  hipass;
    Bw8filter  lopass;
};


class Jbw8filt : public Jclient
{
public:

    enum { MAXCHAN = 100 };

    Jbw8filt (const char *client_name, const char *server_name, int ninp, int nout);
    virtual ~Jbw8filt (void);

    // Python thread; bad indices are ignored, NaN changes nothing.
    void set_filter (int inp, int out, float hpf, float lpf);

    Jbw8chan  *chans;   // nout of them; null until created
    int        simd;    // vector instructions, chosen when built

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
