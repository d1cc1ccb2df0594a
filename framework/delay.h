// Single-channel delay line that works one JACK period (frag samples) at a
// time. After write(), readp(d) points to frag contiguous samples delayed by
// d samples, 0 <= d <= size - frag (at least maxdel), even across the ring's
// end: a guard area after the ring mirrors its first block.

#ifndef VESK_DELAY_H
#define VESK_DELAY_H


class Delay
{
public:

    Delay (void);
    ~Delay (void);

    // Allocates a zeroed ring for delays up to maxdel samples in blocks of frag.
    void init (int maxdel, int frag);
    void reset (void);
    // Stores one block of frag samples; call exactly once per period.
    void write (const float *src);
    // The block written last, delayed by d samples.
    const float *readp (int d) const
    {
        int i = wind - d;
        if (i < 0) i += size;
        return buff + i;
    }

    int     size;   // ring length, a multiple of frag
    int     frag;   // block length (the period size)
    int     wind;   // start of the block written last
    float  *buff;   // size + frag samples: the ring, then the guard area

private:

    Delay (const Delay&) = delete;
    Delay& operator= (const Delay&) = delete;
};

#endif
