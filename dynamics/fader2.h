// Multichannel gain stage: master gain and mute, gain and mute per channel.
// Changes run as linear ramps over 10 ms steps (fsamp / 100 samples), at most
// a factor of two per step, so gain changes never click; ramps that start or
// end at zero complete within one step. Gains below -120 dB are silence.

#ifndef VESK_FADER2_H
#define VESK_FADER2_H


class Fader2chan
{
public:

    Fader2chan (void);

    // Begins a new step towards master_gain * gain (0 when muted).
    void prepare (int step_len, float master_gain, bool master_mute);
    // Produces n output samples of the current step.
    void process (int n, const float *inp, float *out);

    bool   mute;        // set by the Python thread, read at step boundaries
    int    mode;        // 0 output zero, 1 linear ramp, 2 constant gain
    float  gain;        // set by the Python thread, read at step boundaries
    float  gain_step;   // gain at the end of the current step
    float  gain_cur;    // gain reached so far
    float  gain_inc;    // increment per sample in the current step
};


class Fader2
{
public:

    enum { MAXCHAN = 100 };

    Fader2 (int nchan, int fsamp);
    ~Fader2 (void);

    // index < 0: master; 0 .. nchan-1: that channel; larger: ignored.
    // Both only store: the change starts at the next step boundary.
    // setgain refuses NaN, and gains so large that master x channel could
    // overflow (above about +385 dB); it returns -1 then, else 0.
    int  setgain (int index, float db);
    void setmute (int index, bool on);

    void process (int nframes, float **inp, float **out);

    int          nchan;
    int          step_len;
    int          step_left;
    bool         mute;      // master mute, set by the Python thread
    float        gain;      // master gain, set by the Python thread; 0 until the first setgain
    Fader2chan  *chans;

private:

    Fader2 (const Fader2&) = delete;
    Fader2& operator= (const Fader2&) = delete;
};

#endif
