// Noise weighting filters for the noise meter: Enb20kfilter (fourth-order
// low-pass, 20 kHz equivalent noise bandwidth, unity DC gain), Iec_ACfilter
// (IEC 61672 A and C weightings from one chain) and Itu468filter (ITU-R
// BS.468, optionally 5.6 dB lower for a reading referred to 2 kHz).
// Sample rates 44100, 48000, 88200 and 96000 Hz only; any other rate sets
// bad_rate and the filter outputs silence. Input and output may alias.

#ifndef VESK_WEIGHTING_H
#define VESK_WEIGHTING_H


class Enb20kfilter
{
public:

    Enb20kfilter (void);

    // Returns 0, or 1 (and sets bad_rate) for an unsupported rate.
    int  init (int fsamp);
    void reset (void);
    void process (int n, const float *inp, float *out);

    bool   bad_rate;
    float  k;                    // output gain
    float  a1, a2, a3, a4;       // denominator
    float  w1, w2, w3, w4;       // recursive part, w1 the newest
};


class Iec_ACfilter
{
public:

    Iec_ACfilter (void);

    int  init (int fsamp);
    void reset (void);
    // Either output may be null; the whole chain runs in any case.
    void process (int n, const float *inp, float *outA, float *outC);

    bool   bad_rate;
    float  c1, c2, c3;   // one-pole high-pass coefficients, 20.599, 107.652, 737.862 Hz
    float  c4;           // one-pole coefficient of the two low-pass stages
    float  gA, gC;       // output gains
    float  h1, h2;       // 20.599 Hz high-pass states
    float  h3, h4;       // 107.652 Hz and 737.862 Hz high-pass states
    float  l1, l2;       // low-pass states
};


class Itu468filter
{
public:

    Itu468filter (void);

    // Input gain for a reading referred to 2 kHz: the curve 5.6 dB lower.
    static constexpr float G_REF2K = 0.5239f;

    // ref2k: input gain G_REF2K, else 1.
    int  init (int fsamp, bool ref2k);
    void reset (void);
    void process (int n, const float *inp, float *out);

    bool   bad_rate;
    float  g;                                 // input gain
    float  c0;                                // first-order high-pass
    float  a11, a12, a21, a22, a31, a32;      // feedback of the three all-pole sections
    float  b0, b1, b2;                        // output combination of the last section
    float  s0;                                // first-order state
    float  s11, s12, s21, s22, s31, s32;      // section states, s11, s21, s31 the newest
};

#endif
