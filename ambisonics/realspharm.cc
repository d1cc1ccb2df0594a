// Real spherical harmonics by the associated Legendre recursion.

#include <math.h>
#include "realspharm.h"


void realspharm (int degree, double azim, double elev, float *out, bool semi)
{
    enum { LMAX = 8 };
    double  P [LMAX + 1][LMAX + 1] = {};
    double  C [LMAX + 1], S [LMAX + 1];

    // The recursion below takes cos (elev) as non-negative: an elevation
    // beyond a pole is the same direction seen from the opposite azimuth.
    if (cos (elev) < 0) azim += M_PI;
    const double ca = cos (azim), sa = sin (azim);
    const double s = sin (elev), c = sqrt (1.0 - s * s);

    out [0] = 1.0f;
    if (degree <= 0) return;
    const int L = degree < LMAX ? degree : LMAX;

    // Associated Legendre functions P (l, m) of sin (elev), positive sign:
    // P (l, 0) by Bonnet's recursion, P (l, m) = P (l-2, m) + (2l-1) c P (l-1, m-1).
    P [0][0] = 1;
    P [1][0] = s;
    P [1][1] = c;
    for (int l = 2; l <= L; l++)
    {
        P [l][0] = ((2 * l - 1) * s * P [l - 1][0] - (l - 1) * P [l - 2][0]) / l;
        for (int m = 1; m <= l; m++) P [l][m] = P [l - 2][m] + (2 * l - 1) * c * P [l - 1][m - 1];
    }
    // cos (m azim) and sin (m azim) by the angle addition rule.
    C [0] = 1;
    S [0] = 0;
    for (int m = 0; m < L; m++)
    {
        C [m + 1] = ca * C [m] - sa * S [m];
        S [m + 1] = ca * S [m] + sa * C [m];
    }
    for (int l = 1; l <= L; l++)
    {
        const double f = semi ? 1.0 : 2 * l + 1;
        const int k = l * l + l;
        out [k] = (float) (sqrt (f) * P [l][0]);
        // q = 2 f (l-m)! / (l+m)!, built up one m at a time.
        double q = 2 * f;
        for (int m = 1; m <= l; m++)
        {
            q /= (double) ((l - m + 1) * (l + m));
            const double g = sqrt (q) * P [l][m];
            out [k + m] = (float) (g * C [m]);
            out [k - m] = (float) (g * S [m]);
        }
    }
}
