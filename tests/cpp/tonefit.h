// A resampled tone measured by least squares: the fit of a cosine and a sine
// at its known frequency over y [n0 .. n1), for the resampler's test and its
// benchmark alike.

#ifndef VESK_TONEFIT_H
#define VESK_TONEFIT_H

#include <math.h>
#include <stddef.h>

// y holds a tone of amplitude 0.5 and frequency f at the rate fo. Returns
// the gain at f in dB and the residual (what is not the tone) relative to
// the input's RMS, in dB; above half the output rate the gain is the whole
// output's RMS.
inline void tone_fit (const float *y, size_t n0, size_t n1, double f, double fo, double &gain, double &resid)
{
    double cc = 0, ss = 0, sc = 0, yc = 0, ys = 0;
    for (size_t n = n0; n < n1; n++)
    {
        double c = cos (2 * M_PI * f * n / fo), s = sin (2 * M_PI * f * n / fo);
        cc += c * c; ss += s * s; sc += s * c; yc += y [n] * c; ys += y [n] * s;
    }
    double d = cc * ss - sc * sc;
    double a = (yc * ss - ys * sc) / d, b = (ys * cc - yc * sc) / d;
    double e = 0, p = 0;
    for (size_t n = n0; n < n1; n++)
    {
        double t = 2 * M_PI * f * n / fo;
        double r = y [n] - a * cos (t) - b * sin (t);
        e += r * r;
        p += (double) y [n] * y [n];
    }
    double rms = 0.5 / sqrt (2.0);
    gain = 20 * log10 (hypot (a, b) / 0.5);
    resid = 10 * log10 (e / (n1 - n0) + 1e-30) - 20 * log10 (rms);
    if (2 * f > fo) gain = 10 * log10 (p / (n1 - n0) + 1e-30) - 20 * log10 (rms);
}

#endif
