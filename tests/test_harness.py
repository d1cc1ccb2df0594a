"""The test harness itself: reading lines from a pipe with a time limit,
and a push whose jackio hangs while it closes its clients (libjack can
leave it dead-locked there) still returning the saved result."""

import importlib
import os
import textwrap
import time

import numpy as np

from harness.lines import Lines

push_module = importlib.import_module("harness.push")


def test_lines_from_one_write_need_no_second_wait():
    r, w = os.pipe()
    try:
        os.write(w, b"armed\ndone xruns 0\npartial")
        lines = Lines(r)
        assert lines.readline(0) == "armed\n"
        assert lines.readline(0) == "done xruns 0\n"     # already read: no wait on the pipe
        assert lines.readline(0.05) is None              # no newline yet
        os.close(w)
        w = None
        assert lines.readline(1) == "partial"            # the rest, at the end
        assert lines.readline(1) == ""
    finally:
        os.close(r)
        if w is not None:
            os.close(w)


def test_push_returns_what_a_hanging_jackio_saved(tmp_path, monkeypatch):
    # Stands in for jackio: reports as jackio does, then hangs as a close
    # that lost the interpreter lock's mutex would.
    fake = tmp_path / "fake_jackio.py"
    fake.write_text(textwrap.dedent("""
        import json, sys, time
        import numpy as np
        cfg = json.load(open(sys.argv[1]))
        data = np.load(cfg["input"])
        print("armed", flush=True)
        np.save(cfg["output"], 2 * data)
        print("done xruns 3", flush=True)
        time.sleep(1000)
    """))
    monkeypatch.setattr(push_module, "_JACKIO", str(fake))
    x = np.arange(10, dtype=np.float32)
    t = time.monotonic()
    p = push_module.Pusher("unused", ["in_0"], ["out_0"], x)
    y = p.result()
    assert np.array_equal(y, 2 * x[None, :])
    assert p.xruns == 3
    assert time.monotonic() - t < 30
    assert p._proc.returncode is not None            # ended, not left behind
