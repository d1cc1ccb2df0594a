// Playback and recording slot of the sample-synchronous player.

#include <string.h>
#include "jsdata.h"


Jsdata::Jsdata (void) :
    data (nullptr),
    step (0),
    size (0),
    nloop (0),
    nskip (0),
    index (0),
    cloop (0),
    cskip (0),
    gain (1.0f),
    view (nullptr)
{
}


void Jsdata::clear (void)
{
    delete view;
    view = nullptr;
    data = nullptr;
    step = 0;
    size = 0;
}


void Jsdata::set (float *d, ptrdiff_t s, int n, Jsholder *v, int nl, int ns)
{
    clear ();
    if (d && (n > 0))
    {
        data = d;
        step = s;
        size = n;
        view = v;
    }
    else delete v;
    nloop = nl;
    nskip = ns;
    reset ();
}


bool Jsdata::wrap (void)
{
    if (index < size) return false;
    index = 0;
    // An endless slot never counts, so its count can never wrap around.
    if (nloop < 0) return false;
    return ++cloop == nloop;
}


int Jsdata::output (float *b, int n, int offs)
{
    int  i, k;

    if (!active ())
    {
        memset (b, 0, n * sizeof (float));
        return 0;
    }
    // Zeros before the trigger, then while leading samples are skipped.
    i = offs;
    if (i > n) i = n;
    memset (b, 0, i * sizeof (float));
    if (cskip < nskip)
    {
        k = n - i;
        if (k > nskip - cskip) k = nskip - cskip;
        memset (b + i, 0, k * sizeof (float));
        cskip += k;
        i += k;
    }
    while (i < n)
    {
        k = size - index;
        if (k > n - i) k = n - i;
        if (step == 1)
        {
            const float *p = data + index;
            for (int j = 0; j < k; j++) b [i + j] = gain * p [j];
        }
        else
        {
            for (int j = 0; j < k; j++) b [i + j] = gain * data [(ptrdiff_t)(index + j) * step];
        }
        i += k;
        index += k;
        if (wrap ())
        {
            memset (b + i, 0, (n - i) * sizeof (float));
            break;
        }
    }
    return 1;
}


int Jsdata::input (const float *b, int n, int offs)
{
    int  i, k;

    if (!active ()) return 0;
    i = offs;
    if (i > n) i = n;
    if (cskip < nskip)
    {
        k = n - i;
        if (k > nskip - cskip) k = nskip - cskip;
        cskip += k;
        i += k;
    }
    while (i < n)
    {
        k = size - index;
        if (k > n - i) k = n - i;
        if (step == 1)
        {
            float *p = data + index;
            for (int j = 0; j < k; j++) p [j] = gain * b [i + j];
        }
        else
        {
            for (int j = 0; j < k; j++) data [(ptrdiff_t)(index + j) * step] = gain * b [i + j];
        }
        i += k;
        index += k;
        if (wrap ()) break;
    }
    return 1;
}
