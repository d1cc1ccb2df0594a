// Cases of the real-time safety check. A case constructs a client on the
// given server, lets it run and calls its setters meanwhile:
//
//   RTCHECK_CASE (gaincontrol)
//   {
//       Jgainctl J ("rt-gaincontrol", server, 4);
//       rt_require_running (J);
//       ... setters, rt_sleep_ms (...) ...
//       rt_require_cycles (J);
//   }

#ifndef VESK_RTCHECK_H
#define VESK_RTCHECK_H

#include "jclient.h"

typedef void (*Rtcase_fn) (const char *server);
int rtcheck_register (const char *name, Rtcase_fn fn);

#define RTCHECK_CASE(name) \
    static void rtcase_##name (const char *server); \
    static int rtreg_##name = rtcheck_register (#name, rtcase_##name); \
    static void rtcase_##name (const char *server)

void rt_sleep_ms (int ms);
// Fails the check unless the client is open and at least in the given state.
void rt_require_running (Jclient &J, int state = Jclient::PASSIVE);
// Fails the check unless the process callback has run for at least n periods
// since the client was opened.
void rt_require_cycles (Jclient &J, unsigned n = 20);
// Connects output port i of A to input port j of B, so that real signals flow.
void rt_connect (Jclient &A, int i, Jclient &B, int j);

#endif
