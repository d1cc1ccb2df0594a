// Noise meter: every filter and detector code, DC removal on and off, input
// changes and reads while audio runs; one meter's output feeds another's
// input, and ports are deleted so that the meters run on scratch buffers.

#include "rtcheck.h"
#include "modules/noisemeter/jnmeter.h"

RTCHECK_CASE (noisemeter)
{
    float levels [8];
    Jnmeter A ("rt-noisemeter", server, 2, 8, levels, 8);
    Jnmeter B ("rt-noisemeter-b", server, 8, 3, levels, 3);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    for (int i = 0; i < 8; i++) rt_connect (A, i, B, i);
    for (int k = 0; k < 70; k++)
    {
        A.set_filter (-1, k % 7, k & 1);
        A.set_detect (k % 8, (k / 3) % 7);
        B.set_filter (k % 3, (k / 2) % 6, k & 2);
        B.set_detect (-1, (k / 5) % 6);
        B.set_input (k % 8, k % 3);
        A.set_input (k & 1, -1);
        A.get_levels ();
        B.get_levels ();
        if (k == 20) B.port_operation (PORT_DELETE_INP, 0, nullptr);
        if (k == 30) B.port_operation (PORT_DELETE_OUT, 1, nullptr);
        if (k == 50) B.port_operation (PORT_CREATE_INP, 0, "in_0");
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
    rt_require_cycles (B);
}
