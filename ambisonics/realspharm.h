// Real spherical harmonics of one direction up to degree 8, in ACN order,
// without Condon-Shortley sign, SN3D (semi true) or N3D normalisation.
// Azimuth and elevation in radians, any value; degree above 8 acts as 8.

#ifndef VESK_REALSPHARM_H
#define VESK_REALSPHARM_H

// Writes the (degree+1)^2 harmonics of (azim, elev) to out, computed in
// double precision. Degree 0 or less writes out [0] = 1 only.
void realspharm (int degree, double azim, double elev, float *out, bool semi);

#endif
