// JACK client of the IEC band filters: ninp inputs "in_%d" and nout outputs
// "out_%d" (each 1 .. 100). Each output takes one input through one octave or
// third-octave band filter, or is silent. Works at 44100, 48000, 88200, 96000
// and 192000 Hz; at any other rate the state is FAILED.

#ifndef VESK_JIECFILT_H
#define VESK_JIECFILT_H

#include <atomic>
#include "jclient.h"
#include "filters/bp6filter.h"


class Jiecfilt : public Jclient
{
public:

    enum { MAXCHAN = 100 };
    enum { SYS_OFF = 0, SYS_OCT1 = 1, SYS_OCT3 = 3 };

    Jiecfilt (const char *client_name, const char *server_name, int ninp, int nout);
    virtual ~Jiecfilt (void);

    // Python thread. system 0 silences output out (its input stays); 1 and 3
    // select band of the octave or third-octave system. Anything out of
    // range is ignored.
    void set_filter (int inp, int out, int system, int band);

    const Bp6table  *table1;    // octave bands at this rate, or null
    const Bp6table  *table3;    // third-octave bands at this rate, or null
    // Written by the Python thread (the input first, then the band with
    // release order), read by the process thread once per period.
    std::atomic<const Bp6param *> bands [MAXCHAN];
    std::atomic<int>              inputs [MAXCHAN];
    // Process thread only.
    Bp6filter        filters [MAXCHAN];
    int              simd;      // vector instructions, chosen when built

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
