// Jsdata: one playback or recording slot against sequences built directly
// (leading zeros, skipped samples, the array nloop times with its gain).

#include <gtest/gtest.h>
#include <string.h>
#include <vector>
#include "signals/jsdata.h"

namespace {

// Counts its deletions, to check who owns the holder.
struct Counted : Jsholder
{
    int *count;
    explicit Counted (int *c) : count (c) {}
    ~Counted (void) override { ++*count; }
};

struct Case
{
    int  size, step, nloop, nskip, offs;
    float gain;
};

const Case cases [] = {
    { 1000, 1, 2, 100, 0, 1.0f },
    { 1000, 1, 1, 0, 37, 0.5f },
    { 7, 1, 5, 3, 0, -2.0f },
    { 1, 1, 30, 0, 0, 1.0f },
    { 300, 2, 3, 250, 0, 1.0f },
    { 300, -1, 2, 0, 5, 1.0f },
    { 513, 3, 1, 1000, 999, 0.25f },
};

// Backing storage for an array of `size` elements with the given step;
// returns the pointer to element 0.
float *layout (std::vector<float> &mem, int size, int step)
{
    int span = (size - 1) * abs (step) + 1;
    mem.assign (span + 2, -999.0f);
    return mem.data () + 1 + (step < 0 ? span - 1 : 0);
}

}


TEST (Jsdata, PlaysArrayAfterOffsetAndSkip)
{
    for (const Case &c : cases)
    for (int period : { 1, 21, 256, 1000 })
    {
        std::vector<float> mem;
        float *d = layout (mem, c.size, c.step);
        for (int i = 0; i < c.size; i++) d [(ptrdiff_t) i * c.step] = i + 1.0f;

        // Expected: offs zeros (first period only), nskip zeros, nloop passes.
        std::vector<float> want (c.offs + c.nskip, 0.0f);
        for (int l = 0; l < c.nloop; l++)
            for (int i = 0; i < c.size; i++) want.push_back (c.gain * (i + 1.0f));
        int offs = std::min (c.offs, period - 1);
        if (offs < c.offs) want.erase (want.begin (), want.begin () + (c.offs - offs));

        Jsdata s;
        s.set (d, c.step, c.size, nullptr, c.nloop, c.nskip);
        s.gain = c.gain;
        std::vector<float> got, b (period);
        int periods = 0, active = 0;
        for (;;)
        {
            std::fill (b.begin (), b.end (), 123.0f);
            int a = s.output (b.data (), period, periods ? 0 : offs);
            periods++;
            got.insert (got.end (), b.begin (), b.end ());
            if (!a) break;
            active++;
            ASSERT_LT (periods, 100000);
        }
        // Active while samples remained at the start of a period; the last
        // period is silent.
        int len = (int) want.size ();
        EXPECT_EQ (active, (len + period - 1) / period) << c.size << " " << period;
        want.resize (got.size (), 0.0f);
        ASSERT_EQ (got, want) << c.size << " " << c.step << " " << period;
        // The array itself is untouched.
        for (int i = 0; i < c.size; i++) ASSERT_EQ (d [(ptrdiff_t) i * c.step], i + 1.0f);
    }
}


TEST (Jsdata, RecordsIntoItsElementsOnly)
{
    for (const Case &c : cases)
    for (int period : { 1, 21, 256, 1000 })
    {
        std::vector<float> mem;
        float *d = layout (mem, c.size, c.step);
        for (int i = 0; i < c.size; i++) d [(ptrdiff_t) i * c.step] = 0.0f;
        std::vector<float> before = mem;

        Jsdata s;
        s.set (d, c.step, c.size, nullptr, c.nloop, c.nskip);
        s.gain = c.gain;
        int offs = std::min (c.offs, period - 1);
        // Input: the running sample count 1, 2, 3, ... of the whole stream.
        std::vector<float> b (period);
        long t = 0;
        int periods = 0;
        for (;;)
        {
            for (int i = 0; i < period; i++) b [i] = (float) ++t;
            if (!s.input (b.data (), period, periods ? 0 : offs)) break;
            periods++;
            ASSERT_LT (periods, 100000);
        }
        // The last pass wins: element i holds stream sample
        // offs + nskip + (nloop - 1) size + i + 1.
        for (int i = 0; i < c.size; i++)
        {
            float want = c.gain * (float)(offs + c.nskip + (long)(c.nloop - 1) * c.size + i + 1);
            ASSERT_EQ (d [(ptrdiff_t) i * c.step], want) << c.size << " " << period << " " << i;
        }
        // Everything between and around the elements is as before.
        for (size_t j = 0; j < mem.size (); j++)
        {
            ptrdiff_t rel = (mem.data () + j) - d;
            bool elem = c.step ? (rel % c.step == 0 && rel / c.step >= 0 && rel / c.step < c.size) : rel == 0;
            if (!elem) { ASSERT_EQ (mem [j], before [j]) << j; }
        }
    }
}


TEST (Jsdata, UnusedAndEndlessSlots)
{
    float d [10];
    for (int i = 0; i < 10; i++) d [i] = i + 1.0f;
    float b [64];

    // No array, nloop 0, or an empty array: silent and inactive; input is
    // not touched.
    struct { float *data; int size, nloop; } idle [] = { { nullptr, 10, 1 }, { d, 10, 0 }, { d, 0, 1 } };
    for (auto &c : idle)
    {
        Jsdata s;
        s.set (c.data, 1, c.size, nullptr, c.nloop, 0);
        memset (b, 0x7f, sizeof (b));
        EXPECT_EQ (s.output (b, 64, 0), 0);
        for (float v : b) EXPECT_EQ (v, 0.0f);
        EXPECT_EQ (s.input (b, 64, 0), 0);
        EXPECT_FALSE (s.active ());
    }

    // A negative count repeats for ever.
    Jsdata s;
    s.set (d, 1, 10, nullptr, -1, 0);
    for (int p = 0; p < 1000; p++)
    {
        ASSERT_EQ (s.output (b, 64, 0), 1);
        for (int i = 0; i < 64; i++) ASSERT_EQ (b [i], (float)((p * 64 + i) % 10 + 1));
    }
    EXPECT_EQ (s.cloop, 0);
    s.reset ();
    s.output (b, 64, 0);
    EXPECT_EQ (b [0], 1.0f);
}


TEST (Jsdata, OwnsItsHolder)
{
    float d [4] = { 1, 2, 3, 4 };
    int deleted = 0;
    {
        Jsdata s;
        s.set (d, 1, 4, new Counted (&deleted), 1, 0);
        EXPECT_EQ (deleted, 0);
        s.set (d, 1, 4, new Counted (&deleted), 1, 0);   // replaces the first
        EXPECT_EQ (deleted, 1);
        s.set (d, 1, 0, new Counted (&deleted), 1, 0);   // empty: let go at once
        EXPECT_EQ (deleted, 3);
        EXPECT_EQ (s.data, nullptr);
        s.set (d, 1, 4, new Counted (&deleted), 1, 0);
        s.clear ();
        EXPECT_EQ (deleted, 4);
        EXPECT_EQ (s.data, nullptr);
        s.set (d, 1, 4, new Counted (&deleted), 1, 0);
    }
    EXPECT_EQ (deleted, 5);   // the destructor lets go of the last one
}
