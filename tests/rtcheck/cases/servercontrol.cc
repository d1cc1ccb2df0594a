// Server control: the transport is sampled every period while it is started,
#include <stdio.h>
// located and stopped, and ports are connected and disconnected.

#include "rtcheck.h"
#include "modules/servercontrol/jcontrol.h"
#include "modules/gaincontrol/jgainctl.h"

RTCHECK_CASE (servercontrol)
{
    Jcontrol C ("rt-servercontrol", server);
    Jgainctl G ("rt-servercontrol-g", server, 1);
    rt_require_running (C, Jclient::PROCESS);
    char out [128], inp [128];
    snprintf (out, sizeof (out), "%s:out_0", G.jack_name);
    snprintf (inp, sizeof (inp), "%s:in_0", G.jack_name);
    for (int k = 0; k < 20; k++)
    {
        C.transport_start ();
        rt_sleep_ms (10);
        C.transport_locate (k * 1000);
        C.connect_ports (out, inp);
        rt_sleep_ms (10);
        C.transport_stop ();
        C.disconn_ports (out, inp);
    }
    rt_require_cycles (C);
}
