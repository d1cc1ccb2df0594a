// JACK client of the parametric equaliser: nchan inputs "in_%d" feed nchan
// outputs "out_%d" (nchan 0 .. 100) through a make-up gain and up to eight
// sections, all channels with one set of parameters. Parameters move on a
// 10 ms step grid that runs independently of the JACK period.

#ifndef VESK_JPARAMEQ_H
#define VESK_JPARAMEQ_H

#include "jclient.h"
#include "filters/eqgain.h"
#include "filters/svparam2.h"


class Jparameq : public Jclient
{
public:

    enum { MAXSECT = 8, MAXCHAN = 100 };

    // sections: one character per section, "L" low shelf, "H" high shelf,
    // "1", "2", "3" peak types; others repeat the type before (first: "L").
    Jparameq (const char *client_name, const char *server_name, int nchan, const char *sections);
    virtual ~Jparameq (void);

    // Python thread. NaN in any argument changes nothing; the rest clamps.
    void set_filter (int index, float freq, float gain_db, float shape);
    void set_bypass (bool on);
    void set_gain (float gain_db);

    int        step_len;     // samples per parameter step, ceil (fsamp / 100)
    int        step_left;    // process thread: samples left in the current step
    int        nsect;
    Eqgain     eqgain;
    Svparam2  *sections [MAXSECT];   // owned; null until created
    int        simd;                 // vector instructions, chosen when built

private:

    void init (const char *sections);

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
