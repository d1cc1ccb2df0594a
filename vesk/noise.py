"""Friendly class of the noise source."""

import math

from . import noisesource
from ._tool import Tool


class NoiseSource(Tool):
    """Multichannel test noise: white or pink Gaussian noise, or silence, per output.

    Output ``out_i`` carries its own generator, seeded from the operating
    system's random device, so the outputs are uncorrelated. At level 0 dB
    white noise has the RMS of a full-scale sine (0.7071, -3.01 dBFS); pink
    noise falls 3 dB per octave. A change takes effect at the next period.
    Every output is silent until it is set::

        with vesk.NoiseSource(2, name="noise") as n:
            n.set_output(0, "white", -20.0)
            n.set_output(1, "pink", -20.0)
            n.set_output(None, "off")        # all outputs

    ``nout`` is clamped to 0..100. ``server`` None means the default server.
    """

    _module = noisesource

    OFF = 0
    WHITE = 1
    PINK = 2
    _types = {"off": OFF, "silence": OFF, "white": WHITE, "pink": PINK}

    def __init__(self, nout, name="noisesource", server=None):
        self._open(name, server, int(nout))
        self._nout_set = max(0, min(100, int(nout)))
        self._nout = self._nout_set if self.name else 0
        self._settings = [(self.OFF, -math.inf)] * self._nout_set

    @property
    def nout(self):
        """Number of outputs."""
        return self._nout_set

    def set_output(self, index, kind, level=0.0):
        """Set output ``index`` (None: every output) to ``kind`` at ``level`` dB.

        ``kind`` is "white", "pink" or "off" (or the codes 1, 2, 0; any
        other code is silence). Indices outside the outputs are ignored.
        NaN levels and levels above +700 dB (where float samples would
        overflow) raise ValueError and keep the previous setting; -inf is
        silence.
        """
        code = self._types[kind.lower()] if isinstance(kind, str) else int(kind)
        indices = range(self._nout_set) if index is None else [int(index)]
        for i in indices:
            noisesource.set_output(self.capsule, i, code, float(level))
            if 0 <= i < self._nout_set:
                self._settings[i] = (code, float(level))

    def settings(self, index):
        """(type code, level in dB) of output ``index`` as last set."""
        return self._settings[index]
