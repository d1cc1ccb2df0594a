// Lr4filter: fourth-order crossover filter, used either as low-pass or as
// high-pass (both uses share the state). Frequency as a fraction of the sample
// rate, 1e-6 to 0.48; shape = attenuation at that frequency, -6 dB
// (Linkwitz-Riley) to -3 dB (Butterworth). Values outside clamp to the ends.

#ifndef VESK_LR4FILTER_H
#define VESK_LR4FILTER_H


class Lr4filter
{
public:

    Lr4filter (void);

    // New coefficients; the states are kept so a running filter does not
    // restart. NaN in either argument changes nothing.
    void setpars (float f, float s);
    // inp and out may be the same buffer.
    void process_lopass (int n, const float *inp, float *out);
    void process_hipass (int n, const float *inp, float *out);
    void reset (void);
    // High-pass hp, then low-pass lp, sample by sample in one pass: the same
    // result as process_hipass followed by process_lopass, with the four
    // sections' recursions overlapping.
    static void process_band (Lr4filter &hp, Lr4filter &lp, int n, const float *inp, float *out);
    // nch channels at once, each from inp [i] to out [i] through hp [i]
    // (mode 1), lp [i] (mode 2) or both (mode 3), side by side in vector
    // lanes at the given level (simdlevel.h): the same results as the calls
    // above, channel by channel. out [i] may be inp [i], but no other input.
    static void process_multi (int simd, int mode, int n, int nch, Lr4filter *const *hp, Lr4filter *const *lp,
                               const float *const *inp, float *const *out);

    float  a0, a1, a2, a3;   // section coefficients
    float  g;                // input gain of the high-pass use, 1 / (D1 D2)
    float  s1, s2, s3, s4;   // states
};

#endif
