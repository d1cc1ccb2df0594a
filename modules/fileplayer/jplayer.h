// JACK client that plays an audio file onto 0 to 100 outputs ("out_%d"),
// with stop, play, locate and a gain in dB ramped over 0 to 1 s or more.
// Frames come from the read-ahead reader (AFreader); a file at another rate
// than the server's is converted on the fly (Resampler, 4 to 384 kHz).

#ifndef VESK_JPLAYER_H
#define VESK_JPLAYER_H

#include <atomic>
#include <stdint.h>
#include <semaphore.h>
#include "jclient.h"
#include "framework/cmdsync.h"
#include "resampler.h"
#include "audiofile/afreader.h"


class Jplayer : public Jclient
{
public:

    // States of their own above PROCESS; LOCATE is a command only.
    enum { STOPWAIT = 11, PLAYING = 12, PLAYWAIT = 13, ENDFILE = 14, LOCATE = 15 };
    // Filter length given to the converter (see resampler.h).
    enum { RS_HLEN = 36 };

    Jplayer (const char *client_name, const char *server_name, int nout);
    virtual ~Jplayer (void);

    // Command handshake: hands the command to the process thread and waits
    // until a period has taken it, in 10 ms steps. Gives up when the client
    // is gone (state 0 or below, ZOMBIE after a server shutdown) or no
    // period has run for Cmdsync::STALL_MS; the command then stays pending and is
    // taken if the process thread runs again. Return 0 when taken, 1 when
    // not or when the state forbids the command (set_state: state 0 or
    // below; set_posit: below PROCESS).
    int set_state (int state);
    int set_posit (int64_t posit);
    // Stores a new target gain and ramp time (negative taken as 0); does not wait.
    void set_gain (float gain, float time);
    // Only while PASSIVE with no command pending. 0 done, 1 refused or failed
    // (the file cannot be read, or its rate or channel count cannot be
    // converted; no file is open then).
    int open_file (const char *name);
    // Only while PASSIVE with no command pending: 0 done, 1 refused.
    int close_file (void);

    int64_t get_posit (void) const { return _reader.posit (); }
    const AFreader& reader (void) const { return _reader; }

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;

    bool idle (void) const;
    int  command (void);
    void update_state (void) VESK_NONBLOCKING;
    void check_reader (void) VESK_NONBLOCKING;
    void gain_step (int nframes) VESK_NONBLOCKING;
    void output_frames (int k, int n, const float *data) VESK_NONBLOCKING;
    void output_silence (int k, int n) VESK_NONBLOCKING;
    void play_direct (int nframes) VESK_NONBLOCKING;
    void play_resampled (int nframes) VESK_NONBLOCKING;

    // Command slot: _cmd_state and _cmd_posit are written before _cmd_req is
    // published (release); the process thread reads them after seeing the
    // new count (acquire). _cmd_req: Python thread; _cmd_ack: process thread.
    std::atomic<int>       _cmd_state;
    std::atomic<int64_t>   _cmd_posit;
    std::atomic<int>       _cmd_req;
    std::atomic<int>       _cmd_ack;
    Cmdsync                _cmdsync;      // posted by the process thread after taking a command
    // Gain change: target and time are written before _gain_req is
    // published (release). _gain_req: Python thread; _gain_ack and the rest
    // of the ramp: process thread.
    std::atomic<int>       _gain_req;
    int                    _gain_ack;
    float                  _gain_cur;     // dB reached
    std::atomic<float>     _gain_targ;    // dB
    std::atomic<float>     _gain_time;    // s
    float                  _gain_step;    // dB per period
    int                    _gain_nstep;   // periods left in the ramp
    float                 *_outbuf [MAXPORT];
    AFreader               _reader;
    Resampler              _resampler;
    float                 *_rsbuff;       // interleaved converter output, _rsframes frames; null without conversion
    int                    _rsframes;
    double                 _ratio;        // fsamp / file rate
    float                  _g0;           // linear gain at the start of the period
    float                  _g1;           // linear gain at its end
    float                  _ginc;         // per frame in this period
};

#endif
