// Server control client.

#include "jcontrol.h"


Jcontrol::Jcontrol (const char *client_name, const char *server_name) :
    transport_state (0),
    transport_frame (0)
{
    state = open_jack (client_name, server_name, 0, 0) ? FAILED : PROCESS;
}


Jcontrol::~Jcontrol (void)
{
    close_jack ();
}


void Jcontrol::jack_shutdown (void)
{
    state = ZOMBIE;
}


int Jcontrol::jack_process (int nframes)
{
    jack_position_t  pos;
    int              s;

    switch (jack_transport_query (jack_client, &pos))
    {
    case JackTransportStopped: s = 0; break;
    case JackTransportRolling: s = 1; break;
    default: s = 2;
    }
    transport_state.store (s, std::memory_order_relaxed);
    transport_frame.store ((int) pos.frame, std::memory_order_relaxed);
    return 0;
}


void Jcontrol::transport_start (void)
{
    if (jack_client) jack_transport_start (jack_client);
}


void Jcontrol::transport_stop (void)
{
    if (jack_client) jack_transport_stop (jack_client);
}


void Jcontrol::transport_locate (int frame)
{
    if (jack_client) jack_transport_locate (jack_client, (jack_nframes_t) frame);
}


int Jcontrol::connect_ports (const char *src, const char *dst)
{
    return jack_client ? connect_names (src, dst, true) : -1;
}


int Jcontrol::disconn_ports (const char *src, const char *dst)
{
    return jack_client ? connect_names (src, dst, false) : -1;
}
