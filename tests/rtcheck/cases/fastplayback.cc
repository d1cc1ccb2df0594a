// Freewheel player: whole files, ranges past the end, empty ranges and a run
// cut short, each rendered into a capture in freewheel mode.
//
// The player reads its file on the process thread, and the capture writes
// its file there, only while the server runs in freewheel mode, where JACK
// does not hold that thread to real time. Their library calls run inside a
// Freewheel_io scope (audiofile/fwio.h), which lifts the sanitizer's check
// for those calls alone, and only while the client has been told that
// freewheel mode is on (the capture also counts a marker as proof). All the
// rest of both callbacks (markers, copies, state changes) stays checked, and
// a file call made outside freewheel mode would still be reported.

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <math.h>
#include <string>
#include <vector>
#include "rtcheck.h"
#include "modules/fastplayback/jfwplay.h"
#include "modules/fastcapture/jfwcapt.h"
#include "fwcase.h"

RTCHECK_CASE (fastplayback)
{
    Fwfiles F (3, 20000);
    Jfwplay P ("rt-fastplayback", server, 2);
    Jfwcapt C ("rt-fastplayback-c", server, 2);
    rt_require_running (P);
    rt_require_running (C);
    rt_connect (P, 0, C, 0);
    rt_connect (P, 1, C, 1);
    rt_connect (P, 2, C, 2);   // _sync
    struct { int64_t start, end; } ranges [] = { { 0, 20000 }, { 19000, 23000 }, { 30000, 30100 }, { 500, 500 }, { 0, 2500 } };
    for (auto &r : ranges)
    {
        if (P.load_file (F.src.c_str ())) rt_fail ("load_file");
        P.set_range (r.start, r.end);
        if (C.create_file (F.out.c_str (), 2, "wav,float")) rt_fail ("create_file");
        fw_render (P, C);
    }
    // Cut short: freewheel mode ends in the middle of a long range.
    P.set_range (0, 2000000);
    C.create_file (F.out.c_str (), 2, "wav,24bit");
    P.set_state (1);
    rt_sleep_ms (30);
    P.set_state (0);
    fw_wait_passive (P, C);
    P.load_file (nullptr);
    rt_require_cycles (P);
}
