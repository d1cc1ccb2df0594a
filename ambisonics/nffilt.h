// Near-field compensation of one ambisonic degree l (1 .. 8): a high-pass of
// order l, the bilinear transform of (s/W)^l / theta_l (s/W) with theta_l the
// reverse Bessel polynomial and W = c / r, applied alike to nchan channels.
// init (w) takes w = c / (r fsamp) >= 0; 0 (or NaN) gives the identity.

#ifndef VESK_NFFILT_H
#define VESK_NFFILT_H


class NFfiltbase
{
public:

    enum { MAXORDER = 8 };

    NFfiltbase (int order, int nchan);
    virtual ~NFfiltbase (void);

    // Zeroes the states; the coefficients stay.
    virtual void reset (void);
    // New coefficients for w, then reset ().
    virtual void init (float w) = 0;
    // nframes samples of every channel from inp [c] to out [c] (may be the
    // same buffer), scaled by gain.
    virtual void process (int nframes, float **inp, float **out, float gain) = 0;

    // Sections: index 0 starts the gain product, others multiply into it.
    void init1 (int index, float A);
    void init2 (int index, float P, float Q);

    // The analogue factors of theta_order in section order: (p, q) of every
    // s^2 + p s + q by increasing p, then a of s + a for odd orders. Found
    // from the polynomial's roots in double precision when the library loads.
    static const double *factors (int order);
    // A filter of the given degree for nchan channels; null for degrees
    // outside 1 .. 8.
    static NFfiltbase *create (int degree, int nchan);

    int     order;    // degree l, 1 .. 8
    int     nchan;
    float   gain;     // product of the section gains
    float  *coef;     // two per second-order section, then one for the first-order one
    float  *zstate;   // order states per channel, channel c's from c * order

private:

    NFfiltbase (const NFfiltbase&) = delete;
    NFfiltbase& operator= (const NFfiltbase&) = delete;
};


// The filter of degree L; NFfilt1 .. NFfilt8 below.
template <int L>
class NFfilt : public NFfiltbase
{
public:

    explicit NFfilt (int nchan) : NFfiltbase (L, nchan) {}

    void init (float w) override;
    void process (int nframes, float **inp, float **out, float gain) override;
};

typedef NFfilt<1> NFfilt1;
typedef NFfilt<2> NFfilt2;
typedef NFfilt<3> NFfilt3;
typedef NFfilt<4> NFfilt4;
typedef NFfilt<5> NFfilt5;
typedef NFfilt<6> NFfilt6;
typedef NFfilt<7> NFfilt7;
typedef NFfilt<8> NFfilt8;

#endif
