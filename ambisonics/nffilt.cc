// Near-field compensation filters: sections from the reverse Bessel
// polynomials, a cascade of integrator-form sections per channel.

#include <math.h>
#include <string.h>
#include <complex>
#include "nffilt.h"


namespace {

typedef std::complex<double> cplx;

// The factors of theta_1 .. theta_8, computed once from the polynomials:
// theta_l (s) = sum over k of (2l - k)! / (2^(l-k) k! (l-k)!) s^k, monic.
struct Factors
{
    double  tab [NFfiltbase::MAXORDER + 1][NFfiltbase::MAXORDER];

    Factors (void)
    {
        memset (tab, 0, sizeof (tab));
        for (int l = 1; l <= NFfiltbase::MAXORDER; l++) build (l);
    }

    static double fact (int n)
    {
        double f = 1;
        for (int i = 2; i <= n; i++) f *= i;
        return f;
    }

    static cplx eval (const double *a, int l, cplx s)
    {
        cplx v = a [l];
        for (int k = l - 1; k >= 0; k--) v = v * s + a [k];
        return v;
    }

    void build (int l)
    {
        double  a [NFfiltbase::MAXORDER + 1];
        cplx    z [NFfiltbase::MAXORDER];

        for (int k = 0; k <= l; k++) a [k] = fact (2 * l - k) / (ldexp (1.0, l - k) * fact (k) * fact (l - k));
        // Durand-Kerner iteration from points on a circle of the roots'
        // geometric mean radius, then Newton steps to polish each root.
        double r = pow (a [0], 1.0 / l);
        for (int i = 0; i < l; i++) z [i] = std::polar (r, 2 * M_PI * (i + 0.25) / l);
        for (int it = 0; it < 500; it++)
        {
            double dmax = 0;
            for (int i = 0; i < l; i++)
            {
                cplx d = 1.0;
                for (int j = 0; j < l; j++) if (j != i) d *= z [i] - z [j];
                cplx step = eval (a, l, z [i]) / d;
                z [i] -= step;
                dmax = fmax (dmax, std::abs (step));
            }
            if (dmax < 1e-15) break;
        }
        for (int i = 0; i < l; i++)
        {
            for (int it = 0; it < 3; it++)
            {
                cplx dp = 0.0;
                for (int k = l; k >= 1; k--) dp = dp * z [i] + (double) k * a [k];
                z [i] -= eval (a, l, z [i]) / dp;
            }
        }
        // Conjugate pairs (upper half plane) as s^2 + p s + q by increasing p;
        // the real root of an odd degree as s + a, last.
        double *f = tab [l];
        int ns = 0;
        double real = 0;
        for (int i = 0; i < l; i++)
        {
            if (fabs (z [i].imag ()) < 1e-9 * std::abs (z [i])) real = -z [i].real ();
            else if (z [i].imag () > 0)
            {
                double p = -2 * z [i].real (), q = std::norm (z [i]);
                int j = ns++;
                while (j > 0 && f [2 * j - 2] > p)
                {
                    f [2 * j] = f [2 * j - 2];
                    f [2 * j + 1] = f [2 * j - 1];
                    j--;
                }
                f [2 * j] = p;
                f [2 * j + 1] = q;
            }
        }
        if (l & 1) f [l - 1] = real;
    }
};

const Factors factor_table;

}


NFfiltbase::NFfiltbase (int order_, int nchan_) :
    order (order_),
    nchan (nchan_ > 0 ? nchan_ : 0),
    gain (1.0f),
    coef (nullptr),
    zstate (nullptr)
{
    coef = new float [order];
    zstate = new float [order * (nchan ? nchan : 1)];
    memset (coef, 0, order * sizeof (float));
    reset ();
}


NFfiltbase::~NFfiltbase (void)
{
    delete[] coef;
    delete[] zstate;
}


void NFfiltbase::reset (void)
{
    memset (zstate, 0, order * (nchan ? nchan : 1) * sizeof (float));
}


const double *NFfiltbase::factors (int order)
{
    if (order < 1 || order > MAXORDER) return nullptr;
    return factor_table.tab [order];
}


void NFfiltbase::init2 (int index, float P, float Q)
{
    float d = 1.0f / (1.0f + P + Q);
    coef [index] = (2 * P + 4 * Q) * d;
    coef [index + 1] = 4 * Q * d;
    gain = index ? gain * d : d;
}


void NFfiltbase::init1 (int index, float A)
{
    float d = 1.0f / (1.0f + A);
    coef [index] = 2 * A * d;
    gain = index ? gain * d : d;
}


NFfiltbase *NFfiltbase::create (int degree, int nchan)
{
    switch (degree)
    {
    case 1: return new NFfilt1 (nchan);
    case 2: return new NFfilt2 (nchan);
    case 3: return new NFfilt3 (nchan);
    case 4: return new NFfilt4 (nchan);
    case 5: return new NFfilt5 (nchan);
    case 6: return new NFfilt6 (nchan);
    case 7: return new NFfilt7 (nchan);
    case 8: return new NFfilt8 (nchan);
    default: return nullptr;
    }
}


template <int L>
void NFfilt<L>::init (float w)
{
    const double *f = factors (L);
    if (!(w > 0)) w = 0;
    float x = w * 0.5f;
    int i = 0;
    for (; i + 1 < L; i += 2) init2 (i, (float) f [i] * x, (float) f [i + 1] * x * x);
    if (L & 1) init1 (i, (float) f [i] * x);
    reset ();
}


// Each second-order section keeps two running sums (z2 += z1, z1 += y), so
// its zeros at DC are exact; the feedback subtracts c0 z1 + c1 z2 and a tiny
// constant that keeps the states out of denormal numbers.
template <int L>
void NFfilt<L>::process (int nframes, float **inp, float **out, float g)
{
    float  c [L], z [L];
    float  a = g * gain;

    memcpy (c, coef, sizeof (c));
    for (int ch = 0; ch < nchan; ch++)
    {
        const float *x = inp [ch];
        float *y = out [ch];
        float *zs = zstate + ch * L;
        memcpy (z, zs, sizeof (z));
        for (int n = 0; n < nframes; n++)
        {
            float v = a * x [n];
            for (int k = 0; k + 1 < L; k += 2)
            {
                float z1 = z [k], z2 = z [k + 1];
                z [k + 1] = z2 + z1;
                v -= c [k] * z1 + c [k + 1] * z2 + 1e-30f;
                z [k] = z1 + v;
            }
            if (L & 1)
            {
                v -= c [L - 1] * z [L - 1] + 1e-30f;
                z [L - 1] += v;
            }
            y [n] = v;
        }
        memcpy (zs, z, sizeof (z));
    }
}

template class NFfilt<1>;
template class NFfilt<2>;
template class NFfilt<3>;
template class NFfilt<4>;
template class NFfilt<5>;
template class NFfilt<6>;
template class NFfilt<7>;
template class NFfilt<8>;
