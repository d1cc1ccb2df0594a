// JACK client of the gain control: nchan inputs "in_%d" feed nchan outputs
// "out_%d" through a Fader2. nchan is clamped to 0..100.

#ifndef VESK_JGAINCTL_H
#define VESK_JGAINCTL_H

#include "jclient.h"
#include "dynamics/fader2.h"


class Jgainctl : public Jclient
{
public:

    Jgainctl (const char *client_name, const char *server_name, int nchan);
    virtual ~Jgainctl (void);

    Fader2  *fader;   // null until construction succeeds

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
