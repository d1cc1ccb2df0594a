// Ambisonic panner and rotator: direction and rotation requests with and
// without ramps while audio runs, panner outputs feeding the rotator.

#include <math.h>
#include "rtcheck.h"
#include "modules/hoapanner/jambpan.h"
#include "modules/hoarotator/jambrot.h"

RTCHECK_CASE (hoapanner)
{
    Jambpan A ("rt-hoapanner", server, 8, 16);
    Jambpan B ("rt-hoapanner-b", server, 3, 2);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    for (int i = 0; i < 4; i++) rt_connect (B, i, A, i);
    for (int k = 0; k < 60; k++)
    {
        A.set_direction (k % 16, 17.0f * k, 11.0f * k - 300, (k % 3) * 0.01f);
        B.set_direction (k % 2, -7.0f * k, 95.0f, (k & 1) ? 0.0f : 0.02f);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
}

RTCHECK_CASE (hoarotator)
{
    Jambpan P ("rt-hoarotator-pan", server, 5, 1);
    Jambrot A ("rt-hoarotator", server, 5);
    Jambrot B ("rt-hoarotator-b", server, 8);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    for (int i = 0; i < 36; i++) rt_connect (P, i, A, i);
    for (int i = 0; i < 36; i++) rt_connect (A, i, B, i);
    for (int k = 0; k < 60; k++)
    {
        P.set_direction (0, 13.0f * k, 0.0f, 0.01f);
        A.set_rotation (0.1f * k, 1.0f, (float) (k % 3), 0.5f, (k % 4) * 0.005f);
        B.set_quaternion (cosf (0.05f * k), 0.0f, sinf (0.05f * k), 0.0f, (k & 1) ? 0.0f : 0.3f);
        if (k % 10 == 0) A.set_rotation (0.0f, 1.0f, 0.0f, 0.0f, 0.0f);   // dropped
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
    rt_require_cycles (B);
}
