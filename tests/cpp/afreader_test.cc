// AFreader: block sizes and request queues of a fresh reader, locate at and
// beyond the ends, refusals that leave the reader unchanged, requests of an
// old sequence ignored, and whole files read through the disk thread with
// the ring index wrapping.

#include <gtest/gtest.h>
#include <sched.h>
#include <sndfile.h>
#include <stdio.h>
#include <string>
#include <unistd.h>
#include <vector>
#include "audiofile/afreader.h"


// A WAV file of float frames whose sample k of channel c is a value that
// identifies both: (k % 65521) + c / 8.
class Testfile
{
public:

    Testfile (int rate, int nchan, int nframes) : nchan (nchan), nframes (nframes)
    {
        char tmpl [] = "/tmp/afreader-XXXXXX";
        int fd = mkstemp (tmpl);
        ::close (fd);
        name = std::string (tmpl) + ".wav";
        unlink (tmpl);
        SF_INFO info = {};
        info.samplerate = rate;
        info.channels = nchan;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE *F = sf_open (name.c_str (), SFM_WRITE, &info);
        EXPECT_NE (F, nullptr);
        data.resize ((size_t) nchan * nframes);
        for (int k = 0; k < nframes; k++)
            for (int c = 0; c < nchan; c++) data [(size_t) k * nchan + c] = (k % 65521) + c / 8.0f;
        if (F)
        {
            sf_writef_float (F, data.data (), nframes);
            sf_close (F);
        }
    }
    ~Testfile (void) { unlink (name.c_str ()); }

    std::string         name;
    int                 nchan, nframes;
    std::vector<float>  data;
};


static void expect_request (const AFreader &R, int n, int seq, int first, int end)
{
    const AFreader::Request &Q = R._queue [n % AFreader::NQUEUE];
    EXPECT_EQ (Q.seq, seq) << "request " << n;
    EXPECT_EQ (Q.first, first) << "request " << n;
    EXPECT_EQ (Q.end, end) << "request " << n;
}


TEST (AFreader, BlockSizesFollowTheRate)
{
    struct { int rate, bsize; } cases [] =
    {
        { 4096, 4096 }, { 8000, 4096 }, { 44100, 20480 }, { 48000, 24576 },
        { 96000, 49152 }, { 192000, 94208 }
    };
    for (auto &C : cases)
    {
        Testfile F (C.rate, 1, 1000);
        AFreader R;
        ASSERT_EQ (R.open (F.name.c_str ()), 0) << C.rate;
        EXPECT_EQ (R._bsize, C.bsize) << C.rate;
        EXPECT_EQ (R._rsize, 6 * C.bsize) << C.rate;
        EXPECT_EQ (R._frate, C.rate);
    }
}


TEST (AFreader, RefusesWhatItCannotPlay)
{
    Testfile low (4095, 1, 1000), good (48000, 2, 1000);
    AFreader R;
    EXPECT_EQ (R.open ("/nonexistent/file.wav"), 1);
    EXPECT_EQ (R.locate (0), 1);
    ASSERT_EQ (R.open (good.name.c_str ()), 0);
    // A refused open leaves no file behind, not even the previous one.
    EXPECT_EQ (R.open (low.name.c_str ()), 1);
    EXPECT_EQ (R._ring, nullptr);
    EXPECT_EQ (R._sndfile, nullptr);
    EXPECT_EQ (R._nchan, 0);
    EXPECT_EQ (R._bsize, 0);
    EXPECT_EQ (R.locate (10), 1);
    R.forward (100);
    R.update_avail ();
    EXPECT_EQ (R.posit (), 0);
}


TEST (AFreader, OpenQueuesTheFirstWindow)
{
    {
        // 5 blocks: the first three in a request of their own.
        Testfile F (44100, 1, 100000);
        AFreader R;
        ASSERT_EQ (R.open (F.name.c_str ()), 0);
        EXPECT_EQ (R._bsize, 20480);
        EXPECT_EQ (R._nblock, 5);
        EXPECT_EQ (R._rsize, 122880);
        EXPECT_EQ (R._flen, 100000);
        EXPECT_EQ (R._nwr.load (), 2);
        expect_request (R, 0, 1, 0, 3);
        expect_request (R, 1, 1, 3, 5);
    }
    {
        Testfile F (48000, 2, 30000);
        AFreader R;
        ASSERT_EQ (R.open (F.name.c_str ()), 0);
        EXPECT_EQ (R._nblock, 2);
        EXPECT_EQ (R._nwr.load (), 1);
        expect_request (R, 0, 1, 0, 2);
    }
}


TEST (AFreader, LocateClampsAndRefusesWithoutRoom)
{
    Testfile F (48000, 1, 1000000);   // 41 blocks
    AFreader R;                       // no disk thread: nothing is ever finished
    ASSERT_EQ (R.open (F.name.c_str ()), 0);
    EXPECT_EQ (R.locate (2000000), 0);
    EXPECT_EQ (R.posit (), 1000000);
    EXPECT_EQ (R._rindex, 1000000 % R._rsize);
    EXPECT_EQ (R._blk_first, 40);
    expect_request (R, 2, 2, 40, 41);  // the last, partial block alone
    EXPECT_EQ (R.locate (-5), 0);
    EXPECT_EQ (R.posit (), 0);
    expect_request (R, 3, 3, 0, 3);
    expect_request (R, 4, 3, 3, 6);
    EXPECT_EQ (R._nwr.load (), 5);
    EXPECT_EQ (R.locate (500000), 0);  // 5 outstanding + 2
    EXPECT_EQ (R._nwr.load (), 7);
    // No room for two more: refused before anything changes.
    EXPECT_EQ (R.locate (100000), 1);
    EXPECT_EQ (R.posit (), 500000);
    EXPECT_EQ (R._seq.load (), 4);
    EXPECT_EQ (R._blk_first, 500000 / 24576);
    EXPECT_EQ (R._blk_reqd, 500000 / 24576 + 6);
    EXPECT_EQ (R._nwr.load (), 7);
}


TEST (AFreader, OldSequenceIsIgnored)
{
    Testfile F (48000, 1, 1000000);
    AFreader R;
    ASSERT_EQ (R.open (F.name.c_str ()), 0);      // sequence 1: (0, 3), (3, 6)
    ASSERT_EQ (R.locate (300000), 0);              // sequence 2: (12, 15), (15, 18)
    // Stand in for the disk thread: the two requests of the first sequence
    // are finished and must not count for the new position.
    R._nrd.store (2);
    R.update_avail ();
    EXPECT_EQ (R._blk_avail, 12);
    EXPECT_LE (R.avail (), 0);
    R._nrd.store (3);
    R.update_avail ();
    EXPECT_EQ (R._blk_avail, 15);
    EXPECT_EQ (R.avail (), 15 * 24576 - 300000);
    R._nrd.store (4);
    R.update_avail ();
    EXPECT_EQ (R._blk_avail, 18);
}


// Plays the file through the reader as a process callback would, in runs of
// `chunk` frames that stop at the ring's end; returns what was read and
// counts the wraps of the ring index.
static std::vector<float> play_through (AFreader &R, int chunk, int *wraps)
{
    std::vector<float> out;
    *wraps = 0;
    int idle = 0;
    while (R.posit () < R._flen)
    {
        R.update_avail ();
        int64_t n = std::min<int64_t> ({ (int64_t) chunk, R.avail (), R._flen - R.posit (), (int64_t)(R._rsize - R._rindex) });
        if (n <= 0)
        {
            if (++idle > 20000) break;   // 20 s without data
            usleep (1000);
            continue;
        }
        idle = 0;
        const float *p = R._ring + (size_t) R._rindex * R._nchan;
        out.insert (out.end (), p, p + n * R._nchan);
        int r0 = R._rindex;
        R.forward ((int) n);
        if (R._rindex < r0) (*wraps)++;
    }
    return out;
}


TEST (AFreader, WholeFileThroughTheDiskThread)
{
    struct { int rate, nchan, nframes, chunk; } cases [] =
    {
        { 48000, 2, 400000, 1000 },   // 16.3 blocks: the ring wraps twice
        { 44100, 3, 20480 * 7, 256 }, // whole blocks only
        { 8000, 1, 100001, 21 },
        { 48000, 1, 0, 64 }
    };
    for (auto &C : cases)
    {
        Testfile F (C.rate, C.nchan, C.nframes);
        AFreader R;
        ASSERT_EQ (R.runthr (SCHED_OTHER, 0), 0);
        ASSERT_EQ (R.open (F.name.c_str ()), 0);
        int wraps;
        std::vector<float> out = play_through (R, C.chunk, &wraps);
        EXPECT_EQ (R.posit (), C.nframes);
        ASSERT_EQ (out.size (), F.data.size ()) << C.rate;
        EXPECT_TRUE (out == F.data) << C.rate;
        EXPECT_EQ (wraps, (C.nframes - 1) / R._rsize > 0 ? (C.nframes - 1) / R._rsize : 0) << C.rate;
    }
}


TEST (AFreader, LocateWhileReadingRestartsTheWindow)
{
    Testfile F (48000, 2, 500000);
    AFreader R;
    ASSERT_EQ (R.runthr (SCHED_OTHER, 0), 0);
    ASSERT_EQ (R.open (F.name.c_str ()), 0);
    for (int64_t p : { 333333, 17, 499999, 250000 })
    {
        ASSERT_EQ (R.locate (p), 0);
        int t = 0;
        do
        {
            usleep (1000);
            R.update_avail ();
        }
        while ((R.avail () < std::min<int64_t> (48000, 500000 - p)) && (++t < 20000));
        EXPECT_EQ (R.avail (), (int64_t) R._blk_avail * R._bsize - p);
        EXPECT_LE (R._blk_avail - R._blk_first, 6);
        const float *q = R._ring + (size_t) R._rindex * 2;
        EXPECT_EQ (q [0], F.data [(size_t) p * 2]) << p;
        EXPECT_EQ (q [1], F.data [(size_t) p * 2 + 1]) << p;
    }
    // Reading on to the end from the last position.
    int wraps;
    std::vector<float> out = play_through (R, 777, &wraps);
    std::vector<float> ref (F.data.begin () + 250000 * 2, F.data.end ());
    EXPECT_TRUE (out == ref);
}


TEST (AFreader, CloseWaitsForTheDiskThread)
{
    Testfile F (96000, 2, 1500000);
    AFreader R;
    ASSERT_EQ (R.runthr (SCHED_OTHER, 0), 0);
    for (int k = 0; k < 20; k++)
    {
        // Closed right after a locate, and reopened, while blocks are read.
        ASSERT_EQ (R.open (F.name.c_str ()), 0);
        R.locate (k * 50000);
        EXPECT_EQ (R.close (), 0);
        EXPECT_EQ (R._ring, nullptr);
        EXPECT_EQ (R.posit (), 0);
        EXPECT_EQ (R._flen, 0);
    }
    ASSERT_EQ (R.open (F.name.c_str ()), 0);
    int t = 0;
    do
    {
        usleep (1000);
        R.update_avail ();
    }
    while ((R.avail () < 6 * 49152) && (++t < 20000));
    EXPECT_EQ (R.avail (), 6 * 49152);
}
