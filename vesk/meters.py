"""Friendly classes of the level meter and the noise meter."""

import enum

import numpy as np

from . import levelmeter, noisemeter
from ._tool import Tool, State, _state_name
from .server import JackError


def to_db(x):
    """Levels in dB (20 log10); a level of 0 is -inf."""
    with np.errstate(divide="ignore"):
        return 20.0 * np.log10(np.asarray(x, dtype=np.float64))


class LevelMeter(Tool):
    """Peak and RMS level meter for up to 100 inputs "in_0" ...

    Each channel measures a DC-blocked RMS level (scaled by sqrt 2, so that
    a sine reads its peak amplitude, as the peak meter does) and a peak level
    held for 0.5 s that then falls back by 15 dB per second::

        with vesk.LevelMeter(2, server=server.name) as m:
            m.connect_input(0, "system:capture_1")
            rms, peak = m.read()          # linear, numpy float32 arrays
            rms_db, peak_db = m.read_db() # dB re full scale 1.0, -inf for 0

    Each read returns the largest RMS level since the previous read, so that
    no loud moment between two reads is missed; reading does not reset the
    peak. ``nchan`` is clamped to 0..100. The meter owns the arrays that the
    client writes into; every read returns fresh copies.
    """

    _module = levelmeter

    def __init__(self, nchan, name="levelmeter", server=None):
        n = max(0, min(100, int(nchan)))
        self._rms = np.zeros(n, np.float32)
        self._peak = np.zeros(n, np.float32)
        self._open(name, server, n, self._rms, self._peak)
        self._nchan = n
        self._ninp = n if self.name else 0

    @property
    def nchan(self):
        """Number of channels (input ports)."""
        return self._nchan

    def read(self):
        """(rms, peak): the current levels of every channel, linear, as new arrays."""
        levelmeter.get_levels(self.capsule)
        return self._rms.copy(), self._peak.copy()

    def read_db(self):
        """(rms, peak) as :meth:`read`, in dB (float64 arrays, -inf for 0)."""
        rms, peak = self.read()
        return to_db(rms), to_db(peak)


class Weighting(enum.IntEnum):
    """Weighting filters of :class:`NoiseMeter`."""
    NONE = 0        # no weighting
    BW20K = 1       # low-pass of 20 kHz equivalent noise bandwidth (unweighted noise)
    A = 2           # IEC 61672 A weighting
    C = 3           # IEC 61672 C weighting
    ITU468 = 4      # ITU-R BS.468, 0 dB at 1 kHz
    ITU468_2K = 5   # ITU-R BS.468 referred to 2 kHz (5.6 dB lower)


class Detector(enum.IntEnum):
    """Detectors of :class:`NoiseMeter`."""
    NONE = 0        # no detector: reads 0
    RMS = 1         # RMS, 125 ms
    RMS_SLOW = 2    # RMS, 1 s
    VU = 3          # VU ballistics
    VU_SLOW = 4     # VU ballistics, ten times slower
    ITU468 = 5      # ITU-R 468 quasi-peak


class NoiseMeter(Tool):
    """Multichannel weighted noise meter: ``ninputs`` inputs "in_i", ``nmeters`` meters.

    Each meter takes one input, optionally removes DC (5 Hz high-pass),
    applies a :class:`Weighting` and a :class:`Detector`, and publishes one
    reading per period; its output "out_i" carries the signal it measures::

        with vesk.NoiseMeter(2, 2, server=server.name) as m:
            m.set_input(1, meter=1)
            m.set_filter(vesk.Weighting.ITU468)          # all meters
            m.set_detect(vesk.Detector.ITU468)
            levels = m.read()                            # linear, sine amplitude
            levels_db = m.read_db()

    Every reading is calibrated so that a steady sine of amplitude A reads
    A. Meters start on input 0 with no weighting and no detector (reading
    0). Both counts are clamped to 1..100. The filters exist for 44100,
    48000, 88200 and 96000 Hz only: at any other rate the client stays
    INITIAL, measures nothing and the setters raise :class:`JackError`.
    """

    _module = noisemeter

    def __init__(self, ninputs, nmeters, name="noisemeter", server=None):
        ni = max(1, min(100, int(ninputs)))
        nm = max(1, min(100, int(nmeters)))
        self._levels = np.zeros(nm, np.float32)
        self._open(name, server, ni, nm, self._levels)
        self._nmeters = nm
        self._ninputs = ni
        if self.name:
            self._ninp, self._nout = ni, nm

    @property
    def ninputs(self):
        return self._ninputs

    @property
    def nmeters(self):
        return self._nmeters

    def _refused(self, what):
        s = self.state
        if s != State.PROCESS:
            raise JackError(f"NoiseMeter: client is {_state_name(s)}")
        raise ValueError(what)

    def set_input(self, inp, meter=-1):
        """Let ``meter`` (-1: every meter) measure input ``inp``."""
        if noisemeter.set_input(self.capsule, int(inp), int(meter)) == 1:
            self._refused(f"input {inp} or meter {meter} out of range")

    def set_filter(self, weighting, meter=-1, dc=False):
        """Select the :class:`Weighting` of ``meter`` (-1: every meter), with DC removal if ``dc``.

        The meter's filter restarts from rest at the next period.
        """
        w = Weighting(weighting)
        if noisemeter.set_filter(self.capsule, int(meter), int(w), 1 if dc else 0) == 1:
            self._refused(f"meter {meter} out of range")

    def set_detect(self, detector, meter=-1):
        """Select the :class:`Detector` of ``meter`` (-1: every meter); it restarts from 0."""
        d = Detector(detector)
        if noisemeter.set_detect(self.capsule, int(meter), int(d)) == 1:
            self._refused(f"meter {meter} out of range")

    def read(self):
        """The reading of every meter at the end of the last period, linear, as a new array."""
        noisemeter.get_levels(self.capsule)
        return self._levels.copy()

    def read_db(self):
        """:meth:`read` in dB (float64, -inf for 0)."""
        return to_db(self.read())
