// JACK client that captures its inputs "in_%d" (0 .. 100 channels) into an
// audio file, frame-exactly, under control of the sync marker on its "_sync"
// input: a capture starts at the first period with a marker, writes the
// marked frames of every period, and ends, closing the file, at the first
// period without one. Files have 1 .. 1024 channels; file channels beyond
// the inputs are silent. Meant for offline rendering in freewheel mode.

#ifndef VESK_JFWCAPT_H
#define VESK_JFWCAPT_H

#include <atomic>
#include "jclient.h"
#include "audiofile/audiofile.h"


class Jfwcapt : public Jclient
{
public:

    enum { MAXCHAN = 100, MAXFCHAN = 1024 };

    Jfwcapt (const char *client_name, const char *server_name, int nchan);
    virtual ~Jfwcapt (void);

    // Python thread, in PASSIVE only. Drops the previous file, then (name
    // not null) creates a file of nchan channels at the server's rate with
    // options "type,form,dither" keywords (null: "wav,24bit,none"). Returns
    // 0 when the file is ready (or only dropped), 1 when refused or failed.
    int create_file (const char *name, int nchan, const char *opts);
    // Closes the file unless a capture runs: 0, or 1 when refused.
    int close_file (void);

    int init (void);
    void fini (void);

private:

    // Python thread: closes the file and frees the buffer.
    void drop_file (void);
    // Process thread: writes k frames of the inputs, in chunks of _bsize.
    void write_frames (float **inp, int k) VESK_NONBLOCKING;

    virtual void jack_shutdown (void) override;
    virtual void jack_freewheel (int starting) override;
    virtual int  jack_process (int nframes) VESK_NONBLOCKING override;

    int        _nchan;     // audio input ports
    int        _fchan;     // channels of the open file, 0 without one; Python thread writes it with no capture running
    float     *_buff;      // _bsize interleaved frames of _fchan channels; owned by the Python thread
    int        _bsize;     // frames in _buff: the period size when the file was made
    Audiofile  _afile;     // Python thread while PASSIVE; process thread while capturing

    // A file is ready for the next marker. Set by the Python thread (release,
    // after the file and buffer exist), cleared by the process thread when a
    // capture ends: the marker alone never reopens a file.
    std::atomic<bool> _ready;
    // The server runs in freewheel mode, as far as this client knows: set by
    // the freewheel notification and by every marker (only a player in
    // freewheel mode sends one), cleared by the notification of its end.
    // Read by the process thread, which touches the file only while it is set.
    std::atomic<bool> _fw;
    // The process thread is inside jack_process: the shutdown notification
    // waits for it to leave before it closes the file.
    std::atomic<bool> _inproc;
};

#endif
