// Binconv: partitioned frequency-domain convolution of every ambisonic
// channel, summed into a symmetric and an antisymmetric group.

#include <string.h>
#include "binconv.h"


Fdata::Fdata (int nparts_, int nbin_) :
    nparts (nparts_),
    nact (0),
    nbin (nbin_),
    parts (nullptr)
{
    parts = new fftwf_complex * [nparts];
    for (int i = 0; i < nparts; i++) parts [i] = nullptr;
    for (int i = 0; i < nparts; i++) parts [i] = (fftwf_complex *) fftwf_malloc (nbin * sizeof (fftwf_complex));
    clear ();
}


Fdata::~Fdata (void)
{
    for (int i = 0; i < nparts; i++) fftwf_free (parts [i]);
    delete[] parts;
}


void Fdata::clear (void)
{
    for (int i = 0; i < nparts; i++) memset (parts [i], 0, nbin * sizeof (fftwf_complex));
    nact = 0;
}


Binconv::Binconv (int degree_, int maxlen_, int fsize_) :
    tbuf (nullptr),
    tdata1 (nullptr),
    tdata2 (nullptr),
    ovl1 (nullptr),
    ovl2 (nullptr),
    plan_r2c (nullptr),
    plan_c2r (nullptr)
{
    facc [0] = facc [1] = nullptr;
    for (int i = 0; i < MAXCH; i++)
    {
        filt [i] = hist [i] = nullptr;
        for (int t = 0; t < NTAB; t++) ftab [i][t] = nullptr;
        ffront [i] = 0;
        fslot [i].store (1, std::memory_order_relaxed);
        fback [i] = 2;
    }
    degree = degree_ < 0 ? 0 : (degree_ > 8 ? 8 : degree_);
    nch = (degree + 1) * (degree + 1);
    maxlen = maxlen_ < 1 ? 1 : (maxlen_ > MAXLEN ? MAXLEN : maxlen_);
    fsize = fsize_ < 1 ? 1 : fsize_;
    fftsize = 2 * fsize;
    nbin = fsize + 1;
    nparts = (fsize + maxlen - 1) / fsize;
    ipart = 0;

    tbuf = (float *) fftwf_malloc (fftsize * sizeof (float));
    tdata1 = (float *) fftwf_malloc (fftsize * sizeof (float));
    tdata2 = (float *) fftwf_malloc (fftsize * sizeof (float));
    facc [0] = (fftwf_complex *) fftwf_malloc (nbin * sizeof (fftwf_complex));
    facc [1] = (fftwf_complex *) fftwf_malloc (nbin * sizeof (fftwf_complex));
    ovl1 = new float [fsize];
    ovl2 = new float [fsize];
    // Planning may overwrite the arrays it is given: done before any data is in them.
    plan_r2c = fftwf_plan_dft_r2c_1d (fftsize, tdata1, facc [0], FFTW_MEASURE);
    plan_c2r = fftwf_plan_dft_c2r_1d (fftsize, facc [0], tdata1, FFTW_MEASURE);
    for (int i = 0; i < nch; i++)
    {
        for (int t = 0; t < NTAB; t++) ftab [i][t] = new Fdata (nparts, nbin);
        filt [i] = ftab [i][0];
        hist [i] = new Fdata (nparts, nbin);
    }
    memset (ovl1, 0, fsize * sizeof (float));
    memset (ovl2, 0, fsize * sizeof (float));
}


Binconv::~Binconv (void)
{
    if (plan_r2c) fftwf_destroy_plan (plan_r2c);
    if (plan_c2r) fftwf_destroy_plan (plan_c2r);
    for (int i = 0; i < MAXCH; i++)
    {
        for (int t = 0; t < NTAB; t++) delete ftab [i][t];
        delete hist [i];
    }
    fftwf_free (tbuf);
    fftwf_free (tdata1);
    fftwf_free (tdata2);
    fftwf_free (facc [0]);
    fftwf_free (facc [1]);
    delete[] ovl1;
    delete[] ovl2;
}


int Binconv::setimp (int index, float gain, const float *data, int len, int step)
{
    if (index < 0 || index >= nch) return 1;
    Fdata *F = ftab [index][fback [index]];
    F->clear ();
    if (data && len > 0)
    {
        float s = gain / fftsize;
        int p = 0;
        while (p < nparts && len > 0)
        {
            int k = len < fsize ? len : fsize;
            for (int j = 0; j < k; j++) tbuf [j] = data [(long) j * step] * s;
            memset (tbuf + k, 0, (fftsize - k) * sizeof (float));
            fftwf_execute_dft_r2c (plan_r2c, tbuf, F->parts [p]);
            p++;
            data += (long) k * step;
            len -= k;
        }
        F->nact = p;
    }
    // Publishes the filled table (release) and takes the one that was
    // waiting, which nobody reads any more (acquire).
    fback [index] = fslot [index].exchange (fback [index] | FRESH, std::memory_order_acq_rel) & 3;
    return 0;
}


// At the start of a period every channel with a new filter takes it, and
// leaves its old table for setimp to fill next.
void Binconv::take_filters (void)
{
    for (int i = 0; i < nch; i++)
    {
        if (fslot [i].load (std::memory_order_relaxed) & FRESH)
        {
            ffront [i] = fslot [i].exchange (ffront [i], std::memory_order_acq_rel) & 3;
            filt [i] = ftab [i][ffront [i]];
        }
    }
}


void Binconv::convadd (float *inp, int index, fftwf_complex *acc)
{
    memcpy (tdata1, inp, fsize * sizeof (float));
    memset (tdata1 + fsize, 0, fsize * sizeof (float));
    fftwf_execute_dft_r2c (plan_r2c, tdata1, hist [index]->parts [ipart]);

    const Fdata *F = filt [index];
    float *a = (float *) acc;
    int k = ipart;
    for (int p = 0; p < F->nact; p++)
    {
        const float *f = (const float *) F->parts [p];
        const float *h = (const float *) hist [index]->parts [k];
        for (int b = 0; b < 2 * nbin; b += 2)
        {
            float fr = f [b], fi = f [b + 1], hr = h [b], hi = h [b + 1];
            a [b] += fr * hr - fi * hi;
            a [b + 1] += fr * hi + fi * hr;
        }
        k = k ? k - 1 : nparts - 1;
    }
}


void Binconv::process (float **inp, float **out)
{
    take_filters ();
    memset (facc [0], 0, nbin * sizeof (fftwf_complex));
    memset (facc [1], 0, nbin * sizeof (fftwf_complex));
    // Channel l^2 + l + m is symmetric for m >= 0, antisymmetric for m < 0.
    for (int l = 0, i = 0; i < nch; l++)
    {
        for (int m = -l; m <= l; m++, i++) convadd (inp [i], i, facc [m < 0 ? 1 : 0]);
    }
    fftwf_execute_dft_c2r (plan_c2r, facc [0], tdata1);
    fftwf_execute_dft_c2r (plan_c2r, facc [1], tdata2);
    float *L = out [0], *R = out [1];
    for (int n = 0; n < fsize; n++)
    {
        float s = ovl1 [n] + tdata1 [n];
        float a = ovl2 [n] + tdata2 [n];
        L [n] = s + a;
        R [n] = s - a;
    }
    memcpy (ovl1, tdata1 + fsize, fsize * sizeof (float));
    memcpy (ovl2, tdata2 + fsize, fsize * sizeof (float));
    if (++ipart == nparts) ipart = 0;
}


void Binconv::reset (void)
{
    for (int i = 0; i < nch; i++) hist [i]->clear ();
    memset (ovl1, 0, fsize * sizeof (float));
    memset (ovl2, 0, fsize * sizeof (float));
    ipart = 0;
}
