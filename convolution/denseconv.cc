// Denseconv: partitioned matrix convolution on worker threads.

#include <errno.h>
#include <sched.h>
#include <string.h>
#include <new>
#include <utility>
#include "convolution/denseconv.h"


// acc [b] += x [b] * h [b] for nbin complex values. Most of a period's time
// goes here. Written for the vectoriser: the real and imaginary parts as
// plain float sums, one clone per vector width, picked at load time.
#if defined(__x86_64__) && !defined(__SANITIZE_ADDRESS__)
__attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
static void cmac (float *__restrict acc, const float *__restrict x, const float *__restrict h, int nbin)
{
    for (int b = 0; b < nbin; b++)
    {
        float xr = x [2 * b];
        float xi = x [2 * b + 1];
        float hr = h [2 * b];
        float hi = h [2 * b + 1];
        acc [2 * b]     += xr * hr - xi * hi;
        acc [2 * b + 1] += xr * hi + xi * hr;
    }
}


static void sem_wait_intr (sem_t *s)
{
    while (sem_wait (s) && (errno == EINTR)) {}
}


// ---------------------------------------------------------------- DCfdata

DCfdata::DCfdata (void) :
    nparts (0),
    nact (0),
    nbin (0),
    parts (nullptr),
    block (nullptr)
{
}


DCfdata::~DCfdata (void)
{
    fini ();
}


int DCfdata::init (int nparts_, int nbin_)
{
    fini ();
    // Partitions start on 64-byte boundaries, as fftwf_malloc's block does,
    // so that the plans made on one of them run on all of them.
    size_t stride = ((size_t) nbin_ + 7) & ~(size_t) 7;
    block = (fftwf_complex *) fftwf_malloc (stride * nparts_ * sizeof (fftwf_complex));
    parts = new (std::nothrow) fftwf_complex * [nparts_];
    if (!block || !parts)
    {
        fini ();
        return -1;
    }
    nparts = nparts_;
    nbin = nbin_;
    for (int k = 0; k < nparts; k++) parts [k] = block + k * stride;
    clear ();
    return 0;
}


void DCfdata::fini (void)
{
    if (block) fftwf_free (block);
    delete[] parts;
    block = nullptr;
    parts = nullptr;
    nparts = 0;
    nbin = 0;
    nact = 0;
}


void DCfdata::clear (void)
{
    for (int k = 0; k < nparts; k++) memset (parts [k], 0, nbin * sizeof (fftwf_complex));
    nact = 0;
}


void DCfdata::swap (DCfdata &D)
{
    std::swap (nparts, D.nparts);
    std::swap (nact, D.nact);
    std::swap (nbin, D.nbin);
    std::swap (parts, D.parts);
    std::swap (block, D.block);
}


// ---------------------------------------------------------------- DCparam

DCparam::DCparam (int ninp_, int nout_, int maxlen_, int psize_, int nthr_, int prio_) :
    ninp (ninp_),
    nout (nout_),
    maxlen (maxlen_),
    psize (psize_),
    nthr (nthr_),
    prio (prio_),
    nparts (0),
    ipart (0),
    phase (0),
    inp_data (nullptr),
    out_data (nullptr),
    ovl (nullptr),
    tbuf (nullptr),
    plan_r2c (nullptr),
    plan_c2r (nullptr),
    inp_fd (nullptr),
    imp_fd (nullptr)
{
    init ();
}


DCparam::~DCparam (void)
{
    fini ();
}


int DCparam::init (void)
{
    int  P = psize;

    fini ();
    tbuf = (float *) fftwf_malloc (2 * P * sizeof (float));
    nparts = (maxlen + P - 1) / P;
    ipart = 0;
    inp_fd = new (std::nothrow) DCfdata [ninp];
    imp_fd = new (std::nothrow) DCfdata [ninp * nout];
    ovl = new (std::nothrow) float * [nout] ();
    if (!tbuf || !inp_fd || !imp_fd || !ovl) return -1;
    for (int i = 0; i < ninp; i++)
    {
        if (inp_fd [i].init (nparts, P + 1)) return -1;
    }
    for (int i = 0; i < ninp * nout; i++)
    {
        if (imp_fd [i].init (nparts, P + 1)) return -1;
    }
    for (int o = 0; o < nout; o++)
    {
        ovl [o] = new (std::nothrow) float [P] ();
        if (!ovl [o]) return -1;
    }
    // Measuring overwrites both arrays: the owner clears them afterwards.
    plan_r2c = fftwf_plan_dft_r2c_1d (2 * P, tbuf, inp_fd [0].parts [0], FFTW_MEASURE);
    plan_c2r = fftwf_plan_dft_c2r_1d (2 * P, inp_fd [0].parts [0], tbuf, FFTW_MEASURE);
    return (plan_r2c && plan_c2r) ? 0 : -1;
}


void DCparam::fini (void)
{
    if (plan_r2c) fftwf_destroy_plan (plan_r2c);
    if (plan_c2r) fftwf_destroy_plan (plan_c2r);
    plan_r2c = nullptr;
    plan_c2r = nullptr;
    if (tbuf) fftwf_free (tbuf);
    tbuf = nullptr;
    delete[] inp_fd;
    delete[] imp_fd;
    inp_fd = nullptr;
    imp_fd = nullptr;
    if (ovl)
    {
        for (int o = 0; o < nout; o++) delete[] ovl [o];
        delete[] ovl;
    }
    ovl = nullptr;
}


// ---------------------------------------------------------------- Workthr

Workthr::Workthr (int index_, DCparam *param_) :
    index (index_),
    param (param_),
    stop (false),
    tbuf (nullptr),
    facc (nullptr),
    err (-1),
    sems (false)
{
    if (sem_init (&trig, 0, 0)) return;
    if (sem_init (&done, 0, 0))
    {
        sem_destroy (&trig);
        return;
    }
    sems = true;
    tbuf = (float *) fftwf_malloc (2 * param->psize * sizeof (float));
    facc = (fftwf_complex *) fftwf_malloc ((param->psize + 1) * sizeof (fftwf_complex));
    if (!tbuf || !facc) return;
    err = thr_start (SCHED_FIFO, param->prio, 0);
    // Without the right to real-time scheduling the worker still runs.
    if (err) err = thr_start (SCHED_OTHER, 0, 0);
}


Workthr::~Workthr (void)
{
    if (tbuf) fftwf_free (tbuf);
    if (facc) fftwf_free (facc);
    if (sems)
    {
        sem_destroy (&trig);
        sem_destroy (&done);
    }
}


void Workthr::thr_main (void)
{
    for (;;)
    {
        sem_wait_intr (&trig);
        if (stop.load (std::memory_order_relaxed)) break;
        if (param->phase == 0) proc_inputs ();
        else proc_outputs ();
        sem_post (&done);
    }
    // The owner frees this object as soon as it sees this post: nothing of
    // it is touched after.
    sem_post (&done);
}


void Workthr::proc_inputs (void)
{
    DCparam  *D = param;
    int       P = D->psize;

    for (int c = index; c < D->ninp; c += D->nthr)
    {
        memcpy (tbuf, D->inp_data [c], P * sizeof (float));
        memset (tbuf + P, 0, P * sizeof (float));
        fftwf_execute_dft_r2c (D->plan_r2c, tbuf, D->inp_fd [c].parts [D->ipart]);
    }
}


void Workthr::proc_outputs (void)
{
    DCparam  *D = param;
    int       P = D->psize;
    int       N = D->nparts;

    for (int c = index; c < D->nout; c += D->nthr)
    {
        memset (facc, 0, (P + 1) * sizeof (fftwf_complex));
        for (int i = 0; i < D->ninp; i++)
        {
            const DCfdata &H = D->imp_fd [i + c * D->ninp];
            const DCfdata &X = D->inp_fd [i];
            // Partition j of the response meets the input of j periods ago.
            int s = D->ipart;
            for (int j = 0; j < H.nact; j++)
            {
                cmac ((float *) facc, (const float *) X.parts [s], (const float *) H.parts [j], P + 1);
                if (--s < 0) s = N - 1;
            }
        }
        fftwf_execute_dft_c2r (D->plan_c2r, facc, tbuf);
        float *out = D->out_data [c];
        float *ovl = D->ovl [c];
        for (int k = 0; k < P; k++) out [k] = ovl [k] + tbuf [k];
        memcpy (ovl, tbuf + P, P * sizeof (float));
    }
}


// ---------------------------------------------------------------- Denseconv

static int atleast1 (int n)
{
    return (n < 1) ? 1 : n;
}


Denseconv::Denseconv (int ninp, int nout, int maxlen, int psize, int nthr, int prio) :
    param (atleast1 (ninp), atleast1 (nout), atleast1 (maxlen), atleast1 (psize),
           (nthr < 1) ? 1 : ((nthr > MAXTHR) ? MAXTHR : nthr), prio),
    _ok (false),
    _swap_k (0),
    _swap (IDLE)
{
    int n = 0;

    for (int t = 0; t < MAXTHR; t++) workers [t] = nullptr;
    if (!param.plan_r2c || !param.plan_c2r) return;
    if (_spare.init (param.nparts, param.psize + 1)) return;
    // Workers read nthr only in a phase, after this constructor has set it
    // to the number that actually run.
    for (int t = 0; t < param.nthr; t++)
    {
        Workthr *W = new Workthr (t, &param);
        if (W->err)
        {
            delete W;
            break;
        }
        workers [n++] = W;
    }
    param.nthr = n;
    // Planning wrote into these.
    clear ();
    reset ();
    _ok = (n > 0);
}


Denseconv::~Denseconv (void)
{
    // Exit handshake: each worker posts done once more on its way out and
    // touches its object no more, so it can go at once.
    for (int t = 0; t < MAXTHR; t++)
    {
        Workthr *W = workers [t];
        if (!W) continue;
        W->stop.store (true, std::memory_order_relaxed);
        sem_post (&W->trig);
        sem_wait_intr (&W->done);
        delete W;
        workers [t] = nullptr;
    }
    param.fini ();
}


void Denseconv::transform (DCfdata &D, float gain, const float *data, int len, ptrdiff_t step)
{
    int    P = param.psize;
    float  g = gain / (2 * P);    // makes forward and inverse transform unity gain
    int    k, f, j;

    D.clear ();
    if (!data || (len <= 0)) return;
    for (k = 0; (k < D.nparts) && (len > 0); k++)
    {
        memset (param.tbuf, 0, 2 * P * sizeof (float));
        f = (len < P) ? len : P;
        for (j = 0; j < f; j++) param.tbuf [j] = data [j * step] * g;
        fftwf_execute_dft_r2c (param.plan_r2c, param.tbuf, D.parts [k]);
        data += f * step;
        len -= f;
    }
    D.nact = k;
}


int Denseconv::setimp (int inp, int out, float gain, const float *data, int len, ptrdiff_t step)
{
    if ((inp < 0) || (inp >= param.ninp) || (out < 0) || (out >= param.nout)) return 1;
    if (!param.plan_r2c) return 0;   // nothing was built
    transform (param.imp_fd [inp + out * param.ninp], gain, data, len, step);
    return 0;
}


int Denseconv::stageimp (int inp, int out, float gain, const float *data, int len, ptrdiff_t step)
{
    if ((inp < 0) || (inp >= param.ninp) || (out < 0) || (out >= param.nout)) return 1;
    if (staged ()) return 2;
    if (!_ok) return 0;
    transform (_spare, gain, data, len, step);
    _swap_k = inp + out * param.ninp;
    _swap.store (REQUEST, std::memory_order_release);
    return 0;
}


bool Denseconv::unstage (void)
{
    int s = REQUEST;
    if (_swap.compare_exchange_strong (s, IDLE, std::memory_order_acq_rel)) return true;
    // Taken, or being put in place right now (a few pointer stores).
    while (_swap.load (std::memory_order_acquire) != IDLE) sched_yield ();
    return false;
}


bool Denseconv::takeimp (void)
{
    int s = REQUEST;
    if (!_swap.compare_exchange_strong (s, BUSY, std::memory_order_acquire)) return false;
    param.imp_fd [_swap_k].swap (_spare);
    _swap.store (IDLE, std::memory_order_release);
    return true;
}


void Denseconv::wait_done (void)
{
    // The workers run at a higher priority than the caller and each wait
    // lasts as long as their share of one phase.
    for (int t = 0; t < param.nthr; t++) sem_wait_intr (&workers [t]->done);
}


void Denseconv::process (float **inp, float **out)
{
    int  t;

    if (!_ok)
    {
        for (int o = 0; o < param.nout; o++) memset (out [o], 0, param.psize * sizeof (float));
        return;
    }
    param.inp_data = inp;
    param.out_data = out;
    param.phase = 0;
    for (t = 0; t < param.nthr; t++) sem_post (&workers [t]->trig);
    wait_done ();
    param.phase = 1;
    for (t = 0; t < param.nthr; t++) sem_post (&workers [t]->trig);
    wait_done ();
    if (++param.ipart >= param.nparts) param.ipart = 0;
}


void Denseconv::clear (void)
{
    if (!param.plan_r2c) return;
    for (int i = 0; i < param.ninp * param.nout; i++) param.imp_fd [i].clear ();
}


void Denseconv::reset (void)
{
    if (!param.plan_r2c) return;
    for (int i = 0; i < param.ninp; i++) param.inp_fd [i].clear ();
    for (int o = 0; o < param.nout; o++) memset (param.ovl [o], 0, param.psize * sizeof (float));
}
