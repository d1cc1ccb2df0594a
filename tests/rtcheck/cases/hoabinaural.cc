// Binaural renderer: filters loaded, replaced and cleared, rotations with
// and without ramps, near-field compensation on, moved and off, while noise
// runs through a degree-8 renderer into a degree-1 one.

#include <math.h>
#include <vector>
#include "rtcheck.h"
#include "modules/hoabinaural/jambbin.h"
#include "modules/noisesource/jnoise.h"

RTCHECK_CASE (hoabinaural)
{
    Jnoise N ("rt-hoabinaural-noise", server, 8);
    Jambbin A ("rt-hoabinaural", server, 700, 8);
    Jambbin B ("rt-hoabinaural-b", server, 2048, 1);
    rt_require_running (N, Jclient::PROCESS);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    for (int i = 0; i < 8; i++)
    {
        N.set_output (i, 1, -20.0f);
        rt_connect (N, i, A, 9 * i);
    }
    rt_connect (A, 0, B, 0);
    rt_connect (A, 1, B, 1);
    std::vector<float> h (3000);
    for (size_t j = 0; j < h.size (); j++) h [j] = expf (-0.01f * j) * ((j & 1) ? 0.3f : -0.2f);
    for (int k = 0; k < 80; k++)
    {
        A.renderer->binconv->setimp (k % 81, 1.0f, h.data () + k, 700 - k, 1);
        A.renderer->binconv->setimp ((k * 7) % 81, 0.5f, (k % 5) ? h.data () : nullptr, 100, 2);
        B.renderer->binconv->setimp (k % 4, 1.0f, h.data (), 3000, 1);
        A.renderer->rotator->set_rotation (0.1f * k, 1.0f, (k % 3) - 1.0f, 0.5f, (k % 4) * 0.02f);
        B.renderer->rotator->set_quaternion (1.0f, 0.0f, 0.1f * (k % 7), 0.0f, 0.0f);
        A.renderer->set_nfcomp ((k % 6) ? 0.3f * (k % 9) : 30.0f);
        B.renderer->set_nfcomp ((k & 1) ? 1.0f : INFINITY);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
    rt_require_cycles (B);
}
