// Running minimum of the last hlen values written (hlen 1 to 32), for the
// peak limiter's gain trackers. One comparison per write, except when the
// minimum leaves the window and the window is scanned again.

#ifndef VESK_HISTMIN_H
#define VESK_HISTMIN_H


class Histmin
{
public:

    enum { SIZE = 32 };

    Histmin (void) { init (1); }

    // Window of n values (limited to 1..32), all 1.0.
    void init (int n);
    // Adds v to the window and returns the minimum of the window.
    float write (float v);

    int    hlen;          // window length in values
    int    hold;          // further writes for which vmin stays valid
    int    wind;          // next write position in hist
    float  vmin;          // current minimum
    float  hist [SIZE];   // the last 32 values written
};

#endif
