// Bp6filter: octave or third-octave band filter from a fixed table record
// (sixth-order band-pass, or fourth-order high-pass for bands whose upper
// edge lies above the Nyquist frequency). Tables exist for 44100, 48000,
// 88200, 96000 and 192000 Hz; bp6_tables() finds them.

#ifndef VESK_BP6FILTER_H
#define VESK_BP6FILTER_H

#include <stdint.h>


// One band at one rate. With Di = (z-1)^2 + c(2i-1) (z-1) + c(2i):
//   form 0: gain (z-1)^3 (z+1)^3 / (D1 D2 D3)
//   form 1: gain (z-1)^4 (z+1)^2 / (D1 D2 D3)   (bands close to Nyquist)
//   form 2: gain (z-1)^4 / (D1 D2)              (upper edge above Nyquist)
struct Bp6param
{
    int32_t  form;
    float    gain;
    float    c1, c2;
    float    c3, c4;
    float    c5, c6;
};

struct Bp6table
{
    float            fsamp;
    int32_t          nband;    // 10 octave or 31 third-octave bands
    const Bp6param  *param;    // by rising frequency
};

// Octave bands k = 0 .. 9, centre 1000 * 2^(k - 5) Hz.
extern const Bp6table Oct1filt44, Oct1filt48, Oct1filt88, Oct1filt96, Oct1filt192;
// Third-octave bands k = 0 .. 30, centre 1000 * 10^((k - 17) / 10) Hz.
extern const Bp6table Oct3filt44, Oct3filt48, Oct3filt88, Oct3filt96, Oct3filt192;

// The octave and third-octave tables for a sample rate; returns -1 (and
// nulls) when the rate has none.
int bp6_tables (int fsamp, const Bp6table **oct1, const Bp6table **oct3);


class Bp6filter
{
public:

    Bp6filter (void);

    // A new record restarts the filter from zero state; the same one does nothing.
    void setparam (const Bp6param *p);
    void reset (void);
    // With no record, writes n zeros. inp and out may be the same buffer.
    void process (int n, const float *inp, float *out);
    // nch filters at once, F [i] from inp [i] to out [i], side by side in
    // vector lanes at the given level (simdlevel.h): the same results as
    // process, filter by filter. out [i] may be inp [i], but no other input.
    static void process_multi (int simd, int n, int nch, Bp6filter *const *F, const float *const *inp, float *const *out);

    const Bp6param  *param;   // null: off
    double           z1, z2, z3, z4, z5, z6;
};

#endif
