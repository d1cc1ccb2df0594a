// Ambbin8: binaural rendering of an ambisonic signal set of degree 1 .. 8:
// rotation (Ambrot8), optional near-field compensation per degree (NFfilt),
// then convolution with one filter per channel into left and right
// (Binconv). Periods of fsize frames (or whole multiples of it); filters of
// up to maxlen samples (1 .. 2048); compensation distance 0.5 .. 20 m.

#ifndef VESK_AMBBIN8_H
#define VESK_AMBBIN8_H

#include "ambrot8.h"
#include "binconv.h"
#include "nffilt.h"
#include "request.h"


class Ambbin8
{
public:

    Ambbin8 (int fsamp, int degree, int maxlen, int fsize);
    virtual ~Ambbin8 (void);

    // Control threads. Compensates for sources at distance metres, at
    // least 0.5; above 20 (or infinite) turns compensation off and clears
    // the filter states. NaN is ignored. Taken at the start of the next period.
    void set_nfcomp (float distance);

    // Process thread. nframes must be a whole multiple of fsize (the server's
    // period at construction); any other count writes silence.
    void process (int nframes, float **inp, float **out);

    int          fsamp;
    int          degree;
    int          fsize;
    int          nch;            // (degree + 1)^2
    bool         nfcomp;         // process thread: compensation on
    NFfiltbase  *nffilt [8];     // [d-1]: degree d's filter for its 2d+1 channels
    Ambrot8     *rotator;
    Binconv     *binconv;
    float       *bufs [81];      // nch buffers of fsize samples between the stages

    // Compensation distance: published whole by set_nfcomp, applied by the
    // process thread (which alone touches the filters) at a period start.
    Request<1>   nfreq;
    unsigned     nfack;          // process thread: nfreq count last taken

private:

    Ambbin8 (const Ambbin8&) = delete;
    Ambbin8& operator= (const Ambbin8&) = delete;

    void update_nfcomp (void);
};

#endif
