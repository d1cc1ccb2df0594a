// libvesk-convolver: Convproc, a partitioned convolution engine with no
// latency beyond one period. Up to 64 inputs and 64 outputs, every
// input-output pair with its own impulse response of up to 2^24 frames.
//
// Layout (non-uniform partitions, after Gardner 1995, Garcia 2002, Wefers 2015).
// With B the period (quantum), the response is cut into levels of partition
// size L(k) = B * 2^k, k = 0, 1, ..., up to maxpart:
//   level 0  partitions of B covering frames 0 .. 4B-1 (or the whole response
//            if it is the last level); computed inside process(), so the
//            period's own input reaches the period's own output;
//   level k  two partitions of L covering frames 2L .. 4L-1; the last level
//            holds as many partitions of its size as the response needs.
// Each level is a uniformly partitioned overlap-save convolution (FFT size 2L,
// a frequency-domain delay line of past input spectra). Levels k >= 1 run on
// a worker thread each: a block of L input frames is complete at time t, and
// the level's output is first needed at t + L, so every level has one block
// of its own size as deadline. Shorter deadlines get higher priority
// (rate-monotonic): level k runs at priority - k.
//
// density (0 to 1): the expected fraction of input-output pairs that carry a
// response. It weighs multiply-adds (which grow with the number of pairs)
// against transforms (which grow with ninp + nout) when the engine chooses the
// last level, i.e. how far the partition size doubles before the rest of the
// response is taken in equal partitions. The result is exact either way;
// only the cost differs.
//
// process(sync): sync false (real time) never waits: a level whose worker has
// not finished by its deadline contributes silence for that block, and the
// miss is counted in nlate. sync true waits for late workers, so nothing is
// ever dropped: right in freewheel mode, where there is no deadline.
//
// Threads. configure, impdata_*, cleanup, start_process, stop_process and
// check_stop run on one control thread; process on one audio thread. Impulse
// data can only be changed while the engine is configured and stopped
// (ST_STOP): the workers read it without locks.

#ifndef VESK_CONVPROC_H
#define VESK_CONVPROC_H

#include <atomic>
#include <stdint.h>
#include <semaphore.h>
#include <fftw3.h>

#if defined(__clang__) && defined(__has_cpp_attribute)
#if __has_cpp_attribute(clang::nonblocking)
#define VESK_CONV_NONBLOCKING [[clang::nonblocking]]
#endif
#endif
#ifndef VESK_CONV_NONBLOCKING
#define VESK_CONV_NONBLOCKING
#endif

#define VESK_CONVOLVER_API __attribute__ ((visibility ("default")))

// The library's major version (4).
extern "C" VESK_CONVOLVER_API int vesk_convolver_major_version (void);

class Convworker;
struct Convresp;
struct Convlevel;


class VESK_CONVOLVER_API Convproc
{
public:

    enum { MAXINP = 64, MAXOUT = 64, MAXLEV = 16, MAXQUANT = 8192, MAXSIZE = 1 << 24 };

    // Engine states.
    enum
    {
        ST_IDLE = 0,    // not configured
        ST_STOP = 1,    // configured, not processing
        ST_WAIT = 2,    // stop requested, workers finishing
        ST_PROC = 3     // processing
    };

    // Results of the operations (0 is success).
    enum
    {
        ERR_STATE = -1,   // not allowed in the current state
        ERR_PARAM = -2,   // a parameter out of range
        ERR_ALLOC = -3,   // out of memory, or more than half the RAM (nothing changed)
        ERR_NODATA = -4,  // impdata_update of a pair that has no response
        ERR_THREAD = -5   // a worker thread could not be started (no change of state)
    };

    Convproc (void);
    ~Convproc (void);       // stops whatever runs, waits for it, frees everything

    // ST_IDLE only. ninp, nout 1..64; maxsize 1..2^24 frames; quantum 1..8192
    // (the period); minpart must equal quantum; maxpart >= quantum (partition
    // sizes are quantum * 2^k up to maxpart); density 0..1. Allocates and
    // plans everything (FFTW_MEASURE, on the caller's thread); -> ST_STOP.
    int configure (unsigned ninp, unsigned nout, unsigned maxsize, unsigned quantum,
                   unsigned minpart, unsigned maxpart, float density);

    // Write data [0], data [step], ... into frames i0 .. i1-1 of the response
    // from inp to out (frames at maxsize and beyond are dropped; i0 >= 0,
    // i1 >= i0). create makes the response if it does not exist (empty), update
    // requires it. Frames outside i0 .. i1-1 keep their values. ST_STOP only.
    int impdata_create (unsigned inp, unsigned out, int step, float *data, int i0, int i1);
    int impdata_update (unsigned inp, unsigned out, int step, float *data, int i0, int i1);
    // Sets every frame of the response to zero (the pair then costs nothing).
    // A pair without a response is left so. ST_STOP only.
    int impdata_clear (unsigned inp, unsigned out);
    // Makes (inp2, out2) share the response of (inp1, out1), which is created
    // empty if it does not exist; writes through either pair change both.
    // ST_STOP only.
    int impdata_link (unsigned inp1, unsigned out1, unsigned inp2, unsigned out2);
    // Undoes configure: ST_STOP (or a finished ST_WAIT) -> ST_IDLE.
    int cleanup (void);

    // ST_STOP -> ST_PROC: clears all signal history, starts the workers with
    // the given policy, level k at priority - k (clamped to the policy's range).
    int start_process (int priority, int policy);
    // ST_PROC -> ST_WAIT: asks the workers to finish.
    int stop_process (void);
    // True once nothing runs any more (ST_WAIT becomes ST_STOP); false while
    // processing or while a worker or a process() call is still busy.
    bool check_stop (void);

    // One period: reads quantum frames of every input at inpbuff [i] + inpoffs
    // and writes quantum frames of every output at outbuff [o] + outoffs.
    // Does nothing unless the state is ST_PROC. Returns the number of level
    // blocks that missed their deadline in this period (always 0 with sync).
    int process (bool sync = false) VESK_CONV_NONBLOCKING;

    // Written by the control thread, read by the audio thread and anyone.
    std::atomic<int> state;
    // Input rings (one per input) and the offset where this period's input
    // goes; output buffers and the offset of this period's output. Written
    // by process (offsets) and the audio thread's caller (samples).
    float   *inpbuff [MAXINP];
    int      inpoffs;
    float   *outbuff [MAXOUT];
    int      outoffs;
    // Level blocks dropped because a worker was late; written by process.
    std::atomic<unsigned> nlate;

    // The layout chosen by configure: number of levels, the period, and per
    // level the partition size and number of partitions (all 0 in ST_IDLE).
    int nlevels (void) const { return _nlev; }
    int quantum (void) const { return _quant; }
    int level_size (int k) const;
    int level_parts (int k) const;

private:

    friend class Convworker;

    Convproc (const Convproc&) = delete;
    Convproc& operator= (const Convproc&) = delete;

    int  impdata_write (unsigned inp, unsigned out, int step, const float *data, int i0, int i1, bool create);
    Convresp *resp_alloc (void);
    size_t resp_bytes (void) const;
    void resp_release (Convresp *R);
    void resp_zero (Convresp *R);
    void make_lists (void);
    void reset_signals (void);
    void stop_workers (void);
    void free_all (void);
    void level_inputs (Convlevel *V, int64_t m) VESK_CONV_NONBLOCKING;
    void level_outputs (Convlevel *V, int slot, float *const *dst) VESK_CONV_NONBLOCKING;
    void worker_jobs (int k) VESK_CONV_NONBLOCKING;
    void wait_done (Convlevel *V, int64_t need);

    int          _ninp;
    int          _nout;
    int          _maxsize;
    int          _quant;
    int          _nlev;
    int          _ring;          // frames in each input ring, a multiple of every partition size
    int64_t      _time;          // audio thread: frames processed since start
    Convlevel   *_levels [MAXLEV];
    Convresp   **_resp;          // ninp * nout pair table, entry inp + out * ninp
    float       *_tbuf;          // control thread's transform scratch (2 * largest partition)
    fftwf_complex *_fbuf;
    std::atomic<bool> _inproc;   // audio thread: inside process; read by check_stop
    size_t       _memused;       // bytes of spectra and rings allocated, kept below half the RAM
};

#endif
