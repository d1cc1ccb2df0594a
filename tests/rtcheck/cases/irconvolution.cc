// Impulse-response convolver: noise through long responses (every worker
// level busy), stopped, reconfigured and started again while JACK runs. The
// engine's worker loops are marked nonblocking as well, so the check covers
// its threads and not only the process callback.

#include <stdio.h>
#include <stdlib.h>
#include <math.h>
#include <vector>
#include "rtcheck.h"
#include "modules/irconvolution/jconvolv.h"
#include "modules/noisesource/jnoise.h"

static void fail (const char *what)
{
    fprintf (stderr, "rtcheck: irconvolution: %s failed\n", what);
    exit (2);
}

static void load (Jconvolv &J, int len, float scale)
{
    std::vector<float> h (len);
    for (int n = 0; n < len; n++) h [n] = scale * expf (-5.0f * n / len) * ((n * 7919) % 13 - 6);
    Convproc *C = J._convproc;
    C->impdata_create (0, 0, 1, h.data (), 0, len);
    C->impdata_create (1, 1, -1, h.data () + len - 1, 0, len);
    C->impdata_link (0, 0, 1, 0);
    C->impdata_update (0, 1, 1, h.data (), 0, 10);      // refused: no response there
}

RTCHECK_CASE (irconvolution)
{
    Jnoise N ("rt-irconvolution-src", server, 2);
    Jconvolv A ("rt-irconvolution", server, 2, 2);
    Jconvolv B ("rt-irconvolution-idle", server, 0, 100);
    rt_require_running (N, Jclient::PROCESS);
    N.set_output (0, 1, -20.0f);
    N.set_output (1, 2, -20.0f);
    rt_connect (N, 0, A, 0);
    rt_connect (N, 1, A, 1);
    for (int round = 0; round < 3; round++)
    {
        int len = (round == 1) ? 2000 : 100000;
        if (A.configure (len, 0.5f)) fail ("configure");
        load (A, len, 0.01f);
        A.set_state (Jclient::PROCESS);
        rt_require_running (A, Jclient::PROCESS);
        rt_sleep_ms (700);
        A.set_state (Jclient::PASSIVE);
        rt_sleep_ms (50);
        if (A._convproc->cleanup ()) fail ("cleanup");
    }
    B.set_state (5);
    B.configure (300, 1.0f);
    B.set_state (Jclient::PROCESS);
    rt_sleep_ms (100);
    rt_require_cycles (A);
    rt_require_cycles (B);
}
