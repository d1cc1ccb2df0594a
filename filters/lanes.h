// Channels side by side in vector lanes: the vector types and helpers, and
// the transposition of blocks of channel buffers into lanes and back. Lane
// j of row n of a lane buffer is sample n of channel j, NL lanes per row.
//
// Included only by the sources built for one instruction set (*_avx2.cc,
// *_avx512.cc), inside a namespace of their own after <immintrin.h>, so that
// nothing compiled for wider registers is ever linked in place of the plain
// code. Arithmetic is the plain code's, operation for operation and in the
// same order, and never fused (those sources build with -ffp-contract=off):
// the lanes give the same numbers bit for bit. The one exception is the
// equaliser, whose double-precision sections use fused multiply-adds and
// keep the signal in doubles between sections (see filtkern.h).

#if defined(__AVX512F__)
typedef __m512  vf;
typedef __m512d vd;
enum { W = 16, DW = 8 };   // floats, doubles per vector
// Equaliser: channels a group (32, or 16 up to 16 channels) and sections
// a pass; the fastest measured, and no register spills.
enum { EQLANES = 32, EQPASS = 2, EQPASS16 = 2 };
static inline vf   vf_load (const float *p) { return _mm512_load_ps (p); }
static inline void vf_store (float *p, vf v) { _mm512_store_ps (p, v); }
static inline vf   vf_set (float x) { return _mm512_set1_ps (x); }
static inline vf   vf_max (vf a, vf b) { return _mm512_max_ps (a, b); }   // a > b ? a : b
static inline vf   vf_abs (vf a) { return _mm512_castsi512_ps (_mm512_and_si512 (_mm512_castps_si512 (a), _mm512_set1_epi32 (0x7fffffff))); }
// (a < b) ? x : y, lane by lane.
static inline vf   vf_lt_sel (vf a, vf b, vf x, vf y) { return _mm512_mask_blend_ps (_mm512_cmp_ps_mask (a, b, _CMP_LT_OQ), y, x); }
// DW floats at p widened to doubles, and back.
static inline vd   vd_loadf (const float *p) { return _mm512_cvtps_pd (_mm256_load_ps (p)); }
static inline void vd_storef (float *p, vd v) { _mm256_store_ps (p, _mm512_cvtpd_ps (v)); }
static inline vd   vd_load (const double *p) { return _mm512_load_pd (p); }
static inline void vd_store (double *p, vd v) { _mm512_store_pd (p, v); }
static inline vd   vd_set (double x) { return _mm512_set1_pd (x); }
// a * b + c, rounded once.
static inline vd   vd_fma (vd a, vd b, vd c) { return _mm512_fmadd_pd (a, b, c); }
// Lane 0.
static inline double vd_first (vd v) { return _mm512_cvtsd_f64 (v); }
#else
typedef __m256  vf;
typedef __m256d vd;
enum { W = 8, DW = 4 };
// Equaliser: 16 channels a group, two sections a pass: the fastest measured.
enum { EQLANES = 16, EQPASS = 2, EQPASS16 = 2 };
static inline vf   vf_load (const float *p) { return _mm256_load_ps (p); }
static inline void vf_store (float *p, vf v) { _mm256_store_ps (p, v); }
static inline vf   vf_set (float x) { return _mm256_set1_ps (x); }
static inline vf   vf_max (vf a, vf b) { return _mm256_max_ps (a, b); }
static inline vf   vf_abs (vf a) { return _mm256_and_ps (a, _mm256_castsi256_ps (_mm256_set1_epi32 (0x7fffffff))); }
static inline vf   vf_lt_sel (vf a, vf b, vf x, vf y) { return _mm256_blendv_ps (y, x, _mm256_cmp_ps (a, b, _CMP_LT_OQ)); }
static inline vd   vd_loadf (const float *p) { return _mm256_cvtps_pd (_mm_load_ps (p)); }
static inline void vd_storef (float *p, vd v) { _mm_store_ps (p, _mm256_cvtpd_ps (v)); }
static inline vd   vd_load (const double *p) { return _mm256_load_pd (p); }
static inline void vd_store (double *p, vd v) { _mm256_store_pd (p, v); }
static inline vd   vd_set (double x) { return _mm256_set1_pd (x); }
static inline vd   vd_fma (vd a, vd b, vd c) { return _mm256_fmadd_pd (a, b, c); }
static inline double vd_first (vd v) { return _mm256_cvtsd_f64 (v); }
#endif

// Samples per pass through a lane buffer: CHUNK rows of up to 32 lanes stay
// in the first-level cache.
enum { CHUNK = 64 };

static const float lane_zeros [CHUNK] = { 0 };


// Rows k = 0..7 of 8 consecutive floats at r [k] (8 channels, 8 samples)
// transposed in registers.
static inline void transpose8 (__m256 &r0, __m256 &r1, __m256 &r2, __m256 &r3,
                               __m256 &r4, __m256 &r5, __m256 &r6, __m256 &r7)
{
    __m256 t0 = _mm256_unpacklo_ps (r0, r1), t1 = _mm256_unpackhi_ps (r0, r1);
    __m256 t2 = _mm256_unpacklo_ps (r2, r3), t3 = _mm256_unpackhi_ps (r2, r3);
    __m256 t4 = _mm256_unpacklo_ps (r4, r5), t5 = _mm256_unpackhi_ps (r4, r5);
    __m256 t6 = _mm256_unpacklo_ps (r6, r7), t7 = _mm256_unpackhi_ps (r6, r7);
    __m256 u0 = _mm256_shuffle_ps (t0, t2, 0x44), u1 = _mm256_shuffle_ps (t0, t2, 0xee);
    __m256 u2 = _mm256_shuffle_ps (t1, t3, 0x44), u3 = _mm256_shuffle_ps (t1, t3, 0xee);
    __m256 u4 = _mm256_shuffle_ps (t4, t6, 0x44), u5 = _mm256_shuffle_ps (t4, t6, 0xee);
    __m256 u6 = _mm256_shuffle_ps (t5, t7, 0x44), u7 = _mm256_shuffle_ps (t5, t7, 0xee);
    r0 = _mm256_permute2f128_ps (u0, u4, 0x20);
    r1 = _mm256_permute2f128_ps (u1, u5, 0x20);
    r2 = _mm256_permute2f128_ps (u2, u6, 0x20);
    r3 = _mm256_permute2f128_ps (u3, u7, 0x20);
    r4 = _mm256_permute2f128_ps (u0, u4, 0x31);
    r5 = _mm256_permute2f128_ps (u1, u5, 0x31);
    r6 = _mm256_permute2f128_ps (u2, u6, 0x31);
    r7 = _mm256_permute2f128_ps (u3, u7, 0x31);
}


// m <= CHUNK samples of NL channels p [j] (already at the right offset) into
// the lane buffer L.
template <int NL>
static inline void to_lanes (const float *const *p, int m, float *L)
{
    int n = 0;
    for (; n + 8 <= m; n += 8)
    {
        for (int j = 0; j < NL; j += 8)
        {
            __m256 r0 = _mm256_loadu_ps (p [j] + n),     r1 = _mm256_loadu_ps (p [j + 1] + n);
            __m256 r2 = _mm256_loadu_ps (p [j + 2] + n), r3 = _mm256_loadu_ps (p [j + 3] + n);
            __m256 r4 = _mm256_loadu_ps (p [j + 4] + n), r5 = _mm256_loadu_ps (p [j + 5] + n);
            __m256 r6 = _mm256_loadu_ps (p [j + 6] + n), r7 = _mm256_loadu_ps (p [j + 7] + n);
            transpose8 (r0, r1, r2, r3, r4, r5, r6, r7);
            float *d = L + n * NL + j;
            _mm256_store_ps (d, r0);
            _mm256_store_ps (d + NL, r1);
            _mm256_store_ps (d + 2 * NL, r2);
            _mm256_store_ps (d + 3 * NL, r3);
            _mm256_store_ps (d + 4 * NL, r4);
            _mm256_store_ps (d + 5 * NL, r5);
            _mm256_store_ps (d + 6 * NL, r6);
            _mm256_store_ps (d + 7 * NL, r7);
        }
    }
    for (; n < m; n++)
    {
        for (int j = 0; j < NL; j++) L [n * NL + j] = p [j][n];
    }
}


// The other way: m samples from L into the NL channels q [j].
template <int NL>
static inline void from_lanes (float *const *q, int m, const float *L)
{
    int n = 0;
    for (; n + 8 <= m; n += 8)
    {
        for (int j = 0; j < NL; j += 8)
        {
            const float *s = L + n * NL + j;
            __m256 r0 = _mm256_load_ps (s),          r1 = _mm256_load_ps (s + NL);
            __m256 r2 = _mm256_load_ps (s + 2 * NL), r3 = _mm256_load_ps (s + 3 * NL);
            __m256 r4 = _mm256_load_ps (s + 4 * NL), r5 = _mm256_load_ps (s + 5 * NL);
            __m256 r6 = _mm256_load_ps (s + 6 * NL), r7 = _mm256_load_ps (s + 7 * NL);
            transpose8 (r0, r1, r2, r3, r4, r5, r6, r7);
            _mm256_storeu_ps (q [j] + n, r0);
            _mm256_storeu_ps (q [j + 1] + n, r1);
            _mm256_storeu_ps (q [j + 2] + n, r2);
            _mm256_storeu_ps (q [j + 3] + n, r3);
            _mm256_storeu_ps (q [j + 4] + n, r4);
            _mm256_storeu_ps (q [j + 5] + n, r5);
            _mm256_storeu_ps (q [j + 6] + n, r6);
            _mm256_storeu_ps (q [j + 7] + n, r7);
        }
    }
    for (; n < m; n++)
    {
        for (int j = 0; j < NL; j++) q [j][n] = L [n * NL + j];
    }
}


// Runs kernel K over nch channels in groups of K::NL lanes: K::load (c0, nl)
// takes the states and coefficients of channels c0 .. c0 + nl - 1 into
// lanes (the lanes past nl, if any, run on zeros into scratch), K::run
// (m, L) filters m rows of the lane buffer in place, K::save (c0, nl)
// stores the states back. inp [i] may equal out [i]; a null input reads as
// silence, a null output is not written, and a null out skips the writing
// altogether (for meters).
template <class K>
static void run_lanes (K &k, int nframes, int nch, const float *const *inp, float *const *out)
{
    enum { NL = K::NL };
    alignas (64) float L [CHUNK * NL];
    alignas (64) float scratch [CHUNK];
    const float *ip [NL];
    float *op [NL];

    for (int c0 = 0; c0 < nch; c0 += NL)
    {
        const int nl = (nch - c0 < NL) ? nch - c0 : NL;
        k.load (c0, nl);
        for (int off = 0; off < nframes; off += CHUNK)
        {
            const int m = (nframes - off < CHUNK) ? nframes - off : CHUNK;
            for (int j = 0; j < NL; j++)
            {
                ip [j] = (j < nl && inp [c0 + j]) ? inp [c0 + j] + off : lane_zeros;
                op [j] = (j < nl && out && out [c0 + j]) ? out [c0 + j] + off : scratch;
            }
            to_lanes <NL> (ip, m, L);
            k.run (m, L);
            if (out) from_lanes <NL> (op, m, L);
        }
        k.save (c0, nl);
    }
}


// Helpers for K::load and K::save: lane j of the NV vectors at v from, or
// to, the float field (j) returns (j < nl; the lanes past nl load 0).
template <int NV, class F>
static inline void gather (vf *v, int nl, F field)
{
    alignas (64) float t [NV * W];
    for (int j = 0; j < NV * W; j++) t [j] = (j < nl) ? field (j) : 0.0f;
    for (int i = 0; i < NV; i++) v [i] = vf_load (t + i * W);
}

template <int NV, class F>
static inline void scatter (const vf *v, int nl, F field)
{
    alignas (64) float t [NV * W];
    for (int i = 0; i < NV; i++) vf_store (t + i * W, v [i]);
    for (int j = 0; j < nl; j++) field (j) = t [j];
}

// The same for doubles, NL / DW vectors of doubles.
template <int NV, class F>
static inline void gatherd (vd *v, int nl, F field)
{
    alignas (64) double t [NV * DW];
    for (int j = 0; j < NV * DW; j++) t [j] = (j < nl) ? field (j) : 0.0;
    for (int i = 0; i < NV; i++) v [i] = vd_load (t + i * DW);
}

template <int NV, class F>
static inline void scatterd (const vd *v, int nl, F field)
{
    alignas (64) double t [NV * DW];
    for (int i = 0; i < NV; i++) vd_store (t + i * DW, v [i]);
    for (int j = 0; j < nl; j++) field (j) = t [j];
}
