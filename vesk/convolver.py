"""Friendly class of the impulse-response convolver."""

import numpy as np

from . import irconvolution
from ._tool import Tool, State
from .server import JackError

MAXCHAN = 64

# Results of the engine's operations (0 is success).
_ERRORS = {
    -1: "not allowed in the current state",
    -2: "a parameter is out of range",
    -3: "out of memory",
    -4: "that pair has no response",
    -5: "the worker threads could not be started",
}


class ConvolverError(RuntimeError):
    """An operation of the convolution engine failed; ``code`` is its result."""

    def __init__(self, what, code):
        super().__init__(f"{what}: {_ERRORS.get(code, 'error')} ({code})")
        self.code = code


class Convolver(Tool):
    """Convolves up to 64 inputs with impulse responses into up to 64 outputs.

    Every input-output pair has its own response; each output is the sum of
    its inputs convolved with their responses, with no latency beyond the
    JACK period (a unit impulse at frame 0 passes the input through in the
    same period). Long responses are cut into partitions that double in size
    up to 8192 frames; the longer ones are computed on worker threads. In
    freewheel mode nothing is ever dropped; in real time a partition whose
    worker misses its deadline contributes silence for one block::

        with vesk.Convolver(2, 2, name="reverb") as c:
            c.load({(0, 0): left_ir, (1, 1): right_ir})   # configures and starts
            c.stop()
            c.reconfigure(np.stack([[ir_ll, ir_lr], [ir_rl, ir_rr]]))

    Responses are numpy arrays (converted to float32; strided and reversed
    views are taken as they are), given as a matrix of shape (ninp, nout, n),
    or as a dict {(input, output): array}. Non-finite samples are refused
    with ValueError. Responses change only while the convolver is stopped;
    :meth:`load` and :meth:`reconfigure` stop and restart it for you. Port
    counts are clamped to 1..64.
    """

    _module = irconvolution

    def __init__(self, ninp, nout, name="convolver", server=None):
        self._open(name, server, int(ninp), int(nout))
        self._ni = max(1, min(MAXCHAN, int(ninp)))
        self._no = max(1, min(MAXCHAN, int(nout)))
        self._ninp = self._ni if self.name else 0
        self._nout = self._no if self.name else 0
        self._maxlen = 0

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
        """Longest response the engine is configured for, in frames (0: not configured)."""
        return self._maxlen

    @property
    def running(self):
        """True while the convolution runs (state PROCESS)."""
        return self.state == State.PROCESS

    def _check(self, r, what):
        if r:
            raise ConvolverError(what, r)

    def configure(self, maxlen, density=0.0):
        """Prepare the engine for responses of up to ``maxlen`` frames, for
        the current JACK period. ``density`` (0..1) is the expected fraction
        of pairs carrying a response; it only tunes the partition layout.
        Must be stopped; any previous configuration and responses are dropped."""
        maxlen = int(maxlen)
        if maxlen < 1:
            raise ValueError("maxlen must be at least 1")
        if self.running:
            raise ConvolverError("configure", -1)
        self._check(irconvolution.configure(self.capsule, 0, 0.0), "clean-up")
        self._maxlen = 0
        self._check(irconvolution.configure(self.capsule, maxlen, float(density)), "configure")
        self._maxlen = maxlen

    def cleanup(self):
        """Drop the configuration and all responses (must be stopped)."""
        self._check(irconvolution.configure(self.capsule, 0, 0.0), "clean-up")
        self._maxlen = 0

    def set_response(self, inp, out, ir, offset=0, create=True):
        """Write ``ir`` into frames offset .. offset + len - 1 of the response
        from ``inp`` to ``out`` (frames beyond maxlen are dropped). With
        ``create`` False the response must exist (an update)."""
        a = np.asarray(ir)
        if a.ndim != 1:
            raise ValueError("A response must be one-dimensional")
        if a.dtype != np.float32:
            a = a.astype(np.float32)
        if not np.isfinite(a).all():
            raise ValueError("A response must not contain NaN or infinity")
        self._check(irconvolution.impdata_write(self.capsule, a, int(inp), int(out), int(offset), 1 if create else 0),
                    f"response {inp} -> {out}")

    def clear(self, inp, out):
        """Set the response from ``inp`` to ``out`` to zero."""
        self._check(irconvolution.impdata_write(self.capsule, None, int(inp), int(out), 0, 0),
                    f"clear {inp} -> {out}")

    def link(self, inp1, out1, inp2, out2):
        """Make pair (inp2, out2) share the response of (inp1, out1)."""
        self._check(irconvolution.impdata_link(self.capsule, int(inp1), int(out1), int(inp2), int(out2)),
                    f"link {inp1} -> {out1} with {inp2} -> {out2}")

    def start(self):
        """Start the convolution (state PROCESS)."""
        if self.state in (State.FAILED, State.ZOMBIE):
            raise JackError(f"Convolver: client is {self.state.name}")
        irconvolution.set_state(self.capsule, State.PROCESS)
        if self.state != State.PROCESS:
            raise ConvolverError("start", -1 if not self._maxlen else -5)

    def stop(self):
        """Stop the convolution; returns once the engine has stopped (outputs silent)."""
        irconvolution.set_state(self.capsule, State.PASSIVE)

    @staticmethod
    def _pairs(responses):
        if isinstance(responses, dict):
            return [((int(i), int(o)), ir) for (i, o), ir in responses.items()]
        m = np.asarray(responses)
        if m.ndim != 3:
            raise ValueError("A response matrix must have shape (ninp, nout, n)")
        return [((i, o), m[i, o]) for i in range(m.shape[0]) for o in range(m.shape[1])]

    def load(self, responses, maxlen=None, density=None, start=True):
        """Stop, configure for ``maxlen`` (None: the longest response), write
        all responses (a matrix (ninp, nout, n) or a dict {(i, o): array})
        and start again (unless ``start`` is False). ``density`` None takes
        the fraction of pairs given."""
        pairs = self._pairs(responses)
        for (i, o), ir in pairs:
            if not (0 <= i < self._ni and 0 <= o < self._no):
                raise ValueError(f"pair {i} -> {o} out of range")
            if np.ndim(ir) != 1:
                raise ValueError("A response must be one-dimensional")
        if maxlen is None:
            maxlen = max([len(ir) for _, ir in pairs] + [1])
        if density is None:
            density = min(1.0, len(pairs) / (self._ni * self._no))
        self.stop()
        self.configure(maxlen, density)
        for (i, o), ir in pairs:
            if len(ir):
                self.set_response(i, o, ir)
        if start:
            self.start()

    def reconfigure(self, responses, maxlen=None, density=None):
        """As :meth:`load`, and start again only if the convolver was running."""
        self.load(responses, maxlen, density, start=self.running)
