// JACK client of the ambisonic panner: ninp mono inputs "in_%d" (1 .. 100),
// each with a direction of its own, panned into one SN3D signal set of
// degree 1 to 8 on (degree+1)^2 outputs "out.%d".

#ifndef VESK_JAMBPAN_H
#define VESK_JAMBPAN_H

#include "jclient.h"
#include "ambisonics/ambpan8.h"


class Jambpan : public Jclient
{
public:

    enum { MAXINP = 100 };

    Jambpan (const char *client_name, const char *server_name, int degree, int ninp);
    virtual ~Jambpan (void);

    // Python thread: angles in degrees, ramp time in seconds. Ignored unless
    // the client is processing and index is 0 .. ninp-1.
    void set_direction (int index, float azim, float elev, float tramp);

    Ambpan8  *panners [MAXINP];   // the first ninp entries are owned, the others null

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
