// libvesk-jclient: the base class of every vesk processing object.
// A Jclient owns one JACK client with its ports and forwards JACK's callbacks
// to virtual operations; tools derive from it and override jack_process().
//
// Threads: open_jack, close_jack, port creation and port_operation run on the
// caller's (Python) thread; jack_process runs on JACK's process thread and
// must never allocate, lock, print or block.

#ifndef VESK_JCLIENT_H
#define VESK_JCLIENT_H

#include <atomic>
#include <string>
#include <jack/jack.h>

// Marks a real-time entry point. Under clang this lets RealtimeSanitizer
// check everything the function calls; other compilers ignore it. It goes
// before `override`:  int jack_process (int nframes) VESK_NONBLOCKING override;
#if defined(__clang__) && defined(__has_cpp_attribute)
#if __has_cpp_attribute(clang::nonblocking)
#define VESK_NONBLOCKING [[clang::nonblocking]]
#endif
#endif
#ifndef VESK_NONBLOCKING
#define VESK_NONBLOCKING
#endif

// Most port buffers a process callback keeps on its stack.
enum { MAXPORT = 100 };

// port_operation() codes. The index is the port number (0 .. ninp-1 or
// 0 .. nout-1 as given to open_jack); the name is a port name for CREATE and a
// full JACK port name ("client:port") for CONNECT and DISCONN.
enum
{
    PORT_CREATE_INP  = 0,   // create input port [index] named name
    PORT_CREATE_OUT  = 1,   // create output port [index] named name
    PORT_DELETE_INP  = 2,   // delete input port [index]; name unused
    PORT_DELETE_OUT  = 3,   // delete output port [index]; name unused
    PORT_CONNECT_INP = 4,   // connect source port name -> input port [index]
    PORT_CONNECT_OUT = 5,   // connect output port [index] -> destination port name
    PORT_DISCONN_INP = 6,   // disconnect source port name -> input port [index]
    PORT_DISCONN_OUT = 7,   // disconnect output port [index] -> destination port name
    PORT_DISCALL_INP = 8,   // disconnect input port [index] from everything
    PORT_DISCALL_OUT = 9    // disconnect output port [index] from everything
};
// port_operation() results: 0 on success; PORT_ERROR (-1) for an unknown code,
// an index out of range, a missing or existing port, a missing name or no
// client; otherwise the nonzero result of the JACK call (for example EEXIST
// when two ports are connected already).
enum { PORT_ERROR = -1 };


class Jclient
{
public:

    // Client states. Tools may define their own codes between these.
    enum { ZOMBIE = -2, FAILED = -1, INITIAL = 0, PASSIVE = 2, PROCESS = 10 };

    Jclient (void);
    virtual ~Jclient (void);

    // Called on JACK's threads. The base versions: shutdown sets ZOMBIE,
    // the others do nothing.
    virtual void jack_shutdown (void);
    virtual void jack_freewheel (int state);
    virtual void jack_buffsize (int nframes);
    virtual int  jack_process (int nframes) VESK_NONBLOCKING;

    // Opens and activates a client on the named server (null: the default
    // server). Never starts a server: a missing server fails at once. One
    // server per process at a time: while clients of one server are open, a
    // client of another fails at once (libjack cannot serve two).
    // Returns 0 on success; state is not changed.
    int  open_jack (const char *client_name, const char *server_name, int ninp, int nout);
    // Deactivates and closes the client: no callback runs after it returns.
    void close_jack (void);

    int  create_inp_ports (const char *format, int first);
    int  create_out_ports (const char *format, int first);
    int  create_inp_port (int i, const char *name);
    int  create_out_port (int i, const char *name);
    int  port_operation (int op, int index, const char *name);
    // Connects (connect true) or disconnects two ports by full name: the
    // result of jack_connect or jack_disconnect, PORT_ERROR without a
    // client or name. PipeWire tells a client about the ports of others
    // some milliseconds after they are made: there it waits up to 200 ms
    // for both names to be known first.
    int  connect_names (const char *src, const char *dst, bool connect);
    // Number of periods the process callback has completed.
    unsigned process_cycles (void) const { return _cycles.load (std::memory_order_acquire); }
    // True when the JACK library in use is PipeWire's (see get_inp_buffers).
    bool pipewire (void) const { return _pipewire; }

    jack_client_t   *jack_client;     // null when no client is open
    std::atomic<int> state;           // written by the owner and by JACK's shutdown thread; read anywhere
    int              ninp;            // port counts given to open_jack
    int              nout;
    const char      *jack_name;       // name granted by the server, null without a client
    int              fsamp;           // sample rate in Hz
    int              fsize;           // period size in frames; follows the server's changes
    // Port handles by port number, null until the port exists. Written by the
    // Python thread (create, delete), read by the process thread.
    std::atomic<jack_port_t *> *inp_ports;
    std::atomic<jack_port_t *> *out_ports;
    int              jack_policy;     // scheduling of JACK's process thread,
    int              jack_priority;   // for threads that tools start

protected:

    // Fetch this period's buffers of ports 0 .. n-1 into buf, for use in
    // jack_process only. Ports can be deleted while the client runs
    // (port_operation), so by default a missing input port gives a silent
    // buffer and a missing output port a scratch buffer whose contents go
    // nowhere: tools never see a null buffer. With missing_null, a missing
    // port gives null instead, for tools whose behaviour depends on which
    // ports exist.
    //
    // An input connected to an output of the same client gets what that
    // output sent in the previous period, alone or mixed with other sources,
    // on either JACK library. jackd2 does this itself. PipeWire's libjack
    // hands an input fed only by our own output that output's buffer of the
    // current period (silence when the output was not fetched first), and
    // mixes an input fed by our output and other ports from whatever that
    // output's buffer holds. So on PipeWire the outputs are fetched first
    // and filled with their previous period before any input is fetched, an
    // input whose buffer is one of them gets a copy of that previous period
    // instead, and every output is copied at the end of the period: two
    // copies of each output per period, on PipeWire only.
    void get_inp_buffers (int nframes, float **buf, int n, bool missing_null = false) VESK_NONBLOCKING;
    void get_out_buffers (int nframes, float **buf, int n, bool missing_null = false) VESK_NONBLOCKING;

private:

    Jclient (const Jclient&) = delete;
    Jclient& operator= (const Jclient&) = delete;

    int  create_port (int i, const char *name, bool input);
    int  delete_port (int i, bool input);
    void wait_cycle (void);
    void await_port (const char *name);
    void free_ports (void);

    static bool library_is_pipewire (void);
    static jack_client_t *open_unique (const char *name, jack_options_t opts, const char *server_name, bool pipewire);
    void fetch_outputs (int nframes) VESK_NONBLOCKING;
    void keep_own_loops (int nframes) VESK_NONBLOCKING;

    static int  jack_static_process (jack_nframes_t nframes, void *arg);
    static void jack_static_shutdown (void *arg);
    static void jack_static_freewheel (int state, void *arg);
    static int  jack_static_buffsize (jack_nframes_t nframes, void *arg);

    enum { MAXFRAMES = 8192 };        // JACK's largest period
    std::string            _name;     // storage behind jack_name
    float                 *_silence;  // MAXFRAMES zeros, never written
    float                 *_discard;  // MAXFRAMES samples written to and never read
    std::atomic<unsigned>  _cycles;   // periods completed; written by the process thread, read by delete_port

    // Own loops on PipeWire (see get_inp_buffers). _loop [j] holds output j's
    // previous period; it is made by the Python thread when output j is
    // created, before the port is published, and lives until the client's
    // ports are freed. _outbuf, _kept and _fetched belong to the process
    // thread: this period's output buffers, the period (plus 1) whose output
    // _loop [j] holds, and whether the outputs were fetched in this period.
    bool                   _pipewire;
    float                **_loop;
    float                **_outbuf;
    unsigned              *_kept;
    bool                   _fetched;
};


// The one-server-per-process record, for callers that explain a refusal.
// vesk_jclient_server_in_use copies the name of the server that this
// process's open clients use into buf ("" when none) and returns their
// number; vesk_jclient_resolve_server copies the server name that libjack
// would use for name (null: $JACK_DEFAULT_SERVER, else "default").
extern "C" int  vesk_jclient_server_in_use (char *buf, int size);
extern "C" void vesk_jclient_resolve_server (const char *name, char *buf, int size);

#endif
