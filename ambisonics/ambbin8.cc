// Ambbin8: rotation, near-field compensation and binaural convolution in one
// period.

#include <math.h>
#include <string.h>
#include "ambbin8.h"


Ambbin8::Ambbin8 (int fsamp_, int degree_, int maxlen, int fsize_) :
    fsamp (fsamp_),
    nfcomp (false),
    rotator (nullptr),
    binconv (nullptr),
    nfack (0)
{
    for (int d = 0; d < 8; d++) nffilt [d] = nullptr;
    for (int i = 0; i < 81; i++) bufs [i] = nullptr;
    degree = degree_ < 1 ? 1 : (degree_ > 8 ? 8 : degree_);
    fsize = fsize_ < 1 ? 1 : fsize_;
    nch = (degree + 1) * (degree + 1);
    rotator = new Ambrot8 (fsamp, degree);
    binconv = new Binconv (degree, maxlen, fsize);
    for (int i = 0; i < nch; i++)
    {
        bufs [i] = new float [fsize];
        memset (bufs [i], 0, fsize * sizeof (float));
    }
    for (int d = degree; d >= 1; d--) nffilt [d - 1] = NFfiltbase::create (d, 2 * d + 1);
}


Ambbin8::~Ambbin8 (void)
{
    for (int i = 0; i < 81; i++) delete[] bufs [i];
    for (int d = 0; d < 8; d++) delete nffilt [d];
    delete rotator;
    delete binconv;
}


void Ambbin8::set_nfcomp (float distance)
{
    if (isnan (distance)) return;
    nfreq.publish (&distance);
}


void Ambbin8::update_nfcomp (void)
{
    float distance;
    if (!nfreq.take (nfack, &distance)) return;
    if (distance > 20)
    {
        for (int d = 0; d < degree; d++) nffilt [d]->reset ();
        nfcomp = false;
    }
    else
    {
        // Speed of sound 343 m/s.
        float w = 343.0f / (fsamp * fmaxf (distance, 0.5f));
        for (int d = 0; d < degree; d++) nffilt [d]->init (w);
        nfcomp = true;
    }
}


void Ambbin8::process (int nframes, float **inp, float **out)
{
    if (nframes <= 0 || nframes % fsize)
    {
        memset (out [0], 0, (nframes > 0 ? nframes : 0) * sizeof (float));
        memset (out [1], 0, (nframes > 0 ? nframes : 0) * sizeof (float));
        return;
    }
    if (nfreq.pending (nfack)) update_nfcomp ();
    for (int off = 0; off < nframes; off += fsize)
    {
        float *ip [81], *op [2] = { out [0] + off, out [1] + off };
        for (int i = 0; i < nch; i++) ip [i] = inp [i] + off;
        rotator->process (fsize, ip, bufs);
        if (nfcomp)
        {
            for (int d = 1; d <= degree; d++) nffilt [d - 1]->process (fsize, bufs + d * d, bufs + d * d, 1.0f);
        }
        binconv->process (bufs, op);
    }
}
