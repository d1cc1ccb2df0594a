// Marks the file access of the two freewheel modules on JACK's process
// thread. Outside freewheel mode nothing there may touch a file; in freewheel
// mode JACK does not hold the thread to real time, and reading or writing the
// file is what the period is for. Under RealtimeSanitizer (tests/rtcheck) a
// scope opened with freewheeling = true lifts the check for the calls inside
// it, and one opened with false lifts nothing, so that file access outside
// freewheel mode is still reported. Other builds compile it to nothing.

#ifndef VESK_FWIO_H
#define VESK_FWIO_H

#if defined(__has_feature)
#if __has_feature(realtime_sanitizer)
#define VESK_FWIO_RTSAN 1
#endif
#endif

#ifdef VESK_FWIO_RTSAN
#include <sanitizer/rtsan_interface.h>

class Freewheel_io
{
public:
    explicit Freewheel_io (bool freewheeling) : _off (freewheeling) { if (_off) __rtsan_disable (); }
    ~Freewheel_io (void) { if (_off) __rtsan_enable (); }
private:
    Freewheel_io (const Freewheel_io&) = delete;
    Freewheel_io& operator= (const Freewheel_io&) = delete;
    bool _off;
};

#else

class Freewheel_io
{
public:
    explicit Freewheel_io (bool) {}
};

#endif
#endif
