// One libsndfile handle with short keywords for file types, sample forms and
// dither, a fixed choice of formats for writing (WAV, WAVEX from 3 channels,
// ambisonic B-format WAVEX, AIFF, CAF, FLAC; 16, 24, 32-bit or float) and
// optional dither to 16 bit. Samples are interleaved floats, full scale +-1.0.

#ifndef VESK_AUDIOFILE_H
#define VESK_AUDIOFILE_H

#include <stddef.h>
#include <stdint.h>
#include <sndfile.h>
#include "dither.h"


class Audiofile
{
public:

    enum { TYPE_OTHER, TYPE_CAF, TYPE_WAV, TYPE_AMB, TYPE_AIFF, TYPE_FLAC };
    enum { FORM_OTHER, FORM_16BIT, FORM_24BIT, FORM_32BIT, FORM_FLOAT };
    enum { DITHER_NONE, DITHER_RECT, DITHER_TRI, DITHER_LIPS };
    enum { MODE_CLOSED = 0, MODE_READ = 1, MODE_WRITE = 2, MODE_RDWR = 3 };
    // Results: 0 success, ERR_MODE wrong mode, ERR_TYPE bad type code,
    // ERR_FORM bad form code (or dither on a file not "16bit"), ERR_OPEN bad
    // rate or channels, or the library could not open the file.
    enum { ERR_MODE = -1, ERR_TYPE = -2, ERR_FORM = -3, ERR_OPEN = -4 };
    enum { BUFFRAMES = 1024 };   // frames of the dither chunk and of get_buffer

    Audiofile (void);
    ~Audiofile (void);

    int close (void);
    // The resets of close, without touching the library handle.
    void clear (void);

    // Keyword lookups: the code, or -1. Types and forms never give 0.
    static int enc_type (const char *s);
    static int enc_form (const char *s);
    static int enc_dith (const char *s);

    int open_read (const char *name);
    int open_rdwr (const char *name);
    int open_write (const char *name, int type, int form, int rate, int chan);
    int open_exist (void);

    float *get_buffer (void);
    int set_dither (int type);

    int64_t seek (int64_t pos, int whence);
    int read (float *data, size_t frames);
    int read_int (int *data, size_t frames);
    int write_int (int *data, size_t frames);
    int write (float *data, size_t frames);

    int     mode (void) const { return _mode; }
    int     type (void) const { return _type; }
    int     form (void) const { return _form; }
    int     rate (void) const { return _rate; }
    int     chan (void) const { return _chan; }
    int64_t size (void) const { return _size; }
    int     dith_type (void) const { return _dith_type; }

    static const char *_typestr [];
    static const char *_formstr [];
    static const char *_dithstr [];

private:

    Audiofile (const Audiofile&) = delete;
    Audiofile& operator= (const Audiofile&) = delete;

    SNDFILE   *_sndfile;      // null when no file is open
    SF_INFO    _sfinfo;
    int        _mode;         // bit 0 readable, bit 1 writable
    int        _type;
    int        _form;
    int        _rate;
    int        _chan;
    int64_t    _size;         // frames of a file opened for reading
    int        _dith_type;
    Dither    *_dith_proc;    // _chan quantisers, null without dither
    short     *_dith_buff;    // BUFFRAMES x _chan, null without dither
    float     *_data_buff;    // BUFFRAMES x _chan, null until asked for
};

#endif
