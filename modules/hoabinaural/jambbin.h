// JACK client of the binaural renderer: (degree+1)^2 inputs "in.%d" (degree
// 1 .. 8) in ACN order, SN3D, rendered to "out.L" and "out.R" through one
// Ambbin8 (rotation, near-field compensation, per-channel filters of up to
// maxlen samples, 1 .. 2048).

#ifndef VESK_JAMBBIN_H
#define VESK_JAMBBIN_H

#include "jclient.h"
#include "ambisonics/ambbin8.h"


class Jambbin : public Jclient
{
public:

    Jambbin (const char *client_name, const char *server_name, int maxlen, int degree);
    virtual ~Jambbin (void);

    Ambbin8  *renderer;   // null unless construction succeeded

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
