// Gain and delay matrix: gains and delays changed on every side while
// audio runs (ramps and crossfades), with and without delay lines; ports
// are deleted and made again.

#include "rtcheck.h"
#include "modules/gaincontrol/jgainctl.h"
#include "modules/gaindelaymatrix/jmatrix.h"

RTCHECK_CASE (gaindelaymatrix)
{
    Jgainctl G ("rt-gaindelaymatrix-g", server, 4);
    Jmatrix A ("rt-gaindelaymatrix", server, 4, 4, 0.1f);
    Jmatrix B ("rt-gaindelaymatrix-b", server, 4, 3, 0.0f);
    Jmatrix C ("rt-gaindelaymatrix-c", server, 100, 100, 5.0f);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    rt_require_running (C, Jclient::PROCESS);
    G.fader->setgain (-1, -6.0f);
    for (int i = 0; i < 4; i++)
    {
        rt_connect (G, i, A, i);
        rt_connect (A, i, G, i);
        rt_connect (A, i, B, i);
        rt_connect (B, i % 3, C, i);
    }
    for (int k = 0; k < 80; k++)
    {
        A.set_gain (k % 4, (k / 4) % 4, (k % 3) * 0.4f);
        A.set_delay (k % 4, (k / 4) % 4, 0.01f * (k % 11));
        A.set_gain (k % 5 - 1, -1, 0.9f);
        A.set_delay (-1, k % 5 - 1, -0.003f * (k % 3));
        B.set_gain (k % 4, k % 3, (k & 1) ? 1.0f : 0.0f);
        B.set_delay (0, 0, 1.0f);
        for (int i = 0; i < 100; i += 7) C.set_gain (i, (i + k) % 100, 0.01f * k);
        C.set_delay (k % 100, -1, 0.05f * k);
        if (k == 20) A.port_operation (PORT_DELETE_INP, 2, nullptr);
        if (k == 30) A.port_operation (PORT_DELETE_OUT, 1, nullptr);
        if (k == 40) A.create_inp_port (2, "in_2");
        if (k == 50) A.create_out_port (1, "out_1");
        rt_sleep_ms (6);
    }
    rt_require_cycles (A);
    rt_require_cycles (B);
    rt_require_cycles (C);
}
