// Shared by the freewheel cases: a source file made on the main thread, and
// one render in freewheel mode.

#ifndef VESK_RT_FWCASE_H
#define VESK_RT_FWCASE_H

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <string>
#include <vector>
#include "rtcheck.h"
#include "audiofile/audiofile.h"
#include "modules/fastplayback/jfwplay.h"
#include "modules/fastcapture/jfwcapt.h"

inline void rt_fail (const char *what)
{
    fprintf (stderr, "rtcheck: %s failed\n", what);
    exit (2);
}

// A source file of chan channels and frames frames, and a name for outputs,
// in a directory of their own, removed at the end.
struct Fwfiles
{
    Fwfiles (int chan, int frames)
    {
        char t [] = "/tmp/vesk-rtcheck-XXXXXX";
        if (!mkdtemp (t)) rt_fail ("mkdtemp");
        dir = t;
        src = dir + "/src.wav";
        out = dir + "/out.wav";
        std::vector<float> d ((size_t) chan * frames);
        for (size_t i = 0; i < d.size (); i++) d [i] = 0.5f * sinf (0.001f * i);
        Audiofile A;
        if (A.open_write (src.c_str (), Audiofile::TYPE_WAV, Audiofile::FORM_FLOAT, 48000, chan)) rt_fail ("source file");
        A.write (d.data (), frames);
    }
    ~Fwfiles (void)
    {
        unlink (src.c_str ());
        unlink (out.c_str ());
        rmdir (dir.c_str ());
    }
    std::string dir, src, out;
};

inline void fw_wait_passive (Jfwplay &P, Jfwcapt &C)
{
    for (int t = 0; t < 10000; t++)
    {
        if (P.state == Jclient::PASSIVE && C.state == Jclient::PASSIVE) return;
        rt_sleep_ms (1);
    }
    rt_fail ("render end");
}

// One render: freewheel on until the player and the capture are idle again.
inline void fw_render (Jfwplay &P, Jfwcapt &C)
{
    P.set_state (1);
    rt_sleep_ms (20);
    fw_wait_passive (P, C);
    P.set_state (0);
    rt_sleep_ms (5);
}

#endif
