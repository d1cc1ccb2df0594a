// Lr4filter: two state-variable sections sharing one set of coefficients.

#include <math.h>
#include "lr4filter.h"

// The value of pi the crossover's coefficient formulas are specified with.
static const float PI_XO = 3.141592f;


Lr4filter::Lr4filter (void) :
    a0 (0), a1 (0), a2 (0), a3 (0), g (0),
    s1 (0), s2 (0), s3 (0), s4 (0)
{
}


void Lr4filter::reset (void)
{
    s1 = s2 = s3 = s4 = 0;
}


void Lr4filter::setpars (float f, float s)
{
    if (isnan (f) || isnan (s)) return;
    if (f < 1e-6f) f = 1e-6f;
    if (f > 0.48f) f = 0.48f;
    if (s < -6.0f) s = -6.0f;
    if (s > -3.0f) s = -3.0f;
    // p runs from 0 (s = -6, two equal Butterworth sections) to 1 (s = -3,
    // a fourth-order Butterworth); the power law keeps the gain at f within
    // about 0.04 dB of s in between.
    float p = powf ((s + 6) / 3, 0.465f);
    float t = tanf (PI_XO * f);
    float b1 = 2 * t * cosf ((2 + p) * PI_XO / 8);
    float b2 = 2 * t * cosf ((2 - p) * PI_XO / 8);
    float D1 = 1 + b1 + t * t;
    float D2 = 1 + b2 + t * t;
    a0 = (2 * b1 + 4 * t * t) / D1;
    a1 = 4 * t * t / (2 * b1 + 4 * t * t);
    a2 = (2 * b2 + 4 * t * t) / D2;
    a3 = 4 * t * t / (2 * b2 + 4 * t * t);
    g = 1 / (D1 * D2);
}


void Lr4filter::process_hipass (int n, const float *inp, float *out)
{
    float z1 = s1, z2 = s2, z3 = s3, z4 = s4;

    for (int i = 0; i < n; i++)
    {
        float h1 = g * inp [i] - ((z1 + z2) + 1e-20f);
        float h2 = h1 - ((z3 + z4) + 1e-20f);
        out [i] = h2;
        z2 += a1 * z1;
        z1 += a0 * h1;
        z4 += a3 * z3;
        z3 += a2 * h2;
    }
    s1 = z1; s2 = z2; s3 = z3; s4 = z4;
}


void Lr4filter::process_lopass (int n, const float *inp, float *out)
{
    float z1 = s1, z2 = s2, z3 = s3, z4 = s4;
    float k1 = a0 * a1 * 0.25f;
    float k2 = a2 * a3 * 0.25f;

    for (int i = 0; i < n; i++)
    {
        float h1 = inp [i] - ((z1 + z2) + 1e-20f);
        z2 += a1 * z1;
        z1 += a0 * h1;
        float y1 = k1 * h1 + z2;
        float h2 = y1 - ((z3 + z4) + 1e-20f);
        z4 += a3 * z3;
        z3 += a2 * h2;
        out [i] = k2 * h2 + z4;
    }
    s1 = z1; s2 = z2; s3 = z3; s4 = z4;
}
