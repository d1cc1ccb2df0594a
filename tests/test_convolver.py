"""Impulse-response convolver through JACK, against scipy's convolution in
double precision: accuracy for responses from 1 frame to 10 s at periods
64, 256 and 1024, no added latency, linked, updated, cleared, strided and
reversed responses, the state sequence and failures."""

import os
import time

import numpy as np
import pytest
import scipy.signal

import vesk
from vesk import irconvolution, clientops
from harness import push


def rel_db(y, ref):
    return 10 * np.log10(np.sum((y - ref) ** 2) / np.sum(ref ** 2))


def reference(x, irs, nout):
    """Outputs of a response dict {(i, o): ir} for inputs x, in double precision."""
    n = x.shape[1]
    y = np.zeros((nout, n))
    for (i, o), h in irs.items():
        y[o] += scipy.signal.fftconvolve(x[i].astype(np.float64), np.asarray(h, np.float64))[:n]
    return y


def noise(shape, seed):
    return np.random.default_rng(seed).standard_normal(shape).astype(np.float32)


def decaying(n, rate, seed):
    """A reverberation-like response: noise decaying by 60 dB over n frames."""
    return (noise(n, seed) * np.exp(-6.9 * np.arange(n) / max(n, 1))).astype(np.float32)


@pytest.fixture
def server64(server_private):
    """A server with periods of 64 frames, only for the test that uses it."""
    return server_private(rate=48000, period=64)


# (server fixture, response length, inputs, outputs, limit in dB)
ACCURACY = [
    ("server64", 1, 1, 2, -120),
    ("server64", 255, 2, 2, -120),
    ("server64", 30000, 2, 2, -120),
    ("server64", 240000, 1, 1, -120),      # 5 s: every level up to 8192
    ("server", 1, 2, 2, -120),
    ("server", 256, 2, 2, -120),
    ("server", 257, 2, 2, -120),
    ("server", 48000, 2, 2, -120),         # 1 s
    ("server1024", 1000, 1, 3, -120),
    ("server1024", 441000, 1, 1, -110),    # 10 s
]


@pytest.mark.parametrize("fixture, length, ninp, nout, limit", ACCURACY)
def test_matches_exact_convolution_in_freewheel(request, fixture, length, ninp, nout, limit):
    srv = request.getfixturevalue(fixture)
    irs = {(i, o): decaying(length if (i + o) % 2 == 0 else max(1, length // 3), 48000, 10 * i + o)
           for i in range(ninp) for o in range(nout)}
    n = length + 3 * 8192
    x = noise((ninp, n), 99)
    with vesk.Convolver(ninp, nout, name="conv", server=srv.name) as c:
        c.load(irs)
        y = push(c, x, timeout=120)
    ref = reference(x, irs, nout)
    for o in range(nout):
        assert rel_db(y[o], ref[o]) < limit, (o, rel_db(y[o], ref[o]))


@pytest.mark.parametrize("fixture", ["server64", "server", "server1024"])
def test_unit_impulse_passes_in_the_same_period(request, fixture):
    srv = request.getfixturevalue(fixture)
    x = noise((1, 20000), 5)
    d = np.zeros(30001, np.float32)
    d[30000] = 1.0                 # a delay reached through the worker levels
    with vesk.Convolver(1, 2, name="conv", server=srv.name) as c:
        c.load({(0, 0): np.ones(1, np.float32), (0, 1): d})
        y = push(c, x, tail=40000)
    np.testing.assert_allclose(y[0, :20000], x[0], rtol=0, atol=2e-6)
    np.testing.assert_allclose(y[1, 30000:50000], x[0], rtol=0, atol=2e-6)
    assert np.abs(y[1, :30000]).max() < 1e-6


def test_linked_updated_cleared_strided_reversed(server):
    L = 5000
    base = decaying(2 * L, 48000, 1)
    rev = decaying(L, 48000, 2)
    x = noise((2, 30000), 3)
    with vesk.Convolver(2, 2, name="conv", server=server.name) as c:
        c.configure(L, 1.0)
        caps = c.capsule
        assert irconvolution.impdata_write(caps, base[::2], 0, 0, 0, 1) == 0     # step 2
        assert irconvolution.impdata_write(caps, rev[::-1], 1, 1, 0, 1) == 0     # step -1
        assert irconvolution.impdata_link(caps, 0, 0, 1, 0) == 0
        upd = decaying(700, 48000, 4)
        assert irconvolution.impdata_write(caps, upd, 1, 0, 2000, 0) == 0       # update through the link
        assert irconvolution.impdata_write(caps, upd, 0, 1, 0, 0) != 0          # no response there
        h0 = base[::2].copy()
        h0[2000:2700] = upd
        c.start()
        y = push(c, x)
        ref = reference(x, {(0, 0): h0, (1, 0): h0, (1, 1): rev[::-1]}, 2)
        assert rel_db(y[0], ref[0]) < -120
        assert rel_db(y[1], ref[1]) < -120
        c.stop()
        assert irconvolution.impdata_write(caps, None, 1, 0, 0, 0) == 0          # clears the shared response
        c.start()
        y = push(c, x)
        assert not y[0].any()
        assert rel_db(y[1], ref[1]) < -120


def test_start_stop_reconfigure(server):
    x = noise((1, 8192), 6)
    with vesk.Convolver(1, 1, name="conv", server=server.name) as c:
        assert c.state == vesk.State.INITIAL
        with pytest.raises(vesk.ConvolverError):
            c.start()                                   # not configured
        assert c.state == vesk.State.INITIAL
        h1 = decaying(20000, 48000, 7)
        c.load({(0, 0): h1})
        assert c.state == vesk.State.PROCESS
        irconvolution.set_state(c.capsule, 5)           # no such request
        assert c.state == vesk.State.PROCESS
        assert irconvolution.configure(c.capsule, 1000, 0.5) != 0                # running: refused
        assert irconvolution.configure(c.capsule, 0, 0.0) != 0
        assert rel_db(push(c, x)[0], reference(x, {(0, 0): h1}, 1)[0]) < -120
        t = time.monotonic()
        c.stop()
        assert c.state == vesk.State.PASSIVE
        # Returned only once stopped: the clean-up is accepted at once.
        assert irconvolution.configure(c.capsule, 0, 0.0) == 0
        assert time.monotonic() - t < 1.0
        assert not push(c, x).any()
        irconvolution.set_state(c.capsule, 5)
        assert c.state == vesk.State.PASSIVE
        h2 = decaying(3000, 48000, 8)
        c.load({(0, 0): h1}, start=False)
        c.reconfigure({(0, 0): h2})                     # was stopped: stays stopped
        assert c.state == vesk.State.PASSIVE
        c.start()
        c.reconfigure({(0, 0): -h2}, maxlen=100000)     # was running: runs again
        assert c.state == vesk.State.PROCESS
        assert rel_db(push(c, x)[0], reference(x, {(0, 0): -h2}, 1)[0]) < -120
        for k in range(5):                              # quick cycles
            c.stop()
            c.start()
        assert rel_db(push(c, x)[0], reference(x, {(0, 0): -h2}, 1)[0]) < -120


def test_port_counts_are_clamped(server):
    import jack
    with vesk.Convolver(0, 100, name="wide", server=server.name) as c:
        assert (c.ninp, c.nout) == (1, 64)
        j = jack.Client("vesk-inspect", servername=server.name, no_start_server=True)
        try:
            names = sorted(p.shortname for p in j.get_ports(f"{c.name}:"))
        finally:
            j.close()
        assert names == sorted(["in_0"] + [f"out_{o}" for o in range(64)])
        c.load({(0, 63): np.ones(1, np.float32)})
        y = push(c, noise((1, 1000), 9), outputs=[c.outputs[63], c.outputs[0]])
        assert rel_db(y[0], y[0] * 0 + noise((1, 1000), 9)[0]) < -120
        assert not y[1].any()


def test_array_checks_and_bad_values(server):
    with vesk.Convolver(2, 2, name="conv", server=server.name) as c:
        c.configure(1000)
        caps = c.capsule
        with pytest.raises(TypeError, match="Data type must be float32"):
            irconvolution.impdata_write(caps, np.ones(10), 0, 0, 0, 1)
        with pytest.raises(TypeError, match="Array must be single dimension"):
            irconvolution.impdata_write(caps, np.ones((2, 5), np.float32), 0, 0, 0, 1)
        for args in [(2, 0, 0), (0, 2, 0), (-1, 0, 0), (0, 0, -5)]:
            assert irconvolution.impdata_write(caps, np.ones(4, np.float32), *args, 1) != 0
        assert irconvolution.impdata_link(caps, 0, 0, 5, 0) != 0
        assert irconvolution.configure(caps, 0, 0.0) == 0
        assert irconvolution.configure(caps, 1000, float("nan")) != 0
        assert irconvolution.configure(caps, 1000, 2.0) != 0
        assert irconvolution.configure(caps, -3, 0.5) != 0
        with pytest.raises(ValueError):
            c.configure(1000)
            c.set_response(0, 0, np.array([1.0, np.nan]))
        with pytest.raises(ValueError):
            c.load(np.ones((2, 2), np.float32))


def test_without_engine_everything_is_refused():
    """Construction failed (no server): no engine, every function returns an error and nothing breaks."""
    caps, client = irconvolution.makecaps(None, "x", "vesk-no-such-server", 2, 2)
    assert clientops.get_state(client) == -1
    assert irconvolution.configure(caps, 1000, 0.5) == -1
    assert irconvolution.configure(caps, 0, 0.0) == -1
    assert irconvolution.impdata_write(caps, np.ones(4, np.float32), 0, 0, 0, 1) == -1
    assert irconvolution.impdata_write(caps, None, 0, 0, 0, 1) == -1
    assert irconvolution.impdata_link(caps, 0, 0, 1, 1) == -1
    for s in (10, 2, 5):
        assert irconvolution.set_state(caps, s) is None
        assert clientops.get_state(client) == -1


def test_create_and_destroy_while_running(server):
    for k in range(8):
        with vesk.Convolver(2, 2, name="loop", server=server.name) as c:
            c.load({(0, 0): decaying(50000, 48000, k), (1, 1): decaying(1000, 48000, k)})
            time.sleep(0.02 * (k % 3))


def test_wrong_engine_version_is_refused_with_a_message(tmp_path):
    """An engine library of another major version: one message on stderr, state FAILED, no client."""
    import shutil
    import subprocess
    import sys
    cc = shutil.which("cc") or shutil.which("gcc")
    if cc is None:
        pytest.skip("no C compiler")
    src = tmp_path / "v3.c"
    src.write_text("int vesk_convolver_major_version (void) { return 3; }\n")
    lib = tmp_path / "libv3.so"
    subprocess.run([cc, "-shared", "-fPIC", "-o", str(lib), str(src)], check=True)
    code = ("import vesk.irconvolution as m, vesk.clientops as c\n"
            "t = m.makecaps(None, 'x', 'vesk-no-such-server', 2, 2)\n"
            "print(c.get_state(t[1]), c.get_jack_info(t[1])[0], m.configure(t[0], 0, 0.0))\n")
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60,
                       env=dict(os.environ, LD_PRELOAD=str(lib)))
    assert r.returncode == 0, r.stderr
    assert r.stdout.split() == ["-1", "None", "-1"]
    assert r.stderr == "Vesk-convolver does not match compile-time version.\n"


def test_period_change_silences_until_reconfigured(own_server):
    """The engine keeps the period it was configured for: after the server
    changes its period the outputs are silent (never read past the engine's
    buffers) until the responses are loaded again for the new period."""
    import jack
    h = decaying(3000, 48000, 12)
    x = noise((1, 8192), 13)
    with vesk.Convolver(1, 1, name="conv", server=own_server.name) as c:
        c.load({(0, 0): h})
        assert rel_db(push(c, x)[0], reference(x, {(0, 0): h}, 1)[0]) < -120
        j = jack.Client("vesk-resize", servername=own_server.name, no_start_server=True)
        try:
            j.blocksize = 128
            assert j.blocksize == 128
        finally:
            j.close()
        time.sleep(0.1)
        assert not push(c, x).any()
        assert c.state == vesk.State.PROCESS
        c.load({(0, 0): h})
        assert rel_db(push(c, x)[0], reference(x, {(0, 0): h}, 1)[0]) < -120


def test_server_gone(own_server):
    """A convolver whose server has gone stays ZOMBIE: it is not restarted,
    and a stop still stops its engine (the clean-up is then accepted)."""
    c = vesk.Convolver(2, 2, name="conv", server=own_server.name)
    c.load({(0, 0): decaying(50000, 48000, 3), (1, 1): decaying(100, 48000, 4)})
    assert c.state == vesk.State.PROCESS
    own_server.stop()
    for _ in range(100):
        if c.state == vesk.State.ZOMBIE:
            break
        time.sleep(0.05)
    assert c.state == vesk.State.ZOMBIE
    with pytest.raises(vesk.JackError):
        c.start()
    c.stop()
    assert c.state == vesk.State.ZOMBIE
    assert irconvolution.configure(c.capsule, 0, 0.0) == 0
    irconvolution.set_state(c.capsule, 10)
    assert c.state == vesk.State.ZOMBIE
    c.close()
