// The limiter's processing, included by peaklim.cc (plain code) and by
// peaklim_avx2.cc (inside namespace vesk_avx2, where MADD is a fused
// multiply-add): the recursions are written MADD (w, x - z, z) for
// z + w (x - z). The fused form shortens each recursion by one rounding
// and a few cycles; its results differ from the plain code's by rounding.

// The 500 Hz low-pass of channels j0 .. j1 - 1 over the n samples at write
// position wp of their delay lines, into zlf and m2. zlf += wlf (x - zlf) +
// 1e-20 is summed as (zlf + 1e-20) + wlf (x - zlf), which keeps the constant
// out of the recursion (three operations instead of four). Channels go in
// pairs so that two recursions overlap.
static void lowpass (Peaklim &P, int j0, int j1, int wp, int n)
{
    const float wl = P.wlf;
    float       mx2 = P.m2;
    int         j = j0;

    for (; j + 1 < j1; j += 2)
    {
        const float *da = P.dbuff [j] + wp, *db = P.dbuff [j + 1] + wp;
        float za = P.zlf [j], zb = P.zlf [j + 1];
        for (int i = 0; i < n; i++)
        {
            za = MADD (wl, da [i] - za, za + 1e-20f);
            zb = MADD (wl, db [i] - zb, zb + 1e-20f);
            // Written so that a NaN input never reaches the gain path.
            if (fabsf (za) > mx2) mx2 = fabsf (za);
            if (fabsf (zb) > mx2) mx2 = fabsf (zb);
        }
        P.zlf [j] = za;
        P.zlf [j + 1] = zb;
    }
    if (j < j1)
    {
        const float *da = P.dbuff [j] + wp;
        float za = P.zlf [j];
        for (int i = 0; i < n; i++)
        {
            za = MADD (wl, da [i] - za, za + 1e-20f);
            if (fabsf (za) > mx2) mx2 = fabsf (za);
        }
        P.zlf [j] = za;
    }
    P.m2 = mx2;
}


static void run (Peaklim &P, int nframes, float **inp, float **out)
{
    int    j, k, n, wp;
    float  g, a, b, p, r;

    if (!P.dbuff) return;
    k = 0;
    a = P.hist1.vmin;
    b = P.hist2.vmin;
    while (nframes > 0)
    {
        // A chunk never crosses a block end, so it never wraps in the ring.
        n = (P.c1 < nframes) ? P.c1 : nframes;
        wp = (P.rindex + P.delay) & P.dmask;

        // Input stage: the same input gain ramp for every channel, into the
        // delay lines, and the block's largest absolute sample; channels in
        // pairs, each pair stepping the same ramp.
        float mx1 = P.m1;
        for (j = 0; j < P.nchan; j += 2)
        {
            const int jb = (j + 1 < P.nchan) ? j + 1 : j;
            const float *sa = inp [j] ? inp [j] + k : P.zbuff;
            const float *sb = inp [jb] ? inp [jb] + k : P.zbuff;
            float *da = P.dbuff [j] + wp, *db = P.dbuff [jb] + wp;
            g = P.g0;
            if (P.dg == 0.0f)
            {
                // Steady input gain: no ramp to step through.
                for (int i = 0; i < n; i++)
                {
                    const float xa = g * sa [i], xb = g * sb [i];
                    da [i] = xa;
                    db [i] = xb;
                    // Written so that a NaN input never reaches the gain path.
                    if (fabsf (xa) > mx1) mx1 = fabsf (xa);
                    if (fabsf (xb) > mx1) mx1 = fabsf (xb);
                }
            }
            else
            {
                for (int i = 0; i < n; i++)
                {
                    const float xa = g * sa [i], xb = g * sb [i];
                    g += P.dg;
                    da [i] = xa;
                    db [i] = xb;
                    if (fabsf (xa) > mx1) mx1 = fabsf (xa);
                    if (fabsf (xb) > mx1) mx1 = fabsf (xb);
                }
            }
        }
        if (P.nchan > 0) P.g0 = g;
        P.m1 = mx1;

        // The low-pass of the first two channels runs inside the output
        // stage below, where its recursion overlaps that of the gain; the
        // others run here. At a group end its peak is needed first.
        P.c1 -= n;
        const bool group_end = (P.c1 == 0 && P.c2 == 1);
        const int  jf = group_end ? 0 : ((P.nchan < 2) ? P.nchan : 2);
        lowpass (P, jf, P.nchan, wp, n);

        if (P.c1 == 0)
        {
            // Block end: the gain this block needs enters hist1.
            const float gthr = P.gt.load (std::memory_order_relaxed);
            p = gthr * P.m1;
            r = (p > 1.0f) ? 1.0f / p : 1.0f;
            a = P.hist1.write (r);
            P.c1 = P.div1;
            P.m1 = 0.0f;
            if (--P.c2 == 0)
            {
                // Group end: the low-passed peak enters hist2, and the
                // input gain starts a linear ramp over the next group.
                p = gthr * P.m2;
                r = (p > 1.0f) ? 1.0f / p : 1.0f;
                b = P.hist2.write (r);
                P.c2 = P.div2;
                P.m2 = 0.0f;
                const float gi = P.g1.load (std::memory_order_relaxed);
                if (fabsf (gi - P.g0) < 1e-9f)
                {
                    P.g0 = gi;
                    P.dg = 0.0f;
                }
                else P.dg = (gi - P.g0) / (P.div1 * P.div2);
            }
        }

        // Output stage: the smoothed gain, falling with the attack
        // coefficient w1 and rising with the release coefficient w3. The
        // output gain takes both steps, attack and release, and keeps the
        // smaller when w1 >= w3 (the larger otherwise): rounding is
        // monotonic, so that is the attack step exactly when t < z, and the
        // recursion needs no compare and select. Coefficients are locals,
        // so that the stores below never make the compiler reload them.
        const float wa = P.w1, ws = P.w2, wl = P.wlf;
        const float wr = P.w3.load (std::memory_order_relaxed);
        const bool  fastest = (wa >= wr);
        int         j0 = 0;   // channels whose outputs are written below
        float y1 = P.z1, y2 = P.z2, z = P.z3;
        if (jf == 2)
        {
            // The first two channels' outputs are written here too (a
            // missing output into gbuff, which gets the gain after it).
            const float *da = P.dbuff [0] + wp, *db = P.dbuff [1] + wp;
            const float *ra = P.dbuff [0] + P.rindex, *rb = P.dbuff [1] + P.rindex;
            float *oa = out [0] ? out [0] + k : P.gbuff, *ob = out [1] ? out [1] + k : P.gbuff;
            float za = P.zlf [0], zb = P.zlf [1], mx2 = P.m2;
            for (int i = 0; i < n; i++)
            {
                y1 = MADD (wa, a - y1, y1);
                y2 = MADD (ws, b - y2, y2);
                const float t = (y1 < y2) ? y1 : y2;
                const float za1 = MADD (wa, t - z, z), zr1 = MADD (wr, t - z, z);
                z = fastest ? ((za1 < zr1) ? za1 : zr1) : ((za1 > zr1) ? za1 : zr1);
                za = MADD (wl, da [i] - za, za + 1e-20f);
                zb = MADD (wl, db [i] - zb, zb + 1e-20f);
                if (fabsf (za) > mx2) mx2 = fabsf (za);
                if (fabsf (zb) > mx2) mx2 = fabsf (zb);
                oa [i] = ra [i] * z;
                ob [i] = rb [i] * z;
                P.gbuff [i] = z;
            }
            P.zlf [0] = za;
            P.zlf [1] = zb;
            P.m2 = mx2;
            j0 = 2;
        }
        else
        {
            if (jf == 1) lowpass (P, 0, 1, wp, n);
            for (int i = 0; i < n; i++)
            {
                y1 = MADD (wa, a - y1, y1);
                y2 = MADD (ws, b - y2, y2);
                const float t = (y1 < y2) ? y1 : y2;
                const float za1 = MADD (wa, t - z, z), zr1 = MADD (wr, t - z, z);
                z = fastest ? ((za1 < zr1) ? za1 : zr1) : ((za1 > zr1) ? za1 : zr1);
                P.gbuff [i] = z;
            }
        }
        P.z1 = y1;
        P.z2 = y2;
        P.z3 = z;
        for (j = j0; j < P.nchan; j++)
        {
            if (!out [j]) continue;
            const float *s = P.dbuff [j] + P.rindex;
            float *d = out [j] + k;
            for (int i = 0; i < n; i++) d [i] = s [i] * P.gbuff [i];
        }

        P.rindex = (P.rindex + n) & P.dmask;
        k += n;
        nframes -= n;
    }
}
