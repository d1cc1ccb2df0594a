// JACK client that plays a range of frames of an audio file on its outputs
// "out_%d" (0 .. 100 channels) while the server runs in freewheel mode, and
// marks every period that carries frames of the range with the sync marker
// on its "_sync" output. set_state switches freewheel mode; playback starts
// when JACK reports that freewheel mode has begun and ends, back in PASSIVE,
// after the last frame of the range. Frames past the end of the file play
// as silence and are marked like the others.

#ifndef VESK_JFWPLAY_H
#define VESK_JFWPLAY_H

#include <atomic>
#include <stdint.h>
#include "jclient.h"
#include "audiofile/audiofile.h"


class Jfwplay : public Jclient
{
public:

    enum { MAXCHAN = 100 };

    Jfwplay (const char *client_name, const char *server_name, int nchan);
    virtual ~Jfwplay (void);

    // Python thread, in PASSIVE only: drops the previous file, then (name
    // not null) opens the file and sets the range to all of it. 0 done, 1
    // refused or the file cannot be read.
    int load_file (const char *name);
    // Closes the file unless playing: 0, or 1 when refused.
    int close_file (void);
    // Any state: start >= 0 and end >= start, else 1 and no change. A change
    // while playing acts from the next period.
    int set_range (int64_t start, int64_t end);
    // Asks JACK to switch freewheel mode on (non-zero) or off; always 0.
    int set_state (int onoff);

    int64_t flen (void) const { return _flen; }
    int     fchan (void) const { return _fchan; }

    int init (void);
    void fini (void);

private:

    virtual void jack_freewheel (int starting) override;
    virtual int  jack_process (int nframes) VESK_NONBLOCKING override;

    // Python thread: closes the file and frees the buffer.
    void drop_file (void);

    int        _nchan;      // audio output ports
    int        _fchan;      // channels of the loaded file, 0 without one
    int64_t    _flen;       // frames of the loaded file, 0 without one
    float     *_buff;       // _bsize interleaved frames of _fchan channels
    int        _bsize;      // frames in _buff: the period size when the file was loaded
    // Range: written by the Python thread at any time, read by the process
    // thread once per period (whole 64-bit values, no handshake).
    std::atomic<int64_t> _start;
    std::atomic<int64_t> _end;
    int64_t    _posit;      // next frame to play: set by the freewheel notification before
                            // PROCESS is published, then process thread only
    std::atomic<bool> _fw;  // freewheel mode as notified; the process thread reads the file only while set
    Audiofile  _afile;      // Python thread in PASSIVE; freewheel notification; process thread in PROCESS
};

#endif
