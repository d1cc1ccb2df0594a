// One channel of the noise meter.

#include <string.h>
#include "nmeterdsp.h"


Nmeterdsp::Nmeterdsp (void) :
    dcfilt (false), filter (0), detect (0), wdc (0), zdc (0), level (0.0f),
    _fseq (0), _fcode (0), _fdc (false), _fack (0),
    _dseq (0), _dcode (0), _dack (0)
{
}


int Nmeterdsp::init (int fsamp)
{
    int r = 0;

    wdc = 31.415f / fsamp;
    dcfilt = false;
    filter = 0;
    detect = 0;
    zdc = 0.0f;
    level.store (0.0f, std::memory_order_relaxed);
    _fack = _fseq.load (std::memory_order_relaxed);
    _dack = _dseq.load (std::memory_order_relaxed);
    r |= enb20k.init (fsamp);
    r |= iec_ac.init (fsamp);
    r |= itu468.init (fsamp, false);
    rmsdet.init (fsamp, false);
    vumdet.init (fsamp, false);
    itudet.init (fsamp);
    return r;
}


static bool known_code (int code)
{
    return code >= 1 && code <= 5;
}


int Nmeterdsp::set_filter (int code, int dc)
{
    unsigned s = _fseq.load (std::memory_order_relaxed);
    _fseq.store (s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence (std::memory_order_release);
    _fcode.store (code, std::memory_order_relaxed);
    _fdc.store (dc != 0, std::memory_order_relaxed);
    _fseq.store (s + 2, std::memory_order_release);
    return known_code (code) ? 0 : -1;
}


int Nmeterdsp::set_detect (int code)
{
    unsigned s = _dseq.load (std::memory_order_relaxed);
    _dseq.store (s + 1, std::memory_order_relaxed);
    std::atomic_thread_fence (std::memory_order_release);
    _dcode.store (code, std::memory_order_relaxed);
    _dseq.store (s + 2, std::memory_order_release);
    return known_code (code) ? 0 : -1;
}


void Nmeterdsp::take_requests (void)
{
    unsigned s1, s2;
    int      code;
    bool     dc;

    s1 = _fseq.load (std::memory_order_acquire);
    if (s1 != _fack && !(s1 & 1))
    {
        code = _fcode.load (std::memory_order_relaxed);
        dc = _fdc.load (std::memory_order_relaxed);
        std::atomic_thread_fence (std::memory_order_acquire);
        s2 = _fseq.load (std::memory_order_relaxed);
        if (s1 == s2)
        {
            apply_filter (code, dc);
            _fack = s1;
        }
    }
    s1 = _dseq.load (std::memory_order_acquire);
    if (s1 != _dack && !(s1 & 1))
    {
        code = _dcode.load (std::memory_order_relaxed);
        std::atomic_thread_fence (std::memory_order_acquire);
        s2 = _dseq.load (std::memory_order_relaxed);
        if (s1 == s2)
        {
            apply_detect (code);
            _dack = s1;
        }
    }
}


void Nmeterdsp::apply_filter (int code, bool dc)
{
    dcfilt = dc;
    zdc = 0.0f;
    filter = code;
    switch (code)
    {
    case FILT_ENB20K:
        enb20k.reset ();
        break;
    case FILT_IEC_A:
    case FILT_IEC_C:
        iec_ac.reset ();
        break;
    case FILT_ITU468:
    case FILT_ITU468_2K:
        itu468.reset ();
        itu468.g = (code == FILT_ITU468_2K) ? Itu468filter::G_REF2K : 1.0f;
        break;
    }
}


void Nmeterdsp::apply_detect (int code)
{
    detect = code;
    switch (code)
    {
    case DET_RMS:
    case DET_RMS_SLOW:
        rmsdet.reset ();
        rmsdet.slow = (code == DET_RMS_SLOW);
        break;
    case DET_VUM:
    case DET_VUM_SLOW:
        vumdet.reset ();
        vumdet.slow = (code == DET_VUM_SLOW);
        break;
    case DET_ITU468:
        itudet.reset ();
        break;
    }
}


void Nmeterdsp::process (const float *inp, float *out, int n)
{
    float  x, z, r;

    take_requests ();
    if (n < 0) n = 0;

    if (dcfilt)
    {
        z = zdc;
        for (int i = 0; i < n; i++)
        {
            x = inp [i] + 1e-25f;
            z += (x - z) * wdc;
            out [i] = x - z;
        }
        zdc = z;
    }
    else if (out != inp && n > 0) memmove (out, inp, n * sizeof (float));

    switch (filter)
    {
    case FILT_ENB20K:
        enb20k.process (n, out, out);
        break;
    case FILT_IEC_A:
        iec_ac.process (n, out, out, nullptr);
        break;
    case FILT_IEC_C:
        iec_ac.process (n, out, nullptr, out);
        break;
    case FILT_ITU468:
    case FILT_ITU468_2K:
        itu468.process (n, out, out);
        break;
    }

    switch (detect)
    {
    case DET_RMS:
    case DET_RMS_SLOW:
        rmsdet.process (n, out);
        r = rmsdet.reading ();
        break;
    case DET_VUM:
    case DET_VUM_SLOW:
        vumdet.process (n, out);
        r = vumdet.reading ();
        break;
    case DET_ITU468:
        itudet.process (n, out);
        r = itudet.reading ();
        break;
    default:
        r = 0.0f;
    }
    level.store (r, std::memory_order_relaxed);
}
