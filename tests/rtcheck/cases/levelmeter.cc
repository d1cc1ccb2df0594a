// Level meter: levels read while a noise meter's outputs feed its inputs,
// and while an input port is deleted and recreated.

#include "rtcheck.h"
#include "modules/levelmeter/jkmeter.h"
#include "modules/noisemeter/jnmeter.h"

RTCHECK_CASE (levelmeter)
{
    float rms [100], peak [100];
    Jkmeter K ("rt-levelmeter", server, 100, rms, peak);
    Jkmeter E ("rt-levelmeter-0", server, 0, rms, peak);
    Jnmeter N ("rt-levelmeter-n", server, 1, 4, nullptr, 0);
    rt_require_running (K, Jclient::PROCESS);
    rt_require_running (E, Jclient::PROCESS);
    for (int i = 0; i < 4; i++) rt_connect (N, i, K, i);
    for (int k = 0; k < 60; k++)
    {
        K.get_levels ();
        K.get_levels ();
        E.get_levels ();
        if (k == 20) K.port_operation (PORT_DELETE_INP, 3, nullptr);
        if (k == 40) K.port_operation (PORT_CREATE_INP, 3, "in_3");
        rt_sleep_ms (7);
    }
    rt_require_cycles (K);
}
