// Audio file access over libsndfile.

#include <string.h>
#include "audiofile.h"

const char *Audiofile::_typestr [] = { "other", "caf", "wav", "amb", "aiff", "flac", nullptr };
const char *Audiofile::_formstr [] = { "other", "16bit", "24bit", "32bit", "float", nullptr };
const char *Audiofile::_dithstr [] = { "none", "rect", "tri", "lips", nullptr };

// Library major format by type code (WAV becomes WAVEX from 3 channels).
static const int major_format [] = { 0, SF_FORMAT_CAF, SF_FORMAT_WAV, SF_FORMAT_WAV, SF_FORMAT_AIFF, SF_FORMAT_FLAC };
// Library subformat by form code.
static const int sub_format [] = { 0, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_PCM_32, SF_FORMAT_FLOAT };

// The dither process of each dither code.
typedef void (Dither::*Dither_proc) (int, const float *, short *, int, int);
static const Dither_proc dither_proc [] =
{
    nullptr, &Dither::proc_rectangular, &Dither::proc_triangular, &Dither::proc_lipschitz
};


Audiofile::Audiofile (void) :
    _sndfile (nullptr),
    _dith_proc (nullptr),
    _dith_buff (nullptr),
    _data_buff (nullptr)
{
    memset (&_sfinfo, 0, sizeof (_sfinfo));
    clear ();
}


Audiofile::~Audiofile (void)
{
    close ();
}


int Audiofile::close (void)
{
    if (_sndfile) sf_close (_sndfile);
    _sndfile = nullptr;
    clear ();
    return 0;
}


void Audiofile::clear (void)
{
    delete[] _dith_proc;
    delete[] _dith_buff;
    delete[] _data_buff;
    _dith_proc = nullptr;
    _dith_buff = nullptr;
    _data_buff = nullptr;
    _mode = 0;
    _type = 0;
    _form = 0;
    _rate = 0;
    _chan = 0;
    _size = 0;
    _dith_type = 0;
}


// Exact, case-sensitive lookup of s in table from index first on.
static int lookup (const char **table, int first, const char *s)
{
    if (!s) return -1;
    for (int i = first; table [i]; i++)
    {
        if (!strcmp (table [i], s)) return i;
    }
    return -1;
}

int Audiofile::enc_type (const char *s) { return lookup (_typestr, 1, s); }
int Audiofile::enc_form (const char *s) { return lookup (_formstr, 1, s); }
int Audiofile::enc_dith (const char *s) { return lookup (_dithstr, 0, s); }


int Audiofile::open_read (const char *name)
{
    if (_mode) return ERR_MODE;
    memset (&_sfinfo, 0, sizeof (_sfinfo));
    _sndfile = sf_open (name, SFM_READ, &_sfinfo);
    if (!_sndfile) return ERR_OPEN;
    _mode = MODE_READ;
    return open_exist ();
}


int Audiofile::open_rdwr (const char *name)
{
    if (_mode) return ERR_MODE;
    memset (&_sfinfo, 0, sizeof (_sfinfo));
    _sndfile = sf_open (name, SFM_RDWR, &_sfinfo);
    if (!_sndfile) return ERR_OPEN;
    sf_command (_sndfile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    _mode = MODE_RDWR;
    return open_exist ();
}


int Audiofile::open_exist (void)
{
    switch (_sfinfo.format & SF_FORMAT_TYPEMASK)
    {
    case SF_FORMAT_CAF:  _type = TYPE_CAF; break;
    case SF_FORMAT_WAV:  _type = TYPE_WAV; break;
    case SF_FORMAT_AIFF: _type = TYPE_AIFF; break;
    case SF_FORMAT_FLAC: _type = TYPE_FLAC; break;
    case SF_FORMAT_WAVEX:
        _type = (sf_command (_sndfile, SFC_WAVEX_GET_AMBISONIC, nullptr, 0) == SF_AMBISONIC_B_FORMAT)
                ? TYPE_AMB : TYPE_WAV;
        break;
    default: _type = TYPE_OTHER;
    }
    switch (_sfinfo.format & SF_FORMAT_SUBMASK)
    {
    case SF_FORMAT_PCM_16: _form = FORM_16BIT; break;
    case SF_FORMAT_PCM_24: _form = FORM_24BIT; break;
    case SF_FORMAT_PCM_32: _form = FORM_32BIT; break;
    case SF_FORMAT_FLOAT:  _form = FORM_FLOAT; break;
    default: _form = FORM_OTHER;
    }
    _rate = _sfinfo.samplerate;
    _chan = _sfinfo.channels;
    _size = _sfinfo.frames;
    return 0;
}


int Audiofile::open_write (const char *name, int type, int form, int rate, int chan)
{
    if (_mode) return ERR_MODE;
    if (rate <= 0 || chan <= 0) return ERR_OPEN;
    if (type < TYPE_CAF || type > TYPE_FLAC) return ERR_TYPE;
    if (form < FORM_16BIT || form > FORM_FLOAT) return ERR_FORM;
    int major = major_format [type];
    if (major == SF_FORMAT_WAV && chan >= 3) major = SF_FORMAT_WAVEX;
    memset (&_sfinfo, 0, sizeof (_sfinfo));
    _sfinfo.format = major | sub_format [form];
    _sfinfo.samplerate = rate;
    _sfinfo.channels = chan;
    _sfinfo.sections = 1;
    _sndfile = sf_open (name, SFM_WRITE, &_sfinfo);
    if (!_sndfile) return ERR_OPEN;
    sf_command (_sndfile, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    if (type == TYPE_AMB) sf_command (_sndfile, SFC_WAVEX_SET_AMBISONIC, nullptr, SF_AMBISONIC_B_FORMAT);
    _mode = MODE_WRITE;
    _type = type;
    _form = form;
    _rate = rate;
    _chan = chan;
    _size = 0;
    return 0;
}


float *Audiofile::get_buffer (void)
{
    if (!_sndfile) return nullptr;
    if (!_data_buff) _data_buff = new float [BUFFRAMES * _chan];
    return _data_buff;
}


int Audiofile::set_dither (int type)
{
    if (!(_mode & MODE_WRITE)) return ERR_MODE;
    if (_form != FORM_16BIT) return ERR_FORM;
    if (type < DITHER_NONE || type > DITHER_LIPS) return ERR_FORM;   // never an index out of the table
    if (type == DITHER_NONE)
    {
        delete[] _dith_proc;
        delete[] _dith_buff;
        _dith_proc = nullptr;
        _dith_buff = nullptr;
    }
    else if (_dith_type == DITHER_NONE)
    {
        _dith_proc = new Dither [_chan];
        _dith_buff = new short [BUFFRAMES * _chan];
    }
    _dith_type = type;
    return 0;
}


int64_t Audiofile::seek (int64_t pos, int whence)
{
    if (!_sndfile) return -1;
    return sf_seek (_sndfile, pos, whence);
}


int Audiofile::read (float *data, size_t frames)
{
    if (!(_mode & MODE_READ)) return ERR_MODE;
    return (int) sf_readf_float (_sndfile, data, frames);
}


int Audiofile::read_int (int *data, size_t frames)
{
    if (!(_mode & MODE_READ)) return ERR_MODE;
    return (int) sf_readf_int (_sndfile, data, frames);
}


int Audiofile::write_int (int *data, size_t frames)
{
    if (!(_mode & MODE_WRITE)) return ERR_MODE;
    return (int) sf_writef_int (_sndfile, data, frames);
}


int Audiofile::write (float *data, size_t frames)
{
    if (!(_mode & MODE_WRITE)) return ERR_MODE;
    if (_dith_type == DITHER_NONE) return (int) sf_writef_float (_sndfile, data, frames);
    Dither_proc proc = dither_proc [_dith_type];
    size_t total = 0;
    while (frames)
    {
        int k = (frames < BUFFRAMES) ? (int) frames : BUFFRAMES;
        for (int c = 0; c < _chan; c++)
        {
            (_dith_proc [c].*proc) (k, data + c, _dith_buff + c, _chan, _chan);
        }
        sf_count_t n = sf_writef_short (_sndfile, _dith_buff, k);
        if (n > 0) total += n;
        if (n < k) break;
        data += (size_t) k * _chan;
        frames -= k;
    }
    return (int) total;
}
