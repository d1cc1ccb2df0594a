// Cuts a period into chunks on a fixed parameter-step grid that runs on across
// periods: chunk (begin, offset, n) is called for every piece, with begin true
// when the piece starts a new step of step_len samples. step_left carries the
// grid from one period to the next (0 at start, so the first period begins a
// step).

#ifndef VESK_STEPGRID_H
#define VESK_STEPGRID_H


template <class Chunk>
inline void step_grid (int nframes, int step_len, int &step_left, Chunk &&chunk)
{
    int off = 0;
    while (nframes > 0)
    {
        bool begin = (step_left == 0);
        if (begin) step_left = step_len;
        int n = (nframes < step_left) ? nframes : step_left;
        chunk (begin, off, n);
        off += n;
        step_left -= n;
        nframes -= n;
    }
}

#endif
