// Lane kernels of the crossover, Butterworth and band filters and of the
// equaliser: each runs the plain code's recursion of its class on a group of
// channels, one channel per lane. Included by filtlanes_avx2.cc and
// filtlanes_avx512.cc after lanes.h, inside their namespace.


// ---- Lr4filter: MODE 1 high-pass, 2 low-pass, 3 high-pass then low-pass.

template <int NL_, int MODE>
struct Lr4lanes
{
    enum { NL = NL_, NV = NL_ / W };

    Lr4filter *const *hp;
    Lr4filter *const *lp;
    vf g [NV], b0 [NV], b1 [NV], b2 [NV], b3 [NV];
    vf a0 [NV], a1 [NV], a2 [NV], a3 [NV], k1 [NV], k2 [NV];
    vf h1 [NV], h2 [NV], h3 [NV], h4 [NV];
    vf l1 [NV], l2 [NV], l3 [NV], l4 [NV];

    void load (int c0, int nl)
    {
        if (MODE & 1)
        {
            Lr4filter *const *F = hp + c0;
            gather <NV> (g,  nl, [&] (int j) -> float & { return F [j]->g; });
            gather <NV> (b0, nl, [&] (int j) -> float & { return F [j]->a0; });
            gather <NV> (b1, nl, [&] (int j) -> float & { return F [j]->a1; });
            gather <NV> (b2, nl, [&] (int j) -> float & { return F [j]->a2; });
            gather <NV> (b3, nl, [&] (int j) -> float & { return F [j]->a3; });
            gather <NV> (h1, nl, [&] (int j) -> float & { return F [j]->s1; });
            gather <NV> (h2, nl, [&] (int j) -> float & { return F [j]->s2; });
            gather <NV> (h3, nl, [&] (int j) -> float & { return F [j]->s3; });
            gather <NV> (h4, nl, [&] (int j) -> float & { return F [j]->s4; });
        }
        if (MODE & 2)
        {
            Lr4filter *const *F = lp + c0;
            gather <NV> (a0, nl, [&] (int j) -> float & { return F [j]->a0; });
            gather <NV> (a1, nl, [&] (int j) -> float & { return F [j]->a1; });
            gather <NV> (a2, nl, [&] (int j) -> float & { return F [j]->a2; });
            gather <NV> (a3, nl, [&] (int j) -> float & { return F [j]->a3; });
            gather <NV> (l1, nl, [&] (int j) -> float & { return F [j]->s1; });
            gather <NV> (l2, nl, [&] (int j) -> float & { return F [j]->s2; });
            gather <NV> (l3, nl, [&] (int j) -> float & { return F [j]->s3; });
            gather <NV> (l4, nl, [&] (int j) -> float & { return F [j]->s4; });
            const vf q = vf_set (0.25f);
            for (int i = 0; i < NV; i++)
            {
                k1 [i] = a0 [i] * a1 [i] * q;
                k2 [i] = a2 [i] * a3 [i] * q;
            }
        }
    }

    void save (int c0, int nl)
    {
        if (MODE & 1)
        {
            Lr4filter *const *F = hp + c0;
            scatter <NV> (h1, nl, [&] (int j) -> float & { return F [j]->s1; });
            scatter <NV> (h2, nl, [&] (int j) -> float & { return F [j]->s2; });
            scatter <NV> (h3, nl, [&] (int j) -> float & { return F [j]->s3; });
            scatter <NV> (h4, nl, [&] (int j) -> float & { return F [j]->s4; });
        }
        if (MODE & 2)
        {
            Lr4filter *const *F = lp + c0;
            scatter <NV> (l1, nl, [&] (int j) -> float & { return F [j]->s1; });
            scatter <NV> (l2, nl, [&] (int j) -> float & { return F [j]->s2; });
            scatter <NV> (l3, nl, [&] (int j) -> float & { return F [j]->s3; });
            scatter <NV> (l4, nl, [&] (int j) -> float & { return F [j]->s4; });
        }
    }

    void run (int m, float *L)
    {
        const vf e = vf_set (1e-20f);
        for (int n = 0; n < m; n++)
        {
            for (int i = 0; i < NV; i++)
            {
                float *p = L + n * NL + i * W;
                vf x = vf_load (p);
                if (MODE & 1)
                {
                    vf u1 = g [i] * x - ((h1 [i] + h2 [i]) + e);
                    vf u2 = u1 - ((h3 [i] + h4 [i]) + e);
                    h2 [i] = h2 [i] + b1 [i] * h1 [i];
                    h1 [i] = h1 [i] + b0 [i] * u1;
                    h4 [i] = h4 [i] + b3 [i] * h3 [i];
                    h3 [i] = h3 [i] + b2 [i] * u2;
                    x = u2;
                }
                if (MODE & 2)
                {
                    vf v1 = x - ((l1 [i] + l2 [i]) + e);
                    l2 [i] = l2 [i] + a1 [i] * l1 [i];
                    l1 [i] = l1 [i] + a0 [i] * v1;
                    vf y1 = k1 [i] * v1 + l2 [i];
                    vf v2 = y1 - ((l3 [i] + l4 [i]) + e);
                    l4 [i] = l4 [i] + a3 [i] * l3 [i];
                    l3 [i] = l3 [i] + a2 [i] * v2;
                    x = k2 [i] * v2 + l4 [i];
                }
                vf_store (p, x);
            }
        }
    }
};


void lr4_multi (int mode, int n, int nch, Lr4filter *const *hp, Lr4filter *const *lp,
                const float *const *inp, float *const *out)
{
    switch (mode)
    {
    case 1: { Lr4lanes <16, 1> k; k.hp = hp; k.lp = lp; run_lanes (k, n, nch, inp, out); break; }
    case 2: { Lr4lanes <16, 2> k; k.hp = hp; k.lp = lp; run_lanes (k, n, nch, inp, out); break; }
    case 3: { Lr4lanes <16, 3> k; k.hp = hp; k.lp = lp; run_lanes (k, n, nch, inp, out); break; }
    }
}


// ---- Bw8filter: MODE 1 high-pass, 2 low-pass, 3 band-pass (gain 1).

template <int NL_, int MODE>
struct Bw8lanes
{
    enum { NL = NL_, NV = NL_ / W };

    Bw8filter *const *hp;
    Bw8filter *const *lp;
    vf G [NV];
    vf hc [8][NV], hs [8][NV];
    vf lc [8][NV], lk [4][NV], ls [8][NV];

    void load (int c0, int nl)
    {
        if (MODE & 1)
        {
            Bw8filter *const *F = hp + c0;
            gather <NV> (G, nl, [&] (int j) -> float & { return F [j]->g; });
            for (int r = 0; r < 8; r++)
            {
                gather <NV> (hc [r], nl, [&] (int j) -> float & { return F [j]->c [r]; });
                gather <NV> (hs [r], nl, [&] (int j) -> float & { return F [j]->s [r]; });
            }
        }
        if (MODE & 2)
        {
            Bw8filter *const *F = lp + c0;
            for (int r = 0; r < 8; r++)
            {
                gather <NV> (lc [r], nl, [&] (int j) -> float & { return F [j]->c [r]; });
                gather <NV> (ls [r], nl, [&] (int j) -> float & { return F [j]->s [r]; });
            }
            for (int r = 0; r < 4; r++) gather <NV> (lk [r], nl, [&] (int j) -> float & { return F [j]->k [r]; });
        }
    }

    void save (int c0, int nl)
    {
        if (MODE & 1)
        {
            Bw8filter *const *F = hp + c0;
            for (int r = 0; r < 8; r++) scatter <NV> (hs [r], nl, [&] (int j) -> float & { return F [j]->s [r]; });
        }
        if (MODE & 2)
        {
            Bw8filter *const *F = lp + c0;
            for (int r = 0; r < 8; r++) scatter <NV> (ls [r], nl, [&] (int j) -> float & { return F [j]->s [r]; });
        }
    }

    void run (int m, float *L)
    {
        const vf e = vf_set (1e-20f);
        for (int n = 0; n < m; n++)
        {
            for (int i = 0; i < NV; i++)
            {
                float *p = L + n * NL + i * W;
                vf h = vf_load (p);
                if (MODE & 1)
                {
                    h = G [i] * h;
                    for (int r = 0; r < 8; r += 2)
                    {
                        vf &a = hs [r][i], &b = hs [r + 1][i];
                        vf y = h - ((b + a) + e);
                        b = b + hc [r + 1][i] * a;
                        a = a + hc [r][i] * y;
                        h = y;
                    }
                }
                if (MODE & 2)
                {
                    for (int r = 0; r < 8; r += 2)
                    {
                        vf &a = ls [r][i], &b = ls [r + 1][i];
                        vf y = h - ((b + a) + e);
                        b = b + lc [r + 1][i] * a;
                        a = a + lc [r][i] * y;
                        h = lk [r / 2][i] * y + b;
                    }
                }
                vf_store (p, h);
            }
        }
    }
};


void bw8_multi (int mode, int n, int nch, Bw8filter *const *hp, Bw8filter *const *lp,
                const float *const *inp, float *const *out)
{
    switch (mode)
    {
    case 1: { Bw8lanes <16, 1> k; k.hp = hp; k.lp = lp; run_lanes (k, n, nch, inp, out); break; }
    case 2: { Bw8lanes <16, 2> k; k.hp = hp; k.lp = lp; run_lanes (k, n, nch, inp, out); break; }
    case 3: { Bw8lanes <16, 3> k; k.hp = hp; k.lp = lp; run_lanes (k, n, nch, inp, out); break; }
    }
}


// ---- Bp6filter, in doubles: FORM2 false for forms 0 and 1 (three
// sections), true for form 2 (two sections).

template <int NL_, bool FORM2>
struct Bp6lanes
{
    enum { NL = NL_, NV = NL_ / DW };

    Bp6filter *const *F;
    vd c [6][NV], gain [NV], k [NV];
    vd s [6][NV];

    void load (int c0, int nl)
    {
        Bp6filter *const *f = F + c0;
        double t;
        for (int r = 0; r < 6; r++)
        {
            gatherd <NV> (c [r], nl, [&] (int j) -> double & { t = (&f [j]->param->c1) [r]; return t; });
            gatherd <NV> (s [r], nl, [&] (int j) -> double & { return (&f [j]->z1) [r]; });
        }
        gatherd <NV> (gain, nl, [&] (int j) -> double & { t = f [j]->param->gain; return t; });
        gatherd <NV> (k, nl, [&] (int j) -> double & { t = (f [j]->param->form == 1) ? 0.0 : 2.0; return t; });
    }

    void save (int c0, int nl)
    {
        Bp6filter *const *f = F + c0;
        for (int r = 0; r < 6; r++) scatterd <NV> (s [r], nl, [&] (int j) -> double & { return (&f [j]->z1) [r]; });
    }

    void run (int m, float *L)
    {
        const vd e = vd_set ((double) 1e-40f);
        const vd two = vd_set (2.0);
        for (int n = 0; n < m; n++)
        {
            for (int i = 0; i < NV; i++)
            {
                float *p = L + n * NL + i * DW;
                vd x = vd_loadf (p);
                vd &s1 = s [0][i], &s2 = s [1][i], &s3 = s [2][i], &s4 = s [3][i], &s5 = s [4][i], &s6 = s [5][i];
                if (FORM2)
                {
                    vd e1 = x - ((c [0][i] * s1 + c [1][i] * s2) + e);
                    vd e2 = e1 - ((c [2][i] * s3 + c [3][i] * s4) + e);
                    s4 = s4 + s3; s3 = s3 + e2; s2 = s2 + s1; s1 = s1 + e1;
                    vd_storef (p, gain [i] * e2);
                }
                else
                {
                    vd e1 = x - ((c [0][i] * s1 + c [1][i] * s2) + e);
                    vd e2 = (two * s1 + e1) - ((c [2][i] * s3 + c [3][i] * s4) + e);
                    vd e3 = (two * s3 + e2) - ((c [4][i] * s5 + c [5][i] * s6) + e);
                    vd y = k [i] * s5 + e3;
                    s6 = s6 + s5; s5 = s5 + e3; s4 = s4 + s3; s3 = s3 + e2; s2 = s2 + s1; s1 = s1 + e1;
                    vd_storef (p, gain [i] * y);
                }
            }
        }
    }
};


void bp6_multi (int n, int nch, Bp6filter *const *F, const float *const *inp, float *const *out)
{
    Bp6filter *f0 [100], *f2 [100];
    const float *i0 [100], *i2 [100];
    float *o0 [100], *o2 [100];
    int n0 = 0, n2 = 0;

    for (int i = 0; i < nch && i < 100; i++)
    {
        if (F [i]->param->form == 2)
        {
            f2 [n2] = F [i]; i2 [n2] = inp [i]; o2 [n2++] = out [i];
        }
        else
        {
            f0 [n0] = F [i]; i0 [n0] = inp [i]; o0 [n0++] = out [i];
        }
    }
    if (n0) { Bp6lanes <16, false> k; k.F = f0; run_lanes (k, n, n0, i0, o0); }
    if (n2) { Bp6lanes <16, true> k; k.F = f2; run_lanes (k, n, n2, i2, o2); }
}


// ---- Equaliser: the make-up gain, then every active section, in doubles.
// The multipliers are what limits these sections, so each multiply and the
// add after it are fused, a section whose c2 is and stays zero (all but the
// low shelf) skips that term, and the signal stays in double precision from
// the first section to the last, where the plain code rounds it to float
// after every section: four or five fused multiply-adds and two adds a
// section instead of five multiplies, nine adds and two conversions. The
// plain code keeps its states off denormals by adding 1e-15 to them every
// sample; here the lanes run with denormals flushed to zero instead (see
// eq_multi), which costs nothing per sample. The outputs differ from the
// plain code's by about a float rounding.

template <int NL_, int PASS>
struct Eqlanes
{
    enum { NL = NL_, NV = NL_ / DW, MAXS = 8 };

    Eqgain            *G;
    Svparam2 *const   *S;      // the active sections
    int                ns;
    float              g;      // make-up gain ramp, restarted for each group
    double             a [MAXS][5];
    vd                 s1 [MAXS][NV], s2 [MAXS][NV];
    alignas (64) double D [CHUNK * NL];   // the rows between sections

    void load (int c0, int nl)
    {
        g = G->gain_cur;
        for (int k = 0; k < ns; k++)
        {
            const Svparam2 *P = S [k];
            a [k][0] = P->c0; a [k][1] = P->c1; a [k][2] = P->c2; a [k][3] = P->c3; a [k][4] = P->c4;
            gatherd <NV> (s1 [k], nl, [&] (int j) -> double & { return S [k]->z1 [c0 + j]; });
            gatherd <NV> (s2 [k], nl, [&] (int j) -> double & { return S [k]->z2 [c0 + j]; });
        }
    }

    void save (int c0, int nl)
    {
        for (int k = 0; k < ns; k++)
        {
            scatterd <NV> (s1 [k], nl, [&] (int j) -> double & { return S [k]->z1 [c0 + j]; });
            scatterd <NV> (s2 [k], nl, [&] (int j) -> double & { return S [k]->z2 [c0 + j]; });
        }
    }

    // Sections k .. k + NS - 1 over m rows of D, in one pass: the
    // recursions of the sections and of the NV vectors overlap. Bit s of C2
    // says that section k + s uses its c2 term; with RAMP, some of them
    // interpolate, their coefficients stepping in every lane alike.
    template <int NS, unsigned C2, bool RAMP>
    void sections (int k, int m)
    {
        vd A [NS][5], dA [NS][5];
        vd z1 [NS][NV], z2 [NS][NV];
        for (int s = 0; s < NS; s++)
        {
            const Svparam2 *P = S [k + s];
            const double dc [5] = { P->dc0, P->dc1, P->dc2, P->dc3, P->dc4 };
            for (int r = 0; r < 5; r++)
            {
                A [s][r] = vd_set (a [k + s][r]);
                dA [s][r] = vd_set ((P->mode == 2) ? dc [r] : 0.0);
            }
            for (int i = 0; i < NV; i++)
            {
                z1 [s][i] = s1 [k + s][i];
                z2 [s][i] = s2 [k + s][i];
            }
        }
        for (int n = 0; n < m; n++)
        {
            double *p = D + n * NL;
            vd x [NV];
            for (int i = 0; i < NV; i++) x [i] = vd_load (p + i * DW);
            for (int s = 0; s < NS; s++)
            {
                if (RAMP)
                {
                    for (int r = 0; r < 5; r++)
                    {
                        if (r != 2 || (C2 & (1u << s))) A [s][r] = A [s][r] + dA [s][r];
                    }
                }
                for (int i = 0; i < NV; i++)
                {
                    const vd d = (x [i] - z1 [s][i]) - z2 [s][i];
                    vd y = vd_fma (A [s][1], z1 [s][i], x [i]);
                    if (C2 & (1u << s)) y = vd_fma (A [s][2], z2 [s][i], y);
                    x [i] = vd_fma (A [s][0], d, y);
                    z2 [s][i] = vd_fma (A [s][4], z1 [s][i], z2 [s][i]);
                    z1 [s][i] = vd_fma (A [s][3], d, z1 [s][i]);
                }
            }
            for (int i = 0; i < NV; i++) vd_store (p + i * DW, x [i]);
        }
        for (int s = 0; s < NS; s++)
        {
            if (RAMP) for (int r = 0; r < 5; r++) a [k + s][r] = vd_first (A [s][r]);
            for (int i = 0; i < NV; i++)
            {
                s1 [k + s][i] = z1 [s][i];
                s2 [k + s][i] = z2 [s][i];
            }
        }
    }

    // One pass of NS sections from k, its variant chosen by which sections
    // use c2 and whether any interpolates.
    template <int NS>
    void pass (int k, int m)
    {
        unsigned c2 = 0;
        bool ramp = false;
        for (int s = 0; s < NS; s++)
        {
            if (uses_c2 (k + s)) c2 |= 1u << s;
            if (S [k + s]->mode == 2) ramp = true;
        }
        if constexpr (NS == 1)
        {
            switch (c2 + 2 * ramp)
            {
            case 0: sections <NS, 0, false> (k, m); break;
            case 1: sections <NS, 1, false> (k, m); break;
            case 2: sections <NS, 0, true> (k, m); break;
            case 3: sections <NS, 1, true> (k, m); break;
            }
        }
        else
        {
            switch (c2 + 4 * ramp)
            {
            case 0: sections <NS, 0, false> (k, m); break;
            case 1: sections <NS, 1, false> (k, m); break;
            case 2: sections <NS, 2, false> (k, m); break;
            case 3: sections <NS, 3, false> (k, m); break;
            case 4: sections <NS, 0, true> (k, m); break;
            case 5: sections <NS, 1, true> (k, m); break;
            case 6: sections <NS, 2, true> (k, m); break;
            case 7: sections <NS, 3, true> (k, m); break;
            }
        }
    }

    // Whether section k's c2 term counts: a c2 of zero that does not move
    // adds exactly nothing.
    bool uses_c2 (int k) const
    {
        return a [k][2] != 0 || (S [k]->mode == 2 && S [k]->dc2 != 0);
    }

    void run (int m, float *L)
    {
        // The make-up gain in float, as the plain code applies it, on the
        // way into D.
        alignas (64) float t [W];
        if (G->mode == 0)
        {
            for (int n = 0; n < m * NL; n += DW) vd_store (D + n, vd_loadf (L + n));
        }
        else
        {
            vf v = vf_set (G->gain_cur);
            for (int n = 0; n < m; n++)
            {
                if (G->mode == 2)
                {
                    g += G->gain_inc;
                    v = vf_set (g);
                }
                for (int i = 0; i < NL; i += W)
                {
                    vf_store (t, v * vf_load (L + n * NL + i));
                    for (int h = 0; h < W; h += DW) vd_store (D + n * NL + i + h, vd_loadf (t + h));
                }
            }
        }
        int k = 0;
        for (; k + PASS <= ns; k += PASS) pass <PASS> (k, m);
        for (; k < ns; k++) pass <1> (k, m);
        for (int n = 0; n < m * NL; n += DW) vd_storef (L + n, vd_load (D + n));
    }
};


// After the last group: the ramps' end values, the same in every group.
static void eq_finish (Eqgain *G, Svparam2 *const *S, int ns, float g, const double (*a) [5])
{
    if (G->mode == 2) G->gain_cur = g;
    for (int k = 0; k < ns; k++)
    {
        Svparam2 *P = S [k];
        if (P->mode != 2) continue;
        P->c0 = (float) a [k][0];
        P->c1 = (float) a [k][1];
        P->c2 = (float) a [k][2];
        P->c3 = (float) a [k][3];
        P->c4 = (float) a [k][4];
    }
}


void eq_multi (Eqgain *G, Svparam2 *const *S, int ns, int n, int nch, const float *const *inp, float *const *out)
{
    // Denormals flushed to zero on the way in and out of every operation
    // while the lanes run, and the caller's mode restored after.
    const unsigned csr = _mm_getcsr ();
    _mm_setcsr (csr | 0x8040);
    if (nch <= 16)
    {
        Eqlanes <16, EQPASS16> k;
        k.G = G; k.S = S; k.ns = ns;
        run_lanes (k, n, nch, inp, out);
        eq_finish (G, S, ns, k.g, k.a);
    }
    else
    {
        Eqlanes <EQLANES, EQPASS> k;
        k.G = G; k.S = S; k.ns = ns;
        run_lanes (k, n, nch, inp, out);
        eq_finish (G, S, ns, k.g, k.a);
    }
    _mm_setcsr (csr);
}
