// Read-ahead file reader: block k of the file goes into ring slot k mod 6;
// the real-time side requests blocks through a queue of 8 entries and learns
// of finished ones through the counters.

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>
#include "audiofile/afreader.h"


AFreader::AFreader (void) :
    _stop (true),
    _nwr (0),
    _nrd (0),
    _nack (0),
    _seq (0),
    _posit (0),
    _blk_first (0),
    _blk_avail (0),
    _blk_reqd (0),
    _sndfile (nullptr),
    _nchan (0),
    _frate (0),
    _flen (0),
    _nblock (0),
    _bsize (0),
    _rsize (0),
    _rindex (0),
    _ring (nullptr)
{
    memset (_queue, 0, sizeof (_queue));
    _sem_ok = (sem_init (&_trig, 0, 0) == 0);
    if (_sem_ok && sem_init (&_done, 0, 0))
    {
        sem_destroy (&_trig);
        _sem_ok = false;
    }
}


AFreader::~AFreader (void)
{
    if (!_stop.load ())
    {
        // The disk thread finishes the request at hand, then exits.
        _stop.store (true);
        sem_post (&_trig);
        while (sem_wait (&_done) && (errno == EINTR)) {}
    }
    if (_sndfile) sf_close (_sndfile);
    free (_ring);
    if (_sem_ok)
    {
        sem_destroy (&_trig);
        sem_destroy (&_done);
    }
}


int AFreader::runthr (int policy, int priority)
{
    if (!_sem_ok) return EAGAIN;
    if (!_stop.load ()) return 0;
    _stop.store (false);
    int rc = thr_start (policy, priority, 65536);
    if (rc) _stop.store (true);
    return rc;
}


void AFreader::reset (void)
{
    if (_sndfile) sf_close (_sndfile);
    _sndfile = nullptr;
    free (_ring);
    _ring = nullptr;
    _posit.store (0, std::memory_order_relaxed);
    _blk_first = _blk_avail = _blk_reqd = 0;
    _nchan = _frate = 0;
    _flen = 0;
    _nblock = _bsize = _rsize = _rindex = 0;
}


int AFreader::close (void)
{
    if (!_sndfile && !_ring) return 0;
    // A new sequence makes the disk thread skip what is still queued; then
    // wait until it has finished every request, so it no longer touches the
    // file or the ring. Without a disk thread nothing reads.
    _seq.store (_seq.load (std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    for (int t = 0; !_stop.load () && (_nrd.load (std::memory_order_acquire) != _nwr.load (std::memory_order_relaxed)); t++)
    {
        if (t >= CLOSE_MS) return 1;
        usleep (1000);
    }
    // Without a disk thread the queue is simply forgotten.
    if (_stop.load ()) _nrd.store (_nwr.load (std::memory_order_relaxed), std::memory_order_release);
    _nack = _nrd.load (std::memory_order_acquire);
    reset ();
    return 0;
}


int AFreader::open (const char *name)
{
    SF_INFO  info;

    if (close ()) return 1;
    memset (&info, 0, sizeof (info));
    SNDFILE *F = sf_open (name, SFM_READ, &info);
    if (!F) return 1;
    // A rate below 4096 Hz gives no block size, and the player counts
    // frames in 32-bit ints: such files are refused.
    if (   (info.samplerate < MINRATE) || (info.channels < 1) || !info.seekable
        || (info.frames < 0) || (info.frames >= INT_MAX))
    {
        sf_close (F);
        return 1;
    }
    int bsize = 4096 * ((info.samplerate + 4096) / 8192);
    float *ring = (float *) calloc ((size_t) info.channels * NBLOCK_RING * bsize, sizeof (float));
    if (!ring)
    {
        sf_close (F);
        return 1;
    }
    _sndfile = F;
    _nchan = info.channels;
    _frate = info.samplerate;
    _flen = info.frames;
    _bsize = bsize;
    _nblock = (int)((_flen + _bsize - 1) / _bsize);
    _rsize = NBLOCK_RING * _bsize;
    _ring = ring;
    locate (0);
    return 0;
}


int AFreader::queued (void) const
{
    return _nwr.load (std::memory_order_relaxed) - _nack;
}


void AFreader::queue (int first, int end)
{
    int n = _nwr.load (std::memory_order_relaxed);
    Request *R = _queue + (n & (NQUEUE - 1));
    R->seq = _seq.load (std::memory_order_relaxed);
    R->first = first;
    R->end = end;
    _nwr.store (n + 1, std::memory_order_release);
}


int AFreader::locate (int64_t posit)
{
    if (!_ring) return 1;
    // Room for both requests first: a refusal leaves the reader as it was.
    if (queued () > NQUEUE - 2) return 1;
    if (posit < 0) posit = 0;
    if (posit > _flen) posit = _flen;
    int b = (int)(posit / _bsize);
    int e = b + NBLOCK_RING;
    if (e > _nblock) e = _nblock;
    _rindex = (int)(posit % _rsize);
    _posit.store (posit, std::memory_order_relaxed);
    _blk_first = _blk_avail = b;
    _blk_reqd = e;
    _seq.store (_seq.load (std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    // The first three blocks come in a request of their own, so that
    // playback can start before the whole window is read.
    if (e - b >= 4)
    {
        queue (b, b + 3);
        b += 3;
    }
    queue (b, e);
    sem_post (&_trig);
    return 0;
}


void AFreader::forward (int nframes)
{
    if (!_ring) return;
    _rindex += nframes;
    if (_rindex >= _rsize) _rindex -= _rsize;
    int64_t p = _posit.load (std::memory_order_relaxed) + nframes;
    if (p >= _flen)
    {
        _posit.store (_flen, std::memory_order_relaxed);
        return;
    }
    _posit.store (p, std::memory_order_relaxed);
    if (p - (int64_t) _blk_first * _bsize < _bsize) return;
    if (_blk_reqd >= _nblock) return;
    if (queued () > NQUEUE - 1) return;
    // The new block goes into the slot of the block just used up.
    _blk_first += 1;
    queue (_blk_reqd, _blk_reqd + 1);
    _blk_reqd += 1;
    sem_post (&_trig);
}


void AFreader::update_avail (void)
{
    if (!_ring) return;
    int n = _nrd.load (std::memory_order_acquire);
    if (_nack == n) return;
    int s = _seq.load (std::memory_order_relaxed);
    for (; _nack != n; _nack++)
    {
        const Request *R = _queue + (_nack & (NQUEUE - 1));
        if (R->seq != s) continue;
        if (R->first != _blk_avail) _blk_first = R->first;
        if (R->end != _blk_first) _blk_avail = R->end;
    }
}


void AFreader::thr_main (void)
{
    while (true)
    {
        while (sem_wait (&_trig) && (errno == EINTR)) {}
        if (_stop.load ()) break;
        int n;
        while ((n = _nrd.load (std::memory_order_relaxed)) != _nwr.load (std::memory_order_acquire))
        {
            const Request R = _queue [n & (NQUEUE - 1)];
            if (R.seq == _seq.load (std::memory_order_relaxed))
            {
                sf_seek (_sndfile, (sf_count_t) R.first * _bsize, SEEK_SET);
                for (int k = R.first; k < R.end; k++)
                {
                    // A newer locate (or close) makes the rest useless.
                    if (R.seq != _seq.load (std::memory_order_relaxed)) break;
                    float *d = _ring + (size_t)(k % NBLOCK_RING) * _bsize * _nchan;
                    if (sf_readf_float (_sndfile, d, _bsize) < _bsize) break;
                }
            }
            _nrd.store (n + 1, std::memory_order_release);
        }
    }
    sem_post (&_done);
}
