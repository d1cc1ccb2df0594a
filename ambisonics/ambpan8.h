// Ambpan8: pans one mono input into an ambisonic signal set of degree 0 to 8
// (ACN, SN3D or N3D). A direction change moves every channel gain linearly
// from its present value to the new one over a ramp time of 0 to 1 s;
// channel 0 always has gain 1.

#ifndef VESK_AMBPAN8_H
#define VESK_AMBPAN8_H

#include "request.h"


class Ambpan8
{
public:

    // Normalisation factors of encode4, SN3D and N3D (see ambpan8.cc).
    static const float Csemi [12];
    static const float Cnorm [12];

    Ambpan8 (int fsamp, int degree, bool semi);
    virtual ~Ambpan8 (void);

    // Control threads: angles in degrees, ramp time in seconds (clamped to
    // 0 .. 1, NaN as 0). Non-finite angles drop the request. Taken at the
    // start of the next period.
    void set_direction (float azim, float elev, float tramp);

    // Process thread: one period. out holds (degree+1)^2 channel buffers,
    // written (add false) or added to (add true).
    void process (int nframes, const float *inp, float **out, bool add);
    void update (void);

    // Harmonics of a direction in radians; out holds (degree+1)^2 floats and
    // at least 4. encode4 uses closed formulas (degree 0 to 4), encode
    // chooses it or realspharm by degree.
    void encode (float azim, float elev, float *out);
    void encode4 (float azim, float elev, float *out);

    int         fsamp;
    int         degree;
    bool        semi;
    // Process thread: the last request taken (radians, seconds).
    float       azim;
    float       elev;
    float       tramp;
    float       gcurr [81];   // process thread: gains now applied
    float       gtarg [81];   // process thread: gains of the last direction taken

    // Requests (azim, elev, tramp) cross as one unit: written by
    // set_direction, taken by update() only when complete. nack, the request
    // count last taken, is the process thread's own.
    Request<3>  request;
    unsigned    nack;
    int         nramp;        // process thread: samples left in the present ramp

private:

    Ambpan8 (const Ambpan8&) = delete;
    Ambpan8& operator= (const Ambpan8&) = delete;

    template <bool ADD> void run (int nframes, const float *inp, float **out);
};

#endif
