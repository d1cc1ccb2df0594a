// Bw8filter: eighth-order Butterworth filter (four state-variable sections),
// used either as low-pass or as high-pass (both uses share the state).
// Frequency as a fraction of the sample rate, clamped to 1e-6 .. 0.48 so that
// the filter stays stable whatever is asked (at and above half the sample
// rate the tangent of the bilinear prewarp would leave its range).

#ifndef VESK_BW8FILTER_H
#define VESK_BW8FILTER_H


class Bw8filter
{
public:

    static constexpr float FMIN = 1e-6f;
    static constexpr float FMAX = 0.48f;

    Bw8filter (void);

    // New coefficients for frequency f; the states are kept. NaN changes nothing.
    void init (float f);
    // Section i (0 .. 3) from tangent t and damping d; divides g by its D.
    void init1 (int i, float t, float d);
    // inp and out may be the same buffer.
    void prochighpass (int n, const float *inp, float *out, float gain);
    void proclowpass (int n, const float *inp, float *out, float gain);
    void reset (void);
    // High-pass hp, then low-pass lp, in one pass: the same result as
    // prochighpass followed by proclowpass (gain 1), with the eight
    // sections' recursions overlapping.
    static void procbandpass (Bw8filter &hp, Bw8filter &lp, int n, const float *inp, float *out);
    // nch channels at once at gain 1, through hp [i] (mode 1), lp [i]
    // (mode 2) or both (mode 3), side by side in vector lanes at the given
    // level (simdlevel.h): the same results as the calls above. out [i] may
    // be inp [i], but no other input.
    static void process_multi (int simd, int mode, int n, int nch, Bw8filter *const *hp, Bw8filter *const *lp,
                               const float *const *inp, float *const *out);

    float  s [8];   // states, two per section
    float  c [8];   // coefficients, two per section
    float  k [4];   // low-pass section gains, c(2i) c(2i+1) / 4
    float  g;       // input gain of the high-pass use
};

#endif
