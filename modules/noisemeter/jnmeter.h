// JACK client of the noise meter: ninp inputs "in_%d" and nout meters, each
// with its own output "out_%d" carrying the signal it measures (both counts
// clamped to 1..100). Runs only at 44100, 48000, 88200 or 96000 Hz; at any
// other rate the client stays INITIAL and measures nothing.

#ifndef VESK_JNMETER_H
#define VESK_JNMETER_H

#include <atomic>
#include "jclient.h"
#include "meters/nmeterdsp.h"


class Jnmeter : public Jclient
{
public:

    // levels: caller-owned array of nlev floats (nlev may be below the
    // clamped meter count, down to 0), written only by get_levels on the
    // caller's thread; the caller keeps it alive for the object's lifetime.
    Jnmeter (const char *client_name, const char *server_name, int ninp, int nout,
             float *levels, int nlev);
    virtual ~Jnmeter (void);

    // meter -1 selects every meter. Each returns 1 (nothing changed) if the
    // client is not running or an index is out of range, else 0; set_filter
    // and set_detect return -1 for an unknown code (stored all the same).
    int set_input (int inp, int meter);
    int set_filter (int meter, int code, int dc);
    int set_detect (int meter, int code);
    // Copies the readings of the first nlev meters into the array; returns state.
    int get_levels (void);

    Nmeterdsp         *meters;           // nout of them; null until allocated
    int                simd;             // vector instructions, chosen when built
    float             *levels;
    int                nlev;             // elements of the level array to write
    std::atomic<int>   inputs [MAXPORT]; // written by set_input, read by the process thread

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
