// Runs the real-time safety cases: vesk_rtcheck SERVER [CASE ...]
// ("--list" prints the case names). Exit status 0 when every case ran clean;
// RealtimeSanitizer aborts the program at the first violation.

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <map>
#include <string>
#include "rtcheck.h"

static std::map<std::string, Rtcase_fn> &cases (void)
{
    static std::map<std::string, Rtcase_fn> m;
    return m;
}

int rtcheck_register (const char *name, Rtcase_fn fn)
{
    cases () [name] = fn;
    return 0;
}

void rt_sleep_ms (int ms)
{
    struct timespec ts = { ms / 1000, (ms % 1000) * 1000000L };
    nanosleep (&ts, nullptr);
}

static void fail (const char *what, const char *name)
{
    fprintf (stderr, "rtcheck: %s: %s\n", name ? name : "?", what);
    exit (2);
}

void rt_require_running (Jclient &J, int state)
{
    if (!J.jack_client || J.state < state) fail ("client is not running", J.jack_name);
}

void rt_require_cycles (Jclient &J, unsigned n)
{
    if (J.process_cycles () < n) fail ("process callback did not run", J.jack_name);
}

void rt_connect (Jclient &A, int i, Jclient &B, int j)
{
    char s [256];
    snprintf (s, sizeof (s), "%s:%s", B.jack_name, jack_port_short_name (B.inp_ports [j]));
    if (A.port_operation (PORT_CONNECT_OUT, i, s)) fail ("connect failed", A.jack_name);
}

int main (int ac, char *av [])
{
    if (ac < 2)
    {
        fprintf (stderr, "usage: vesk_rtcheck SERVER|--list [CASE ...]\n");
        return 1;
    }
    if (!strcmp (av [1], "--list"))
    {
        for (auto &c : cases ()) printf ("%s\n", c.first.c_str ());
        return 0;
    }
    for (auto &c : cases ())
    {
        bool run = (ac == 2);
        for (int i = 2; i < ac; i++) if (c.first == av [i]) run = true;
        if (!run) continue;
        c.second (av [1]);
        printf ("rtcheck %s: clean\n", c.first.c_str ());
        fflush (stdout);
    }
    return 0;
}
