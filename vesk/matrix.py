"""Friendly class of the gain and delay matrix."""

import math

import numpy as np

from . import gaindelaymatrix
from ._tool import Tool

GMAX = 1e12        # largest gain size accepted (+240 dB): no product of three overflows
_DLIM = 1 << 29    # stored delays are limited to this many samples either way


class GainDelayMatrix(Tool):
    """Routing matrix of up to 100 inputs by 100 outputs, with a gain and a delay per route.

    Every output ``out_o`` is the sum over all inputs ``in_i`` of the input,
    delayed by input delay + matrix delay + output delay (limited to 0 ..
    ``maxdelay``) and scaled by input gain x matrix gain x output gain. All
    matrix gains start at 0 (silence), input and output gains at 1, delays
    at 0. Gain changes ramp linearly over one period; a delay change
    crossfades linearly over one period from the old delay to the new one.
    Gains are linear factors; delays are in seconds, rounded to samples::

        with vesk.GainDelayMatrix(4, 2, maxdelay=0.5, name="matrix") as m:
            m.set_gain(0, 0, 1.0)             # input 0 -> output 0
            m.set_gain(-1, 1, 0.5)            # output 1 at half gain
            m.set_delay(1, 0, 0.010)          # input 1 -> output 0 delayed by 10 ms
            m.gains = np.eye(4, 2)            # all matrix gains at once, shape (ninp, nout)
            print(m.route_gains, m.route_delays)

    Element (i, o) addresses: ``i`` in range and ``o`` in range: the matrix
    element; ``o`` = -1 (any negative): input ``i``; ``i`` negative: output
    ``o``; anything else sets nothing. Gains and delays that are not finite,
    and gains larger than ``GMAX`` in size, are refused with ValueError and
    the previous setting stays. With ``maxdelay`` 0 (the default) there are no
    delay lines and delays cannot be set. ``ninp`` and ``nout`` are clamped to
    0..100, ``maxdelay`` to 0..3 s. ``server`` None means the default server.
    """

    _module = gaindelaymatrix

    def __init__(self, ninp, nout, maxdelay=0.0, name="gaindelaymatrix", server=None):
        maxdelay = float(maxdelay)
        self._open(name, server, int(ninp), int(nout), maxdelay)
        self._ni = max(0, min(100, int(ninp)))
        self._no = max(0, min(100, int(nout)))
        self._ninp = self._ni if self.name else 0
        self._nout = self._no if self.name else 0
        self._fs = self.rate if self.name else 0
        t = float(np.float32(_clamp(maxdelay, 0.0, 3.0)))
        self._maxdel = int(t * self._fs + 0.5)
        self._ginp = np.ones(self._ni, np.float32)
        self._gout = np.ones(self._no, np.float32)
        self._gmat = np.zeros((self._ni, self._no), np.float32)
        self._dinp = np.zeros(self._ni, np.int64)
        self._dout = np.zeros(self._no, np.int64)
        self._dmat = np.zeros((self._ni, self._no), np.int64)

    @property
    def ninp(self):
        """Number of inputs."""
        return self._ni

    @property
    def nout(self):
        """Number of outputs."""
        return self._no

    @property
    def max_delay_samples(self):
        """Largest total route delay in samples (0: no delay lines)."""
        return self._maxdel

    @property
    def maxdelay(self):
        """Largest total route delay in seconds, as rounded to samples."""
        return self._maxdel / self._fs if self._fs else 0.0

    # Where element (i, o) lives in the mirrors: (array, index) or None.
    def _where(self, i, o, vinp, vout, vmat):
        i, o = int(i), int(o)
        if i >= self._ni or o >= self._no:
            return None
        if i >= 0 and o >= 0:
            return vmat, (i, o)
        if i >= 0:
            return vinp, i
        if o >= 0:
            return vout, o
        return None

    def _samples(self, t):
        d = math.floor(float(np.float32(t)) * self._fs + 0.5)
        return int(_clamp(d, -_DLIM, _DLIM))

    # Single elements.

    def set_gain(self, i, o, gain):
        """Set the linear gain of element (i, o); see the class doc for the addressing."""
        g = float(gain)
        gaindelaymatrix.set_gain(self.capsule, int(i), int(o), g)
        w = self._where(i, o, self._ginp, self._gout, self._gmat)
        if w:
            w[0][w[1]] = g

    def set_delay(self, i, o, seconds):
        """Set the delay in seconds of element (i, o); nothing without delay lines."""
        t = float(seconds)
        gaindelaymatrix.set_delay(self.capsule, int(i), int(o), t)
        w = self._where(i, o, self._dinp, self._dout, self._dmat)
        if w and self._maxdel:
            w[0][w[1]] = self._samples(t)

    def get_gain(self, i, o):
        """The gain of element (i, o) as set (float32 precision)."""
        w = self._where(i, o, self._ginp, self._gout, self._gmat)
        if not w:
            raise IndexError(f"no element ({i}, {o}) in a {self._ni} x {self._no} matrix")
        return float(w[0][w[1]])

    def get_delay(self, i, o):
        """The delay of element (i, o) in seconds as set, rounded to samples."""
        w = self._where(i, o, self._dinp, self._dout, self._dmat)
        if not w:
            raise IndexError(f"no element ({i}, {o}) in a {self._ni} x {self._no} matrix")
        return int(w[0][w[1]]) / self._fs if self._fs else 0.0

    # Whole arrays. Values are checked before anything is set, so a refused
    # array changes nothing.

    def _gain_array(self, values, shape):
        a = np.broadcast_to(np.asarray(values, dtype=np.float64), shape)
        if not np.all(np.abs(a) <= GMAX):     # NaN and infinities too
            raise ValueError("Gains must be finite and at most 1e12 in size")
        return a.astype(np.float32)

    def _delay_array(self, values, shape):
        a = np.broadcast_to(np.asarray(values, dtype=np.float64), shape)
        if not np.all(np.abs(a) <= np.finfo(np.float32).max):
            raise ValueError("Delays must be finite numbers")
        return a

    @property
    def gains(self):
        """Matrix gains, a float32 array of shape (ninp, nout): [i, o] routes input i to output o."""
        return self._gmat.copy()

    @gains.setter
    def gains(self, values):
        a = self._gain_array(values, (self._ni, self._no))
        for i in range(self._ni):
            for o in range(self._no):
                if a[i, o] != self._gmat[i, o]:
                    self.set_gain(i, o, a[i, o])

    @property
    def input_gains(self):
        """Input gains, a float32 array of shape (ninp,)."""
        return self._ginp.copy()

    @input_gains.setter
    def input_gains(self, values):
        a = self._gain_array(values, (self._ni,))
        for i in range(self._ni):
            self.set_gain(i, -1, a[i])

    @property
    def output_gains(self):
        """Output gains, a float32 array of shape (nout,)."""
        return self._gout.copy()

    @output_gains.setter
    def output_gains(self, values):
        a = self._gain_array(values, (self._no,))
        for o in range(self._no):
            self.set_gain(-1, o, a[o])

    @property
    def delays(self):
        """Matrix delays in seconds (rounded to samples), shape (ninp, nout)."""
        return self._dmat / self._fs if self._fs else np.zeros((self._ni, self._no))

    @delays.setter
    def delays(self, values):
        a = self._delay_array(values, (self._ni, self._no))
        for i in range(self._ni):
            for o in range(self._no):
                self.set_delay(i, o, a[i, o])

    @property
    def input_delays(self):
        """Input delays in seconds (rounded to samples), shape (ninp,)."""
        return self._dinp / self._fs if self._fs else np.zeros(self._ni)

    @input_delays.setter
    def input_delays(self, values):
        a = self._delay_array(values, (self._ni,))
        for i in range(self._ni):
            self.set_delay(i, -1, a[i])

    @property
    def output_delays(self):
        """Output delays in seconds (rounded to samples), shape (nout,)."""
        return self._dout / self._fs if self._fs else np.zeros(self._no)

    @output_delays.setter
    def output_delays(self, values):
        a = self._delay_array(values, (self._no,))
        for o in range(self._no):
            self.set_delay(-1, o, a[o])

    @property
    def route_gains(self):
        """Gain of every route, matrix x input x output gain: float32, shape (ninp, nout)."""
        return self._gmat * self._ginp[:, None] * self._gout[None, :]

    @property
    def route_delays(self):
        """Delay of every route in samples, the sum limited to 0 .. max_delay_samples: shape (ninp, nout)."""
        d = self._dmat + self._dinp[:, None] + self._dout[None, :]
        return np.clip(d, 0, self._maxdel)


def _clamp(v, lo, hi):
    return lo if v < lo else (hi if v > hi else v)
