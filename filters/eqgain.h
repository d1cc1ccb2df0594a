// Eqgain: the equaliser's make-up gain, linear 0.1 to 10 (-20 to +20 dB),
// applied to all channels. Changes ramp linearly within each step, at most a
// factor of two per step, so gain changes never click.

#ifndef VESK_EQGAIN_H
#define VESK_EQGAIN_H

#include <stdint.h>
#include <atomic>


class Eqgain
{
public:

    Eqgain (void);

    // Process side, at every step boundary of nstep samples.
    void prepare (int nstep);
    // inp and out may be the same buffers.
    void process (int nframes, int nchan, float **inp, float **out);

    // Written by the Python thread, read by prepare(): bypass and gain, and
    // req_count, stored last with release order (single writer).
    std::atomic<uint16_t> req_count;   // published after the values it covers
    bool      bypass;
    float     gain;        // target; prepare() applies it clamped to 0.1 .. 10

    // Process thread only.
    uint16_t  ack_count;
    int       mode;        // 0 copy, 1 fixed gain, 2 ramp
    float     gain_step;
    float     gain_cur;
    float     gain_inc;
};

#endif
