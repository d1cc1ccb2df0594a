// Gain and delay routing matrix.

#include <math.h>
#include <string.h>
#include "gdmatrix.h"


// The three ways a route adds its source into an output, each over n samples.

// Constant gain: one multiply-add per sample.
static inline void add_const (float *dst, const float *src, float g, int n)
{
    for (int j = 0; j < n; j++) dst [j] += g * src [j];
}

// Linear gain ramp from go to gn over the period: sample j gets the gain
// go + (j + 1)(gn - go) / n, and the last sample exactly gn.
static inline void add_ramp (float *dst, const float *src, float go, float gn, int n)
{
    const float d = (gn - go) / n;
    for (int j = 0; j < n - 1; j++) dst [j] += (go + (j + 1) * d) * src [j];
    dst [n - 1] += gn * src [n - 1];
}

// Linear crossfade over the period from the old tap (gain go) to the new one
// (gain gn): sample j weighs the old tap by go (1 - w_j) and the new one by
// gn w_j, with w_j = (j + 1) / n, exactly 1 at the last sample.
static inline void add_xfade (float *dst, const float *src0, float go, const float *src1, float gn, int n)
{
    const float s = 1.0f / n;
    for (int j = 0; j < n - 1; j++) dst [j] += go * (1.0f - (j + 1) * s) * src0 [j];
    for (int j = 0; j < n - 1; j++) dst [j] += gn * ((j + 1) * s) * src1 [j];
    dst [n - 1] += gn * src1 [n - 1];
}


Gdmatrix::Gdmatrix (void) :
    ninp (0),
    nout (0),
    fsamp (0),
    fsize (0),
    maxdel (0),
    ginp (nullptr),
    gout (nullptr),
    gmat (nullptr),
    dinp (nullptr),
    dout (nullptr),
    dmat (nullptr),
    gcur (nullptr),
    dcur (nullptr),
    delays (nullptr),
    zeros (nullptr)
{
}


Gdmatrix::~Gdmatrix (void)
{
    fini ();
}


void Gdmatrix::init (int ninp_, int nout_, int fsamp_, int fsize_, float maxdelay)
{
    int  nm;

    fini ();
    ninp = (ninp_ < 0) ? 0 : ((ninp_ > MAXCHAN) ? MAXCHAN : ninp_);
    nout = (nout_ < 0) ? 0 : ((nout_ > MAXCHAN) ? MAXCHAN : nout_);
    fsamp = (fsamp_ > 0) ? fsamp_ : 0;
    fsize = (fsize_ > 0) ? fsize_ : 1;
    if (!(maxdelay > 0.0f)) maxdelay = 0.0f;    // NaN too
    if (maxdelay > 3.0f) maxdelay = 3.0f;
    maxdel = (int) (maxdelay * (double) fsamp + 0.5);
    nm = ninp * nout;

    // Every array gets at least one element, so none is ever null after init.
    ginp = new std::atomic<float> [ninp + 1];
    gout = new std::atomic<float> [nout + 1];
    gmat = new std::atomic<float> [nm + 1];
    gcur = new float [nm + 1];
    for (int i = 0; i <= ninp; i++) ginp [i].store (1.0f, std::memory_order_relaxed);
    for (int o = 0; o <= nout; o++) gout [o].store (1.0f, std::memory_order_relaxed);
    for (int k = 0; k <= nm; k++)
    {
        gmat [k].store (0.0f, std::memory_order_relaxed);
        gcur [k] = 0.0f;
    }
    zeros = new float [fsize];
    memset (zeros, 0, fsize * sizeof (float));
    if (maxdel)
    {
        dinp = new std::atomic<int> [ninp + 1];
        dout = new std::atomic<int> [nout + 1];
        dmat = new std::atomic<int> [nm + 1];
        dcur = new int [nm + 1];
        for (int i = 0; i <= ninp; i++) dinp [i].store (0, std::memory_order_relaxed);
        for (int o = 0; o <= nout; o++) dout [o].store (0, std::memory_order_relaxed);
        for (int k = 0; k <= nm; k++)
        {
            dmat [k].store (0, std::memory_order_relaxed);
            dcur [k] = 0;
        }
        delays = new Delay [ninp + 1];
        for (int i = 0; i < ninp; i++) delays [i].init (maxdel, fsize);
    }
}


void Gdmatrix::fini (void)
{
    delete[] ginp;
    delete[] gout;
    delete[] gmat;
    delete[] gcur;
    delete[] dinp;
    delete[] dout;
    delete[] dmat;
    delete[] dcur;
    delete[] delays;
    delete[] zeros;
    ginp = gout = gmat = nullptr;
    dinp = dout = dmat = nullptr;
    gcur = nullptr;
    dcur = nullptr;
    delays = nullptr;
    zeros = nullptr;
    ninp = nout = 0;
    maxdel = 0;
}


// The element (i, o) addresses, or null.
template <class T> static T *element (int i, int o, int ninp, int nout, T *vinp, T *vout, T *vmat)
{
    if (i >= ninp || o >= nout) return nullptr;
    if (i >= 0 && o >= 0) return vmat + i + o * ninp;
    if (i >= 0) return vinp + i;
    if (o >= 0) return vout + o;
    return nullptr;
}


int Gdmatrix::set_gain (int i, int o, float g)
{
    if (!(fabsf (g) <= GMAX)) return -1;    // NaN and infinities too
    std::atomic<float> *p = element (i, o, ninp, nout, ginp, gout, gmat);
    if (p) p->store (g, std::memory_order_relaxed);
    return 0;
}


int Gdmatrix::set_delay (int i, int o, float t)
{
    if (!isfinite (t)) return -1;
    if (!maxdel) return 0;
    std::atomic<int> *p = element (i, o, ninp, nout, dinp, dout, dmat);
    if (!p) return 0;
    // Rounded to the nearest sample, halves upwards, negative delays too.
    // Limited far beyond any useful delay so that the sum of three never overflows.
    double d = floor (t * (double) fsamp + 0.5);
    if (d > DLIM) d = DLIM;
    if (d < -DLIM) d = -DLIM;
    p->store ((int) d, std::memory_order_relaxed);
    return 0;
}


void Gdmatrix::process (int n, float **inp, float **out)
{
    const float *src [MAXCHAN];
    int    i, o, k, d0, d1;
    float  go, gn, gi;

    if (n <= 0 || !ginp) return;
    if (maxdel && n != fsize)
    {
        // The delay lines work in blocks of the period size they were made
        // for; a different period would read past them.
        for (o = 0; o < nout; o++) if (out [o]) memset (out [o], 0, n * sizeof (float));
        return;
    }
    for (i = 0; i < ninp; i++)
    {
        if (maxdel) delays [i].write (inp [i] ? inp [i] : zeros);
        else src [i] = inp [i];
    }

    for (o = 0; o < nout; o++)
    {
        float *dst = out [o];
        const float go_ = gout [o].load (std::memory_order_relaxed);
        const int   do_ = maxdel ? dout [o].load (std::memory_order_relaxed) : 0;
        if (dst) memset (dst, 0, n * sizeof (float));
        for (i = 0, k = o * ninp; i < ninp; i++, k++)
        {
            gn = gmat [k].load (std::memory_order_relaxed) * ginp [i].load (std::memory_order_relaxed) * go_;
            go = gcur [k];
            gcur [k] = gn;
            const float *s;
            if (maxdel)
            {
                long dn = (long) dinp [i].load (std::memory_order_relaxed)
                        + dmat [k].load (std::memory_order_relaxed) + do_;
                if (dn < 0) dn = 0;
                if (dn > maxdel) dn = maxdel;
                d0 = dcur [k];
                d1 = (int) dn;
                dcur [k] = d1;
                if (d1 != d0)
                {
                    if (dst && (go != 0.0f || gn != 0.0f))
                    {
                        add_xfade (dst, delays [i].readp (d0), go, delays [i].readp (d1), gn, n);
                    }
                    continue;
                }
                s = delays [i].readp (d1);
            }
            else s = src [i];
            if (!dst || !s) continue;
            // Unchanged within 0.1 % (or exactly, zero included): constant gain.
            gi = fabsf (gn - go);
            if (gn == go || gi < 0.001f * (fabsf (go) + fabsf (gn)))
            {
                if (fabsf (gn) >= 1e-15f) add_const (dst, s, gn, n);
            }
            else add_ramp (dst, s, go, gn, n);
        }
    }
}
