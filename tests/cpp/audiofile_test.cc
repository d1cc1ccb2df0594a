// Audiofile: keyword tables, the result codes of the opens, and real files of
// every type, form and dither written and read back through libsndfile.

#include <gtest/gtest.h>
#include <dlfcn.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>
#include "audiofile/audiofile.h"

// Every dithered chunk reaches the library through sf_writef_short; this
// definition in the test program stands in front of the library's and
// records the frame count of each call.
static std::vector<long> *short_writes = nullptr;

extern "C" sf_count_t sf_writef_short (SNDFILE *f, const short *p, sf_count_t n)
{
    typedef sf_count_t (*Fn) (SNDFILE *, const short *, sf_count_t);
    static Fn real = (Fn) dlsym (RTLD_NEXT, "sf_writef_short");
    if (short_writes) short_writes->push_back ((long) n);
    return real (f, p, n);
}

namespace {

class Tmpdir
{
public:
    Tmpdir (void)
    {
        char t [] = "/tmp/vesk-audiofile-XXXXXX";
        dir = mkdtemp (t);
    }
    ~Tmpdir (void) { std::string cmd = "rm -rf " + dir; (void) !system (cmd.c_str ()); }
    std::string path (const char *name) const { return dir + "/" + name; }
    std::string dir;
};

// A test signal inside +-1: a different sine on every channel.
std::vector<float> signal (int frames, int chan, float amp = 0.8f)
{
    std::vector<float> d ((size_t) frames * chan);
    for (int i = 0; i < frames; i++)
        for (int c = 0; c < chan; c++)
            d [(size_t) i * chan + c] = amp * sinf (0.01f * (c + 1) * i + c);
    return d;
}

}


TEST (Audiofile, KeywordTables)
{
    struct { const char *s; int type, form, dith; } cases [] = {
        { "other", -1, -1, -1 }, { "none", -1, -1, 0 },
        { "caf", 1, -1, -1 }, { "wav", 2, -1, -1 }, { "amb", 3, -1, -1 },
        { "aiff", 4, -1, -1 }, { "flac", 5, -1, -1 },
        { "16bit", -1, 1, -1 }, { "24bit", -1, 2, -1 }, { "32bit", -1, 3, -1 }, { "float", -1, 4, -1 },
        { "rect", -1, -1, 1 }, { "tri", -1, -1, 2 }, { "lips", -1, -1, 3 },
        { "WAV", -1, -1, -1 }, { "", -1, -1, -1 }, { "wavx", -1, -1, -1 }, { nullptr, -1, -1, -1 },
    };
    for (auto &c : cases)
    {
        SCOPED_TRACE (c.s ? c.s : "(null)");
        EXPECT_EQ (Audiofile::enc_type (c.s), c.type);
        EXPECT_EQ (Audiofile::enc_form (c.s), c.form);
        EXPECT_EQ (Audiofile::enc_dith (c.s), c.dith);
    }
}


TEST (Audiofile, NewObjectHoldsNothing)
{
    Audiofile A;
    float f [4];
    int i [4];
    EXPECT_EQ (A.mode (), 0);
    EXPECT_EQ (A.size (), 0);
    EXPECT_EQ (A.get_buffer (), nullptr);
    EXPECT_EQ (A.seek (0, SEEK_SET), -1);
    EXPECT_EQ (A.read (f, 1), -1);
    EXPECT_EQ (A.read_int (i, 1), -1);
    EXPECT_EQ (A.write (f, 1), -1);
    EXPECT_EQ (A.write_int (i, 1), -1);
    EXPECT_EQ (A.set_dither (1), -1);
    EXPECT_EQ (A.close (), 0);
}


TEST (Audiofile, OpenWriteChecksInOrder)
{
    Tmpdir T;
    std::string p = T.path ("x.wav");
    Audiofile A;
    EXPECT_EQ (A.open_write (p.c_str (), 6, 5, 0, 2), -4);      // rate before type
    EXPECT_EQ (A.open_write (p.c_str (), 6, 5, 48000, 0), -4);  // channels before type
    EXPECT_EQ (A.open_write (p.c_str (), 0, 5, 48000, 2), -2);
    EXPECT_EQ (A.open_write (p.c_str (), 6, 1, 48000, 2), -2);
    EXPECT_EQ (A.open_write (p.c_str (), 2, 5, 48000, 2), -3);
    EXPECT_EQ (A.open_write (p.c_str (), 2, 0, 48000, 2), -3);
    EXPECT_EQ (A.open_write ((T.dir + "/no/such/dir.wav").c_str (), 2, 1, 48000, 2), -4);
    EXPECT_EQ (A.mode (), 0);
    ASSERT_EQ (A.open_write (p.c_str (), 2, 1, 48000, 2), 0);
    EXPECT_EQ (A.mode (), 2);
    EXPECT_EQ (A.open_write (p.c_str (), 2, 1, 48000, 2), -1);  // already open
    EXPECT_EQ (A.open_read (p.c_str ()), -1);
    EXPECT_EQ (A.open_rdwr (p.c_str ()), -1);
    float f [2] = { 0, 0 };
    EXPECT_EQ (A.read (f, 1), -1);                               // not readable
    A.close ();
    EXPECT_EQ (A.mode (), 0);
    EXPECT_EQ (A.open_read (T.path ("missing.wav").c_str ()), -4);
    EXPECT_EQ (A.mode (), 0);
}


TEST (Audiofile, BadFilesAreRefused)
{
    Tmpdir T;
    std::string junk = T.path ("junk.wav");
    FILE *F = fopen (junk.c_str (), "w");
    fputs ("RIFF this is not audio at all", F);
    fclose (F);
    Audiofile A;
    EXPECT_EQ (A.open_read (junk.c_str ()), -4);
    EXPECT_EQ (A.open_read (T.dir.c_str ()), -4);   // a directory
    EXPECT_EQ (A.mode (), 0);
}


// Every type x form, 1 to 4 channels, with every dither the form allows:
// the file reads back with its type, form, rate, channels and frame count,
// and its samples within the form's resolution (dither adds at most 1.5 LSB
// plus the shaped noise for "lips").
TEST (Audiofile, EveryTypeFormAndDitherReadsBack)
{
    Tmpdir T;
    const int frames = 2500;
    for (int type = 1; type <= 5; type++)
    for (int form = 1; form <= 4; form++)
    for (int chan = 1; chan <= 4; chan++)
    for (int dith = 0; dith <= 3; dith++)
    {
        if (type == Audiofile::TYPE_FLAC && form >= Audiofile::FORM_32BIT) continue;  // FLAC has no 32-bit or float
        if (dith && form != Audiofile::FORM_16BIT) continue;
        std::string name = std::string ("f_") + Audiofile::_typestr [type] + "_" + Audiofile::_formstr [form]
                           + "_" + std::to_string (chan) + "_" + Audiofile::_dithstr [dith];
        SCOPED_TRACE (name);
        std::string p = T.path (name.c_str ());
        std::vector<float> d = signal (frames, chan);
        {
            Audiofile A;
            ASSERT_EQ (A.open_write (p.c_str (), type, form, 44100, chan), 0);
            ASSERT_EQ (A.set_dither (dith), (form == Audiofile::FORM_16BIT) ? 0 : -3);
            EXPECT_EQ (A.dith_type (), dith);
            EXPECT_EQ (A.write (d.data (), 1000), 1000);
            EXPECT_EQ (A.write (d.data () + 1000 * chan, frames - 1000), frames - 1000);
        }
        Audiofile B;
        ASSERT_EQ (B.open_read (p.c_str ()), 0);
        int want_type = type;
        if (type == Audiofile::TYPE_AMB && chan < 3) want_type = Audiofile::TYPE_WAV;   // plain WAV has no tag
        EXPECT_EQ (B.type (), want_type);
        EXPECT_EQ (B.form (), form);
        EXPECT_EQ (B.rate (), 44100);
        EXPECT_EQ (B.chan (), chan);
        EXPECT_EQ (B.size (), frames);
        std::vector<float> r (d.size ());
        ASSERT_EQ (B.read (r.data (), frames + 10), frames);
        float tol = (form == Audiofile::FORM_16BIT) ? (dith == 3 ? 40.0f : 1.6f) / 32768 : 1e-6f;
        float maxerr = 0;
        for (size_t i = 0; i < d.size (); i++) maxerr = fmaxf (maxerr, fabsf (r [i] - d [i]));
        EXPECT_LE (maxerr, tol);
        if (form == Audiofile::FORM_FLOAT)
        {
            EXPECT_EQ (maxerr, 0.0f);
        }
    }
}


TEST (Audiofile, WavBecomesWavexFromThreeChannels)
{
    Tmpdir T;
    struct { const char *kw; int chan, major, type; } cases [] = {
        { "wav", 2, SF_FORMAT_WAV, 2 }, { "wav", 3, SF_FORMAT_WAVEX, 2 }, { "wav", 4, SF_FORMAT_WAVEX, 2 },
        { "amb", 2, SF_FORMAT_WAV, 2 }, { "amb", 3, SF_FORMAT_WAVEX, 3 }, { "amb", 4, SF_FORMAT_WAVEX, 3 },
    };
    for (auto &c : cases)
    {
        SCOPED_TRACE (std::string (c.kw) + " " + std::to_string (c.chan));
        std::string p = T.path ("w.wav");
        std::vector<float> d = signal (100, c.chan);
        {
            Audiofile A;
            ASSERT_EQ (A.open_write (p.c_str (), Audiofile::enc_type (c.kw), 2, 48000, c.chan), 0);
            A.write (d.data (), 100);
        }
        SF_INFO info = {};
        SNDFILE *S = sf_open (p.c_str (), SFM_READ, &info);
        ASSERT_NE (S, nullptr);
        EXPECT_EQ (info.format & SF_FORMAT_TYPEMASK, c.major);
        sf_close (S);
        Audiofile B;
        ASSERT_EQ (B.open_read (p.c_str ()), 0);
        EXPECT_EQ (B.type (), c.type);
    }
}


TEST (Audiofile, OtherFormatsReadAsZero)
{
    Tmpdir T;
    struct { const char *name; int format, type, form; } cases [] = {
        { "u8.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_U8, 2, 0 },
        { "d.wav", SF_FORMAT_WAV | SF_FORMAT_DOUBLE, 2, 0 },
        { "s8.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_S8, 4, 0 },
        { "x.au", SF_FORMAT_AU | SF_FORMAT_PCM_16, 0, 1 },
        { "x.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_S8, 5, 0 },
    };
    for (auto &c : cases)
    {
        SCOPED_TRACE (c.name);
        std::string p = T.path (c.name);
        SF_INFO info = {};
        info.format = c.format;
        info.samplerate = 22050;
        info.channels = 1;
        SNDFILE *S = sf_open (p.c_str (), SFM_WRITE, &info);
        ASSERT_NE (S, nullptr);
        std::vector<float> d = signal (400, 1);
        sf_writef_float (S, d.data (), 400);
        sf_close (S);
        Audiofile A;
        ASSERT_EQ (A.open_read (p.c_str ()), 0);
        EXPECT_EQ (A.type (), c.type);
        EXPECT_EQ (A.form (), c.form);
        EXPECT_EQ (A.size (), 400);
        EXPECT_EQ (A.rate (), 22050);
    }
}


TEST (Audiofile, DitherOnlyOnSixteenBit)
{
    Tmpdir T;
    std::string p = T.path ("d24.wav");
    Audiofile A;
    ASSERT_EQ (A.open_write (p.c_str (), 2, 2, 48000, 1), 0);
    EXPECT_EQ (A.set_dither (1), -3);
    EXPECT_EQ (A.dith_type (), 0);
    float x [3] = { 0.25f, -0.5f, 1.0f / 8388608 };
    EXPECT_EQ (A.write (x, 3), 3);
    A.close ();
    ASSERT_EQ (A.open_read (p.c_str ()), 0);
    int r [3];
    ASSERT_EQ (A.read_int (r, 3), 3);
    EXPECT_EQ (r [0], 0x20000000);          // exact 24-bit codes, no dither noise
    EXPECT_EQ (r [1], -0x40000000);
    EXPECT_EQ (r [2], 0x100);
    A.close ();
    // An unknown dither code is refused, never used as an index.
    ASSERT_EQ (A.open_write (p.c_str (), 2, 1, 48000, 1), 0);
    EXPECT_EQ (A.set_dither (4), -3);
    EXPECT_EQ (A.set_dither (-1), -3);
    EXPECT_EQ (A.dith_type (), 0);
    ASSERT_EQ (A.set_dither (2), 0);
    ASSERT_EQ (A.set_dither (0), 0);
    EXPECT_EQ (A.dith_type (), 0);
    EXPECT_EQ (A.write (x, 3), 3);
}


TEST (Audiofile, FloatBeyondFullScaleIsClipped)
{
    Tmpdir T;
    std::string p = T.path ("clip.wav");
    Audiofile A;
    ASSERT_EQ (A.open_write (p.c_str (), 2, 1, 48000, 1), 0);
    float x [4] = { 2.0f, -3.0f, 1.0f, -1.0f };
    A.write (x, 4);
    A.close ();
    ASSERT_EQ (A.open_read (p.c_str ()), 0);
    int r [4];
    ASSERT_EQ (A.read_int (r, 4), 4);
    EXPECT_EQ (r [0] >> 16, 32767);
    EXPECT_EQ (r [1] >> 16, -32768);
    EXPECT_EQ (r [2] >> 16, 32767);
}


TEST (Audiofile, DitheredWritesGoInChunksOf1024)
{
    Tmpdir T;
    std::string p = T.path ("chunks.wav");
    std::vector<long> calls;
    std::vector<float> d = signal (2500, 2);
    Audiofile A;
    ASSERT_EQ (A.open_write (p.c_str (), 2, 1, 48000, 2), 0);
    ASSERT_EQ (A.set_dither (3), 0);
    short_writes = &calls;
    EXPECT_EQ (A.write (d.data (), 2500), 2500);
    EXPECT_EQ (A.write (d.data (), 0), 0);
    short_writes = nullptr;
    EXPECT_EQ (calls, (std::vector<long> { 1024, 1024, 452 }));
}


TEST (Audiofile, ReadWriteAndSeek)
{
    Tmpdir T;
    std::string p = T.path ("rw.caf");
    std::vector<float> d = signal (500, 2);
    {
        Audiofile A;
        ASSERT_EQ (A.open_write (p.c_str (), 1, 4, 96000, 2), 0);
        ASSERT_NE (A.get_buffer (), nullptr);
        EXPECT_EQ (A.get_buffer (), A.get_buffer ());
        A.write (d.data (), 500);
    }
    Audiofile A;
    ASSERT_EQ (A.open_rdwr (p.c_str ()), 0);
    EXPECT_EQ (A.mode (), 3);
    EXPECT_EQ (A.size (), 500);
    EXPECT_EQ (A.seek (400, SEEK_SET), 400);
    float *b = A.get_buffer ();
    ASSERT_EQ (A.read (b, 1024), 100);
    EXPECT_EQ (b [0], d [800]);
    EXPECT_EQ (A.seek (-50, SEEK_END), 450);
    float two [4] = { 3.0f, -3.0f, 0.5f, 0.25f };
    EXPECT_EQ (A.write (two, 2), 2);                // float data: stored as given
    A.seek (450, SEEK_SET);
    float r [4];
    ASSERT_EQ (A.read (r, 2), 2);
    EXPECT_EQ (r [2], 0.5f);
    A.close ();
    EXPECT_EQ (A.mode (), 0);
    EXPECT_EQ (A.chan (), 0);
    EXPECT_EQ (A.size (), 0);
}
