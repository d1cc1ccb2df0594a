// Ambrot8: rotates an ambisonic signal set of degree 0 to 8 (ACN, any of
// SN3D or N3D). Rotations by angle and axis or by quaternion, active (a
// source at v moves to R v), with a ramp time of 0 to 1 s over which every
// matrix element moves linearly from its present to its new value.

#ifndef VESK_AMBROT8_H
#define VESK_AMBROT8_H

#include "request.h"
#include "rotmagics.h"


class Ambrot8
{
public:

    Ambrot8 (int fsamp, int degree);
    virtual ~Ambrot8 (void);

    // Control threads. Angle in radians about the axis (x, y, z); neither the
    // axis nor the quaternion need be of unit length. A zero, subnormal,
    // infinite or NaN length (or half-angle sine) drops the request, so an
    // angle of 0 leaves the rotation as it is; set_quaternion (1, 0, 0, 0, t)
    // returns to none. Ramp time clamps to 0 .. 1 s (NaN acts as 0).
    void set_rotation (float angle, float x, float y, float z, float tramp);
    void set_quaternion (float w, float x, float y, float z, float tramp);

    // Process thread: one period. inp and out hold (degree+1)^2 channel
    // buffers each, distinct from one another.
    void process (int nframes, float **inp, float **out);

    // Steps of process, public for tests.
    void update (void);
    void newmatrix1 (void);
    void newmatrixd (int l);
    void process0 (float **inp, float **out, int offset, int nframes);
    void process1 (float **inp, float **out, int offset, int nframes, int nramp);
    float funcP (int l, int a, int b, int i);
    float funcV (int l, int m, int n);
    float funcW (int l, int m, int n);

    int         fsamp;
    int         degree;
    Rmatrix    *mtarg [9];    // process thread: matrices of the last request taken; [0] empty
    Rmatrix    *mcurr [9];    // process thread: matrices now applied; [0] empty
    RotMagics  *magics [9];   // read only; [0] and [1] empty

    // The last request taken (process thread), a unit quaternion and ramp time.
    float       qw, qx, qy, qz;
    float       tramp;

    // Requests (w, x, y, z, tramp) cross as one unit: written by the setters,
    // taken by update() only when complete. nack, the request count last
    // taken, is the process thread's own.
    Request<5>  request;
    unsigned    nack;
    int         nramp;        // process thread: samples left in the present ramp

private:

    Ambrot8 (const Ambrot8&) = delete;
    Ambrot8& operator= (const Ambrot8&) = delete;
};

#endif
