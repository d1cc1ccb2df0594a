// Rotation matrices and recursion coefficients.

#include <math.h>
#include <string.h>
#include "rotmagics.h"


Rmatrix::Rmatrix (int l_) :
    l (l_),
    n (2 * l_ + 1),
    data (new float [(2 * l_ + 1) * (2 * l_ + 1)])
{
    memset (data, 0, n * n * sizeof (float));
    for (int i = 0; i < n; i++) data [i * n + i] = 1.0f;
}


Rmatrix::~Rmatrix (void)
{
    delete [] data;
}


void Rmatrix::copy (const Rmatrix &M)
{
    memcpy (data, M.data, n * n * sizeof (float));
}


RotMagics::RotMagics (int l_) :
    l (l_)
{
    denom = new float [4 * (l + 1)];
    ufact = denom + (l + 1);
    vfact = ufact + (l + 1);
    wfact = vfact + (l + 1);
    // Single precision throughout, as the matrices are.
    for (int k = 0; k <= l; k++)
    {
        const float a = (float) (l + k), b = (float) (l - k);
        if (k == 0)
        {
            denom [k] = (float) l;
            ufact [k] = (float) l;
            vfact [k] = -sqrtf ((float) (l * (l - 1)) * 0.5f);
            wfact [k] = 0.0f;
        }
        else if (k < l)
        {
            denom [k] = sqrtf (a * b);
            ufact [k] = sqrtf (a * b);
            vfact [k] = sqrtf (a * (a - 1) * 0.25f);
            wfact [k] = sqrtf (b * (b - 1) * 0.25f);
        }
        else
        {
            denom [k] = sqrtf ((float) (2 * l * (2 * l - 1)));
            ufact [k] = 0.0f;
            vfact [k] = sqrtf (a * (a - 1) * 0.25f);
            wfact [k] = 0.0f;
        }
    }
}


RotMagics::~RotMagics (void)
{
    delete [] denom;
}
