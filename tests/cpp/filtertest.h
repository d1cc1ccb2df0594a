// Helpers shared by the filter tests: responses measured from impulse
// responses by direct DFT, and decibels.

#ifndef VESK_FILTERTEST_H
#define VESK_FILTERTEST_H

#include <cmath>
#include <complex>
#include <vector>

namespace filtertest {

typedef std::complex<double> cplx;

inline double db (double x) { return 20 * std::log10 (x); }

// Response at f (fraction of the sample rate) of an impulse response.
inline cplx dft (const std::vector<float> &h, double f)
{
    cplx s = 0;
    double w = -2 * M_PI * f;
    for (size_t n = 0; n < h.size (); n++) s += (double) h [n] * std::polar (1.0, w * n);
    return s;
}

// Impulse response of length n from a processor run(n, in, out), fed in
// blocks of the given size.
template <class Run>
std::vector<float> impulse (int n, int block, Run &&run)
{
    std::vector<float> x (n, 0.0f), y (n);
    x [0] = 1.0f;
    for (int k = 0; k < n; k += block)
    {
        int m = std::min (block, n - k);
        run (m, x.data () + k, y.data () + k);
    }
    return y;
}

}

#endif
