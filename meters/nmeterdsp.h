// One channel of the noise meter: optional DC removal (5 Hz high-pass), one
// weighting filter and one detector, chosen by code; publishes one reading
// per period. Sample rates 44100, 48000, 88200, 96000 Hz (init returns
// nonzero otherwise). Filter codes 1 to 5, detector codes 1 to 5; any other
// code means no weighting, or no detector and a reading of 0.

#ifndef VESK_NMETERDSP_H
#define VESK_NMETERDSP_H

#include <atomic>
#include "weighting.h"
#include "detectors.h"


class Nmeterdsp
{
public:

    enum { FILT_ENB20K = 1, FILT_IEC_A = 2, FILT_IEC_C = 3, FILT_ITU468 = 4, FILT_ITU468_2K = 5 };
    enum { DET_RMS = 1, DET_RMS_SLOW = 2, DET_VUM = 3, DET_VUM_SLOW = 4, DET_ITU468 = 5 };

    Nmeterdsp (void);

    // Python thread, before the process thread runs this meter. Returns
    // nonzero if the rate is not supported.
    int  init (int fsamp);

    // Python thread. Store a new filter (with DC removal flag) or detector
    // code; the process thread takes it at the start of its next period and
    // restarts the state of the element chosen. Return 0 for a known code,
    // -1 for any other (which is stored as well and selects nothing).
    int  set_filter (int code, int dc);
    int  set_detect (int code);

    // Process thread: n >= 0 samples from inp through DC removal and
    // weighting into out (which may be inp), then the detector.
    void process (const float *inp, float *out, int n);
    // nch meters at once, M [i] from inp [i] to out [i], side by side in
    // vector lanes at the given level (filters/simdlevel.h), meters with the
    // same kind of filter and detector together: the same results as
    // process, meter by meter. An out [i] may be shared by several meters
    // (a scratch buffer), but no output may be an input.
    static void process_multi (int simd, Nmeterdsp *const *M, const float *const *inp, float *const *out,
                               int nch, int n);

    // The reading at the end of the last period (any thread).
    float get_level (void) const { return level.load (std::memory_order_relaxed); }

    // Current settings and states, owned by the process thread once running.
    bool   dcfilt;
    int    filter;
    int    detect;
    float  wdc;      // 31.415 / fsamp: 5 Hz DC removal
    float  zdc;
    std::atomic<float>  level;   // written by process, read by the Python thread

    Enb20kfilter  enb20k;
    Iec_ACfilter  iec_ac;
    Itu468filter  itu468;
    RMSdetect     rmsdet;
    VUMdetect     vumdet;
    Itu468detect  itudet;

private:

    Nmeterdsp (const Nmeterdsp&) = delete;
    Nmeterdsp& operator= (const Nmeterdsp&) = delete;

    void take_requests (void);
    // The period after take_requests.
    void run (const float *inp, float *out, int n);
    // Kind of filter (0 none, 1 20 kHz, 2 A, 3 C, 4 ITU-R 468) and of
    // detector (0 none, 1 RMS, 2 VU, 3 quasi-peak) for the lanes; -1 when
    // the filter outputs silence (unsupported rate).
    int  lane_filter (void) const;
    int  lane_detect (void) const;
    float reading (void) const;
    void apply_filter (int code, bool dc);
    void apply_detect (int code);

    // Requests from the Python thread, one slot per kind, published as a
    // sequence lock: the writer makes the counter odd, writes the slot and
    // makes it even again (release); the process thread takes a slot only
    // when it read the same even count before and after it, so a request
    // that races a period is taken whole one period later, never torn.
    std::atomic<unsigned>  _fseq;    // written by set_filter
    std::atomic<int>       _fcode;
    std::atomic<bool>      _fdc;
    unsigned               _fack;    // process thread: last count taken
    std::atomic<unsigned>  _dseq;    // written by set_detect
    std::atomic<int>       _dcode;
    unsigned               _dack;
};

#endif
