// Cost of the filters in ns per channel-sample (and per second-order section
// and sample): an 8-section equaliser steady and while ramping, a crossover
// output with both filters, a Butterworth band-pass, an octave band filter;
// one channel and many. bench/filters_sosfilt.py times scipy.signal.sosfilt
// on the same numbers of sections for comparison.
//   cmake -S . -B build/bench -DVESK_BENCH=ON -DVESK_MODULES=OFF && cmake --build build/bench
//   build/bench/bench/filters_bench

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>
#include "filters/eqgain.h"
#include "filters/svparam2.h"
#include "filters/stepgrid.h"
#include "filters/lr4filter.h"
#include "filters/bw8filter.h"
#include "filters/bp6filter.h"

namespace {

const int FSIZE = 256;
const long TOTAL = 40000000L;    // channel-samples per measurement

struct Buffers
{
    Buffers (int nchan) : data (nchan, std::vector<float> (FSIZE)), ptr (nchan)
    {
        for (int i = 0; i < nchan; i++) ptr [i] = data [i].data ();
    }
    void fill (long k)
    {
        for (size_t i = 0; i < data.size (); i++)
            for (int n = 0; n < FSIZE; n++) data [i][n] = 0.3f * sinf (0.01f * (n + k * FSIZE) + i);
    }
    std::vector<std::vector<float>> data;
    std::vector<float *> ptr;
};

// Runs period (k) over nchan channels; returns ns per channel-sample.
double timeit (int nchan, const std::function<void (long)> &period)
{
    for (long k = 0; k < 50; k++) period (k);
    long periods = TOTAL / ((long) nchan * FSIZE);
    auto t0 = std::chrono::steady_clock::now ();
    for (long k = 0; k < periods; k++) period (k);
    auto t1 = std::chrono::steady_clock::now ();
    return std::chrono::duration<double, std::nano> (t1 - t0).count () / ((double) periods * nchan * FSIZE);
}

double equaliser (int nchan, bool ramping)
{
    const int step = 480;
    Eqgain G;
    G.bypass = false;
    G.gain = 0.9f;
    G.req_count++;
    std::vector<std::unique_ptr<Svparam2>> S;
    const char types [8] = { 0, 2, 3, 4, 2, 3, 4, 1 };
    for (int i = 0; i < 8; i++)
    {
        S.emplace_back (new Svparam2 (types [i]));
        S [i]->bypass = false;
        S [i]->setpars (0.002f * (i + 1) * (i + 1), 2.0f, (i == 0 || i == 7) ? 0.5f : 1.0f);
    }
    Buffers B (nchan);
    int left = 0;
    long steps = 0;
    return timeit (nchan, [&] (long k)
    {
        B.fill (0);
        step_grid (FSIZE, step, left, [&] (bool begin, int off, int n)
        {
            float *p [100];
            if (begin)
            {
                // A new gain target every step keeps every section interpolating.
                if (ramping) for (auto &s : S) s->setpars (s->freq, (steps & 1) ? 2.0f : 1.6f, s->shape);
                steps++;
                G.prepare (step);
                for (auto &s : S) s->prepare (step);
            }
            for (int i = 0; i < nchan; i++) p [i] = B.ptr [i] + off;
            G.process (n, nchan, p, p);
            for (auto &s : S) if (s->mode) s->process1 (n, nchan, p);
        });
    });
}

double crossover (int nchan, bool fused)
{
    std::vector<Lr4filter> hp (nchan), lp (nchan);
    for (int i = 0; i < nchan; i++) { hp [i].setpars (0.01f, -6); lp [i].setpars (0.05f, -6); }
    Buffers B (nchan);
    return timeit (nchan, [&] (long k)
    {
        B.fill (0);
        for (int i = 0; i < nchan; i++)
        {
            if (fused) Lr4filter::process_band (hp [i], lp [i], FSIZE, B.ptr [i], B.ptr [i]);
            else
            {
                hp [i].process_hipass (FSIZE, B.ptr [i], B.ptr [i]);
                lp [i].process_lopass (FSIZE, B.ptr [i], B.ptr [i]);
            }
        }
    });
}

double butterworth (int nchan, bool fused)
{
    std::vector<Bw8filter> hp (nchan), lp (nchan);
    for (int i = 0; i < nchan; i++) { hp [i].init (0.01f); lp [i].init (0.05f); }
    Buffers B (nchan);
    return timeit (nchan, [&] (long k)
    {
        B.fill (0);
        for (int i = 0; i < nchan; i++)
        {
            if (fused) Bw8filter::procbandpass (hp [i], lp [i], FSIZE, B.ptr [i], B.ptr [i]);
            else
            {
                hp [i].prochighpass (FSIZE, B.ptr [i], B.ptr [i], 1.0f);
                lp [i].proclowpass (FSIZE, B.ptr [i], B.ptr [i], 1.0f);
            }
        }
    });
}

double bandfilter (int nchan)
{
    std::vector<Bp6filter> F (nchan);
    for (int i = 0; i < nchan; i++) F [i].setparam (&Oct1filt48.param [5]);
    Buffers B (nchan);
    return timeit (nchan, [&] (long k)
    {
        B.fill (0);
        for (int i = 0; i < nchan; i++) F [i].process (FSIZE, B.ptr [i], B.ptr [i]);
    });
}

// Cost of filling the buffers alone, subtracted from every figure.
double fill_only (int nchan)
{
    Buffers B (nchan);
    return timeit (nchan, [&] (long k) { B.fill (0); });
}

}

int main (void)
{
    printf ("%-34s %4s %10s %16s\n", "", "ch", "ns/ch-smp", "ns/section-smp");
    for (int nchan : { 1, 16, 64 })
    {
        double f0 = fill_only (nchan);
        struct Row { const char *name; int sections; double ns; };
        Row rows [] =
        {
            { "equaliser, 8 sections, steady", 8, equaliser (nchan, false) - f0 },
            { "equaliser, 8 sections, ramping", 8, equaliser (nchan, true) - f0 },
            { "crossover output, hp + lp", 4, crossover (nchan, true) - f0 },
            { "  (one filter after the other)", 4, crossover (nchan, false) - f0 },
            { "butterworth band-pass", 8, butterworth (nchan, true) - f0 },
            { "  (one filter after the other)", 8, butterworth (nchan, false) - f0 },
            { "octave band filter", 3, bandfilter (nchan) - f0 },
        };
        for (const Row &r : rows)
            printf ("%-34s %4d %10.2f %16.2f\n", r.name, nchan, r.ns, r.ns / r.sections);
    }
    return 0;
}
