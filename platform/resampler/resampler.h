// libvesk-resampler: multichannel sample-rate converter for any pair of
// rates from 4 kHz to 384 kHz, on interleaved float frames: a sharp
// Kaiser-windowed-sinc low-pass applied by FFT in double precision
// (overlap-save, with 2x upsampling unless the output rate is at most half
// the input rate), then a short polyphase stage to the output rate. All
// memory and FFT plans are made in setup(); process() never allocates, locks
// or makes a system call.
//
// hlen sets the length of the sharp filter and with it the bandwidth: it
// spans 8 x hlen samples of the lower of the two rates (hlen in groups of 4
// such samples on either side of its centre), accepted from 4 to 64. The
// stop band (140 dB and more) always starts at half the lower rate, so
// nothing aliases; the transition band below it narrows as hlen grows. With
// hlen = 36 the response is flat within 0.01 dB up to 94 % of the lower
// rate's half and -3 dB at 96.1 %; hlen = 16 gives 86.7 % and 91.2 %.
//
// Output frame n is the band-limited input at input time n x in_rate /
// out_rate: the converter adds no delay but looks ahead, taking up to
// inpdist() input frames (one FFT block and the filters' reach) before an
// output frame appears.

#ifndef VESK_RESAMPLER_H
#define VESK_RESAMPLER_H

#include <stdint.h>


struct fftw_plan_s;


class Resampler
{
public:

    Resampler (void);
    ~Resampler (void);

    // Prepares conversion from in_rate to out_rate (Hz, 4000 to 384000 each)
    // for chan interleaved channels (1 to 100) with filter length hlen
    // (4 to 64). Returns 0, or 1 for a value out of range or no memory (the
    // converter is then cleared). Equal rates are converted too (a delay-free
    // low-pass at 96 % bandwidth), though callers usually copy instead.
    // Plans FFTs: call from one thread at a time, as FFTW requires.
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

    // Input frames that may be taken before the first output frame appears.
    unsigned int inpdist (void) const { return _nchan ? _k1 + _bin + _ntaps / (2 * _U) + 1 : 0; }

    unsigned int  inp_count;   // input frames offered
    unsigned int  out_count;   // output frames wanted
    const float  *inp_data;    // interleaved input, or null for silence
    float        *out_data;    // interleaved output

    enum { MINRATE = 4000, MAXRATE = 384000, MINHLEN = 4, MAXHLEN = 64, MAXCHAN = 100 };

private:

    Resampler (const Resampler&) = delete;
    Resampler& operator= (const Resampler&) = delete;

    void fill (unsigned int k);
    void block (void);

    unsigned int   _nchan;     // channels, 0 when not set up

    // Sharp stage: input at in_rate, output at _U x in_rate, by overlap-save
    // FFT of _fsize points at the output rate (_fsize / _U at the input).
    unsigned int   _U;         // 1 or 2
    unsigned int   _k1;        // filter half length in input samples: _n1 = 2 _k1 _U + 1 taps
    unsigned int   _n1;
    unsigned int   _fsize;     // FFT size at the stage's output rate
    unsigned int   _fin;       // _fsize / _U: input frames per FFT block
    unsigned int   _bin;       // new input frames per block: (_fsize - _n1 + 1) / _U
    unsigned int   _xfill;     // input frames in _xbuf
    float         *_xbuf;      // _nchan x _fin input frames, one channel after the other
    double        *_ftime;     // _fsize samples: FFT input and output
    double        *_fspec;     // _fsize / 2 + 1 complex bins (interleaved re, im)
    double        *_hspec;     // the filter's bins, scaled by 1 / _fsize
    fftw_plan_s   *_plan_r2c;  // _fin real points -> _fspec
    fftw_plan_s   *_plan_c2r;  // _fspec -> _fsize real points

    // Polyphase stage: from _U x in_rate to out_rate with a short kernel.
    unsigned int   _ntaps;     // taps per output frame (multiple of 16)
    unsigned int   _nrow;      // rows of _coef: phases of an input period (+ 1 when interpolating)
    unsigned int   _nphase;    // phases per input period: L (exact) or the table's resolution
    bool           _interp;    // interpolate between adjacent rows (ratio not a small fraction)
    uint32_t       _L;         // out_rate / gcd: output frames per _M stage input frames
    uint32_t       _M;         // _U x in_rate / gcd
    uint32_t       _step;      // _M / _L: whole stage input frames per output frame
    uint32_t       _dphase;    // _M % _L: phase advance per output frame, in units of 1/_L
    uint32_t       _phase;     // phase of the next output frame, 0 .. _L - 1, in units of 1/_L
    unsigned int   _buflen;    // frames per channel in _buff
    unsigned int   _nread;     // buffer index of the first tap of the next output frame
    unsigned int   _nfill;     // frames in the buffer
    float         *_coef;      // _nrow x _ntaps coefficients, row r for phase r / _nphase
    float         *_buff;      // _nchan x _buflen frames of the sharp stage's output
};

#endif
