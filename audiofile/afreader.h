// AFreader: reads an audio file ahead of the playback position into a ring
// of 6 blocks of about half a second each, on a disk thread of its own, so
// that a process callback can take file frames from memory. Files of 4096 Hz
// and more, shorter than 2^31 frames, in any format libsndfile reads.

#ifndef VESK_AFREADER_H
#define VESK_AFREADER_H

#include <atomic>
#include <stdint.h>
#include <semaphore.h>
#include <sndfile.h>
#include "framework/p_thread.h"


class AFreader : private P_thread
{
public:

    enum { NBLOCK_RING = 6, NQUEUE = 8, MINRATE = 4096 };

    struct Request
    {
        int  seq;       // sequence (locate) the request belongs to
        int  first;     // first block
        int  end;       // end block, not included
    };

    AFreader (void);
    virtual ~AFreader (void);

    // Owner, once: starts the disk thread (stack of 65536 bytes); returns
    // the result of thr_start.
    int runthr (int policy, int priority);

    // Python thread, while the real-time side leaves the reader alone.
    // open: 0, or 1 when the file cannot be read (also for rates below
    // MINRATE, 2^31 frames or more, unseekable input); an open file is
    // closed in any case. close: waits until the disk thread has put the
    // file down, then closes it; 0, or 1 when the disk thread is still busy
    // after CLOSE_MS (the file then stays open).
    int  open (const char *name);
    int  close (void);

    // Real-time side: never waits, only posts _trig.
    // locate: 0, or 1 without a file or without room for its requests (the
    // reader is then unchanged).
    int  locate (int64_t posit);
    void forward (int nframes);
    void update_avail (void);

    // Frames readable at _rindex from _posit on (may be 0 or negative while
    // the window is being read).
    int64_t avail (void) const { return (int64_t) _blk_avail * _bsize - _posit.load (std::memory_order_relaxed); }
    // Position for readers on other threads.
    int64_t posit (void) const { return _posit.load (std::memory_order_relaxed); }

    enum { CLOSE_MS = 5000 };

    // Request queue and counters. An entry is written before _nwr is
    // published (release); the disk thread reads it after loading _nwr
    // (acquire). The ring data of a request are written before _nrd is
    // published (release); update_avail loads _nrd with acquire.
    std::atomic<bool>  _stop;       // true while no disk thread runs or it is asked to stop; written by the owner
    sem_t              _trig;       // wakes the disk thread
    sem_t              _done;       // posted by the disk thread as it exits
    Request            _queue [NQUEUE];
    std::atomic<int>   _nwr;        // requests queued; written by the real-time side (or open/close while idle)
    std::atomic<int>   _nrd;        // requests finished; written by the disk thread
    int                _nack;       // finished requests taken into account; real-time side
    std::atomic<int>   _seq;        // current sequence; written by locate (and close), read by the disk thread
    std::atomic<int64_t> _posit;    // playback position in frames; written by the real-time side, read anywhere
    int                _blk_first;  // first block still needed at or before _posit
    int                _blk_avail;  // end of the blocks known to be in the ring
    int                _blk_reqd;   // end of the blocks requested
    SNDFILE           *_sndfile;    // null when no file is open
    int                _nchan;      // file channels, rate, length and blocks:
    int                _frate;      // written by open and close only
    int64_t            _flen;
    int                _nblock;     // ceil (_flen / _bsize)
    int                _bsize;      // block size in frames
    int                _rsize;      // ring size in frames, NBLOCK_RING * _bsize
    int                _rindex;     // ring frame of _posit
    float             *_ring;       // _rsize interleaved frames; null without a file

private:

    virtual void thr_main (void) override;
    int  queued (void) const;
    void queue (int first, int end);
    void reset (void);

    bool               _sem_ok;     // both semaphores initialised
};

#endif
