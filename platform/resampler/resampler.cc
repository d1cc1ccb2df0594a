// Two-stage sample-rate converter.
//
// The sharp stage filters the input with the long Kaiser-windowed sinc whose
// stop band starts at half the lower rate, by overlap-save FFT in double
// precision (in float its rounding noise would be near -135 dB); when the
// output rate is above half the input rate it also doubles the rate (the
// zero-stuffed input's spectrum is the input's, repeated). Its output then
// holds nothing above half the lower rate and no image below the stage rate
// less that, so the polyphase stage that follows needs only a short kernel:
// a windowed sinc at half the stage rate, 32 taps for 140 dB.
//
// The polyphase ratio is kept as an exact fraction (stage rate) / out_rate =
// _M / _L, so output frame n lies at input time n * in_rate / out_rate with
// no drift. When _L is small every phase has its own row of coefficients;
// otherwise the rows sample the kernel at 4096 phases per stage-input period
// and each output frame interpolates linearly between the two rows around
// its phase.

#include <complex>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <vector>
#include <fftw3.h>
#include "resampler.h"


// Kaiser window shape and length for the stop-band attenuation in dB.
static const double ATTEN = 150.0;
// Phases per input period of an interpolated polyphase table.
static const unsigned int INTERP_PHASES = 4096;


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


// Low-pass kernel at time t (in samples): cut-off fc in cycles per sample,
// Kaiser window of half length hw samples; sums to 1 over whole samples.
static double kernel (double t, double fc, double hw)
{
    static const double beta = 0.1102 * (ATTEN - 8.7);
    double u = t / hw;
    if (fabs (u) >= 1) return 0;
    double a = 2 * M_PI * fc * t;
    double sinc = (fabs (a) < 1e-12) ? 1.0 : sin (a) / a;
    return 2 * fc * sinc * bessel_i0 (beta * sqrt (1 - u * u)) / bessel_i0 (beta);
}


// Forward FFT in double, in place; the size is a power of 2.
static void fft_double (std::vector<std::complex<double>> &a)
{
    size_t n = a.size ();
    for (size_t i = 1, j = 0; i < n; i++)
    {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap (a [i], a [j]);
    }
    std::vector<std::complex<double>> w (n / 2);
    for (size_t k = 0; k < n / 2; k++) w [k] = std::polar (1.0, -2 * M_PI * k / n);
    for (size_t len = 2; len <= n; len <<= 1)
    {
        size_t h = len / 2, st = n / len;
        for (size_t i = 0; i < n; i += len)
        {
            for (size_t k = 0; k < h; k++)
            {
                std::complex<double> u = a [i + k], v = a [i + k + h] * w [k * st];
                a [i + k] = u + v;
                a [i + k + h] = u - v;
            }
        }
    }
}


// Dot products on 16-float vectors (split by the compiler into what the
// processor has). Taps counts are multiples of 16; the coefficient rows are
// 64-byte aligned, the input runs are not.
typedef float v16sf __attribute__ ((vector_size (64), may_alias));
typedef float v16sf_u __attribute__ ((vector_size (64), aligned (4), may_alias));

static inline __attribute__ ((always_inline)) float hsum (v16sf a)
{
    // Halving: the compiler makes lane extracts and vector adds of these.
    typedef float v8sf __attribute__ ((vector_size (32)));
    typedef float v4sf __attribute__ ((vector_size (16)));
    v8sf a0, a1;
    v4sf b0, b1;
    memcpy (&a0, &a, 32);
    memcpy (&a1, (const char *) &a + 32, 32);
    a0 += a1;
    memcpy (&b0, &a0, 16);
    memcpy (&b1, (const char *) &a0 + 16, 16);
    b0 += b1;
    return (b0 [0] + b0 [2]) + (b0 [1] + b0 [3]);
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
static unsigned int convolve (const Convjob &J, uint32_t &phase_, unsigned int &nread_, float *&out_, unsigned int nout)
{
    // Everything in locals: the output stores could otherwise alias them.
    const float *buff = J.buff, *coef = J.coef;
    const unsigned int buflen = J.buflen, nchan = J.nchan, ntaps = J.ntaps, nfill = J.nfill, nphase = J.nphase;
    const uint32_t L = J.L, step = J.step, dphase = J.dphase;
    uint32_t phase = phase_;
    unsigned int nread = nread_;
    float *out = out_;
    unsigned int k = 0;
    while ((k < nout) && (nread + ntaps <= nfill))
    {
        const float *x = buff + nread;
        if (J.interp)
        {
            // Row j and j + 1 bracket the phase; f is the position between them.
            uint64_t p = (uint64_t) phase * nphase;
            uint32_t j = (uint32_t)(p / L);
            float    f = (float)(p % L) / (float) L;
            const float *c0 = coef + (size_t) j * ntaps;
            const float *c1 = c0 + ntaps;
            for (unsigned int c = 0; c < nchan; c++, x += buflen)
            {
                float s0, s1;
                dot_cc (x, c0, c1, ntaps, s0, s1);
                *out++ = s0 + f * (s1 - s0);
            }
        }
        else
        {
            const float *c0 = coef + (size_t) phase * ntaps;
            unsigned int c = 0;
            for (; c + 2 <= nchan; c += 2, x += 2 * buflen, out += 2)
            {
                float s0, s1;
                dot_xx (x, x + buflen, c0, ntaps, s0, s1);
                out [0] = s0;
                out [1] = s1;
            }
            if (c < nchan) *out++ = dot (x, c0, ntaps);
        }
        nread += step;
        phase += dphase;
        if (phase >= L)
        {
            phase -= L;
            nread++;
        }
        k++;
    }
    phase_ = phase;
    nread_ = nread;
    out_ = out;
    return k;
}


// X *= H over n complex bins (interleaved re, im).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
__attribute__ ((target_clones ("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
static void mulspec (double *__restrict X, const double *__restrict H, unsigned int n)
{
    for (unsigned int k = 0; k < n; k++)
    {
        double re = X [2 * k] * H [2 * k] - X [2 * k + 1] * H [2 * k + 1];
        double im = X [2 * k] * H [2 * k + 1] + X [2 * k + 1] * H [2 * k];
        X [2 * k] = re;
        X [2 * k + 1] = im;
    }
}


Resampler::Resampler (void) :
    inp_count (0),
    out_count (0),
    inp_data (nullptr),
    out_data (nullptr),
    _nchan (0),
    _U (1),
    _k1 (0),
    _n1 (0),
    _fsize (0),
    _fin (0),
    _bin (0),
    _xfill (0),
    _xbuf (nullptr),
    _ftime (nullptr),
    _fspec (nullptr),
    _hspec (nullptr),
    _plan_r2c (nullptr),
    _plan_c2r (nullptr),
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
    if (_plan_r2c) fftw_destroy_plan (_plan_r2c);
    if (_plan_c2r) fftw_destroy_plan (_plan_c2r);
    _plan_r2c = _plan_c2r = nullptr;
    fftw_free (_ftime);
    fftw_free (_fspec);
    fftw_free (_hspec);
    _ftime = _fspec = _hspec = nullptr;
    free (_xbuf);
    free (_coef);
    free (_buff);
    _xbuf = _coef = _buff = nullptr;
    _nchan = 0;
    _U = 1;
    _k1 = _n1 = _fsize = _fin = _bin = _xfill = 0;
    _ntaps = _nrow = _nphase = 0;
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

    // Sharp stage, designed at the lower rate: half length H samples there,
    // cut-off fc (fraction of that rate) in the middle of a transition band
    // that ends at half that rate. In input samples: cut-off fc1, window
    // half length h1.
    double r = (double) in_rate / out_rate;
    double s = (r > 1) ? r : 1.0;
    double H = 4.0 * hlen;
    double df = (ATTEN - 7.95) / (14.36 * 2 * H);
    double fc1 = (0.5 - 0.5 * df) / s;
    double h1 = H * s;
    _U = (2 * out_rate > in_rate) ? 2 : 1;
    _k1 = (unsigned int) ceil (h1);
    _n1 = 2 * _k1 * _U + 1;
    _fsize = 1024;
    while (_fsize < 4 * _n1) _fsize *= 2;
    _fin = _fsize / _U;
    _bin = (_fsize - _n1 + 1) / _U;

    // Polyphase stage from the stage rate R = _U x in_rate: everything
    // below p (half the lower rate) passes, images from R - p on are
    // stopped. A sinc at half the stage rate with a window as long as the
    // padded taps allow.
    uint32_t R = _U * in_rate;
    uint32_t g = gcd (R, out_rate);
    _M = R / g;
    _L = out_rate / g;
    _step = _M / _L;
    _dphase = _M % _L;
    double p = 0.5 * ((in_rate < out_rate) ? in_rate : out_rate) / R;
    double d = 1 - 2 * p;                                   // transition width, fraction of R
    unsigned int K = 8 * (unsigned int) ceil ((ATTEN - 7.95) / (14.36 * d) / 16);
    _ntaps = 2 * K;
    if (_L <= INTERP_PHASES)
    {
        _interp = false;
        _nphase = _L;
        _nrow = _L;
    }
    else
    {
        _interp = true;
        _nphase = INTERP_PHASES;
        _nrow = INTERP_PHASES + 1;
    }
    unsigned int nvalid = _fsize - _n1 + 1;
    _buflen = 16 * ((nvalid + _ntaps + 2 * (_step + 1) + 64 + 15) / 16);

    _xbuf = (float *) aligned_alloc (64, (size_t) chan * _fin * sizeof (float));
    _coef = (float *) aligned_alloc (64, (size_t) _nrow * _ntaps * sizeof (float));
    _buff = (float *) aligned_alloc (64, (size_t) chan * _buflen * sizeof (float));
    _ftime = fftw_alloc_real (_fsize);
    _fspec = (double *) fftw_alloc_complex (_fsize / 2 + 1);
    _hspec = (double *) fftw_alloc_complex (_fsize / 2 + 1);
    if (!_xbuf || !_coef || !_buff || !_ftime || !_fspec || !_hspec)
    {
        clear ();
        return 1;
    }
    // Measured plans for the usual sizes; estimated ones for the long
    // filters of extreme ratios, whose measuring would take seconds.
    unsigned int flags = (_fsize <= 16384) ? FFTW_MEASURE : FFTW_ESTIMATE;
    _plan_r2c = fftw_plan_dft_r2c_1d (_fin, _ftime, (fftw_complex *) _fspec, flags);
    _plan_c2r = fftw_plan_dft_c2r_1d (_fsize, (fftw_complex *) _fspec, _ftime, flags);
    if (!_plan_r2c || !_plan_c2r)
    {
        clear ();
        return 1;
    }

    // The sharp filter at the stage rate, tap j at input time (j - c) / _U
    // with c = _k1 x _U, transformed in double and scaled for the unscaled
    // inverse transform.
    {
        std::vector<std::complex<double>> a (_fsize);
        double c = (double) _k1 * _U;
        for (unsigned int j = 0; j < _n1; j++) a [j] = kernel ((j - c) / _U, fc1, h1);
        fft_double (a);
        for (unsigned int k = 0; k <= _fsize / 2; k++)
        {
            _hspec [2 * k] = a [k].real () / _fsize;
            _hspec [2 * k + 1] = a [k].imag () / _fsize;
        }
    }
    // Polyphase rows: row j holds the kernel at phase j / _nphase; tap m
    // multiplies stage frame i - K + 1 + m of an output frame at stage time
    // i + phase.
    for (unsigned int j = 0; j < _nrow; j++)
    {
        double ph = (double) j / _nphase;
        float *c = _coef + (size_t) j * _ntaps;
        for (unsigned int m = 0; m < _ntaps; m++) c [m] = (float) kernel ((double) m - K + 1 - ph, 0.5, K);
    }
    _nchan = chan;
    reset ();
    return 0;
}


void Resampler::reset (void)
{
    if (!_nchan) return;
    // _k1 frames of silence before the first input frame, so that the
    // sharp stage's first output is centred on it; _ntaps / 2 - 1 of its
    // output before that, so that output frame 0 is centred there too.
    memset (_xbuf, 0, (size_t) _nchan * _fin * sizeof (float));
    memset (_buff, 0, (size_t) _nchan * _buflen * sizeof (float));
    _xfill = _k1;
    _nfill = _ntaps / 2 - 1;
    _nread = 0;
    _phase = 0;
}


// Takes k input frames (k fits in _xbuf), deinterleaved.
void Resampler::fill (unsigned int k)
{
    if (inp_data)
    {
        for (unsigned int c = 0; c < _nchan; c++)
        {
            float       *d = _xbuf + (size_t) c * _fin + _xfill;
            const float *p = inp_data + c;
            for (unsigned int i = 0; i < k; i++, p += _nchan) d [i] = *p;
        }
        inp_data += (size_t) k * _nchan;
    }
    else
    {
        for (unsigned int c = 0; c < _nchan; c++)
        {
            memset (_xbuf + (size_t) c * _fin + _xfill, 0, k * sizeof (float));
        }
    }
    _xfill += k;
    inp_count -= k;
}


// One FFT block of the sharp stage: a full _xbuf in, _fsize - _n1 + 1
// frames appended to the polyphase stage's buffer.
void Resampler::block (void)
{
    unsigned int nvalid = _fsize - _n1 + 1;
    if (_buflen - _nfill < nvalid)
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
    double *X = _fspec;
    const double *H = _hspec;
    unsigned int nb = _fsize / 2;
    for (unsigned int c = 0; c < _nchan; c++)
    {
        float *x = _xbuf + (size_t) c * _fin;
        for (unsigned int i = 0; i < _fin; i++) _ftime [i] = x [i];
        fftw_execute (_plan_r2c);
        if (_U == 2)
        {
            // The zero-stuffed input repeats the spectrum: bins above the
            // input's last mirror those below it.
            for (unsigned int k = _fin / 2 + 1; k <= _fin; k++)
            {
                X [2 * k] = X [2 * (_fin - k)];
                X [2 * k + 1] = -X [2 * (_fin - k) + 1];
            }
        }
        mulspec (X, H, nb + 1);
        fftw_execute (_plan_c2r);
        float *d = _buff + (size_t) c * _buflen + _nfill;
        const double *t = _ftime + _n1 - 1;
        for (unsigned int i = 0; i < nvalid; i++) d [i] = (float) t [i];
        memmove (x, x + _bin, (_fin - _bin) * sizeof (float));
    }
    _nfill += nvalid;
    _xfill = _fin - _bin;
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
        if (_xfill == _fin)
        {
            block ();
            continue;
        }
        if (!inp_count) break;
        unsigned int k = _fin - _xfill;
        if (k > inp_count) k = inp_count;
        fill (k);
    }
    return 0;
}
