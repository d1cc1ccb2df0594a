// JACK client of the noise source: nout outputs "out_%d", each fed by its own
// Noisegen (white or pink noise, or silence). nout is clamped to 0..100.

#ifndef VESK_JNOISE_H
#define VESK_JNOISE_H

#include "jclient.h"
#include "signals/noisegen.h"


class Jnoise : public Jclient
{
public:

    Jnoise (const char *client_name, const char *server_name, int nout);
    virtual ~Jnoise (void);

    // Sets type and level of output index; an index out of range changes
    // nothing. Returns -1 when the level is refused (NaN, or above
    // Noisegen::MAXDB), else 0.
    int set_output (int index, int type, float db);

    Noisegen  *noise;   // nout generators, null until construction succeeds

private:

    void init (void);
    void fini (void);

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
