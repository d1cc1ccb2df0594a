// Request: a set of N floats handed from control threads to the process
// thread as one unit, so that the process side never takes half of one
// request and half of another. Writers may block each other; the reader never
// waits (a request being written is simply taken at its next attempt).

#ifndef VESK_REQUEST_H
#define VESK_REQUEST_H

#include <atomic>
#include <mutex>


template <int N> class Request
{
public:

    Request (void) : _seq (0)
    {
        for (int i = 0; i < N; i++) _val [i].store (0.0f, std::memory_order_relaxed);
    }

    // Control threads. Writers serialise on _wlock; the sequence counter is
    // odd while the values are being written and advances by two per request.
    void publish (const float *v)
    {
        std::lock_guard<std::mutex> G (_wlock);
        unsigned s = _seq.load (std::memory_order_relaxed);
        _seq.store (s + 1, std::memory_order_relaxed);
        // Orders the odd count before the values: a reader that sees any new
        // value also sees the count changed.
        std::atomic_thread_fence (std::memory_order_release);
        for (int i = 0; i < N; i++) _val [i].store (v [i], std::memory_order_relaxed);
        // Publishes the values with the even count.
        _seq.store (s + 2, std::memory_order_release);
    }

    // Number of requests published so far (complete or in writing).
    unsigned count (void) const { return (_seq.load (std::memory_order_relaxed) + 1) >> 1; }

    // Process thread: true when a request newer than the one acknowledged in
    // ack is complete; its values are then copied to v and ack is advanced.
    // False when nothing is new or a writer is busy: no waiting, nothing lost.
    bool pending (unsigned ack) const { return _seq.load (std::memory_order_relaxed) != ack; }
    bool take (unsigned &ack, float *v)
    {
        unsigned s1 = _seq.load (std::memory_order_acquire);
        if (s1 == ack || (s1 & 1)) return false;
        for (int i = 0; i < N; i++) v [i] = _val [i].load (std::memory_order_relaxed);
        // Orders the value loads before the second look at the counter.
        std::atomic_thread_fence (std::memory_order_acquire);
        if (_seq.load (std::memory_order_relaxed) != s1) return false;
        ack = s1;
        return true;
    }

private:

    Request (const Request&) = delete;
    Request& operator= (const Request&) = delete;

    std::mutex             _wlock;    // taken by writers only, never by the process thread
    std::atomic<unsigned>  _seq;      // written by writers, read by the process thread
    std::atomic<float>     _val [N];  // written by writers, read by the process thread
};

#endif
