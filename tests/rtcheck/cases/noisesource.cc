// Noise source: types and levels changed while every output runs into a
// gain control, including refused levels and indices out of range.

#include <math.h>
#include "rtcheck.h"
#include "modules/noisesource/jnoise.h"
#include "modules/gaincontrol/jgainctl.h"

RTCHECK_CASE (noisesource)
{
    Jnoise A ("rt-noisesource", server, 8);
    Jnoise C ("rt-noisesource-max", server, 150);
    Jgainctl B ("rt-noisesource-sink", server, 8);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (C, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    B.fader->setgain (-1, 0.0f);
    for (int i = 0; i < 8; i++) rt_connect (A, i, B, i);
    for (int k = 0; k < 60; k++)
    {
        A.set_output (k % 9, k % 4, -6.0f * (k % 7));
        A.set_output (-1, 1, 0.0f);
        A.set_output (k % 8, 2, (k & 1) ? NAN : 700.0f);
        C.set_output (k % 100, 1 + (k & 1), -20.0f);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
    rt_require_cycles (C);
}
