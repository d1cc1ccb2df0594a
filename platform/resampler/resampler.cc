// Polyphase windowed-sinc sample-rate converter.
//
// The ratio is kept as an exact fraction in_rate / out_rate = _M / _L, so
// output frame n lies at input time n * _M / _L with no drift. When _L is
// small (44.1 <-> 48 kHz gives 147 / 160) every phase has its own row of
// coefficients; otherwise the rows sample the kernel at _nphase phases per
// input period and each output frame interpolates linearly between the two
// rows around its phase.

#include <math.h>
#include <stdlib.h>
#include <string.h>
#include "resampler.h"


// Kaiser window shape and length for the stop-band attenuation in dB.
static const double ATTEN = 150.0;
// Phases per input period of an interpolated table, for upsampling; fewer
// (in proportion) for downsampling, where the kernel is smoother.
static const unsigned int INTERP_PHASES = 4096;
// Buffer room beyond the filter length, in frames per channel.
static const unsigned int BUFFER_EXTRA = 2048;


static uint32_t gcd (uint32_t a, uint32_t b)
{
    while (b)
    {
        uint32_t t = a % b;
        a = b;
        b = t;
    }
    return a;
}


// Modified Bessel function of the first kind, order 0, by its power series.
static double bessel_i0 (double x)
{
    double s = 1, t = 1, q = 0.25 * x * x;
    for (int k = 1; k < 500; k++)
    {
        t *= q / ((double) k * k);
        s += t;
        if (t < 1e-17 * s) break;
    }
    return s;
}


// Dot products on 16-float vectors (split by the compiler into what the
// processor has). Taps counts are multiples of 16; the coefficient rows are
// 64-byte aligned, the input runs are not.
typedef float v16sf __attribute__ ((vector_size (64), may_alias));
typedef float v16sf_u __attribute__ ((vector_size (64), aligned (4), may_alias));

static inline __attribute__ ((always_inline)) float hsum (v16sf a)
{
    return  (((a [0] + a [8]) + (a [4] + a [12])) + ((a [2] + a [10]) + (a [6] + a [14])))
          + (((a [1] + a [9]) + (a [5] + a [13])) + ((a [3] + a [11]) + (a [7] + a [15])));
}

static inline __attribute__ ((always_inline)) float dot (const float *x, const float *c, unsigned int n)
{
    // Two accumulators (four or eight registers) keep the multiply-add units busy.
    v16sf a = { 0 };
    v16sf b = a;
    unsigned int i = 0;
    for (; i + 32 <= n; i += 32)
    {
        a += *(const v16sf_u *)(x + i) * *(const v16sf *)(c + i);
        b += *(const v16sf_u *)(x + i + 16) * *(const v16sf *)(c + i + 16);
    }
    if (i < n) a += *(const v16sf_u *)(x + i) * *(const v16sf *)(c + i);
    return hsum (a + b);
}


// Two dot products that share their loads: two channels with one row, and
// one channel with two rows. Each sum is formed exactly as dot() forms it.
static inline __attribute__ ((always_inline)) void dot_xx (const float *x0, const float *x1, const float *c, unsigned int n, float &s0, float &s1)
{
    v16sf a0 = { 0 };
    v16sf b0 = a0, a1 = a0, b1 = a0;
    unsigned int i = 0;
    for (; i + 32 <= n; i += 32)
    {
        v16sf k = *(const v16sf *)(c + i);
        v16sf m = *(const v16sf *)(c + i + 16);
        a0 += *(const v16sf_u *)(x0 + i) * k;
        b0 += *(const v16sf_u *)(x0 + i + 16) * m;
        a1 += *(const v16sf_u *)(x1 + i) * k;
        b1 += *(const v16sf_u *)(x1 + i + 16) * m;
    }
    if (i < n)
    {
        v16sf k = *(const v16sf *)(c + i);
        a0 += *(const v16sf_u *)(x0 + i) * k;
        a1 += *(const v16sf_u *)(x1 + i) * k;
    }
    s0 = hsum (a0 + b0);
    s1 = hsum (a1 + b1);
}

static inline __attribute__ ((always_inline)) void dot_cc (const float *x, const float *c0, const float *c1, unsigned int n, float &s0, float &s1)
{
    v16sf a0 = { 0 };
    v16sf b0 = a0, a1 = a0, b1 = a0;
    unsigned int i = 0;
    for (; i + 32 <= n; i += 32)
    {
        v16sf u = *(const v16sf_u *)(x + i);
        v16sf v = *(const v16sf_u *)(x + i + 16);
        a0 += u * *(const v16sf *)(c0 + i);
        b0 += v * *(const v16sf *)(c0 + i + 16);
        a1 += u * *(const v16sf *)(c1 + i);
        b1 += v * *(const v16sf *)(c1 + i + 16);
    }
    if (i < n)
    {
        v16sf u = *(const v16sf_u *)(x + i);
        a0 += u * *(const v16sf *)(c0 + i);
        a1 += u * *(const v16sf *)(c1 + i);
    }
    s0 = hsum (a0 + b0);
    s1 = hsum (a1 + b1);
}


// The arithmetic of process(): writes output frames while the buffer holds
// every tap of the next one and nout allows. Returns the frames written.
struct Convjob
{
    const float  *buff;
    const float  *coef;
    unsigned int  buflen, nchan, ntaps, nphase, nfill;
    bool          interp;
    uint32_t      L, step, dphase;
};

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__ ((target_clones ("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
static unsigned int convolve (const Convjob &J, uint32_t &phase, unsigned int &nread, float *&out, unsigned int nout)
{
    unsigned int k = 0;
    while ((k < nout) && (nread + J.ntaps <= J.nfill))
    {
        const float *x = J.buff + nread;
        if (J.interp)
        {
            // Row j and j + 1 bracket the phase; f is the position between them.
            uint64_t p = (uint64_t) phase * J.nphase;
            uint32_t j = (uint32_t)(p / J.L);
            float    f = (float)(p % J.L) / (float) J.L;
            const float *c0 = J.coef + (size_t) j * J.ntaps;
            const float *c1 = c0 + J.ntaps;
            for (unsigned int c = 0; c < J.nchan; c++, x += J.buflen)
            {
                float s0, s1;
                dot_cc (x, c0, c1, J.ntaps, s0, s1);
                *out++ = s0 + f * (s1 - s0);
            }
        }
        else
        {
            const float *c0 = J.coef + (size_t) phase * J.ntaps;
            unsigned int c = 0;
            for (; c + 2 <= J.nchan; c += 2, x += 2 * J.buflen, out += 2)
            {
                dot_xx (x, x + J.buflen, c0, J.ntaps, out [0], out [1]);
            }
            if (c < J.nchan) *out++ = dot (x, c0, J.ntaps);
        }
        nread += J.step;
        phase += J.dphase;
        if (phase >= J.L)
        {
            phase -= J.L;
            nread++;
        }
        k++;
    }
    return k;
}


Resampler::Resampler (void) :
    inp_count (0),
    out_count (0),
    inp_data (nullptr),
    out_data (nullptr),
    _nchan (0),
    _ntaps (0),
    _nrow (0),
    _nphase (0),
    _interp (false),
    _L (1),
    _M (1),
    _step (1),
    _dphase (0),
    _phase (0),
    _buflen (0),
    _nread (0),
    _nfill (0),
    _coef (nullptr),
    _buff (nullptr)
{
}


Resampler::~Resampler (void)
{
    clear ();
}


void Resampler::clear (void)
{
    free (_coef);
    free (_buff);
    _coef = nullptr;
    _buff = nullptr;
    _nchan = 0;
    _ntaps = 0;
    _nrow = 0;
    _nphase = 0;
    _interp = false;
    _L = _M = _step = 1;
    _dphase = _phase = 0;
    _buflen = _nread = _nfill = 0;
}


int Resampler::setup (unsigned int in_rate, unsigned int out_rate, unsigned int chan, unsigned int hlen)
{
    clear ();
    if (   (in_rate < MINRATE) || (in_rate > MAXRATE)
        || (out_rate < MINRATE) || (out_rate > MAXRATE)
        || (chan < 1) || (chan > MAXCHAN)
        || (hlen < MINHLEN) || (hlen > MAXHLEN)) return 1;

    uint32_t g = gcd (in_rate, out_rate);
    _M = in_rate / g;
    _L = out_rate / g;
    _step = _M / _L;
    _dphase = _M % _L;

    // Filter in units of input samples. The design is made at the lower
    // rate: half length H samples there, cut-off fc (fraction of that rate)
    // in the middle of a transition band that ends at half that rate.
    double r = (double) in_rate / out_rate;       // input samples per output sample
    double s = (r > 1) ? r : 1.0;                 // input samples per lower-rate sample
    double H = 4.0 * hlen;
    double df = (ATTEN - 7.95) / (14.36 * 2 * H);
    double fc = (0.5 - 0.5 * df) / s;             // cut-off in cycles per input sample
    double Hin = H * s;                           // window half length in input samples
    double beta = 0.1102 * (ATTEN - 8.7);
    double ib = 1.0 / bessel_i0 (beta);
    unsigned int K = 8 * (unsigned int) ceil (Hin / 8);
    _ntaps = 2 * K;

    unsigned int np = (unsigned int) ceil (INTERP_PHASES / s);
    if (_L <= np)
    {
        _interp = false;
        _nphase = _L;
        _nrow = _L;
    }
    else
    {
        _interp = true;
        _nphase = np;
        _nrow = np + 1;
    }

    _buflen = _ntaps + BUFFER_EXTRA;
    _coef = (float *) aligned_alloc (64, (size_t) _nrow * _ntaps * sizeof (float));
    _buff = (float *) aligned_alloc (64, (size_t) chan * _buflen * sizeof (float));
    if (!_coef || !_buff)
    {
        clear ();
        return 1;
    }
    // Row j holds the kernel at phase j / _nphase: tap m multiplies input
    // frame i - K + 1 + m of an output frame at input time i + phase.
    for (unsigned int j = 0; j < _nrow; j++)
    {
        double ph = (double) j / _nphase;
        float *c = _coef + (size_t) j * _ntaps;
        for (unsigned int m = 0; m < _ntaps; m++)
        {
            double t = (double) m - K + 1 - ph;
            double u = t / Hin;
            double v = 0;
            if (fabs (u) < 1)
            {
                double a = 2 * M_PI * fc * t;
                double sinc = (fabs (a) < 1e-12) ? 1.0 : sin (a) / a;
                v = 2 * fc * sinc * bessel_i0 (beta * sqrt (1 - u * u)) * ib;
            }
            c [m] = (float) v;
        }
    }
    _nchan = chan;
    reset ();
    return 0;
}


void Resampler::reset (void)
{
    if (!_nchan) return;
    // K - 1 frames of silence before the first input frame: output frame 0
    // is centred on input frame 0.
    memset (_buff, 0, (size_t) _nchan * _buflen * sizeof (float));
    _nfill = _ntaps / 2 - 1;
    _nread = 0;
    _phase = 0;
}


// Takes k input frames (k fits in the buffer), deinterleaved.
void Resampler::fill (unsigned int k)
{
    if (inp_data)
    {
        for (unsigned int c = 0; c < _nchan; c++)
        {
            float       *d = _buff + (size_t) c * _buflen + _nfill;
            const float *p = inp_data + c;
            for (unsigned int i = 0; i < k; i++, p += _nchan) d [i] = *p;
        }
        inp_data += (size_t) k * _nchan;
    }
    else
    {
        for (unsigned int c = 0; c < _nchan; c++)
        {
            memset (_buff + (size_t) c * _buflen + _nfill, 0, k * sizeof (float));
        }
    }
    _nfill += k;
    inp_count -= k;
}


int Resampler::process (void)
{
    if (!_nchan) return 1;

    Convjob J;
    J.buff = _buff;
    J.coef = _coef;
    J.buflen = _buflen;
    J.nchan = _nchan;
    J.ntaps = _ntaps;
    J.nphase = _nphase;
    J.interp = _interp;
    J.L = _L;
    J.step = _step;
    J.dphase = _dphase;

    while (out_count)
    {
        if (_nread + _ntaps <= _nfill)
        {
            J.nfill = _nfill;
            out_count -= convolve (J, _phase, _nread, out_data, out_count);
            continue;
        }
        if (!inp_count) break;
        if (_nfill == _buflen)
        {
            // Keep what the next output frames still need, at the start.
            unsigned int d = (_nread < _nfill) ? _nread : _nfill;
            for (unsigned int c = 0; c < _nchan; c++)
            {
                float *p = _buff + (size_t) c * _buflen;
                memmove (p, p + d, (_nfill - d) * sizeof (float));
            }
            _nfill -= d;
            _nread -= d;
        }
        unsigned int k = _buflen - _nfill;
        if (k > inp_count) k = inp_count;
        fill (k);
    }
    return 0;
}
