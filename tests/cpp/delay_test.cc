// Delay: ring sizes, exact delays across the ring's end, zeros before filling.

#include <gtest/gtest.h>
#include <cstring>
#include <vector>
#include "framework/delay.h"


TEST (Delay, Sizes)
{
    struct Case { int maxdel, frag, size; };
    const Case cases [] = { { 480, 256, 768 }, { 512, 256, 768 }, { 513, 256, 1024 },
                            { 0, 64, 128 }, { 1, 64, 128 }, { 64, 64, 128 }, { 65, 64, 192 } };
    for (const Case &c : cases)
    {
        Delay D;
        D.init (c.maxdel, c.frag);
        EXPECT_EQ (D.size, c.size) << c.maxdel << " " << c.frag;
        EXPECT_EQ (D.wind, 0);
        for (int i = 0; i < D.size + D.frag; i++) ASSERT_EQ (D.buff [i], 0.0f);
    }
}


TEST (Delay, ExactDelaysAcrossTheRingEnd)
{
    // Input sample n has the value n + 1, so a delayed read names its age.
    for (int frag : { 1, 21, 256, 1000 })
    {
        const int maxdel = 480;
        Delay D;
        D.init (maxdel, frag);
        std::vector<float> blk (frag);
        long n = 0;
        for (int p = 0; p < 40 + 3 * maxdel / frag; p++)
        {
            for (int j = 0; j < frag; j++) blk [j] = (float) (n + j + 1);
            D.write (blk.data ());
            for (int d : { 0, 1, 17, frag, maxdel - 1, maxdel })
            {
                const float *q = D.readp (d);
                for (int j = 0; j < frag; j++)
                {
                    long age = n + j - d;    // index of the expected input sample
                    float want = (age < 0) ? 0.0f : (float) (age + 1);
                    ASSERT_EQ (q [j], want) << "frag " << frag << " d " << d << " p " << p << " j " << j;
                }
            }
            n += frag;
        }
    }
}


TEST (Delay, ReadZeroIsTheBlockJustWritten)
{
    Delay D;
    D.init (100, 32);
    float blk [32];
    for (int p = 0; p < 10; p++)
    {
        for (int j = 0; j < 32; j++) blk [j] = p * 100.0f + j;
        D.write (blk);
        EXPECT_EQ (0, memcmp (D.readp (0), blk, sizeof (blk)));
    }
}


TEST (Delay, ResetClears)
{
    Delay D;
    D.init (10, 4);
    float blk [4] = { 1, 2, 3, 4 };
    for (int p = 0; p < 5; p++) D.write (blk);
    D.reset ();
    D.write (blk);
    const float *q = D.readp (4);
    for (int j = 0; j < 4; j++) EXPECT_EQ (q [j], 0.0f);
}
