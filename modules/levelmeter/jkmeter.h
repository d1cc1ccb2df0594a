// JACK client of the level meter: nchan inputs "in_%d" (nchan clamped to
// 0..100), one Kmeterdsp each; get_levels copies the RMS and peak levels
// into two caller-owned arrays of at least that many floats.

#ifndef VESK_JKMETER_H
#define VESK_JKMETER_H

#include "jclient.h"
#include "meters/kmeterdsp.h"


class Jkmeter : public Jclient
{
public:

    // The arrays are written only by get_levels, on the caller's thread;
    // the caller keeps them alive for the object's lifetime.
    Jkmeter (const char *client_name, const char *server_name, int nchan,
             float *rms_levels, float *peak_levels);
    virtual ~Jkmeter (void);

    // Copies the levels of every input into the arrays; returns state.
    int get_levels (void);

    Kmeterdsp  *dsp;        // one per input; null until construction succeeds
    int         simd;       // vector instructions, chosen when built
    float      *rms_buf;
    float      *peak_buf;

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
