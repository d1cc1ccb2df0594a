// libvesk-jclient: JACK client base class.

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <mutex>
#include "jclient.h"


// libjack prints errors and information to stderr by default; vesk writes
// nothing to the terminal, so both go nowhere. Installed when the library
// loads and again before every open.
static void jack_silent (const char *) {}

static void jack_silence (void)
{
    jack_set_error_function (jack_silent);
    jack_set_info_function (jack_silent);
}

static struct Silencer { Silencer (void) { jack_silence (); } } silencer;


// libjack maps the shared memory of one server per process: with clients of
// two servers open at once, every client runs on the graph of the server
// opened last, and closing them crashes in jack_deactivate. So the process
// keeps one record of the server its open clients use, and refuses a client
// of another server until the last client of that one has closed. Touched by
// open_jack and close_jack only (the owner's thread), never by a callback.
namespace
{
    std::mutex   server_lock;     // guards the two fields below
    std::string  server_used;     // resolved name of the server in use
    int          server_users;    // clients open on it
}


// The server libjack connects to for a name: a null name means
// $JACK_DEFAULT_SERVER, else "default".
static std::string resolve_server (const char *name)
{
    if (name) return name;
    const char *e = getenv ("JACK_DEFAULT_SERVER");
    return e ? e : "default";
}


static void copy_name (const std::string &s, char *buf, int size)
{
    if (!buf || size <= 0) return;
    snprintf (buf, size, "%s", s.c_str ());
}


extern "C" int vesk_jclient_server_in_use (char *buf, int size)
{
    std::lock_guard<std::mutex> guard (server_lock);
    copy_name (server_users ? server_used : std::string (), buf, size);
    return server_users;
}


extern "C" void vesk_jclient_resolve_server (const char *name, char *buf, int size)
{
    copy_name (resolve_server (name), buf, size);
}


Jclient::Jclient (void) :
    jack_client (nullptr),
    state (INITIAL),
    ninp (0),
    nout (0),
    jack_name (nullptr),
    fsamp (0),
    fsize (0),
    inp_ports (nullptr),
    out_ports (nullptr),
    jack_policy (SCHED_OTHER),
    jack_priority (0),
    _silence (nullptr),
    _discard (nullptr),
    _cycles (0)
{
}


Jclient::~Jclient (void)
{
    close_jack ();
    free_ports ();
    delete[] _silence;
    delete[] _discard;
}


void Jclient::jack_shutdown (void)
{
    state = ZOMBIE;
}

void Jclient::jack_freewheel (int) {}

void Jclient::jack_buffsize (int) {}

int Jclient::jack_process (int) { return 0; }


int Jclient::open_jack (const char *client_name, const char *server_name, int ninp_, int nout_)
{
    jack_status_t  stat;
    int            opts;

    if (jack_client || !client_name) return -1;
    std::string server = resolve_server (server_name);
    std::lock_guard<std::mutex> guard (server_lock);
    if (server_users && server != server_used) return -1;
    jack_silence ();
    opts = JackNoStartServer;
    if (server_name) opts |= JackServerName;
    jack_client = jack_client_open (client_name, (jack_options_t) opts, &stat, server_name);
    if (!jack_client) return -1;

    ninp = (ninp_ > 0) ? ninp_ : 0;
    nout = (nout_ > 0) ? nout_ : 0;
    free_ports ();
    inp_ports = new std::atomic<jack_port_t *> [ninp + 1];
    out_ports = new std::atomic<jack_port_t *> [nout + 1];
    for (int i = 0; i <= ninp; i++) inp_ports [i] = nullptr;
    for (int i = 0; i <= nout; i++) out_ports [i] = nullptr;
    if (!_silence) _silence = new float [MAXFRAMES] ();
    if (!_discard) _discard = new float [MAXFRAMES] ();

    _name = jack_get_client_name (jack_client);
    jack_name = _name.c_str ();
    fsamp = jack_get_sample_rate (jack_client);
    fsize = jack_get_buffer_size (jack_client);

    jack_set_process_callback (jack_client, jack_static_process, this);
    jack_on_shutdown (jack_client, jack_static_shutdown, this);
    jack_set_freewheel_callback (jack_client, jack_static_freewheel, this);
    jack_set_buffer_size_callback (jack_client, jack_static_buffsize, this);
    if (jack_activate (jack_client))
    {
        jack_client_close (jack_client);
        jack_client = nullptr;
        jack_name = nullptr;
        return -1;
    }
    server_used = server;
    server_users++;

    // Scheduling of JACK's process thread, for the threads that tools start.
    jack_policy = SCHED_OTHER;
    jack_priority = 0;
    if (jack_is_realtime (jack_client))
    {
        struct sched_param  spar;
        int                 policy;
        if (pthread_getschedparam (jack_client_thread_id (jack_client), &policy, &spar) == 0)
        {
            jack_policy = policy;
            jack_priority = spar.sched_priority;
        }
    }
    return 0;
}


void Jclient::close_jack (void)
{
    if (!jack_client) return;
    std::lock_guard<std::mutex> guard (server_lock);
    jack_deactivate (jack_client);
    jack_client_close (jack_client);
    jack_client = nullptr;
    if (server_users > 0) server_users--;
    for (int i = 0; i < ninp; i++) inp_ports [i] = nullptr;
    for (int i = 0; i < nout; i++) out_ports [i] = nullptr;
}


void Jclient::free_ports (void)
{
    delete[] inp_ports;
    delete[] out_ports;
    inp_ports = nullptr;
    out_ports = nullptr;
}


int Jclient::create_inp_ports (const char *format, int first)
{
    char s [64];
    for (int i = 0; i < ninp; i++)
    {
        snprintf (s, sizeof (s), format, first + i);
        if (create_port (i, s, true)) return -1;
    }
    return 0;
}


int Jclient::create_out_ports (const char *format, int first)
{
    char s [64];
    for (int i = 0; i < nout; i++)
    {
        snprintf (s, sizeof (s), format, first + i);
        if (create_port (i, s, false)) return -1;
    }
    return 0;
}


int Jclient::create_inp_port (int i, const char *name)
{
    return create_port (i, name, true);
}


int Jclient::create_out_port (int i, const char *name)
{
    return create_port (i, name, false);
}


int Jclient::create_port (int i, const char *name, bool input)
{
    std::atomic<jack_port_t *> *ports = input ? inp_ports : out_ports;
    jack_port_t  *port;

    if (!jack_client || !name || (i < 0) || (i >= (input ? ninp : nout))) return -1;
    if (ports [i]) return -1;
    port = jack_port_register (jack_client, name, JACK_DEFAULT_AUDIO_TYPE,
                               input ? JackPortIsInput : JackPortIsOutput, 0);
    if (!port) return -1;
    ports [i].store (port, std::memory_order_release);
    return 0;
}


int Jclient::delete_port (int i, bool input)
{
    std::atomic<jack_port_t *> *ports = input ? inp_ports : out_ports;
    jack_port_t  *port;

    if (!jack_client || (i < 0) || (i >= (input ? ninp : nout))) return -1;
    port = ports [i].exchange (nullptr);
    if (!port) return -1;
    // The process thread may still hold the old handle for the period in
    // flight: let that period finish before the port goes away.
    wait_cycle ();
    return jack_port_unregister (jack_client, port);
}


void Jclient::wait_cycle (void)
{
    // Waits until two periods have completed, in 1 ms steps, for at most
    // 250 ms (the process thread does not run without a server or while
    // JACK reconfigures; then there is nobody to wait for).
    unsigned  c0 = _cycles.load (std::memory_order_acquire);
    struct timespec  ts = { 0, 1000000 };
    for (int k = 0; k < 250; k++)
    {
        if (_cycles.load (std::memory_order_acquire) - c0 >= 2) return;
        if (state == ZOMBIE) return;
        nanosleep (&ts, nullptr);
    }
}


int Jclient::port_operation (int op, int index, const char *name)
{
    bool          input = ((op & 1) == 0);
    jack_port_t  *port;

    if (!jack_client || (op < PORT_CREATE_INP) || (op > PORT_DISCALL_OUT)) return PORT_ERROR;
    if ((index < 0) || (index >= (input ? ninp : nout))) return PORT_ERROR;
    switch (op)
    {
    case PORT_CREATE_INP:
    case PORT_CREATE_OUT:
        return create_port (index, name, input);
    case PORT_DELETE_INP:
    case PORT_DELETE_OUT:
        return delete_port (index, input);
    }
    port = input ? inp_ports [index].load () : out_ports [index].load ();
    if (!port) return PORT_ERROR;
    switch (op)
    {
    case PORT_CONNECT_INP:
        if (!name) return PORT_ERROR;
        return jack_connect (jack_client, name, jack_port_name (port));
    case PORT_CONNECT_OUT:
        if (!name) return PORT_ERROR;
        return jack_connect (jack_client, jack_port_name (port), name);
    case PORT_DISCONN_INP:
        if (!name) return PORT_ERROR;
        return jack_disconnect (jack_client, name, jack_port_name (port));
    case PORT_DISCONN_OUT:
        if (!name) return PORT_ERROR;
        return jack_disconnect (jack_client, jack_port_name (port), name);
    default:
        return jack_port_disconnect (jack_client, port);
    }
}


void Jclient::get_inp_buffers (int nframes, float **buf, int n, bool missing_null)
{
    float *missing = missing_null ? nullptr : _silence;
    for (int i = 0; i < n; i++)
    {
        jack_port_t *p = inp_ports [i].load (std::memory_order_acquire);
        buf [i] = p ? (float *) jack_port_get_buffer (p, nframes) : missing;
    }
}


void Jclient::get_out_buffers (int nframes, float **buf, int n, bool missing_null)
{
    float *missing = missing_null ? nullptr : _discard;
    for (int i = 0; i < n; i++)
    {
        jack_port_t *p = out_ports [i].load (std::memory_order_acquire);
        buf [i] = p ? (float *) jack_port_get_buffer (p, nframes) : missing;
    }
}


int Jclient::jack_static_process (jack_nframes_t nframes, void *arg)
{
    Jclient *J = (Jclient *) arg;
    int r = J->jack_process (nframes);
    J->_cycles.store (J->_cycles.load (std::memory_order_relaxed) + 1, std::memory_order_release);
    return r;
}


void Jclient::jack_static_shutdown (void *arg)
{
    ((Jclient *) arg)->jack_shutdown ();
}


void Jclient::jack_static_freewheel (int state, void *arg)
{
    ((Jclient *) arg)->jack_freewheel (state);
}


int Jclient::jack_static_buffsize (jack_nframes_t nframes, void *arg)
{
    // The period size the server runs now; tools that sized buffers by the
    // period at construction compare their own size with nframes.
    Jclient *J = (Jclient *) arg;
    J->fsize = nframes;
    J->jack_buffsize (nframes);
    return 0;
}
