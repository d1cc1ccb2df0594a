// Histmin: the running minimum against a brute-force window, and its tie rules.

#include <gtest/gtest.h>
#include <algorithm>
#include <random>
#include <vector>
#include "dynamics/histmin.h"


TEST (Histmin, MatchesBruteForceWindow)
{
    std::mt19937 rng (7);
    // Few distinct levels, so that ties are frequent.
    std::uniform_int_distribution<int> level (0, 5);
    for (int hlen = 1; hlen <= 32; hlen++)
    {
        Histmin H;
        H.init (hlen);
        std::vector<float> seq (hlen, 1.0f);    // the window starts full of 1.0
        for (int n = 0; n < 3000; n++)
        {
            float v = (n % 400 < 200) ? 0.2f * level (rng) : 1.0f - 0.01f * (n % 7);
            seq.push_back (v);
            float m = H.write (v);
            float ref = *std::min_element (seq.end () - hlen, seq.end ());
            ASSERT_EQ (m, ref) << "hlen " << hlen << " n " << n;
            ASSERT_EQ (H.vmin, m);
            // The minimum tracked is inside the window: hold writes from now
            // it leaves, so it sits at age hlen - hold and has the value vmin.
            ASSERT_GE (H.hold, 1);
            ASSERT_LE (H.hold, hlen);
            ASSERT_EQ (seq [seq.size () - 1 - (hlen - H.hold)], m);
        }
    }
}


TEST (Histmin, TieRules)
{
    Histmin H;
    H.init (4);
    EXPECT_EQ (H.vmin, 1.0f);
    EXPECT_EQ (H.hold, 4);
    // A tie with the current minimum takes the newest value: hold restarts.
    H.write (0.5f);
    H.write (0.7f);
    EXPECT_EQ (H.hold, 3);
    H.write (0.5f);
    EXPECT_EQ (H.hold, 4);
    // Window 0.5 0.7 0.5 0.9: the newer 0.5 keeps the minimum for 3 more writes.
    H.write (0.9f);
    EXPECT_EQ (H.hold, 3);
    H.write (0.9f);
    H.write (0.9f);
    EXPECT_EQ (H.write (0.9f), 0.9f);
    EXPECT_EQ (H.hold, 4);   // the new value v wins against older equal values

    // At a rescan, among equal older minima the oldest wins.
    H.init (4);
    H.write (0.1f);          // expires after 4 writes
    H.write (0.3f);
    H.write (0.3f);
    H.write (0.6f);
    EXPECT_EQ (H.write (0.8f), 0.3f);   // 0.1 left; window 0.3 0.3 0.6 0.8
    EXPECT_EQ (H.hold, 1);              // the older 0.3, leaving at the next write
    EXPECT_EQ (H.write (0.8f), 0.3f);   // then the newer one
    EXPECT_EQ (H.hold, 1);
    EXPECT_EQ (H.write (0.8f), 0.6f);
}


TEST (Histmin, LengthLimits)
{
    Histmin H;
    H.init (0);
    EXPECT_EQ (H.hlen, 1);
    H.init (40);
    EXPECT_EQ (H.hlen, 32);
    // Length 1: always the value just written.
    H.init (1);
    for (float v : { 0.3f, 0.9f, 0.1f, 0.5f, 0.5f, 1.0f }) EXPECT_EQ (H.write (v), v);
}
