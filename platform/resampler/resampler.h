// libvesk-resampler: multichannel sample-rate converter, a polyphase
// windowed-sinc (Kaiser) filter for any pair of rates from 4 kHz to 384 kHz,
// on interleaved float frames. All memory is taken in setup(); process()
// never allocates, locks or makes a system call.
//
// hlen sets the filter length and with it the bandwidth: the filter spans
// 8 x hlen samples of the lower of the two rates (hlen in groups of 4 such
// samples on either side of its centre), accepted from 4 to 64. The stop band
// (140 dB and more) always starts at half the lower rate, so nothing aliases;
// the transition band below it narrows as hlen grows. With hlen = 36 the
// response is flat within 0.01 dB up to 94 % of the lower rate's half and
// -3 dB at 96.1 %; hlen = 16 gives 86.7 % and 91.2 %.
//
// Output frame n is the band-limited input at input time n x in_rate /
// out_rate: the converter adds no delay but looks ahead, so it takes about
// 4 x hlen input frames (of the lower rate) before its first output frame.

#ifndef VESK_RESAMPLER_H
#define VESK_RESAMPLER_H

#include <stdint.h>


class Resampler
{
public:

    Resampler (void);
    ~Resampler (void);

    // Prepares conversion from in_rate to out_rate (Hz, 4000 to 384000 each)
    // for chan interleaved channels (1 to 100) with filter length hlen
    // (4 to 64). Returns 0, or 1 for a value out of range or no memory (the
    // converter is then cleared). Equal rates are converted too (a delay-free
    // low-pass at 100 % bandwidth), though callers usually copy instead.
    int  setup (unsigned int in_rate, unsigned int out_rate, unsigned int chan, unsigned int hlen);
    // Releases the set-up: process() does nothing until the next setup().
    void clear (void);
    // Restarts the set-up conversion from silence, as just after setup().
    void reset (void);
    // Converts until inp_count or out_count reaches 0: takes up to inp_count
    // frames at inp_data (or silence when inp_data is null), writes up to
    // out_count frames at out_data, and lowers the counts and advances the
    // pointers by what was taken and written (a null inp_data is not
    // advanced). Returns 0, or 1 when not set up (nothing changes then).
    int  process (void);

    // Number of filter taps per output frame, in input samples.
    unsigned int ntaps (void) const { return _ntaps; }
    // Input frames taken before the first output frame appears (the look-ahead).
    unsigned int inpdist (void) const { return _ntaps / 2; }

    unsigned int  inp_count;   // input frames offered
    unsigned int  out_count;   // output frames wanted
    const float  *inp_data;    // interleaved input, or null for silence
    float        *out_data;    // interleaved output

    enum { MINRATE = 4000, MAXRATE = 384000, MINHLEN = 4, MAXHLEN = 64, MAXCHAN = 100 };

private:

    Resampler (const Resampler&) = delete;
    Resampler& operator= (const Resampler&) = delete;

    void fill (unsigned int k);
    void output (unsigned int k);

    unsigned int   _nchan;     // channels, 0 when not set up
    unsigned int   _ntaps;     // taps per output frame (multiple of 16)
    unsigned int   _nrow;      // rows of _coef: phases of an input period (+ 1 when interpolating)
    unsigned int   _nphase;    // phases per input period: L (exact) or the table's resolution
    bool           _interp;    // interpolate between adjacent rows (ratio not a small fraction)
    uint32_t       _L;         // out_rate / gcd: output frames per _M input frames
    uint32_t       _M;         // in_rate / gcd
    uint32_t       _step;      // _M / _L: whole input frames per output frame
    uint32_t       _dphase;    // _M % _L: phase advance per output frame, in units of 1/_L
    uint32_t       _phase;     // phase of the next output frame, 0 .. _L - 1, in units of 1/_L
    unsigned int   _buflen;    // frames per channel in _buff
    unsigned int   _nread;     // buffer index of the first tap of the next output frame
    unsigned int   _nfill;     // frames in the buffer
    float         *_coef;      // _nrow x _ntaps coefficients, row r for phase r / _nphase
    float         *_buff;      // _nchan x _buflen input frames, one channel after the other
};

#endif
