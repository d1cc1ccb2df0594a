// One slot of the sample-synchronous array player and recorder: an array
// (any stride) played to, or recorded from, one port `nloop` times after
// `nskip` leading samples, with a linear gain. nloop 0: slot unused;
// nloop < 0: repeats until the run is stopped. Empty arrays count as none.

#ifndef VESK_JSDATA_H
#define VESK_JSDATA_H

#include <stddef.h>


// Whatever keeps an array's memory in place while a slot uses it (a held
// Python buffer view, for example). Deleting it lets the memory go; it is
// only ever deleted on the thread that owns the array, never in process.
class Jsholder
{
public:
    virtual ~Jsholder (void) {}
};


class Jsdata
{
public:

    Jsdata (void);
    ~Jsdata (void) { clear (); }

    // Replaces the array and its holder (the old holder is deleted), then
    // stores nloop and nskip. data null or size < 1: no array (the holder is
    // then deleted at once). Control thread, only while no run is going.
    void set (float *data, ptrdiff_t step, int size, Jsholder *view, int nloop, int nskip);
    // Lets go of the array (deletes the holder) and sets data to null.
    void clear (void);

    // Start of a run: position, passes and skip count back to zero.
    void reset (void) { index = 0; cloop = 0; cskip = 0; }

    // Whether the slot still has samples to play or record in this run.
    bool active (void) const { return data && (cloop != nloop); }

    // One period of n samples to or from buffer b, starting at sample offs
    // (the samples before it belong to the time before the run started).
    // output() writes all n samples of b (zeros where nothing plays); input()
    // reads b and writes only the array. Both return 1 if the slot was active
    // at the start of the period, else 0 (b is then zeroed or left alone).
    int output (float *b, int n, int offs);
    int input (const float *b, int n, int offs);

    float      *data;    // first element; null: no array
    ptrdiff_t   step;    // distance between elements, in samples (may be negative)
    int         size;    // number of elements
    int         nloop;   // passes to make; 0 unused, < 0 endless
    int         nskip;   // samples skipped at the start of a run
    int         index;   // next element of the current pass
    int         cloop;   // passes completed (not counted when nloop < 0)
    int         cskip;   // samples skipped so far
    float       gain;    // linear gain when playing or recording
    Jsholder   *view;    // keeps data in place; owned

private:

    Jsdata (const Jsdata&) = delete;
    Jsdata& operator= (const Jsdata&) = delete;

    // Ends a pass when index reaches size; returns true when the last pass is done.
    bool wrap (void);
};

#endif
