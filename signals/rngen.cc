// Gaussian random numbers: MMIX generator and Marsaglia's polar method.

#include <errno.h>
#include <fcntl.h>
#include <math.h>
#include <time.h>
#include <unistd.h>
#include "rngen.h"


const double  Rngen::_p31d = 2147483648.0;
const double  Rngen::_p32d = 4294967296.0;
const float   Rngen::_p31f = 2147483648.0f;
const float   Rngen::_p32f = 4294967296.0f;
const char   *Rngen::_device = "/dev/urandom";


Rngen::Rngen (unsigned seed) :
    rstate (0),
    have_d (false),
    have_f (false),
    spare_d (0),
    spare_f (0)
{
    init (seed);
}


void Rngen::init (unsigned seed)
{
    uint32_t  s;
    uint64_t  r;

    have_d = false;
    have_f = false;
    if (seed == 0)
    {
        if (init_urandom () == 0) return;
        seed = (unsigned) time (nullptr);
    }
    // Spread a 32-bit seed over 64 bits: run the classic 32-bit LCG for 100
    // steps, then take the top byte of eight successive values, most
    // significant byte first.
    s = seed;
    for (int i = 0; i < 100; i++) s = s * 1103515245u + 12345u;
    r = s >> 24;
    for (int i = 1; i < 8; i++)
    {
        s = s * 1103515245u + 12345u;
        r = (r << 8) | (s >> 24);
    }
    rstate = r;
}


int Rngen::init_urandom (void)
{
    unsigned char  *p = reinterpret_cast <unsigned char *> (&rstate);
    size_t          k = 0;
    ssize_t         n;
    int             fd;

    fd = open (_device, O_RDONLY);
    if (fd < 0) return 1;
    // A short read continues at the next byte; end of file counts as failure.
    while (k < sizeof (rstate))
    {
        n = read (fd, p + k, sizeof (rstate) - k);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
        {
            close (fd);
            return 1;
        }
        k += n;
    }
    close (fd);
    return 0;
}


void Rngen::pair (double *u, double *v, double *r)
{
    double a, b, c;
    do
    {
        a = urand ();
        b = urand ();
        c = a * a + b * b;
    }
    while ((c > 1.0) || (c < 1e-40));
    *u = a;
    *v = b;
    *r = c;
}


void Rngen::pairf (float *u, float *v, float *r)
{
    float a, b, c;
    do
    {
        a = urandf ();
        b = urandf ();
        c = a * a + b * b;
    }
    while ((c > 1.0f) || (c < 1e-20f));
    *u = a;
    *v = b;
    *r = c;
}


double Rngen::grand (void)
{
    double u, v, r, f;

    if (have_d)
    {
        have_d = false;
        return spare_d;
    }
    pair (&u, &v, &r);
    f = sqrt (-2.0 * log (r) / r);
    spare_d = v * f;
    have_d = true;
    return u * f;
}


float Rngen::grandf (void)
{
    float u, v, r, f;

    if (have_f)
    {
        have_f = false;
        return spare_f;
    }
    pairf (&u, &v, &r);
    f = sqrtf (-2.0f * logf (r) / r);
    spare_f = v * f;
    have_f = true;
    return u * f;
}


void Rngen::grand (double *a, double *b)
{
    double u, v, r, f;

    pair (&u, &v, &r);
    f = sqrt (-log (r) / r);
    *a = u * f;
    *b = v * f;
}


void Rngen::grandf (float *a, float *b)
{
    float u, v, r, f;

    pairf (&u, &v, &r);
    f = sqrtf (-logf (r) / r);
    *a = u * f;
    *b = v * f;
}
