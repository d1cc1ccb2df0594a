// Matrix convolver: noise through a 4 x 3 matrix on two workers (whose
// phases are checked as the process callback is), responses loaded while it
// runs (staged and taken between periods), state switched back and forth,
// and a one-worker convolver with many outputs beside it.

#include <math.h>
#include <vector>
#include "rtcheck.h"
#include "modules/noisesource/jnoise.h"
#include "modules/mimoconvolution/jmatconv.h"

RTCHECK_CASE (mimoconvolution)
{
    Jnoise N ("rt-mimoconvolution-noise", server, 4);
    Jmatconv A ("rt-mimoconvolution", server, 2000, 4, 3, 2);
    Jmatconv B ("rt-mimoconvolution-b", server, 300, 3, 20, 1);
    rt_require_running (N, Jclient::PROCESS);
    rt_require_running (A, Jclient::PASSIVE);
    rt_require_running (B, Jclient::PASSIVE);
    for (int i = 0; i < 4; i++)
    {
        N.set_output (i, 1 + (i & 1), -20.0f);
        rt_connect (N, i, A, i);
    }
    for (int i = 0; i < 3; i++) rt_connect (A, i, B, i);

    std::vector<float> h (2000);
    for (size_t j = 0; j < h.size (); j++) h [j] = expf (-0.003f * j) * sinf (0.3f * j);
    for (int i = 0; i < 4; i++)
        for (int o = 0; o < 3; o++) A.load_impulse (h.data (), 500 * (1 + (i + o) % 4), 1, i, o, 0.1f);
    for (int o = 0; o < 20; o++) B.load_impulse (h.data () + o, 300, 1, o % 3, o, 0.2f);
    A.set_state (Jclient::PROCESS);
    B.set_state (Jclient::PROCESS);
    for (int k = 0; k < 40; k++)
    {
        A.load_impulse ((k & 1) ? h.data () : nullptr, 100 * k, 2, k % 4, k % 3, 0.5f);
        B.load_impulse (h.data (), 50 + k, 1, k % 3, k % 20, 1.0f);
        if (k % 10 == 9)
        {
            A.set_state (Jclient::PASSIVE);
            rt_sleep_ms (10);
            A.set_state (Jclient::PROCESS);
        }
        rt_sleep_ms (3);
    }
    rt_sleep_ms (50);
    rt_require_cycles (A);
    rt_require_cycles (B);
}
