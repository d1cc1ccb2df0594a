"""Friendly class of the look-ahead peak limiter."""

import math

import numpy as np

from . import peaklimiter
from ._tool import Tool


def _clamp(v, lo, hi):
    return lo if v < lo else (hi if v > hi else v)


def lookahead(rate):
    """Look-ahead delay in samples of a :class:`PeakLimiter` at ``rate`` Hz.

    At least 1.2 ms, a whole number of blocks of 8 samples (up to 65 kHz), 16
    (up to 130 kHz) or 32 (above): 56 at 44100 Hz, 64 at 48000, 128 at 96000,
    256 at 192000.
    """
    fs = np.float32(rate)
    div1 = 32 if fs > 130000 else (16 if fs > 65000 else 8)
    c = math.ceil(np.float32(np.float32(0.0012) * fs) / np.float32(div1))
    while c + 1 > 32:     # very high rates: longer blocks (see Peaklim)
        div1 *= 2
        c = math.ceil(np.float32(np.float32(0.0012) * fs) / np.float32(div1))
    return div1 * c


class PeakLimiter(Tool):
    """Multichannel look-ahead peak limiter; all channels share one gain.

    Input ``in_i`` feeds output ``out_i``: the input times the input gain,
    delayed by :attr:`delay` samples (the look-ahead, at least 1.2 ms), times
    the limiting gain. The gain is lowered ahead of every peak so that the
    output stays at the threshold, and recovers with the release time. A
    slower path watches a 500 Hz low-passed copy of the signal and holds the
    gain it needs for about 16 ms, so bass does not make the gain pump::

        with vesk.PeakLimiter(2, name="limiter") as lim:
            lim.inpgain = 6.0       # dB, -30 .. +30
            lim.threshold = -1.0    # dB, -30 .. 0
            lim.release = 0.05      # s, 0.001 .. 1

    Out-of-range settings are limited (infinities too); NaN is refused with
    ValueError and the previous setting stays. A threshold change acts within
    8 to 32 samples, an input gain change ramps linearly over one group of 64
    to 256 samples from the next group end, a release change acts at once.
    ``nchan`` is clamped to 1..100. ``server`` None means the default server.
    """

    _module = peaklimiter

    def __init__(self, nchan, name="peaklimiter", server=None):
        self._open(name, server, int(nchan))
        self._nchan = max(1, min(100, int(nchan)))
        self._ninp = self._nout = self._nchan if self.name else 0
        self._inpgain = 0.0
        self._threshold = 0.0
        self._release = 0.01

    @property
    def nchan(self):
        """Number of channels (input/output port pairs)."""
        return self._nchan

    @property
    def delay(self):
        """Look-ahead delay in samples at the server's rate (64 at 48 kHz)."""
        return lookahead(self.rate)

    @property
    def inpgain(self):
        """Input gain in dB applied ahead of the limiter, -30 .. +30 (0 at creation)."""
        return self._inpgain

    @inpgain.setter
    def inpgain(self, db):
        db = float(db)
        peaklimiter.set_inpgain(self.capsule, db)
        self._inpgain = _clamp(db, -30.0, 30.0)

    @property
    def threshold(self):
        """Threshold in dB, -30 .. 0 (0 at creation): the largest output level."""
        return self._threshold

    @threshold.setter
    def threshold(self, db):
        db = float(db)
        peaklimiter.set_threshold(self.capsule, db)
        self._threshold = _clamp(db, -30.0, 0.0)

    @property
    def release(self):
        """Release time in seconds, 0.001 .. 1 (0.01 at creation)."""
        return self._release

    @release.setter
    def release(self, t):
        t = float(t)
        peaklimiter.set_release(self.capsule, t)
        self._release = _clamp(t, 0.001, 1.0)
