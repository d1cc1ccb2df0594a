// One channel of the noise meter.

#include <string.h>
#include "nmeterdsp.h"
#include "meterlanes.h"
#include "filters/simdlevel.h"


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
    take_requests ();
    run (inp, out, n);
}


void Nmeterdsp::run (const float *inp, float *out, int n)
{
    float  x, z;

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
        break;
    case DET_VUM:
    case DET_VUM_SLOW:
        vumdet.process (n, out);
        break;
    case DET_ITU468:
        itudet.process (n, out);
        break;
    }
    level.store (reading (), std::memory_order_relaxed);
}


float Nmeterdsp::reading (void) const
{
    switch (detect)
    {
    case DET_RMS:
    case DET_RMS_SLOW: return rmsdet.reading ();
    case DET_VUM:
    case DET_VUM_SLOW: return vumdet.reading ();
    case DET_ITU468: return itudet.reading ();
    default: return 0.0f;
    }
}


int Nmeterdsp::lane_filter (void) const
{
    switch (filter)
    {
    case FILT_ENB20K: return enb20k.bad_rate ? -1 : 1;
    case FILT_IEC_A: return iec_ac.bad_rate ? -1 : 2;
    case FILT_IEC_C: return iec_ac.bad_rate ? -1 : 3;
    case FILT_ITU468:
    case FILT_ITU468_2K: return itu468.bad_rate ? -1 : 4;
    default: return 0;
    }
}


int Nmeterdsp::lane_detect (void) const
{
    switch (detect)
    {
    case DET_RMS:
    case DET_RMS_SLOW: return 1;
    case DET_VUM:
    case DET_VUM_SLOW: return 2;
    case DET_ITU468: return 3;
    default: return 0;
    }
}


void Nmeterdsp::process_multi (int simd, Nmeterdsp *const *M, const float *const *inp, float *const *out,
                               int nch, int n)
{
    // Meters by kind of filter (5) and detector (4).
    Nmeterdsp   *m [20][100];
    const float *p [20][100];
    float       *q [20][100];
    int          cnt [20] = { 0 };

    // One meter alone gains nothing from the lanes.
    if (simd == SIMD_SCALAR || nch == 1 || nch > 100 || n <= 0)
    {
        for (int i = 0; i < nch; i++) M [i]->process (inp [i], out [i], n);
        return;
    }
    for (int i = 0; i < nch; i++)
    {
        Nmeterdsp *D = M [i];
        D->take_requests ();
        const int f = D->lane_filter ();
        if (f < 0)
        {
            D->run (inp [i], out [i], n);
            continue;
        }
        const int k = 4 * f + D->lane_detect ();
        m [k][cnt [k]] = D;
        p [k][cnt [k]] = inp [i];
        q [k][cnt [k]++] = out [i];
    }
    for (int k = 0; k < 20; k++)
    {
        if (!cnt [k]) continue;
        if (simd == SIMD_AVX512) vesk_avx512::nmeter_multi (k / 4, k % 4, n, cnt [k], m [k], p [k], q [k]);
        else vesk_avx2::nmeter_multi (k / 4, k % 4, n, cnt [k], m [k], p [k], q [k]);
        for (int i = 0; i < cnt [k]; i++) m [k][i]->level.store (m [k][i]->reading (), std::memory_order_relaxed);
    }
}
