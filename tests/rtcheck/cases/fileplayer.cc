// File player: files at the server's rate and at another rate played,
// stopped, located while playing and stopped, gains ramped, played to the
// end and beyond, with the disk thread reading meanwhile.

#include <math.h>
#include <sndfile.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>
#include "rtcheck.h"
#include "modules/fileplayer/jplayer.h"

static void write_file (const char *name, int rate, int nchan, int nframes)
{
    SF_INFO info = {};
    info.samplerate = rate;
    info.channels = nchan;
    info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    SNDFILE *F = sf_open (name, SFM_WRITE, &info);
    if (!F)
    {
        fprintf (stderr, "rtcheck: cannot write %s\n", name);
        exit (2);
    }
    std::vector<float> d ((size_t) nchan * nframes);
    for (size_t i = 0; i < d.size (); i++) d [i] = 0.5f * sinf (0.01f * i);
    sf_writef_float (F, d.data (), nframes);
    sf_close (F);
}

RTCHECK_CASE (fileplayer)
{
    Jplayer A ("rt-fileplayer", server, 2);
    Jplayer B ("rt-fileplayer-rs", server, 3);
    rt_require_running (A);
    rt_require_running (B);
    char fa [64], fb [64];
    snprintf (fa, sizeof (fa), "/tmp/rt-fileplayer-%d-a.wav", (int) getpid ());
    snprintf (fb, sizeof (fb), "/tmp/rt-fileplayer-%d-b.wav", (int) getpid ());
    write_file (fa, A.fsamp, 2, 8 * A.fsamp);
    write_file (fb, (A.fsamp == 44100) ? 48000 : 44100, 3, 400000);
    if (A.open_file (fa) || B.open_file (fb))
    {
        fprintf (stderr, "rtcheck: the player refused its files\n");
        exit (2);
    }
    for (int k = 0; k < 6; k++)
    {
        for (Jplayer *P : { &A, &B })
        {
            P->set_state (Jclient::PROCESS);
            P->set_state (Jplayer::PLAYING);
            P->set_gain ((k & 1) ? -20.0f : 0.0f, 0.05f * k);
        }
        rt_sleep_ms (150);
        A.set_posit (k * 77777);
        B.set_posit (400000 - 3000 * k);   // plays into the end of the file
        rt_sleep_ms (100);
        A.set_state (Jclient::PROCESS);
        B.set_posit (k * 50000);
        rt_sleep_ms (50);
        A.set_posit (k * 1000);
        B.set_state (Jclient::PROCESS);
        rt_sleep_ms (30);
        for (Jplayer *P : { &A, &B })
        {
            P->set_state (Jclient::PASSIVE);
            P->set_gain (-200.0f, 0.0f);
        }
        rt_sleep_ms (20);
    }
    rt_require_cycles (A);
    A.close_file ();
    B.close_file ();
    unlink (fa);
    unlink (fb);
}
