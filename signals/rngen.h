// Gaussian random numbers for the noise source: a 64-bit linear congruential
// generator (Knuth's MMIX constants) whose upper 32 bits feed the Marsaglia
// polar method. Seed 0 seeds from the random device (or the time); any other
// seed gives a reproducible sequence. One thread at a time, no locks.

#ifndef VESK_RNGEN_H
#define VESK_RNGEN_H

#include <stdint.h>


class Rngen
{
public:

    Rngen (unsigned seed = 0);
    ~Rngen (void) {}

    // Clears the waiting values and seeds the generator: from the random
    // device when seed is 0 (the time if the device fails), else from seed.
    void init (unsigned seed);
    // Reads 8 bytes of the random device into rstate: 0 on success, 1 when
    // the device cannot be opened or read. The waiting values are kept.
    int init_urandom (void);

    // One Gaussian value of mean 0 and variance 1; every second call returns
    // the spare value of the pair drawn by the call before.
    double grand (void);
    float  grandf (void);
    // Two independent Gaussian values of variance 1/2 each, so that a + jb
    // has unit mean power. The waiting values are neither used nor changed.
    void grand (double *a, double *b);
    void grandf (float *a, float *b);

    uint64_t  rstate;    // generator state
    bool      have_d;    // spare_d is waiting
    bool      have_f;    // spare_f is waiting
    double    spare_d;
    float     spare_f;

    static const double  _p31d;   // 2^31
    static const double  _p32d;   // 2^32
    static const float   _p31f;
    static const float   _p32f;

    // The random device read by seed 0. Only tests point it elsewhere.
    static const char   *_device;

private:

    // Steps the generator and returns u = (rstate >> 32) / 2^31 - 1, in [-1, 1).
    double urand (void)
    {
        rstate = rstate * 6364136223846793005ULL + 1442695040888963407ULL;
        return (double)(uint32_t)(rstate >> 32) / _p31d - 1.0;
    }
    float urandf (void)
    {
        rstate = rstate * 6364136223846793005ULL + 1442695040888963407ULL;
        return (float)(uint32_t)(rstate >> 32) / _p31f - 1.0f;
    }

    // One accepted pair of the polar method: u, v in the unit disk, r = u² + v².
    void pair (double *u, double *v, double *r);
    void pairf (float *u, float *v, float *r);
};

#endif
