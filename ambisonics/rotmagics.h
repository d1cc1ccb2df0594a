// Rotation matrices of one ambisonic degree, and the coefficients of the
// Ivanic-Ruedenberg recursion that builds degree l (2 .. 8) from degree 1
// and degree l-1. Rows are output channels, columns input channels.

#ifndef VESK_ROTMAGICS_H
#define VESK_ROTMAGICS_H


// Matrix of degree l >= 1, size n = 2l+1; element (i, j), i and j in -l .. l,
// at data [(i + l) * n + (j + l)]. A new matrix is the identity.
class Rmatrix
{
public:

    explicit Rmatrix (int l);
    ~Rmatrix (void);

    float &operator() (int i, int j) { return data [(i + l) * n + (j + l)]; }
    float  operator() (int i, int j) const { return data [(i + l) * n + (j + l)]; }
    void   copy (const Rmatrix &M);

    int     l;
    int     n;
    float  *data;

private:

    Rmatrix (const Rmatrix&) = delete;
    Rmatrix& operator= (const Rmatrix&) = delete;
};


// Recursion coefficients of degree l >= 2, each array indexed by k = 0 .. l:
// the denominator by the column's |n|, the u, v, w factors by the row's |m|.
// w is stored positive and applied with a minus sign.
class RotMagics
{
public:

    explicit RotMagics (int l);
    ~RotMagics (void);

    int     l;
    float  *denom;   // all four arrays live in one allocation of 4 (l+1) floats
    float  *ufact;
    float  *vfact;
    float  *wfact;

private:

    RotMagics (const RotMagics&) = delete;
    RotMagics& operator= (const RotMagics&) = delete;
};

#endif
