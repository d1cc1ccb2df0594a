// libvesk-jclient: JACK client base class.

#include <errno.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <mutex>
#include <jack/session.h>
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
    _cycles (0),
    _pipewire (false),
    _loop (nullptr),
    _outbuf (nullptr),
    _kept (nullptr),
    _fetched (false)
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
    int            opts;

    if (jack_client || !client_name) return -1;
    std::string server = resolve_server (server_name);
    std::lock_guard<std::mutex> guard (server_lock);
    if (server_users && server != server_used) return -1;
    jack_silence ();
    opts = JackNoStartServer;
    if (server_name) opts |= JackServerName;
    _pipewire = library_is_pipewire ();
    jack_client = open_unique (client_name, (jack_options_t) opts, server_name, _pipewire);
    if (!jack_client) return -1;

    ninp = (ninp_ > 0) ? ninp_ : 0;
    nout = (nout_ > 0) ? nout_ : 0;
    free_ports ();
    inp_ports = new std::atomic<jack_port_t *> [ninp + 1];
    out_ports = new std::atomic<jack_port_t *> [nout + 1];
    for (int i = 0; i <= ninp; i++) inp_ports [i] = nullptr;
    for (int i = 0; i <= nout; i++) out_ports [i] = nullptr;
    if (_pipewire)
    {
        _loop = new float * [nout + 1] ();
        _outbuf = new float * [nout + 1] ();
        _kept = new unsigned [nout + 1] ();
        _fetched = false;
    }
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
            // PipeWire's process thread carries SCHED_RESET_ON_FORK along
            // with its policy; threads are made with the policy itself.
#ifdef SCHED_RESET_ON_FORK
            policy &= ~SCHED_RESET_ON_FORK;
#endif
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
    if (_loop)
    {
        for (int j = 0; j < nout; j++) delete[] _loop [j];
    }
    delete[] _loop;
    delete[] _outbuf;
    delete[] _kept;
    _loop = nullptr;
    _outbuf = nullptr;
    _kept = nullptr;
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
    // The copy for own loops exists before the process thread can see the port.
    if (!input && _loop && !_loop [i]) _loop [i] = new float [MAXFRAMES] ();
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
        return connect_names (name, jack_port_name (port), true);
    case PORT_CONNECT_OUT:
        return connect_names (jack_port_name (port), name, true);
    case PORT_DISCONN_INP:
        return connect_names (name, jack_port_name (port), false);
    case PORT_DISCONN_OUT:
        return connect_names (jack_port_name (port), name, false);
    default:
        return jack_port_disconnect (jack_client, port);
    }
}


// True if another client holds the name this client was granted.
static bool name_taken (jack_client_t *client)
{
    char  *own = jack_client_get_uuid (client);
    char  *other = jack_get_uuid_for_client_name (client, jack_get_client_name (client));
    bool   taken = own && other && strcmp (own, other);
    if (own) jack_free (own);
    if (other) jack_free (other);
    return taken;
}


jack_client_t *Jclient::open_unique (const char *name, jack_options_t opts, const char *server_name, bool pipewire)
{
    jack_status_t   stat;
    jack_client_t  *client;
    char            alt [256];

    client = jack_client_open (name, opts, &stat, server_name);
    // jackd2 grants a name in use with a suffix, "name-01", "name-02" and so
    // on; PipeWire grants it unchanged, and its port names are then
    // ambiguous. Do as jackd2 does.
    for (int k = 1; client && pipewire && name_taken (client); k++)
    {
        jack_client_close (client);
        if (k > 99) return nullptr;
        snprintf (alt, sizeof (alt), "%s-%02d", name, k);
        client = jack_client_open (alt, opts, &stat, server_name);
    }
    return client;
}


bool Jclient::library_is_pipewire (void)
{
    const char *v = jack_get_version_string ();
    return v && strstr (v, "PipeWire");
}


void Jclient::fetch_outputs (int nframes)
{
    // Each output starts the period holding what it sent in the previous
    // one (silence if it did not run then): an input of ours that PipeWire
    // mixes from it and other ports then gets that period, as on jackd2.
    unsigned c = _cycles.load (std::memory_order_relaxed);
    if (_fetched) return;
    for (int j = 0; j < nout; j++)
    {
        jack_port_t *p = out_ports [j].load (std::memory_order_acquire);
        float *b = p ? (float *) jack_port_get_buffer (p, nframes) : nullptr;
        _outbuf [j] = b;
        if (!b || !_loop [j] || (nframes > MAXFRAMES)) continue;
        if (_kept [j] != c) memset (_loop [j], 0, nframes * sizeof (float));
        memcpy (b, _loop [j], nframes * sizeof (float));
    }
    _fetched = true;
}


int Jclient::connect_names (const char *src, const char *dst, bool connect)
{
    if (!jack_client || !src || !dst) return PORT_ERROR;
    if (_pipewire)
    {
        await_port (src);
        await_port (dst);
    }
    return connect ? jack_connect (jack_client, src, dst) : jack_disconnect (jack_client, src, dst);
}


void Jclient::await_port (const char *name)
{
    struct timespec  ts = { 0, 2000000 };
    for (int k = 0; (k < 100) && !jack_port_by_name (jack_client, name); k++) nanosleep (&ts, nullptr);
}


void Jclient::get_inp_buffers (int nframes, float **buf, int n, bool missing_null)
{
    float *missing = missing_null ? nullptr : _silence;

    if (_pipewire && nout) fetch_outputs (nframes);
    for (int i = 0; i < n; i++)
    {
        jack_port_t *p = (i < ninp) ? inp_ports [i].load (std::memory_order_acquire) : nullptr;
        buf [i] = p ? (float *) jack_port_get_buffer (p, nframes) : missing;
        if (!_pipewire || !p) continue;
        // PipeWire hands an input fed only by our own output j that output's
        // own buffer, which the tool overwrites in this period: give it the
        // copy of output j's previous period instead.
        for (int j = 0; j < nout; j++)
        {
            if (_outbuf [j] && (buf [i] == _outbuf [j]) && _loop [j])
            {
                buf [i] = _loop [j];
                break;
            }
        }
    }
}


void Jclient::get_out_buffers (int nframes, float **buf, int n, bool missing_null)
{
    float *missing = missing_null ? nullptr : _discard;
    if (_pipewire && nout) fetch_outputs (nframes);
    for (int i = 0; i < n; i++)
    {
        jack_port_t *p = (i < nout) ? out_ports [i].load (std::memory_order_acquire) : nullptr;
        if (!p) buf [i] = missing;
        else if (_fetched && _outbuf [i]) buf [i] = _outbuf [i];
        else buf [i] = (float *) jack_port_get_buffer (p, nframes);
    }
}


void Jclient::keep_own_loops (int nframes)
{
    // After the period: what every output sent is kept for the next one.
    if (!_fetched) return;
    unsigned c = _cycles.load (std::memory_order_relaxed);
    for (int j = 0; j < nout; j++)
    {
        if (_outbuf [j] && _loop [j] && (nframes <= MAXFRAMES))
        {
            memcpy (_loop [j], _outbuf [j], nframes * sizeof (float));
            _kept [j] = c + 1;
        }
    }
    _fetched = false;
}


int Jclient::jack_static_process (jack_nframes_t nframes, void *arg)
{
    Jclient *J = (Jclient *) arg;
    int      cancel;

    // libjack stops a client's process thread by cancelling it, when the
    // client deactivates. A tool's cycle is never cut short by that (a
    // half-done handshake with its worker threads, say): a cancel that
    // comes meanwhile takes effect once the cycle is complete.
    pthread_setcancelstate (PTHREAD_CANCEL_DISABLE, &cancel);
    int r = J->jack_process (nframes);
    if (J->_pipewire) J->keep_own_loops (nframes);
    J->_cycles.store (J->_cycles.load (std::memory_order_relaxed) + 1, std::memory_order_release);
    pthread_setcancelstate (cancel, nullptr);
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
    // Own loops start again from silence: a kept period of the old size
    // would not fill a period of the new one.
    if (J->_kept)
    {
        for (int j = 0; j < J->nout; j++) J->_kept [j] = 0;
    }
    J->jack_buffsize (nframes);
    return 0;
}
