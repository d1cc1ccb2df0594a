// A portless JACK client that controls the server as a whole: transport
// start, stop and locate, and connections between any two ports by name.
// Its process callback only samples the transport.

#ifndef VESK_JCONTROL_H
#define VESK_JCONTROL_H

#include <atomic>
#include "jclient.h"


class Jcontrol : public Jclient
{
public:

    Jcontrol (const char *client_name, const char *server_name);
    virtual ~Jcontrol (void);

    void transport_start (void);
    void transport_stop (void);
    void transport_locate (int frame);
    int  connect_ports (const char *src, const char *dst);     // JACK's result, -1 without a client
    int  disconn_ports (const char *src, const char *dst);     // JACK's result, -1 without a client

    // Written by the process thread, read by the Python thread; a reader may
    // see the state of one period with the frame of the next.
    std::atomic<int>  transport_state;   // 0 stopped, 1 rolling, 2 anything else
    std::atomic<int>  transport_frame;   // position in frames, as a signed 32-bit int

private:

    virtual void jack_shutdown (void) override;
    virtual int  jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
