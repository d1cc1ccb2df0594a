// Binconv: renders an ambisonic signal set of degree 0 .. 8 to two ears by
// uniformly partitioned convolution (partition = period, fsize >= 1), one
// left-ear filter of up to 2048 samples per ACN channel; the right ear takes
// the same filters with the channels of negative order m negated.
// Fdata: the spectra of one filter or of one channel's input history.

#ifndef VESK_BINCONV_H
#define VESK_BINCONV_H

#include <atomic>
#include <fftw3.h>


class Fdata
{
public:

    Fdata (int nparts, int nbin);
    ~Fdata (void);

    // Zeroes every partition; nact = 0.
    void clear (void);

    int              nparts;
    int              nact;     // partitions holding filter data (filters only)
    int              nbin;
    fftwf_complex  **parts;    // nparts spectra of nbin bins, from fftwf_malloc

private:

    Fdata (const Fdata&) = delete;
    Fdata& operator= (const Fdata&) = delete;
};


class Binconv
{
public:

    enum { MAXCH = 81, MAXLEN = 2048, NTAB = 3 };

    // degree clamps to 0 .. 8, maxlen to 1 .. 2048, fsize to at least 1.
    Binconv (int degree, int maxlen, int fsize);
    ~Binconv (void);

    // Control thread (one at a time). Loads the left-ear response of channel index: len
    // samples data [0], data [step], ... times gain (at most nparts * fsize
    // of them); data null or len <= 0 clears it. The filter is prepared in a
    // spare table and replaces the old one whole at the start of the next
    // period. Returns 1 for an index outside 0 .. nch-1, else 0.
    int  setimp (int index, float gain, const float *data, int len, int step);
    // Process thread: fsize samples of each of the nch inputs to out [0]
    // (left) and out [1] (right).
    void process (float **inp, float **out);
    // One channel's contribution to the accumulator acc.
    void convadd (float *inp, int index, fftwf_complex *acc);
    // Zeroes the input histories and overlaps; the filters stay. Not while
    // process runs.
    void reset (void);

    int              degree;
    int              nch;       // (degree + 1)^2
    int              maxlen;
    int              fsize;     // partition size
    int              fftsize;   // 2 fsize
    int              nbin;      // fsize + 1
    int              nparts;    // partitions per filter
    int              ipart;     // history slot of the present input block
    float           *tbuf;      // staging of filter partitions (control thread)
    float           *tdata1;    // time-domain work, symmetric group
    float           *tdata2;    // time-domain work, antisymmetric group
    fftwf_complex   *facc [2];  // accumulators: [0] symmetric, [1] antisymmetric
    float           *ovl1;      // overlaps carried to the next period
    float           *ovl2;
    fftwf_plan       plan_r2c;  // tdata1 -> facc [0]
    fftwf_plan       plan_c2r;  // facc [0] -> tdata1
    Fdata           *filt [MAXCH];   // process thread: the filter in use per channel
    Fdata           *hist [MAXCH];   // process thread: input spectra per channel

    // Filter replacement without a lock: a triple buffer per channel. Of
    // the three tables, setimp owns one (fback) and fills it; the process
    // thread owns one (ffront, read through filt); the third sits in fslot.
    // setimp publishes its table by exchanging it into fslot with the FRESH
    // mark and takes back what was there; at a period start the process
    // thread, seeing FRESH, exchanges its own table in and takes the new
    // one. Each table has one owner at a time, so no table is ever read
    // while it is written, and neither side waits.
    enum { FRESH = 4 };
    Fdata             *ftab [MAXCH][NTAB];
    int                fback [MAXCH];    // setimp's table
    int                ffront [MAXCH];   // process thread's table
    std::atomic<int>   fslot [MAXCH];    // the third table, | FRESH when published and not yet taken (acq_rel exchanges)

private:

    Binconv (const Binconv&) = delete;
    Binconv& operator= (const Binconv&) = delete;

    void take_filters (void);
};

#endif
