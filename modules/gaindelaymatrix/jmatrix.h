// JACK client of the gain and delay matrix: ninp inputs "in_%d" and nout
// outputs "out_%d" (each 0..100) through one Gdmatrix, with a maximum total
// delay of 0 to 3 s (0: no delay lines).

#ifndef VESK_JMATRIX_H
#define VESK_JMATRIX_H

#include "jclient.h"
#include "dynamics/gdmatrix.h"


class Jmatrix : public Jclient
{
public:

    Jmatrix (const char *client_name, const char *server_name, int ninp, int nout, float maxdelay);
    virtual ~Jmatrix (void);

    // Set up the matrix for the client's rate and period, state PROCESS;
    // and its reverse: state INITIAL, client closed, everything freed.
    void init (float maxdelay);
    void fini (void);

    // As Gdmatrix::set_gain and set_delay: -1 for a refused value, else 0.
    int set_gain (int i, int o, float g) { return matrix.set_gain (i, o, g); }
    int set_delay (int i, int o, float t) { return matrix.set_delay (i, o, t); }

    Gdmatrix  matrix;   // empty until construction succeeds

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
