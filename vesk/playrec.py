"""Friendly class of the sample-synchronous array player and recorder."""

import time

import numpy as np

from . import signalio
from ._tool import Tool, State, PORT_CREATE_INP, PORT_CREATE_OUT
from .server import JackError


class SignalIO(Tool):
    """Plays numpy arrays to output ports and records input ports into arrays, sample-synchronously.

    Each of ``nout`` outputs ("out_i") and ``ninp`` inputs ("in_i") has one
    slot: an array, a number of passes over it (``nloop``; a negative count
    repeats until stopped), leading samples to skip (``nskip``; outputs send
    zeros meanwhile) and a linear gain. A run starts at once, or on the first
    sample above 0.5 of a trigger input, and ends by itself when every slot
    has finished::

        with vesk.SignalIO(ninp=1, nout=1, name="sio") as s:
            s.connect_output(0, "sio:in_0")              # loop back
            s.play([np.sin(np.arange(4800) * 0.05)])
            s.record([4800])                              # a new array of 4800 samples
            (rec,) = s.run(timeout=5)

    Recording fills the arrays in place (any float32 writable 1-d array,
    strided views included). Arrays and gains can be changed only between
    runs. The object holds the arrays while it uses them, so dropping the
    caller's reference during a run is safe. Counts are clamped to 0..100.
    """

    _module = signalio

    def __init__(self, ninp=0, nout=0, name="signalio", server=None):
        self._open(name, server)
        self._ninp = 0
        self._nout = 0
        self._recorded = []
        self._played = []
        if self.state == State.FAILED:
            return
        for i in range(max(0, min(100, int(ninp)))):
            self._port_op(PORT_CREATE_INP, i, self._inp_format.format(i), f"create input {i}")
            self._ninp = i + 1
        for i in range(max(0, min(100, int(nout)))):
            self._port_op(PORT_CREATE_OUT, i, self._out_format.format(i), f"create output {i}")
            self._nout = i + 1
        self.set_state(State.PASSIVE)

    @property
    def ninp(self):
        """Number of input ports."""
        return self._ninp

    @property
    def nout(self):
        """Number of output ports."""
        return self._nout

    # Raw access.

    def set_state(self, state):
        """Hand a new state to the process thread; returns within one period
        (or at once when the client or its server is gone)."""
        signalio.set_state(self.capsule, int(state))

    @property
    def posit(self):
        """(state, samples since the current or last run started)."""
        s, p = signalio.get_posit(self.capsule)
        try:
            s = State(s)
        except ValueError:
            pass
        return s, p

    def _require_passive(self):
        s = self.state
        if s != State.PASSIVE:
            if s in (State.FAILED, State.ZOMBIE, State.INITIAL):
                self._check_open()
            raise RuntimeError(f"SignalIO: slots can be changed only between runs (state {s!r})")

    def set_output(self, index, data, nloop=1, nskip=0, gain=None):
        """Play ``data`` (converted to float32 when it is not) on output ``index``.

        None clears the slot. Returns the array the slot holds.
        """
        self._require_passive()
        if data is not None and not (isinstance(data, np.ndarray) and data.dtype == np.float32):
            data = np.asarray(data, dtype=np.float32)
        signalio.set_output_data(self.capsule, int(index), data, int(nloop), int(nskip))
        if gain is not None:
            signalio.set_output_gain(self.capsule, int(index), float(gain))
        return data

    def set_input(self, index, data, nloop=1, nskip=0, gain=None):
        """Record input ``index`` into ``data``: a writable float32 1-d array, or a length for a new one.

        None clears the slot. Returns the array the slot fills.
        """
        self._require_passive()
        if isinstance(data, (int, np.integer)):
            data = np.zeros(int(data), np.float32)
        signalio.set_input_data(self.capsule, int(index), data, int(nloop), int(nskip))
        if gain is not None:
            signalio.set_input_gain(self.capsule, int(index), float(gain))
        return data

    def set_output_gain(self, index, gain):
        """Linear gain of output ``index`` (between runs only; must be finite)."""
        self._require_passive()
        signalio.set_output_gain(self.capsule, int(index), float(gain))

    def set_input_gain(self, index, gain):
        """Linear gain of input ``index`` (between runs only; must be finite)."""
        self._require_passive()
        signalio.set_input_gain(self.capsule, int(index), float(gain))

    # The whole set at once.

    def play(self, arrays, nloop=1, nskip=0, gain=1.0):
        """Play ``arrays`` on outputs 0, 1, ... (a 1-d array: output 0; a 2-d array: one row per
        output; None entries stay silent) and clear the other output slots. Returns the
        arrays the slots hold (float32, converted where needed)."""
        self._require_passive()
        arrays = self._as_list(arrays)
        if len(arrays) > self._nout:
            raise ValueError(f"{len(arrays)} arrays for {self._nout} outputs")
        self._played = [self.set_output(i, a, nloop, nskip, gain) for i, a in enumerate(arrays)]
        for i in range(len(arrays), self._nout):
            self.set_output(i, None)
        return list(self._played)

    def record(self, arrays, nloop=1, nskip=0, gain=1.0):
        """Record inputs 0, 1, ... into ``arrays`` (writable float32 arrays, or lengths for new
        ones; None entries record nothing) and clear the other input slots. Returns the
        arrays the slots fill; :meth:`run` returns them again when the run has ended."""
        self._require_passive()
        arrays = self._as_list(arrays)
        if len(arrays) > self._ninp:
            raise ValueError(f"{len(arrays)} arrays for {self._ninp} inputs")
        self._recorded = [self.set_input(i, a, nloop, nskip, gain) for i, a in enumerate(arrays)]
        for i in range(len(arrays), self._ninp):
            self.set_input(i, None)
        return list(self._recorded)

    @staticmethod
    def _as_list(arrays):
        if isinstance(arrays, np.ndarray):
            return [arrays] if arrays.ndim == 1 else list(arrays)
        return list(arrays)

    # Runs.

    def start(self, trigger=None):
        """Start a run: at once, or with ``trigger`` = an input index, at the first
        sample of that input above 0.5."""
        self._require_passive()
        if trigger is None:
            self.set_state(State.PROCESS)
        else:
            signalio.set_trigger_inp(self.capsule, int(trigger))
            self.set_state(State.TRIGWAIT)

    def stop(self):
        """End a run now (the state becomes PASSIVE)."""
        self.set_state(State.PASSIVE)

    @property
    def running(self):
        """True while a run waits for its trigger or plays."""
        return self.state in (State.TRIGWAIT, State.PROCESS)

    def wait(self, timeout=None):
        """Wait until the run ends; return the recorded arrays (as given to :meth:`record`).

        On timeout the run is stopped and TimeoutError raised. Raises
        JackError when the client or its server goes away meanwhile.
        """
        deadline = None if timeout is None else time.monotonic() + timeout
        step = min(0.01, max(0.001, self.period / max(self.rate, 1) / 2))
        while True:
            s = self.state
            if s == State.PASSIVE:
                return list(self._recorded)
            if s not in (State.TRIGWAIT, State.PROCESS):
                self._check_open()
                raise JackError(f"SignalIO: run ended in state {s!r}")
            if deadline is not None and time.monotonic() > deadline:
                self.stop()
                raise TimeoutError(f"SignalIO: run did not end within {timeout} s")
            time.sleep(step)

    def run(self, trigger=None, timeout=None):
        """Start a run (see :meth:`start`), wait for its end (see :meth:`wait`), return the recordings."""
        self.start(trigger)
        return self.wait(timeout)
