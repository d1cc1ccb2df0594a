// Filters: the equaliser ramping on its step grid, the crossover with delay
// lines, the Butterworth filters and the band filters, all with signals
// flowing and their setters called while they run.

#include <math.h>
#include "rtcheck.h"
#include "modules/equaliser/jparameq.h"
#include "modules/crossover/jlr4filt.h"
#include "modules/butterworth/jbw8filt.h"
#include "modules/bandfilter/jiecfilt.h"

RTCHECK_CASE (equaliser)
{
    Jparameq A ("rt-equaliser", server, 4, "L123HLx2");
    Jparameq B ("rt-equaliser-b", server, 100, "");
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    for (int i = 0; i < 4; i++) rt_connect (B, i, A, i);
    A.set_bypass (false);
    for (int k = 0; k < 60; k++)
    {
        A.set_filter (k % 8, 50.0f * (1 + k % 13) * (1 + k % 3), -20.0f + (k * 7) % 41, 0.1f + (k % 10));
        A.set_gain ((k % 5) * 4.0f - 10.0f);
        if (k % 17 == 16) A.set_bypass (k & 1);
        B.set_gain ((k % 3) ? 0.0f : 6.0f);
        B.set_bypass (k % 4 == 0);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
}

RTCHECK_CASE (crossover)
{
    Jlr4filt A ("rt-crossover", server, 2, 6, 0.05f);
    Jlr4filt B ("rt-crossover-b", server, 1, 2, 0.0f);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    rt_connect (B, 0, A, 0);
    rt_connect (B, 1, A, 1);
    B.set_filter (0, 0, 20.0f, -6.0f, 0.0f, -6.0f);
    B.set_filter (0, 1, 0.0f, -6.0f, 20000.0f, -3.0f);
    for (int k = 0; k < 60; k++)
    {
        int o = k % 6;
        A.set_filter (k % 2, o, (k % 3) ? 100.0f * (1 + k % 7) : 0.0f, -6.0f + (k % 4),
                      (k % 5) ? 1000.0f * (1 + k % 9) : 0.0f, -3.0f - (k % 4));
        A.set_delay (o, 0.001f * (k % 60));
        A.set_gain (o, (k % 2) ? 1.0f : 0.5f);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
}

RTCHECK_CASE (butterworth)
{
    Jbw8filt A ("rt-butterworth", server, 2, 4);
    Jbw8filt B ("rt-butterworth-b", server, 1, 2);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    rt_connect (B, 0, A, 0);
    rt_connect (B, 1, A, 1);
    for (int k = 0; k < 60; k++)
    {
        A.set_filter (k % 2, k % 4, (k % 3) ? 50.0f * (1 + k % 11) : 0.0f, (k % 4) ? 2000.0f * (1 + k % 13) : 0.0f);
        B.set_filter (0, k % 2, 0.0f, (k % 2) ? 30000.0f : 0.0f);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
}

RTCHECK_CASE (bandfilter)
{
    Jiecfilt A ("rt-bandfilter", server, 2, 41);
    Jiecfilt B ("rt-bandfilter-b", server, 1, 2);
    rt_require_running (A, Jclient::PROCESS);
    rt_require_running (B, Jclient::PROCESS);
    B.set_filter (0, 0, 1, 5);
    B.set_filter (0, 1, 3, 20);
    rt_connect (B, 0, A, 0);
    rt_connect (B, 1, A, 1);
    for (int k = 0; k < 60; k++)
    {
        for (int o = 0; o < 41; o++) A.set_filter ((k + o) % 2, o, (k % 3 == 2) ? 0 : (o < 10 ? 1 : 3), (k + o) % 31);
        rt_sleep_ms (7);
    }
    rt_require_cycles (A);
}
