// The sync marker between the freewheel player and the freewheel capture:
// the first 8 bytes of a "_sync" port buffer, "F" "W" 0 1, the number of
// valid frames of this period as an unsigned 16-bit value (low byte first),
// then 0 1. Anything else in those bytes means no marker (count 0).

#ifndef VESK_FWSYNC_H
#define VESK_FWSYNC_H

#include <string.h>

// Writes the marker with count into the first 8 bytes of buf (2 floats).
inline void fwsync_write (float *buf, int count)
{
    unsigned char m [8] = { 0x46, 0x57, 0x00, 0x01,
                            (unsigned char) (count & 0xFF), (unsigned char) ((count >> 8) & 0xFF), 0x00, 0x01 };
    memcpy (buf, m, 8);
}

// The frame count of the marker in buf, or 0 when there is none.
inline int fwsync_read (const float *buf)
{
    unsigned char m [8];
    memcpy (m, buf, 8);
    if (m [0] != 0x46 || m [1] != 0x57 || m [2] != 0x00 || m [3] != 0x01 || m [6] != 0x00 || m [7] != 0x01) return 0;
    return m [4] | (m [5] << 8);
}

#endif
