// JACK client of the ambisonic rotator: (degree+1)^2 inputs "in.%d" rotated
// into as many outputs "out.%d", degree 1 to 8.

#ifndef VESK_JAMBROT_H
#define VESK_JAMBROT_H

#include "jclient.h"
#include "ambisonics/ambrot8.h"


class Jambrot : public Jclient
{
public:

    Jambrot (const char *client_name, const char *server_name, int degree);
    virtual ~Jambrot (void);

    // Python thread: forwarded to the rotator when it exists (see Ambrot8).
    void set_rotation (float angle, float x, float y, float z, float tramp);
    void set_quaternion (float w, float x, float y, float z, float tramp);

    Ambrot8  *rotator;   // owned; null until construction succeeds

private:

    virtual int jack_process (int nframes) VESK_NONBLOCKING override;
};

#endif
