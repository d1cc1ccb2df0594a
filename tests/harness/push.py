"""Push numpy arrays through a tool's input ports and collect its outputs.

``push(tool, data)`` returns what the tool's output ports produced for the
input frames ``data`` (shape (ninputs, n); a 1-d array feeds one input),
sample-aligned: output sample k belongs to input sample k. By default the
server runs in freewheel mode meanwhile, so the result is deterministic and
independent of machine load (not on PipeWire: see FREEWHEEL). ``Pusher`` does the same in the background, for
tests that change a setting while audio runs (use ``freewheel=False`` then).
"""

import json
import os
import signal
import subprocess
import sys
import tempfile
import time

import numpy as np

from .lines import Lines

_JACKIO = os.path.join(os.path.dirname(os.path.abspath(__file__)), "jackio.py")

# Whether pushes run in freewheel mode unless told otherwise. PipeWire's
# freewheel does not keep the clients of a graph in step (a period can be
# lost or seen twice between two clients), so the conftest turns it off
# there and pushes run in real time.
FREEWHEEL = True


class Pusher:
    """One run of the source/sink subprocess."""

    def __init__(self, server, inputs, outputs, data, tail=0, freewheel=None, timeout=60.0):
        if freewheel is None:
            freewheel = FREEWHEEL
        data = np.asarray(data, dtype=np.float32)
        if data.ndim == 1:
            data = data[np.newaxis, :]
        if data.shape[0] != len(inputs):
            raise ValueError(f"{data.shape[0]} input rows for {len(inputs)} ports")
        self._dir = tempfile.TemporaryDirectory()
        d = self._dir.name
        np.save(os.path.join(d, "in.npy"), data)
        cfg = dict(server=server, inputs=list(inputs), outputs=list(outputs), tail=int(tail),
                   freewheel=bool(freewheel), timeout=float(timeout),
                   input=os.path.join(d, "in.npy"), output=os.path.join(d, "out.npy"))
        with open(os.path.join(d, "cfg.json"), "w") as f:
            json.dump(cfg, f)
        self._proc = subprocess.Popen([sys.executable, _JACKIO, os.path.join(d, "cfg.json")],
                                      stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self._lines = Lines(self._proc.stdout.fileno())
        # The run itself is bounded by ``timeout``; this bounds what libjack
        # calls around it may take, so a stuck server fails the test.
        self._deadline = time.monotonic() + float(timeout) + 60.0
        self.xruns = 0

    def _line(self, what):
        line = self._lines.readline(max(0.0, self._deadline - time.monotonic()))
        if line is None:
            self._fail(f"no {what} in time\n")
        return line

    def wait_armed(self):
        """Block until the clients are connected and audio flows."""
        line = self._line("'armed'")
        if line.strip() != "armed":
            self._fail(line)

    def result(self):
        """Wait for the end of the run; return the outputs, shape (noutputs, n + tail)."""
        line = self._line("result")
        if line.strip() == "armed":
            line = self._line("result")
        if not line.startswith("done"):
            self._fail(line)
        self.xruns = int(line.split()[2])
        # The result is saved: closing its clients can hang jackio (see
        # there), which then ends here.
        try:
            self._proc.wait(10.0)
        except subprocess.TimeoutExpired:
            self._proc.kill()
            self._proc.wait()
        self._proc.stdout.close()
        self._proc.stderr.close()
        res = np.load(os.path.join(self._dir.name, "out.npy"))
        self._dir.cleanup()
        return res

    def _fail(self, text):
        if self._proc.poll() is None:
            self._proc.send_signal(signal.SIGUSR1)     # its Python stacks, into the message
            time.sleep(0.5)
        self._proc.kill()
        out, err = self._proc.communicate()
        raise RuntimeError(f"jackio failed: {text}{out.decode(errors='replace')}{err.decode(errors='replace')}")


def push(tool, data, tail=0, freewheel=None, inputs=None, outputs=None, timeout=60.0):
    """Push ``data`` through the tool's inputs; return its outputs (see module doc)."""
    p = Pusher(tool.server, tool.inputs if inputs is None else inputs,
               tool.outputs if outputs is None else outputs, data, tail, freewheel, timeout)
    return p.result()


def push_while(tool, data, action, at, tail=0, inputs=None, outputs=None, retries=2, before=None):
    """Push in real time and call ``action()`` about ``at`` seconds into the run.

    Runs with xruns are repeated (up to ``retries`` times), so that the
    result is one continuous stream of periods. ``before()``, if given, is
    called before every run: it must bring the tool back to the state the
    action starts from, so that a repeated run shows the same change.
    """
    for attempt in range(retries + 1):
        if before is not None:
            before()
        p = Pusher(tool.server, tool.inputs if inputs is None else inputs,
                   tool.outputs if outputs is None else outputs, data, tail, freewheel=False)
        p.wait_armed()
        time.sleep(at)
        action()
        res = p.result()
        if p.xruns == 0:
            return res
    return res
