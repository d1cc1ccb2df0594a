// Peak limiter: threshold, input gain and release changes while a loud
// signal runs through it; an input port is deleted and made again.

#include "rtcheck.h"
#include "modules/gaincontrol/jgainctl.h"
#include "modules/peaklimiter/jpeaklim.h"

RTCHECK_CASE (peaklimiter)
{
    Jgainctl G ("rt-peaklimiter-g", server, 2);
    Jpeaklim A ("rt-peaklimiter", server, 2);
    Jpeaklim B ("rt-peaklimiter-b", server, 150);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    G.fader->setgain (-1, 0.0f);
    for (int i = 0; i < 2; i++)
    {
        rt_connect (A, i, G, i);
        rt_connect (G, i, A, i);
        rt_connect (A, i, B, i);
    }
    for (int k = 0; k < 60; k++)
    {
        A.peaklim.set_inpgain ((k % 7) * 6.0f - 12.0f);
        A.peaklim.set_threshold (-(k % 5) * 7.0f);
        A.peaklim.set_release (0.0005f * (1 << (k % 12)));
        B.peaklim.set_threshold (k & 1 ? -30.0f : 0.0f);
        if (k == 20) A.port_operation (PORT_DELETE_INP, 1, nullptr);
        if (k == 30) A.port_operation (PORT_DELETE_OUT, 0, nullptr);
        if (k == 40) A.create_inp_port (1, "in_1");
        if (k == 45) A.create_out_port (0, "out_0");
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
    rt_require_cycles (B);
}
