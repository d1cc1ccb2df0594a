// Running minimum over a short window.

#include "histmin.h"


void Histmin::init (int n)
{
    if (n < 1) n = 1;
    if (n > SIZE) n = SIZE;
    hlen = n;
    hold = n;
    wind = 0;
    vmin = 1.0f;
    for (int i = 0; i < SIZE; i++) hist [i] = 1.0f;
}


float Histmin::write (float v)
{
    int  i, j;

    hist [wind] = v;
    if (v <= vmin)
    {
        // A new minimum, or a tie: the newest value stays longest.
        vmin = v;
        hold = hlen;
    }
    else if (--hold == 0)
    {
        // The minimum has left the window: scan the hlen - 1 older values,
        // oldest first. Strictly smaller values win, so among equal minima
        // the oldest is taken, and v wins against older values equal to it.
        vmin = v;
        hold = hlen;
        j = wind - hlen + 1;
        for (i = 1; i < hlen; i++, j++)
        {
            const float x = hist [j & (SIZE - 1)];
            if (x < vmin)
            {
                vmin = x;
                hold = i;
            }
        }
    }
    wind = (wind + 1) & (SIZE - 1);
    return vmin;
}
