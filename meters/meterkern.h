// Lane kernels of the level meter and of the noise meter's chain (DC
// removal, weighting filter, detector), one meter per lane, with the plain
// code's arithmetic in the same order. Included by meterlanes_avx2.cc and
// meterlanes_avx512.cc after filters/lanes.h, inside their namespace.

#define LANE_LOAD(v, expr)  gather <NV> (v, nl, [&] (int j) -> float { return F [j]->expr; })
#define LANE_SAVE(v, expr)  scatter <NV> (v, nl, [&] (int j) -> float & { return F [j]->expr; })


// ---- Kmeterdsp: the period's loop; the caller finishes each meter.

template <int NL_>
struct Kmeterlanes
{
    enum { NL = NL_, NV = NL_ / W };

    Kmeterdsp *const *K;
    float            *smax;    // per meter, out
    vf wdcf [NV], wrms [NV], d [NV], m1 [NV], m2 [NV], sm [NV];

    void load (int c0, int nl)
    {
        Kmeterdsp *const *F = K + c0;
        LANE_LOAD (wdcf, wdcf);
        LANE_LOAD (wrms, wrms);
        LANE_LOAD (d, dc);
        LANE_LOAD (m1, ms1);
        LANE_LOAD (m2, ms2);
        for (int i = 0; i < NV; i++) sm [i] = vf_set (0.0f);
    }

    void save (int c0, int nl)
    {
        Kmeterdsp *const *F = K + c0;
        LANE_SAVE (d, dc);
        LANE_SAVE (m1, ms1);
        LANE_SAVE (m2, ms2);
        scatter <NV> (sm, nl, [&] (int j) -> float & { return smax [c0 + j]; });
    }

    void run (int m, float *L)
    {
        for (int n = 0; n < m; n++)
        {
            for (int i = 0; i < NV; i++)
            {
                const vf x = vf_load (L + n * NL + i * W);
                d [i] = d [i] + wdcf [i] * (x - d [i]);
                vf s = x - d [i];
                s = s * s;
                sm [i] = vf_max (s, sm [i]);
                m1 [i] = m1 [i] + wrms [i] * (s - m1 [i]);
                m2 [i] = m2 [i] + wrms [i] * (m1 [i] - m2 [i]);
            }
        }
    }
};


void kmeter_multi (int n, int nch, Kmeterdsp *const *K, const float *const *inp, float *smax)
{
    Kmeterlanes <16> k;
    k.K = K;
    k.smax = smax;
    run_lanes (k, n, nch, inp, nullptr);
}


// ---- Nmeterdsp: FILT 0 none, 1 20 kHz bandwidth, 2 A, 3 C, 4 ITU-R 468;
// DET 0 none, 1 RMS, 2 VU, 3 ITU-R 468 quasi-peak.

template <int NL_, int FILT, int DET>
struct Nmeterlanes
{
    enum { NL = NL_, NV = NL_ / W };

    Nmeterdsp *const *M;
    vf dcon [NV], wdc [NV], zdc [NV];
    vf c [11][NV], s [8][NV];    // filter coefficients and states
    vf dw [4][NV], ds [2][NV];   // detector coefficients and states

    void load (int c0, int nl)
    {
        Nmeterdsp *const *F = M + c0;
        LANE_LOAD (dcon, dcfilt ? 1.0f : 0.0f);
        LANE_LOAD (wdc, wdc);
        LANE_LOAD (zdc, zdc);
        switch (FILT)
        {
        case 1:
            LANE_LOAD (c [0], enb20k.k);
            LANE_LOAD (c [1], enb20k.a1);
            LANE_LOAD (c [2], enb20k.a2);
            LANE_LOAD (c [3], enb20k.a3);
            LANE_LOAD (c [4], enb20k.a4);
            LANE_LOAD (s [0], enb20k.w1);
            LANE_LOAD (s [1], enb20k.w2);
            LANE_LOAD (s [2], enb20k.w3);
            LANE_LOAD (s [3], enb20k.w4);
            break;
        case 2:
        case 3:
            LANE_LOAD (c [0], iec_ac.c1);
            LANE_LOAD (c [1], iec_ac.c2);
            LANE_LOAD (c [2], iec_ac.c3);
            LANE_LOAD (c [3], iec_ac.c4);
            LANE_LOAD (c [4], iec_ac.gA);
            LANE_LOAD (c [5], iec_ac.gC);
            LANE_LOAD (s [0], iec_ac.h1);
            LANE_LOAD (s [1], iec_ac.h2);
            LANE_LOAD (s [2], iec_ac.h3);
            LANE_LOAD (s [3], iec_ac.h4);
            LANE_LOAD (s [4], iec_ac.l1);
            LANE_LOAD (s [5], iec_ac.l2);
            break;
        case 4:
            LANE_LOAD (c [0], itu468.g);
            LANE_LOAD (c [1], itu468.c0);
            LANE_LOAD (c [2], itu468.a11);
            LANE_LOAD (c [3], itu468.a12);
            LANE_LOAD (c [4], itu468.a21);
            LANE_LOAD (c [5], itu468.a22);
            LANE_LOAD (c [6], itu468.a31);
            LANE_LOAD (c [7], itu468.a32);
            LANE_LOAD (c [8], itu468.b0);
            LANE_LOAD (c [9], itu468.b1);
            LANE_LOAD (c [10], itu468.b2);
            LANE_LOAD (s [0], itu468.s0);
            LANE_LOAD (s [1], itu468.s11);
            LANE_LOAD (s [2], itu468.s12);
            LANE_LOAD (s [3], itu468.s21);
            LANE_LOAD (s [4], itu468.s22);
            LANE_LOAD (s [5], itu468.s31);
            LANE_LOAD (s [6], itu468.s32);
            break;
        default:
            break;
        }
        switch (DET)
        {
        case 1:
            LANE_LOAD (dw [0], rmsdet.slow ? F [j]->rmsdet.w * 0.125f : F [j]->rmsdet.w);
            LANE_LOAD (ds [0], rmsdet.m + 1e-30f);
            break;
        case 2:
            LANE_LOAD (dw [0], vumdet.slow ? F [j]->vumdet.w * 0.1f : F [j]->vumdet.w);
            LANE_LOAD (ds [0], vumdet.p + 1e-30f);
            LANE_LOAD (ds [1], vumdet.q);
            break;
        case 3:
            LANE_LOAD (dw [0], itudet.a1);
            LANE_LOAD (dw [1], itudet.r1);
            LANE_LOAD (dw [2], itudet.a2);
            LANE_LOAD (dw [3], itudet.r2);
            LANE_LOAD (ds [0], itudet.p);
            LANE_LOAD (ds [1], itudet.q);
            break;
        default:
            break;
        }
    }

    void save (int c0, int nl)
    {
        Nmeterdsp *const *F = M + c0;
        alignas (64) float t [NL];
        for (int i = 0; i < NV; i++) vf_store (t + i * W, zdc [i]);
        for (int j = 0; j < nl; j++) if (F [j]->dcfilt) F [j]->zdc = t [j];
        switch (FILT)
        {
        case 1:
            LANE_SAVE (s [0], enb20k.w1);
            LANE_SAVE (s [1], enb20k.w2);
            LANE_SAVE (s [2], enb20k.w3);
            LANE_SAVE (s [3], enb20k.w4);
            break;
        case 2:
        case 3:
            LANE_SAVE (s [0], iec_ac.h1);
            LANE_SAVE (s [1], iec_ac.h2);
            LANE_SAVE (s [2], iec_ac.h3);
            LANE_SAVE (s [3], iec_ac.h4);
            LANE_SAVE (s [4], iec_ac.l1);
            LANE_SAVE (s [5], iec_ac.l2);
            break;
        case 4:
            LANE_SAVE (s [0], itu468.s0);
            LANE_SAVE (s [1], itu468.s11);
            LANE_SAVE (s [2], itu468.s12);
            LANE_SAVE (s [3], itu468.s21);
            LANE_SAVE (s [4], itu468.s22);
            LANE_SAVE (s [5], itu468.s31);
            LANE_SAVE (s [6], itu468.s32);
            break;
        default:
            break;
        }
        switch (DET)
        {
        case 1:
            LANE_SAVE (ds [0], rmsdet.m);
            break;
        case 2:
        {
            const vf e = vf_set (1e-30f), z = vf_set (0.0f);
            for (int i = 0; i < NV; i++)
            {
                ds [0][i] = ds [0][i] - e;
                ds [1][i] = vf_max (ds [1][i], z);   // (q > 0) ? q : 0
            }
            LANE_SAVE (ds [0], vumdet.p);
            LANE_SAVE (ds [1], vumdet.q);
            break;
        }
        case 3:
            LANE_SAVE (ds [0], itudet.p);
            LANE_SAVE (ds [1], itudet.q);
            break;
        default:
            break;
        }
    }

    void run (int m, float *L)
    {
        const vf e25 = vf_set (1e-25f), e30 = vf_set (1e-30f), zero = vf_set (0.0f);
        for (int n = 0; n < m; n++)
        {
            for (int i = 0; i < NV; i++)
            {
                float *p = L + n * NL + i * W;
                vf x = vf_load (p);
                // DC removal where it is on.
                {
                    const vf xe = x + e25;
                    const vf z = zdc [i] + (xe - zdc [i]) * wdc [i];
                    zdc [i] = z;
                    x = vf_lt_sel (zero, dcon [i], xe - z, x);
                }
                if (FILT == 1)
                {
                    vf &w1 = s [0][i], &w2 = s [1][i], &w3 = s [2][i], &w4 = s [3][i];
                    const vf w0 = (x + e25) - (((c [1][i] * w1 + c [2][i] * w2) + c [3][i] * w3) + c [4][i] * w4);
                    x = c [0][i] * (vf_set (6.0f) * w2 + ((w1 + w3) * vf_set (4.0f) + (w4 + w0)));
                    w4 = w3; w3 = w2; w2 = w1; w1 = w0;
                }
                else if (FILT == 2 || FILT == 3)
                {
                    vf &h1 = s [0][i], &h2 = s [1][i], &h3 = s [2][i], &h4 = s [3][i], &l1 = s [4][i], &l2 = s [5][i];
                    const vf c1 = c [0][i], c2 = c [1][i], c3 = c [2][i], c4 = c [3][i];
                    h1 = h1 + ((x - h1) + e25) * c1;
                    const vf pp = x - h1;
                    h2 = h2 + ((pp - h2) + e25) * c1;
                    const vf q = pp - h2;
                    l1 = l1 + (q - l1) * c4;
                    const vf l2n = l2 + (l1 - l2) * c4;
                    const vf y = vf_set (0.75f) * l2n + vf_set (0.25f) * l2;
                    l2 = l2n;
                    h3 = h3 + ((y - h3) + e25) * c2;
                    const vf r = y - h3;
                    h4 = h4 + ((r - h4) + e25) * c3;
                    x = (FILT == 3) ? c [5][i] * y : (r - h4) * c [4][i];
                }
                else if (FILT == 4)
                {
                    vf &s0 = s [0][i], &s11 = s [1][i], &s12 = s [2][i], &s21 = s [3][i], &s22 = s [4][i];
                    vf &s31 = s [5][i], &s32 = s [6][i];
                    const vf v = c [0][i] * x;
                    s0 = s0 + ((v - s0) * c [1][i] + e25);
                    const vf pp = v - s0;
                    const vf u = pp - (c [2][i] * s11 + c [3][i] * s12);
                    s12 = s11; s11 = u;
                    const vf w = u - (c [4][i] * s21 + c [5][i] * s22);
                    s22 = s21; s21 = w;
                    const vf t = w - (c [6][i] * s31 + c [7][i] * s32);
                    x = (c [8][i] * t + c [9][i] * s31) + c [10][i] * s32;
                    s32 = s31; s31 = t;
                }
                vf_store (p, x);
                if (DET == 1)
                {
                    ds [0][i] = ds [0][i] + (x * x - ds [0][i]) * dw [0][i];
                }
                else if (DET == 2)
                {
                    vf &pp = ds [0][i], &qq = ds [1][i];
                    pp = pp + (((vf_abs (x) - vf_set (0.55f) * qq) - pp) * dw [0][i]);
                    qq = qq + (pp - qq) * dw [0][i];
                }
                else if (DET == 3)
                {
                    vf &pp = ds [0][i], &qq = ds [1][i];
                    const vf v = vf_abs (x) + e30;
                    pp = pp - pp * dw [1][i];
                    pp = vf_lt_sel (pp, v, pp + (v - pp) * dw [0][i], pp);
                    qq = qq - qq * dw [3][i];
                    qq = vf_lt_sel (qq, pp, qq + (pp - qq) * dw [2][i], qq);
                }
            }
        }
    }
};


template <int FILT, int DET>
static void nmeter_run (int n, int nch, Nmeterdsp *const *M, const float *const *inp, float *const *out)
{
    Nmeterlanes <16, FILT, DET> k;
    k.M = M;
    run_lanes (k, n, nch, inp, out);
}

template <int FILT>
static void nmeter_det (int det, int n, int nch, Nmeterdsp *const *M, const float *const *inp, float *const *out)
{
    switch (det)
    {
    case 0: nmeter_run <FILT, 0> (n, nch, M, inp, out); break;
    case 1: nmeter_run <FILT, 1> (n, nch, M, inp, out); break;
    case 2: nmeter_run <FILT, 2> (n, nch, M, inp, out); break;
    case 3: nmeter_run <FILT, 3> (n, nch, M, inp, out); break;
    }
}

void nmeter_multi (int filt, int det, int n, int nch, Nmeterdsp *const *M, const float *const *inp, float *const *out)
{
    switch (filt)
    {
    case 0: nmeter_det <0> (det, n, nch, M, inp, out); break;
    case 1: nmeter_det <1> (det, n, nch, M, inp, out); break;
    case 2: nmeter_det <2> (det, n, nch, M, inp, out); break;
    case 3: nmeter_det <3> (det, n, nch, M, inp, out); break;
    case 4: nmeter_det <4> (det, n, nch, M, inp, out); break;
    }
}

#undef LANE_LOAD
#undef LANE_SAVE
