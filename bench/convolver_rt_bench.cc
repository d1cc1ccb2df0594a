// The convolver under real-time load: NINP x NOUT pairs (diagonal and cross
// terms, every pair its own response) of SECONDS-long decaying noise
// responses, fed with noise, on a running JACK server (the dummy backend:
// jackd -n NAME -d dummy -r 48000 -p 64). Counts JACK's xruns and the
// engine's late partitions, and samples JACK's DSP load once a second:
// first for RUN_SECONDS with the convolver stopped (the machine's own xruns:
// a shared machine's hypervisor steals time at random), then for RUN_SECONDS
// with it running.
//
//   convolver_rt_bench SERVER [RUN_SECONDS=60] [IR_SECONDS=5] [NINP=2] [NOUT=2] [other]
//
// "other" starts the engine's workers with SCHED_OTHER instead of JACK's
// policy (as the module does), to see what real-time workers cost the rest.

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>
#include <atomic>
#include <random>
#include <vector>
#include <jack/jack.h>
#include "modules/irconvolution/jconvolv.h"
#include "modules/noisesource/jnoise.h"

static std::atomic<int> xruns (0);

static int on_xrun (void *)
{
    xruns.fetch_add (1);
    return 0;
}

static void connect (Jclient &A, int i, Jclient &B, int j)
{
    char s [256];
    snprintf (s, sizeof (s), "%s:in_%d", B.jack_name, j);
    if (A.port_operation (PORT_CONNECT_OUT, i, s)) fprintf (stderr, "connect %s failed\n", s);
}

int main (int ac, char *av [])
{
    if (ac < 2)
    {
        fprintf (stderr, "usage: convolver_rt_bench SERVER [RUN_SECONDS] [IR_SECONDS] [NINP] [NOUT]\n");
        return 1;
    }
    const char *server = av [1];
    int run = (ac > 2) ? atoi (av [2]) : 60;
    double irsec = (ac > 3) ? atof (av [3]) : 5.0;
    int ninp = (ac > 4) ? atoi (av [4]) : 2;
    int nout = (ac > 5) ? atoi (av [5]) : 2;
    bool other = (ac > 6) && !strcmp (av [6], "other");

    jack_status_t st;
    jack_client_t *mon = jack_client_open ("conv-bench-monitor", JackServerName, &st, server);
    if (!mon)
    {
        fprintf (stderr, "no server %s\n", server);
        return 1;
    }
    jack_set_xrun_callback (mon, on_xrun, nullptr);
    jack_activate (mon);

    Jnoise N ("conv-bench-noise", server, ninp);
    Jconvolv C ("conv-bench", server, ninp, nout);
    if (C.state < 0 || N.state < 0) return 1;
    for (int i = 0; i < ninp; i++)
    {
        N.set_output (i, 1, -20.0f);
        connect (N, i, C, i);
    }
    int len = (int) (irsec * C.fsamp);
    if (C.configure (len, 1.0f))
    {
        fprintf (stderr, "configure failed\n");
        return 1;
    }
    std::mt19937 g (1);
    std::normal_distribution<float> d;
    std::vector<float> h (len);
    for (int i = 0; i < ninp; i++)
    {
        for (int o = 0; o < nout; o++)
        {
            for (int n = 0; n < len; n++) h [n] = 0.05f * d (g) * expf (-6.9f * n / len);
            C._convproc->impdata_create (i, o, 1, h.data (), 0, len);
        }
    }
    Convproc *P = C._convproc;
    printf ("server %s: %d Hz, period %d; %dx%d responses of %.1f s (%d frames); workers %s; levels:",
            server, C.fsamp, C.fsize, ninp, nout, irsec, len,
            other ? "SCHED_OTHER" : (C.jack_policy == SCHED_FIFO ? "SCHED_FIFO" : "JACK's policy"));
    for (int k = 0; k < P->nlevels (); k++) printf (" %dx%d", P->level_parts (k), P->level_size (k));
    printf ("\n");
    unsigned periods = (unsigned) ((double) run * C.fsamp / C.fsize);
    for (int phase = 0; phase < 2; phase++)
    {
        if (phase)
        {
            if (other)
            {
                if (P->start_process (0, SCHED_OTHER) == 0) C.state = Jclient::PROCESS;
            }
            else C.set_state (Jclient::PROCESS);
            if (C.state != Jclient::PROCESS)
            {
                fprintf (stderr, "start failed\n");
                return 1;
            }
        }
        sleep (1);
        xruns = 0;
        unsigned late0 = P->nlate.load ();
        double sum = 0, peak = 0;
        for (int s = 0; s < run; s++)
        {
            sleep (1);
            double l = jack_cpu_load (mon);
            sum += l;
            peak = fmax (peak, l);
        }
        unsigned late = P->nlate.load () - late0;
        printf ("%-18s %d s: xruns %d, late partition blocks %u (of about %u periods), DSP load mean %.1f%% max %.1f%%\n",
                phase ? "convolver running" : "convolver stopped", run, xruns.load (), late, periods, sum / run, peak);
        fflush (stdout);
    }
    C.set_state (Jclient::PASSIVE);
    jack_deactivate (mon);
    jack_client_close (mon);
    return 0;
}
