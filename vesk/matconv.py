"""Friendly class of the matrix convolver."""

import os

import numpy as np

from . import mimoconvolution
from ._tool import Tool, State
from .server import JackError

MAXCHAN = 100
MINLEN = 16
MAXLEN = 16384


def _clamp(v, lo, hi):
    return max(lo, min(hi, int(v)))


class MatrixConvolver(Tool):
    """Convolves up to 100 inputs through a dense matrix of impulse responses into up to 100 outputs.

    Every output ``out_o`` is the sum over the inputs ``in_i`` of the input
    convolved with the response of the pair (i, o), with no added latency
    (partitions of one period). The work is done by ``nthr`` worker threads
    (1..16; default: one per processor, at most 16). The matrix is given as
    an array of shape (inputs, outputs, length)::

        h = np.zeros((2, 2, 4800), np.float32)
        h[0, 0, 0] = h[1, 1, 0] = 1.0            # straight through
        h[0, 1, 2400] = 0.5                      # input 0 echoes on output 1
        with vesk.MatrixConvolver(h, name="matconv") as m:
            m.set_impulse(1, 0, np.hanning(64))  # one pair at a time
            m.set_impulse(0, 1, None)            # an empty pair

    ``ninp``, ``nout`` and ``maxlen`` (the longest response in frames) come
    from the array unless given; they are clamped to 1..100, 1..100 and
    16..16384. Responses longer than ``maxlen`` are refused. Processing
    starts at once (``start=False`` leaves the outputs silent until
    :meth:`start`). Loading while processing is glitch-free: each response
    is put in place whole between two periods, so it takes about one period
    per pair. The period size must not change while the convolver lives
    (the outputs go silent if it does).
    """

    _module = mimoconvolution

    def __init__(self, impulses=None, ninp=None, nout=None, maxlen=None, nthr=None,
                 name="mimoconvolution", server=None, start=True):
        if impulses is not None:
            impulses = self._as_matrix(impulses)
            ni, no, length = impulses.shape
            ninp = ni if ninp is None else ninp
            nout = no if nout is None else nout
            maxlen = length if maxlen is None else maxlen
        if ninp is None or nout is None or maxlen is None:
            raise TypeError("MatrixConvolver needs impulses, or ninp, nout and maxlen")
        if nthr is None:
            nthr = os.cpu_count() or 1
        self._ni = _clamp(ninp, 1, MAXCHAN)
        self._no = _clamp(nout, 1, MAXCHAN)
        self._maxlen = _clamp(maxlen, MINLEN, MAXLEN)
        self._nthr = _clamp(nthr, 1, 16)
        self._open(name, server, int(maxlen), int(ninp), int(nout), int(nthr))
        ok = self.state == State.PASSIVE
        self._ninp = self._ni if ok else 0
        self._nout = self._no if ok else 0
        if not ok:
            return
        if impulses is not None:
            self.load(impulses)
        if start:
            self.start()

    @staticmethod
    def _as_matrix(impulses):
        a = np.asarray(impulses, dtype=np.float32)
        if a.ndim != 3:
            raise ValueError(f"impulses must have shape (inputs, outputs, length), not {a.shape}")
        return a

    @property
    def ninp(self):
        """Number of inputs."""
        return self._ni

    @property
    def nout(self):
        """Number of outputs."""
        return self._no

    @property
    def maxlen(self):
        """Longest response in frames, as clamped."""
        return self._maxlen

    @property
    def nthr(self):
        """Number of worker threads asked for, as clamped."""
        return self._nthr

    def set_state(self, state):
        """Hand PASSIVE or PROCESS to the process thread; returns within about one period
        (or after at most 2 s when the server stalls, at once when it is gone)."""
        mimoconvolution.set_state(self.capsule, int(state))

    def start(self):
        """Convolve from the next period on."""
        self._check_open()
        self.set_state(State.PROCESS)

    def stop(self):
        """Silence the outputs from the next period on (input history and tails are kept)."""
        self._check_open()
        self.set_state(State.PASSIVE)

    @property
    def processing(self):
        """True while the outputs carry the convolution."""
        return self.state == State.PROCESS

    def set_impulse(self, inp, out, data, gain=1.0):
        """Load the response from input ``inp`` to output ``out``, scaled by ``gain``.

        ``data`` is a 1-d array (converted to float32 where needed) of at most
        ``maxlen`` frames; None empties the pair. Raises IndexError for a pair
        outside the matrix and JackError when the process thread did not
        take the response (the client stalled or is gone; the old one stays).
        """
        self._check_open()
        if data is not None:
            data = np.asarray(data, dtype=np.float32)
            if data.ndim != 1:
                raise ValueError(f"an impulse must be 1-d, not of shape {data.shape}")
            if len(data) > self._maxlen:
                raise ValueError(f"impulse of {len(data)} frames is longer than maxlen {self._maxlen}")
        r = mimoconvolution.load_impulse(self.capsule, data, int(inp), int(out), float(gain))
        if r == 1:
            raise IndexError(f"no pair ({inp}, {out}) in a {self._ni} x {self._no} matrix")
        if r:
            raise JackError(f"MatrixConvolver: response ({inp}, {out}) not taken, the client "
                            f"is {self.state!r}")

    def load(self, impulses, gain=1.0):
        """Load a whole matrix, shape (ninp, nout, length); all-zero pairs are emptied."""
        a = self._as_matrix(impulses)
        if a.shape[:2] != (self._ni, self._no):
            raise ValueError(f"impulses of shape {a.shape} for a {self._ni} x {self._no} matrix")
        if a.shape[2] > self._maxlen:
            raise ValueError(f"impulses of {a.shape[2]} frames are longer than maxlen {self._maxlen}")
        for i in range(self._ni):
            for o in range(self._no):
                h = a[i, o]
                nz = np.flatnonzero(h)
                self.set_impulse(i, o, h[:nz[-1] + 1] if len(nz) else None, gain)

    def clear(self):
        """Empty every response."""
        for i in range(self._ni):
            for o in range(self._no):
                self.set_impulse(i, o, None)
