// JACK client that plays arrays to outputs and records inputs into arrays,
// sample-synchronously: up to 100 outputs and 100 inputs, one slot each
// (Jsdata). The client opens with room for 100 + 100 ports and creates none:
// the caller makes them through port_operation. A run starts at once or on
// the first trigger-input sample above 0.5 and ends by itself when every
// active slot has finished.

#ifndef VESK_JSIGNAL_H
#define VESK_JSIGNAL_H

#include <atomic>
#include <stdint.h>
#include "jclient.h"
#include "framework/cmdsync.h"
#include "signals/jsdata.h"


class Jsignal : public Jclient
{
public:

    // States of their own, between those of Jclient. Any other positive
    // state behaves as PASSIVE but keeps slots and gains locked.
    enum { STANDBY = 1, TRIGWAIT = 9 };
    enum { NSLOT = 100 };

    Jsignal (const char *client_name, const char *server_name);
    virtual ~Jsignal (void);

    // Slot setters: only for 0 <= k < NSLOT, in PASSIVE with no request
    // pending; otherwise nothing changes. The slot takes ownership of view in
    // every case (a refused view is deleted at once). Return 0 if taken, 1 if not.
    int set_inp_data (int k, float *data, ptrdiff_t step, int size, Jsholder *view, int nloop, int nskip);
    int set_out_data (int k, float *data, ptrdiff_t step, int size, Jsholder *view, int nloop, int nskip);
    int set_inp_gain (int k, float g);
    int set_out_gain (int k, float g);
    // Selects the trigger input, in any state; k out of range changes nothing.
    void set_trig_inp (int k);

    // Hands state s to the process thread and waits until it has taken it,
    // at most one period. Waits in 10 ms steps and gives up when the client
    // is gone (state 0 or below, ZOMBIE after the server shut it down) or no
    // period has run for Cmdsync::STALL_MS (a server that stopped): returns 0 when
    // taken, 1 when not (also at once when the state is 0 or below). A
    // request that was not taken stays pending and is taken if the process
    // thread runs again.
    int set_state (int s);

    // Position of the run: samples since it started.
    int64_t get_posit (void) const { return posit.load (std::memory_order_acquire); }

    Jsdata  outdata [NSLOT];   // by output port; changed by the control thread only in PASSIVE
    Jsdata  inpdata [NSLOT];   // by input port; the process thread works on them in a run

private:

    void init (void);
    void fini (void);
    bool idle (void) const;
    void start_run (void) VESK_NONBLOCKING;
    // Zeros on every existing output port for this period.
    void silence (int nframes) VESK_NONBLOCKING;
    // Buffers of the ports that exist, null for the others.
    void port_buffers (int nframes, float **inp, float **out) VESK_NONBLOCKING;

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;

    // State handshake. state_req is stored before req_cnt is published
    // (release), so the process thread that sees the new count (acquire)
    // also sees the state it asks for. req_cnt and state_req: written by the
    // control thread, read by the process thread. ack_cnt: written by the
    // process thread (set to the count it took), read by the control thread.
    std::atomic<int>       state_req;
    std::atomic<unsigned>  req_cnt;
    std::atomic<unsigned>  ack_cnt;
    Cmdsync                cmdsync;      // posted by the process thread after taking a request
    std::atomic<int>       trig_inp;     // written by the control thread, read by the process thread
    int                    trig_offs;    // process thread only: run start within this period
    std::atomic<int64_t>   posit;        // written by the process thread before it ends a run; read anywhere
};

#endif
