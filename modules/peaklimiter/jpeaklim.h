// JACK client of the look-ahead peak limiter: nchan inputs "in_%d" feed nchan
// outputs "out_%d" through one Peaklim. nchan is clamped to 1..100.

#ifndef VESK_JPEAKLIM_H
#define VESK_JPEAKLIM_H

#include "jclient.h"
#include "dynamics/peaklim.h"


class Jpeaklim : public Jclient
{
public:

    Jpeaklim (const char *client_name, const char *server_name, int nchan);
    virtual ~Jpeaklim (void);

    Peaklim  peaklim;   // initialised only when construction succeeds

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
