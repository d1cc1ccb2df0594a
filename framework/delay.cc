// Single-channel delay line with a guard area.

#include <string.h>
#include "delay.h"


Delay::Delay (void) :
    size (0),
    frag (0),
    wind (0),
    buff (nullptr)
{
}


Delay::~Delay (void)
{
    delete[] buff;
}


void Delay::init (int maxdel, int frag_)
{
    delete[] buff;
    buff = nullptr;
    if (maxdel < 0) maxdel = 0;
    frag = (frag_ > 0) ? frag_ : 1;
    // One block more than the largest delay needs, so that the block being
    // read never overlaps the one being written.
    size = frag * ((maxdel - 1) / frag + 2);
    buff = new float [size + frag];
    reset ();
}


void Delay::reset (void)
{
    wind = 0;
    if (buff) memset (buff, 0, (size + frag) * sizeof (float));
}


void Delay::write (const float *src)
{
    wind += frag;
    if (wind == size)
    {
        memcpy (buff + size, src, frag * sizeof (float));
        wind = 0;
    }
    memcpy (buff + wind, src, frag * sizeof (float));
}
