// Convproc: non-uniformly partitioned convolution (see convproc.h for the layout).

#include <math.h>
#include <string.h>
#include <time.h>
#include <errno.h>
#include <unistd.h>
#include <new>
#if defined(__SSE__)
#include <xmmintrin.h>
#endif
#include "convproc.h"
#include "framework/p_thread.h"


extern "C" int vesk_convolver_major_version (void)
{
    return 4;
}


// Spectra are kept split (real parts, then imaginary parts) so that the
// multiply-add loops vectorise. A partition of size L has L + 1 bins, of
// which the first (DC) and the last (Nyquist) are real: the Nyquist value is
// packed into the imaginary slot of bin 0, leaving L complex values, padded
// to a multiple of 16 so that every vector width divides the loop.
enum { BINALIGN = 16 };

struct Convmac
{
    int           inp;     // input whose delay line is read
    int           nact;    // partitions of the response holding data at this level
    const float  *h;       // the response's spectra at this level
};

// One impulse response, shared by the pairs linked to it.
struct Convresp
{
    int     refs;                        // pairs pointing here (control thread)
    float  *data [Convproc::MAXLEV];     // per level npart partitions of 2 * nbin floats
    int     nact [Convproc::MAXLEV];     // partitions 0 .. nact-1 may hold data, the rest are zero
};

// One partition level. Written by the control thread while nothing runs,
// except where a member says otherwise.
struct Convlevel
{
    int             size;      // partition size L
    int             nbin;      // packed bins, L rounded up to BINALIGN
    int             npart;     // partitions in this level
    int             offs;      // first response frame of this level
    fftwf_plan      plan_r2c;  // 2L real -> L + 1 complex
    fftwf_plan      plan_c2r;
    float          *tbuf;      // 2L frames, scratch of the thread that runs this level
    fftwf_complex  *fbuf;      // L + 1 bins, same
    float          *acc;       // 2 * nbin, same
    float          *fdl [Convproc::MAXINP];  // per input npart past spectra (2 * nbin each)
    float          *lout [Convproc::MAXOUT]; // levels >= 1: two output blocks of L per output
    Convmac        *macs;      // ninp * nout entries; made by start_process
    int             macbeg [Convproc::MAXOUT + 1];
    int             ninpact;   // inputs whose spectra this level needs
    int             inpact [Convproc::MAXINP];
    int             noutact;   // outputs this level contributes to
    int             outact [Convproc::MAXOUT];
    bool            outon [Convproc::MAXOUT];
    bool            active;    // any work at this level
    bool            skip;      // audio thread only: current block dropped (worker late)
    // The worker of a level >= 1.
    Convworker     *thr;
    bool            sem_ok;
    sem_t           trig;      // posted by the audio thread for each new block, and by stop
    sem_t           done;      // posted by the worker when the audio thread waits (sync) and at exit
    std::atomic<int64_t> req;  // audio thread -> worker: newest block to compute (release: input frames are in the rings)
    std::atomic<int64_t> fin;  // worker -> audio thread: newest block finished (release: its output is in lout)
    std::atomic<bool> waiting; // audio thread: waiting on done (sync mode)
    std::atomic<bool> stop;    // control thread -> worker: exit at the next wake-up
    std::atomic<bool> exited;  // worker -> control thread: the thread no longer touches anything
};


class Convworker : public P_thread
{
public:
    Convworker (Convproc *proc, int lev) : _proc (proc), _lev (lev) {}
    virtual void thr_main (void) override;
private:
    Convproc  *_proc;
    int        _lev;
};


// ---- Kernels --------------------------------------------------------------

// Runtime dispatch between vector widths (the library is built for the
// baseline architecture): GCC makes one copy per target and picks at load time.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(VESK_CONV_NO_CLONES)
#define CONV_CLONES __attribute__ ((target_clones ("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#else
#define CONV_CLONES
#endif

// acc += X * H over n packed bins (bin 0: two real products).
CONV_CLONES
static void cmac1 (float *__restrict ar, float *__restrict ai,
                   const float *__restrict xr, const float *__restrict hr, int n) VESK_CONV_NONBLOCKING
{
    const float *xi = xr + n;
    const float *hi = hr + n;
    float d0 = ar [0] + xr [0] * hr [0];
    float n0 = ai [0] + xi [0] * hi [0];
    for (int b = 0; b < n; b++)
    {
        ar [b] += xr [b] * hr [b] - xi [b] * hi [b];
        ai [b] += xr [b] * hi [b] + xi [b] * hr [b];
    }
    ar [0] = d0;
    ai [0] = n0;
}

// acc += X1 * H1 + X2 * H2: one pass over the accumulator for two partitions.
CONV_CLONES
static void cmac2 (float *__restrict ar, float *__restrict ai,
                   const float *__restrict xr, const float *__restrict hr,
                   const float *__restrict yr, const float *__restrict gr, int n) VESK_CONV_NONBLOCKING
{
    const float *xi = xr + n;
    const float *hi = hr + n;
    const float *yi = yr + n;
    const float *gi = gr + n;
    float d0 = ar [0] + xr [0] * hr [0] + yr [0] * gr [0];
    float n0 = ai [0] + xi [0] * hi [0] + yi [0] * gi [0];
    for (int b = 0; b < n; b++)
    {
        ar [b] += xr [b] * hr [b] - xi [b] * hi [b] + yr [b] * gr [b] - yi [b] * gi [b];
        ai [b] += xr [b] * hi [b] + xi [b] * hr [b] + yr [b] * gi [b] + yi [b] * gr [b];
    }
    ar [0] = d0;
    ai [0] = n0;
}

// FFTW's L + 1 interleaved bins -> packed split (2 * nbin floats, padding zero).
static void pack (const fftwf_complex *F, float *d, int L, int nbin) VESK_CONV_NONBLOCKING
{
    float *re = d;
    float *im = d + nbin;
    re [0] = F [0][0];
    im [0] = F [L][0];
    for (int b = 1; b < L; b++)
    {
        re [b] = F [b][0];
        im [b] = F [b][1];
    }
    for (int b = L; b < nbin; b++) re [b] = im [b] = 0.0f;
}

static void unpack (const float *d, fftwf_complex *F, int L, int nbin) VESK_CONV_NONBLOCKING
{
    const float *re = d;
    const float *im = d + nbin;
    F [0][0] = re [0];
    F [0][1] = 0.0f;
    F [L][0] = im [0];
    F [L][1] = 0.0f;
    for (int b = 1; b < L; b++)
    {
        F [b][0] = re [b];
        F [b][1] = im [b];
    }
}

// n frames of a ring of size r starting at frame position p (any integer).
static void ring_read (float *dst, const float *ring, int r, int64_t p, int n) VESK_CONV_NONBLOCKING
{
    int s = (int) (((p % r) + r) % r);
    int k = r - s;
    if (k >= n) memcpy (dst, ring + s, n * sizeof (float));
    else
    {
        memcpy (dst, ring + s, k * sizeof (float));
        memcpy (dst + k, ring, (n - k) * sizeof (float));
    }
}

static float *falloc (size_t n)
{
    float *p = (float *) fftwf_malloc (n * sizeof (float));
    if (p) memset (p, 0, n * sizeof (float));
    return p;
}

// Spectra are allocated and written at once: asking for more than half the
// RAM would end with the process killed rather than a refused allocation.
static size_t mem_limit (void)
{
    return (size_t) sysconf (_SC_PHYS_PAGES) * (size_t) sysconf (_SC_PAGESIZE) / 2;
}

static void sleep_ms (int ms)
{
    struct timespec ts = { 0, ms * 1000000L };
    nanosleep (&ts, nullptr);
}


// ---- Construction, layout -------------------------------------------------

Convproc::Convproc (void) :
    state (ST_IDLE),
    inpoffs (0),
    outoffs (0),
    nlate (0),
    _ninp (0),
    _nout (0),
    _maxsize (0),
    _quant (0),
    _nlev (0),
    _ring (0),
    _time (0),
    _resp (nullptr),
    _tbuf (nullptr),
    _fbuf (nullptr),
    _inproc (false),
    _memused (0)
{
    for (int i = 0; i < MAXINP; i++) inpbuff [i] = nullptr;
    for (int o = 0; o < MAXOUT; o++) outbuff [o] = nullptr;
    for (int k = 0; k < MAXLEV; k++) _levels [k] = nullptr;
}


Convproc::~Convproc (void)
{
    if (state.load () == ST_PROC) stop_process ();
    // Workers finish their current block and exit; give them ample time.
    for (int n = 0; n < 10000 && !check_stop (); n++) sleep_ms (1);
    // A worker still running keeps its memory: leaking beats freeing it under it.
    if (check_stop ()) free_all ();
}


int Convproc::level_size (int k) const
{
    return (k >= 0 && k < _nlev) ? _levels [k]->size : 0;
}


int Convproc::level_parts (int k) const
{
    return (k >= 0 && k < _nlev) ? _levels [k]->npart : 0;
}


int Convproc::configure (unsigned ninp, unsigned nout, unsigned maxsize, unsigned quantum,
                         unsigned minpart, unsigned maxpart, float density)
{
    if (state.load () != ST_IDLE) return ERR_STATE;
    if (   ninp < 1 || ninp > MAXINP || nout < 1 || nout > MAXOUT
        || maxsize < 1 || maxsize > MAXSIZE || quantum < 1 || quantum > MAXQUANT
        || minpart != quantum || maxpart < quantum
        || !(density >= 0.0f && density <= 1.0f)) return ERR_PARAM;

    // Choose the last level kf: levels 0 .. kf-1 take their minimum (4
    // partitions at level 0, then 2), level kf the rest of the response.
    // Cost per frame: a forward and an inverse transform of 2L per channel
    // (about 5 log2 (2L) flops per frame each) and 8 flops per complex
    // multiply-add for every pair and partition.
    double B = quantum;
    double pairs = fmax (1.0, density * ninp * nout);
    int    best = 0;
    double bestcost = 0;
    for (int kf = 0; kf < MAXLEV; kf++)
    {
        double L = B * (1 << kf);
        if (L > maxpart) break;
        if (kf > 0 && 2 * L >= maxsize) break;
        double cost = 0;
        double nparts = 0;
        for (int k = 0; k <= kf; k++)
        {
            double Lk = B * (1 << k);
            cost += 5.0 * log2 (2 * Lk) * (ninp + nout);
            if (k < kf) nparts += (k == 0) ? 4 : 2;
        }
        nparts += (kf == 0) ? ceil (maxsize / B) : ceil ((maxsize - 2 * L) / L);
        cost += 8.0 * pairs * nparts;
        if (kf == 0 || cost < bestcost)
        {
            best = kf;
            bestcost = cost;
        }
    }

    int lmax = quantum << best;
    size_t bytes = (size_t) ninp * 8 * lmax + (size_t) nout * quantum;
    for (int k = 0; k <= best; k++)
    {
        size_t L = quantum << k;
        size_t np = (k < best) ? (k ? 2 : 4) : (maxsize - (k ? 2 * L : 0) + L - 1) / L;
        bytes += ninp * np * 2 * ((L + BINALIGN - 1) / BINALIGN * BINALIGN) + (k ? nout * 2 * L : 0);
    }
    bytes *= sizeof (float);
    if (bytes > mem_limit ()) return ERR_ALLOC;

    _ninp = ninp;
    _nout = nout;
    _maxsize = maxsize;
    _quant = quantum;
    _nlev = best + 1;
    _ring = 8 * lmax;
    _memused = bytes;
    int rc = ERR_ALLOC;
    if (!(_resp = new (std::nothrow) Convresp * [ninp * nout])) goto fail;
    for (unsigned p = 0; p < ninp * nout; p++) _resp [p] = nullptr;
    for (int k = 0; k < _nlev; k++)
    {
        Convlevel *V = new (std::nothrow) Convlevel;
        if (!V) goto fail;
        _levels [k] = V;
        int L = quantum << k;
        V->size = L;
        V->nbin = (L + BINALIGN - 1) / BINALIGN * BINALIGN;
        V->offs = k ? 2 * L : 0;
        if (k < best) V->npart = k ? 2 : 4;
        else V->npart = (int) ((maxsize - V->offs + L - 1) / L);
        V->plan_r2c = V->plan_c2r = nullptr;
        V->tbuf = falloc (2 * L);
        V->fbuf = (fftwf_complex *) falloc (2 * (L + 1));
        V->acc = falloc (2 * V->nbin);
        for (int i = 0; i < MAXINP; i++) V->fdl [i] = nullptr;
        for (int o = 0; o < MAXOUT; o++) V->lout [o] = nullptr;
        V->macs = new (std::nothrow) Convmac [ninp * nout];
        V->macbeg [0] = 0;
        V->ninpact = V->noutact = 0;
        V->active = V->skip = false;
        V->thr = nullptr;
        V->sem_ok = false;
        V->req = V->fin = 0;
        V->waiting = V->stop = false;
        V->exited = true;
        if (!V->tbuf || !V->fbuf || !V->acc || !V->macs) goto fail;
        for (unsigned i = 0; i < ninp; i++)
        {
            if (!(V->fdl [i] = falloc ((size_t) V->npart * 2 * V->nbin))) goto fail;
        }
        if (k)
        {
            for (unsigned o = 0; o < nout; o++)
            {
                if (!(V->lout [o] = falloc (2 * L))) goto fail;
            }
        }
        if (sem_init (&V->trig, 0, 0)) goto fail;
        if (sem_init (&V->done, 0, 0))
        {
            sem_destroy (&V->trig);
            goto fail;
        }
        V->sem_ok = true;
        // Planning runs here, on the caller's thread: FFTW's planner is not
        // thread-safe, its plans can be executed from any thread.
        V->plan_r2c = fftwf_plan_dft_r2c_1d (2 * L, V->tbuf, V->fbuf, FFTW_MEASURE);
        V->plan_c2r = fftwf_plan_dft_c2r_1d (2 * L, V->fbuf, V->tbuf, FFTW_MEASURE);
        if (!V->plan_r2c || !V->plan_c2r) goto fail;
        // Measuring wrote into the buffers.
        memset (V->tbuf, 0, 2 * L * sizeof (float));
    }
    for (unsigned i = 0; i < ninp; i++)
    {
        if (!(inpbuff [i] = falloc (_ring))) goto fail;
    }
    for (unsigned o = 0; o < nout; o++)
    {
        if (!(outbuff [o] = falloc (quantum))) goto fail;
    }
    if (!(_tbuf = falloc (2 * lmax))) goto fail;
    if (!(_fbuf = (fftwf_complex *) falloc (2 * (lmax + 1)))) goto fail;
    inpoffs = outoffs = 0;
    state.store (ST_STOP);
    return 0;

fail:
    free_all ();
    return rc;
}


void Convproc::free_all (void)
{
    if (_resp)
    {
        for (int p = 0; p < _ninp * _nout; p++) resp_release (_resp [p]);
        delete [] _resp;
        _resp = nullptr;
    }
    for (int k = 0; k < MAXLEV; k++)
    {
        Convlevel *V = _levels [k];
        if (!V) continue;
        delete V->thr;
        if (V->plan_r2c) fftwf_destroy_plan (V->plan_r2c);
        if (V->plan_c2r) fftwf_destroy_plan (V->plan_c2r);
        fftwf_free (V->tbuf);
        fftwf_free (V->fbuf);
        fftwf_free (V->acc);
        for (int i = 0; i < MAXINP; i++) fftwf_free (V->fdl [i]);
        for (int o = 0; o < MAXOUT; o++) fftwf_free (V->lout [o]);
        delete [] V->macs;
        if (V->sem_ok)
        {
            sem_destroy (&V->trig);
            sem_destroy (&V->done);
        }
        delete V;
        _levels [k] = nullptr;
    }
    for (int i = 0; i < MAXINP; i++)
    {
        fftwf_free (inpbuff [i]);
        inpbuff [i] = nullptr;
    }
    for (int o = 0; o < MAXOUT; o++)
    {
        fftwf_free (outbuff [o]);
        outbuff [o] = nullptr;
    }
    fftwf_free (_tbuf);
    fftwf_free (_fbuf);
    _tbuf = nullptr;
    _fbuf = nullptr;
    _nlev = 0;
    _ninp = _nout = 0;
    _memused = 0;
}


int Convproc::cleanup (void)
{
    int s = state.load ();
    if (s == ST_IDLE) return 0;
    if (s == ST_PROC || !check_stop ()) return ERR_STATE;
    free_all ();
    state.store (ST_IDLE);
    return 0;
}


// ---- Impulse data ---------------------------------------------------------

size_t Convproc::resp_bytes (void) const
{
    size_t n = 0;
    for (int k = 0; k < _nlev; k++) n += (size_t) _levels [k]->npart * 2 * _levels [k]->nbin * sizeof (float);
    return n;
}


Convresp *Convproc::resp_alloc (void)
{
    if (_memused + resp_bytes () > mem_limit ()) return nullptr;
    Convresp *R = new (std::nothrow) Convresp;
    if (!R) return nullptr;
    R->refs = 1;
    for (int k = 0; k < MAXLEV; k++)
    {
        R->data [k] = nullptr;
        R->nact [k] = 0;
    }
    for (int k = 0; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        if (!(R->data [k] = falloc ((size_t) V->npart * 2 * V->nbin)))
        {
            resp_release (R);
            return nullptr;
        }
    }
    _memused += resp_bytes ();
    return R;
}


void Convproc::resp_release (Convresp *R)
{
    if (!R || --R->refs > 0) return;
    bool whole = true;
    for (int k = 0; k < MAXLEV; k++)
    {
        if (k < _nlev && !R->data [k]) whole = false;
        fftwf_free (R->data [k]);
    }
    if (whole) _memused -= resp_bytes ();
    delete R;
}


void Convproc::resp_zero (Convresp *R)
{
    for (int k = 0; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        memset (R->data [k], 0, (size_t) V->npart * 2 * V->nbin * sizeof (float));
        R->nact [k] = 0;
    }
}


int Convproc::impdata_create (unsigned inp, unsigned out, int step, float *data, int i0, int i1)
{
    return impdata_write (inp, out, step, data, i0, i1, true);
}


int Convproc::impdata_update (unsigned inp, unsigned out, int step, float *data, int i0, int i1)
{
    return impdata_write (inp, out, step, data, i0, i1, false);
}


int Convproc::impdata_write (unsigned inp, unsigned out, int step, const float *data, int i0, int i1, bool create)
{
    if (state.load () != ST_STOP) return ERR_STATE;
    if (inp >= (unsigned) _ninp || out >= (unsigned) _nout || i0 < 0 || i1 < i0 || (!data && i1 > i0)) return ERR_PARAM;
    Convresp *&R = _resp [inp + out * _ninp];
    if (!R)
    {
        if (!create) return ERR_NODATA;
        if (!(R = resp_alloc ())) return ERR_ALLOC;
    }
    if (i1 > _maxsize) i1 = _maxsize;
    for (int k = 0; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        int L = V->size;
        float g = 1.0f / (2 * L);   // FFTW's transforms are unnormalised: scale once here
        for (int j = 0; j < V->npart; j++)
        {
            int a = V->offs + j * L;
            int b0 = (i0 > a) ? i0 : a;
            int b1 = (i1 < a + L) ? i1 : a + L;
            if (b0 >= b1) continue;
            float *d = R->data [k] + (size_t) j * 2 * V->nbin;
            if ((b0 > a || b1 < a + L) && j < R->nact [k])
            {
                // Partly written: recover the partition's frames from its spectrum.
                unpack (d, _fbuf, L, V->nbin);
                fftwf_execute_dft_c2r (V->plan_c2r, _fbuf, _tbuf);
            }
            else memset (_tbuf, 0, L * sizeof (float));
            for (int s = b0; s < b1; s++) _tbuf [s - a] = data [(ptrdiff_t) (s - i0) * step];
            for (int s = 0; s < L; s++) _tbuf [s] *= g;
            memset (_tbuf + L, 0, L * sizeof (float));
            fftwf_execute_dft_r2c (V->plan_r2c, _tbuf, _fbuf);
            pack (_fbuf, d, L, V->nbin);
            if (R->nact [k] <= j) R->nact [k] = j + 1;
        }
    }
    return 0;
}


int Convproc::impdata_clear (unsigned inp, unsigned out)
{
    if (state.load () != ST_STOP) return ERR_STATE;
    if (inp >= (unsigned) _ninp || out >= (unsigned) _nout) return ERR_PARAM;
    Convresp *R = _resp [inp + out * _ninp];
    if (R) resp_zero (R);
    return 0;
}


int Convproc::impdata_link (unsigned inp1, unsigned out1, unsigned inp2, unsigned out2)
{
    if (state.load () != ST_STOP) return ERR_STATE;
    if (   inp1 >= (unsigned) _ninp || out1 >= (unsigned) _nout
        || inp2 >= (unsigned) _ninp || out2 >= (unsigned) _nout) return ERR_PARAM;
    Convresp *&R1 = _resp [inp1 + out1 * _ninp];
    Convresp *&R2 = _resp [inp2 + out2 * _ninp];
    if (!R1 && !(R1 = resp_alloc ())) return ERR_ALLOC;
    if (R1 == R2) return 0;
    resp_release (R2);
    R2 = R1;
    R1->refs++;
    return 0;
}


// ---- Start and stop -------------------------------------------------------

void Convproc::make_lists (void)
{
    for (int k = 0; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        bool inpon [MAXINP] = { false };
        int n = 0;
        V->noutact = 0;
        for (int o = 0; o < _nout; o++)
        {
            int n0 = n;
            for (int i = 0; i < _ninp; i++)
            {
                Convresp *R = _resp [i + o * _ninp];
                if (!R || !R->nact [k]) continue;
                V->macs [n].inp = i;
                V->macs [n].nact = R->nact [k];
                V->macs [n].h = R->data [k];
                inpon [i] = true;
                n++;
            }
            V->outon [o] = (n > n0);
            if (n > n0)
            {
                V->outact [V->noutact++] = o;
                V->macbeg [V->noutact] = n;
            }
        }
        V->ninpact = 0;
        for (int i = 0; i < _ninp; i++) if (inpon [i]) V->inpact [V->ninpact++] = i;
        V->active = (n > 0);
    }
}


void Convproc::reset_signals (void)
{
    for (int i = 0; i < _ninp; i++) memset (inpbuff [i], 0, _ring * sizeof (float));
    for (int o = 0; o < _nout; o++) memset (outbuff [o], 0, _quant * sizeof (float));
    for (int k = 0; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        for (int i = 0; i < _ninp; i++) memset (V->fdl [i], 0, (size_t) V->npart * 2 * V->nbin * sizeof (float));
        for (int o = 0; o < _nout; o++) if (V->lout [o]) memset (V->lout [o], 0, 2 * V->size * sizeof (float));
        V->req = 0;
        V->fin = 0;
        V->skip = false;
        V->waiting = false;
        V->stop = false;
        V->exited = true;
        // Counts left over from the last run.
        while (sem_trywait (&V->trig) == 0) {}
        while (sem_trywait (&V->done) == 0) {}
    }
    _time = 0;
    inpoffs = 0;
    outoffs = 0;
    nlate.store (0);
}


int Convproc::start_process (int priority, int policy)
{
    if (state.load () != ST_STOP) return ERR_STATE;
    make_lists ();
    reset_signals ();
    for (int k = 1; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        if (!V->active) continue;
        if (!V->thr && !(V->thr = new (std::nothrow) Convworker (this, k)))
        {
            stop_workers ();
            return ERR_ALLOC;
        }
        V->exited.store (false);
        if (V->thr->thr_start (policy, priority - k, 0))
        {
            V->exited.store (true);
            stop_workers ();
            return ERR_THREAD;
        }
    }
    state.store (ST_PROC);
    return 0;
}


void Convproc::stop_workers (void)
{
    for (int k = 1; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        if (V->exited.load ()) continue;
        V->stop.store (true);
        sem_post (&V->trig);
    }
    // Only used before processing began: the workers exit at once.
    for (int n = 0; n < 10000; n++)
    {
        bool all = true;
        for (int k = 1; k < _nlev; k++) all = all && _levels [k]->exited.load ();
        if (all) return;
        sleep_ms (1);
    }
}


int Convproc::stop_process (void)
{
    if (state.load () != ST_PROC) return ERR_STATE;
    // From here process() does nothing (see _inproc).
    state.store (ST_WAIT);
    for (int k = 1; k < _nlev; k++)
    {
        Convlevel *V = _levels [k];
        if (V->exited.load ()) continue;
        V->stop.store (true);
        sem_post (&V->trig);
    }
    return 0;
}


bool Convproc::check_stop (void)
{
    int s = state.load ();
    if (s == ST_PROC) return false;
    if (s != ST_WAIT) return true;
    for (int k = 1; k < _nlev; k++)
    {
        if (!_levels [k]->exited.load (std::memory_order_acquire)) return false;
    }
    // A process() call that began before the stop may still be running.
    if (_inproc.load ()) return false;
    state.store (ST_STOP);
    return true;
}


// ---- Processing -----------------------------------------------------------

// Spectra of the input block that ends at frame m * L, into delay-line slot m.
void Convproc::level_inputs (Convlevel *V, int64_t m)
{
    int L = V->size;
    int slot = (int) (m % V->npart);
    for (int a = 0; a < V->ninpact; a++)
    {
        int i = V->inpact [a];
        ring_read (V->tbuf, inpbuff [i], _ring, m * L - 2 * L, 2 * L);
        fftwf_execute_dft_r2c (V->plan_r2c, V->tbuf, V->fbuf);
        pack (V->fbuf, V->fdl [i] + (size_t) slot * 2 * V->nbin, L, V->nbin);
    }
}


// Sums every active pair's partitions against the delay line (newest
// spectrum in slot), transforms back and writes the valid half (L frames of
// overlap-save) to dst [o]. Level 0 also silences its inactive outputs.
void Convproc::level_outputs (Convlevel *V, int slot, float *const *dst)
{
    int L = V->size;
    int nb = V->nbin;
    int np = V->npart;
    size_t ps = 2 * (size_t) nb;
    float *ar = V->acc;
    float *ai = V->acc + nb;
    for (int a = 0; a < V->noutact; a++)
    {
        memset (V->acc, 0, ps * sizeof (float));
        for (int p = V->macbeg [a]; p < V->macbeg [a + 1]; p++)
        {
            const Convmac &M = V->macs [p];
            const float *X = V->fdl [M.inp];
            int j = 0;
            int s = slot;
            for (; j + 1 < M.nact; j += 2)
            {
                int s1 = s ? s - 1 : np - 1;
                cmac2 (ar, ai, X + s * ps, M.h + j * ps, X + s1 * ps, M.h + (j + 1) * ps, nb);
                s = s1 ? s1 - 1 : np - 1;
            }
            if (j < M.nact) cmac1 (ar, ai, X + s * ps, M.h + j * ps, nb);
        }
        unpack (V->acc, V->fbuf, L, nb);
        fftwf_execute_dft_c2r (V->plan_c2r, V->fbuf, V->tbuf);
        memcpy (dst [V->outact [a]], V->tbuf + L, L * sizeof (float));
    }
}


void Convworker::thr_main (void)
{
    Convlevel *V = _proc->_levels [_lev];
#if defined(__SSE__)
    // Flush denormals to zero: products of nearly silent spectra must not
    // slow the worker down by orders of magnitude.
    _mm_setcsr (_mm_getcsr () | 0x8040);
#endif
    while (true)
    {
        while (sem_wait (&V->trig) && errno == EINTR) {}
        if (V->stop.load ()) break;
        _proc->worker_jobs (_lev);
    }
    // Wake a process() that waits for this level; after the store below the
    // thread touches nothing of the engine.
    sem_post (&V->done);
    V->exited.store (true, std::memory_order_release);
}


// Every block requested and not yet done, in order. Block m reads the input
// frames (m-2)L .. mL-1 and writes output block m+1 (frames (m+1)L .. (m+2)L-1)
// into half (m+1) % 2 of lout, which process() reads during that block.
void Convproc::worker_jobs (int k)
{
    Convlevel *V = _levels [k];
    int L = V->size;
    float *dst [MAXOUT];
    int64_t req = V->req.load (std::memory_order_acquire);
    int64_t m = V->fin.load (std::memory_order_relaxed);
    while (m < req)
    {
        m++;
        if ((req - m + 4) * (int64_t) L <= _ring) level_inputs (V, m);
        else
        {
            // So far behind that the ring may have overwritten this block:
            // count it as silence rather than read frames being written.
            int slot = (int) (m % V->npart);
            for (int a = 0; a < V->ninpact; a++)
                memset (V->fdl [V->inpact [a]] + (size_t) slot * 2 * V->nbin, 0, 2 * V->nbin * sizeof (float));
        }
        int h = (int) ((m + 1) & 1) * L;
        for (int o = 0; o < _nout; o++) dst [o] = V->lout [o] ? V->lout [o] + h : nullptr;
        level_outputs (V, (int) (m % V->npart), dst);
        V->fin.store (m);
        if (V->waiting.load ()) sem_post (&V->done);
        req = V->req.load (std::memory_order_acquire);
    }
}


// Sync mode: blocks until level V has finished block need (or is stopping).
void Convproc::wait_done (Convlevel *V, int64_t need)
{
    V->waiting.store (true);
    while (V->fin.load () < need && !V->stop.load ())
    {
        sem_wait (&V->done);
    }
    V->waiting.store (false);
}


int Convproc::process (bool sync)
{
    _inproc.store (true);
    if (state.load () != ST_PROC)
    {
        _inproc.store (false);
        return 0;
    }
    int late = 0;
    int64_t t0 = _time;
    int64_t t1 = t0 + _quant;

    // Level 0: this period's own output.
    Convlevel *V = _levels [0];
    int64_t m0 = t1 / _quant;
    level_inputs (V, m0);
    level_outputs (V, (int) (m0 % V->npart), outbuff);
    for (int o = 0; o < _nout; o++)
    {
        if (!V->outon [o]) memset (outbuff [o], 0, _quant * sizeof (float));
    }

    // Levels >= 1: at each block start, check that its block is ready.
    for (int k = 1; k < _nlev; k++)
    {
        V = _levels [k];
        if (!V->active) continue;
        int L = V->size;
        if (t0 % L == 0)
        {
            int64_t need = t0 / L - 1;
            if (sync && V->fin.load (std::memory_order_acquire) < need) wait_done (V, need);
            V->skip = V->fin.load (std::memory_order_acquire) < need;
            if (V->skip) late++;
        }
        if (V->skip) continue;
        int h = (int) (t0 % (2 * L));
        for (int a = 0; a < V->noutact; a++)
        {
            int o = V->outact [a];
            float *d = outbuff [o];
            const float *s = V->lout [o] + h;
            for (int n = 0; n < _quant; n++) d [n] += s [n];
        }
    }

    _time = t1;
    inpoffs = (int) (t1 % _ring);
    for (int k = 1; k < _nlev; k++)
    {
        V = _levels [k];
        if (!V->active || t1 % V->size) continue;
        V->req.store (t1 / V->size, std::memory_order_release);
        sem_post (&V->trig);
    }
    if (late) nlate.store (nlate.load (std::memory_order_relaxed) + late, std::memory_order_relaxed);
    _inproc.store (false, std::memory_order_release);
    return late;
}
