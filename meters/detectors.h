// Level detectors of the noise meter, fed one period at a time: RMSdetect
// (mean square, 125 ms or 1 s), VUMdetect (VU ballistics, normal or ten
// times slower) and Itu468detect (the ITU-R 468 two-stage quasi-peak
// rectifier). Each reading() is calibrated so that a steady sine of
// amplitude A reads A. Any sample rate above 0; n >= 0 samples per call.

#ifndef VESK_DETECTORS_H
#define VESK_DETECTORS_H


class RMSdetect
{
public:

    RMSdetect (void);

    int   init (int fsamp, bool slow);
    void  reset (void);
    void  process (int n, const float *p);
    float reading (void) const;

    bool   slow;   // 1 s instead of 125 ms
    float  w;      // 8 / fsamp
    float  m;      // mean square
};


class VUMdetect
{
public:

    VUMdetect (void);

    int   init (int fsamp, bool slow);
    void  reset (void);
    void  process (int n, const float *p);
    float reading (void) const;

    bool   slow;   // ten times slower ballistics
    float  w;      // 10.6 / fsamp
    float  p;      // rectified and averaged
    float  q;      // output state, never below 0
};


class Itu468detect
{
public:

    Itu468detect (void);

    int   init (int fsamp);
    void  reset (void);
    void  process (int n, const float *p);
    float reading (void) const;

    float  a1, r1;   // first stage: attack 670 / fsamp, decay 3.5 / fsamp
    float  a2, r2;   // second stage: attack 6.6 / fsamp, decay 0.65 / fsamp
    float  p;        // first-stage state
    float  q;        // second-stage state, the output
};

#endif
