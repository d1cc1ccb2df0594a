// Freewheel capture: every dither and a few file types, file channels
// beyond the inputs, a capture of 0 inputs, all driven by a player's marker
// in freewheel mode (see fastplayback.cc for how file access is checked).

#include "rtcheck.h"
#include "fwcase.h"

RTCHECK_CASE (fastcapture)
{
    Fwfiles F (2, 7000);
    Jfwplay P ("rt-fastcapture-p", server, 2);
    Jfwcapt C ("rt-fastcapture", server, 2);
    Jfwcapt Z ("rt-fastcapture-z", server, 0);
    rt_require_running (P);
    rt_require_running (C);
    rt_require_running (Z);
    rt_connect (P, 0, C, 0);
    rt_connect (P, 1, C, 1);
    rt_connect (P, 2, C, 2);
    rt_connect (P, 2, Z, 0);
    const char *opts [] = { "16bit,rect", "16bit,tri", "caf,16bit,lips", "flac,16bit,tri", "aiff,32bit", "amb,float", nullptr };
    std::string zout = F.dir + "/z.wav";
    for (int k = 0; opts [k]; k++)
    {
        if (P.load_file (F.src.c_str ())) rt_fail ("load_file");
        P.set_range (k * 300, 7000 + k * 100);
        if (C.create_file (F.out.c_str (), 1 + k % 4, opts [k])) rt_fail ("create_file");
        if (Z.create_file (zout.c_str (), 2, nullptr)) rt_fail ("create_file");
        fw_render (P, C);
    }
    rt_require_cycles (C);
    unlink (zout.c_str ());
}
