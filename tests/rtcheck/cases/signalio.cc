// Sample-synchronous playback and recording: runs started at once and on a
// trigger, stopped, restarted; slots and gains changed between runs; ports
// deleted and made again while the client runs.

#include <math.h>
#include <stdio.h>
#include <vector>
#include "rtcheck.h"
#include "modules/signalio/jsignal.h"
#include "modules/noisesource/jnoise.h"

static void wait_passive (Jsignal &S, int ms)
{
    for (int t = 0; t < ms && S.state != Jclient::PASSIVE; t++) rt_sleep_ms (1);
}

RTCHECK_CASE (signalio)
{
    Jsignal S ("rt-signalio", server);
    Jnoise N ("rt-signalio-noise", server, 2);
    rt_require_running (S, Jsignal::STANDBY);
    rt_require_running (N, Jclient::PROCESS);
    char name [32];
    for (int i = 0; i < 4; i++)
    {
        snprintf (name, sizeof (name), "in_%d", i);
        S.port_operation (PORT_CREATE_INP, i, name);
        snprintf (name, sizeof (name), "out_%d", i);
        S.port_operation (PORT_CREATE_OUT, i, name);
    }
    rt_connect (N, 0, S, 0);
    rt_connect (N, 1, S, 1);
    rt_connect (S, 0, S, 2);
    N.set_output (0, 1, 0.0f);
    N.set_output (1, 2, -10.0f);

    std::vector<float> play (3001), rec (6000), rec2 (4000);
    for (size_t i = 0; i < play.size (); i++) play [i] = sinf (0.01f * i);
    S.set_state (Jclient::PASSIVE);
    for (int k = 0; k < 12; k++)
    {
        S.set_out_data (0, play.data (), 1, 3001, nullptr, 1 + k % 3, 100 * k);
        S.set_out_data (1, play.data () + 1, 2, 1500, nullptr, (k & 1) ? -1 : 2, 0);
        S.set_inp_data (0, rec.data (), 1, 6000, nullptr, 1, 0);
        S.set_inp_data (2, rec2.data (), 2, 2000, nullptr, 2, 17);
        S.set_inp_data (3, rec2.data () + 1, 2, 2000, nullptr, 1, 0);
        S.set_out_gain (0, 0.5f);
        S.set_inp_gain (2, 2.0f);
        S.set_trig_inp (k % 2);
        S.set_state ((k % 3) ? Jclient::PROCESS : Jsignal::TRIGWAIT);
        if (k == 4)
        {
            S.port_operation (PORT_DELETE_OUT, 1, nullptr);
            S.port_operation (PORT_CREATE_OUT, 1, "out_1");
        }
        if (k & 1)
        {
            rt_sleep_ms (30);
            S.set_state (Jclient::PASSIVE);   // stops the endless slot
        }
        wait_passive (S, 500);
    }
    S.set_state (Jsignal::STANDBY);
    rt_sleep_ms (20);
    rt_require_cycles (S);
    S.set_state (Jclient::INITIAL);
}
