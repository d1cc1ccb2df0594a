// Denseconv: a dense matrix of impulse responses, every input convolved with
// its own response for every output and summed per output, by uniformly
// partitioned convolution with partitions of one period (no added latency).
// The work of a period is shared by 1 to 16 worker threads (Workthr) in two
// phases: input transforms, then output sums. Sizes are fixed at
// construction; partition size 1 to 8192 frames, responses of any length
// (cut at ceil (maxlen / psize) partitions).

#ifndef VESK_DENSECONV_H
#define VESK_DENSECONV_H

#include <atomic>
#include <semaphore.h>
#include <stddef.h>
#include <fftw3.h>
#include "jclient.h"
#include "framework/p_thread.h"


// The spectra of one signal's partitions, each nbin complex values at an
// FFTW-aligned address (partitions lie in one block, each padded to 64 bytes).
class DCfdata
{
public:

    DCfdata (void);
    ~DCfdata (void);

    // Allocates and zeroes nparts partitions of nbin values; nact = 0.
    // Returns 0, or -1 when the memory cannot be had (the object is then empty).
    int  init (int nparts, int nbin);
    void fini (void);
    // Zeroes every partition; nact = 0.
    void clear (void);
    // Exchanges contents with another object of the same sizes.
    void swap (DCfdata &D);

    int             nparts;   // partitions (N)
    int             nact;     // partitions holding response data; 0 for input histories
    int             nbin;     // complex values per partition (P + 1)
    fftwf_complex **parts;    // nparts pointers into block

private:

    DCfdata (const DCfdata&) = delete;
    DCfdata& operator= (const DCfdata&) = delete;

    fftwf_complex  *block;
};


// Everything the workers share. Sizes are set once; the fields below
// "per period" are written by the caller of Denseconv::process only while
// every worker waits on its trig semaphore, which orders them before the
// workers' reads.
class DCparam
{
public:

    DCparam (int ninp, int nout, int maxlen, int psize, int nthr, int prio);
    ~DCparam (void);

    // Allocates everything and makes both plans: 0, or -1 on a failure
    // (fini then frees what was made).
    int  init (void);
    void fini (void);

    int             ninp;
    int             nout;
    int             maxlen;
    int             psize;      // P
    int             nthr;       // workers running (set by Denseconv once they are started)
    int             prio;
    int             nparts;     // N = ceil (maxlen / P)
    // Per period.
    int             ipart;      // partition slot of this period's input spectrum
    int             phase;      // 0: input transforms, 1: output sums
    float         **inp_data;   // this period's ninp input buffers of P samples
    float         **out_data;   // this period's nout output buffers
    // Working data.
    float         **ovl;        // per output: second half of the last inverse transform
    float          *tbuf;       // 2P, staging buffer for transforming responses (caller's thread)
    fftwf_plan      plan_r2c;   // length 2P, executed on other arrays of the same alignment
    fftwf_plan      plan_c2r;
    DCfdata        *inp_fd;     // ninp input histories, written in phase 0 by the input's worker
    DCfdata        *imp_fd;     // ninp * nout responses, input i to output o at i + o * ninp

private:

    DCparam (const DCparam&) = delete;
    DCparam& operator= (const DCparam&) = delete;
};


class Workthr : public P_thread
{
public:

    // Creates both semaphores and buffers and starts the thread with
    // SCHED_FIFO at param->prio, or at normal scheduling where real-time
    // scheduling is not permitted. err is 0 when the thread runs.
    Workthr (int index, DCparam *param);
    ~Workthr (void);

    void thr_main (void) override;
    // This worker's share of each phase: inputs and outputs index,
    // index + nthr, ...
    void proc_inputs (void) VESK_NONBLOCKING;
    void proc_outputs (void) VESK_NONBLOCKING;

    int                index;
    DCparam           *param;
    sem_t              trig;    // posted by the owner to start a phase or to stop
    sem_t              done;    // posted by the worker after its share, and once more as it exits
    std::atomic<bool>  stop;    // written by the owner before posting trig, read by the worker
    float             *tbuf;    // 2P, the worker's own
    fftwf_complex     *facc;    // P + 1, the worker's own accumulator
    int                err;

private:

    bool  sems;                 // both semaphores exist
};


class Denseconv
{
public:

    enum { MAXTHR = 16 };

    // nthr is clamped to 1 .. MAXTHR, sizes to at least 1. prio is the
    // workers' SCHED_FIFO priority (clamped into the policy's range).
    Denseconv (int ninp, int nout, int maxlen, int psize, int nthr, int prio);
    // Stops the workers (each acknowledges its exit) and frees everything.
    // No process may run any more.
    ~Denseconv (void);

    // Memory and plans exist and at least one worker runs.
    bool ok (void) const { return _ok; }

    // Loads one response, data [j * step] for j < len, scaled by gain;
    // data null empties it. Returns 0, or 1 for an index out of range.
    // Only while no process runs.
    int  setimp (int inp, int out, float gain, const float *data, int len, ptrdiff_t step);

    // Loading while process runs: stageimp prepares the response aside and
    // asks for it (0; 1 for an index out of range; 2 while another one
    // waits); takeimp, between two process calls on the process thread,
    // puts it in place in one step. unstage withdraws a request that was
    // not taken (true), or reports that it was (false).
    int  stageimp (int inp, int out, float gain, const float *data, int len, ptrdiff_t step);
    bool staged (void) const { return _swap.load (std::memory_order_acquire) != IDLE; }
    bool unstage (void);
    bool takeimp (void) VESK_NONBLOCKING;

    // Convolves one period: psize samples of every input into every output.
    void process (float **inp, float **out) VESK_NONBLOCKING;

    // Every response empty, or every input history and overlap zero. Only
    // while no process runs.
    void clear (void);
    void reset (void);

    DCparam   param;
    Workthr  *workers [MAXTHR];

private:

    Denseconv (const Denseconv&) = delete;
    Denseconv& operator= (const Denseconv&) = delete;

    enum { IDLE, REQUEST, BUSY };

    void transform (DCfdata &D, float gain, const float *data, int len, ptrdiff_t step);
    void wait_done (void) VESK_NONBLOCKING;

    bool              _ok;
    DCfdata           _spare;   // a staged response, or the one it replaced
    int               _swap_k;  // index of the staged response; written before _swap becomes REQUEST
    // IDLE -> REQUEST: caller's thread, published with release after _spare
    // and _swap_k. REQUEST -> BUSY -> IDLE: takeimp, the swap done in
    // between. REQUEST -> IDLE: unstage. Both sides use compare-exchange,
    // so a request is either taken once or withdrawn.
    std::atomic<int>  _swap;
};

#endif
