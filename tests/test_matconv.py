"""Matrix convolver through JACK: the convolution against numpy's in double
precision for matrix sizes, response lengths and periods; unit impulses,
gains, empty pairs; index and array checks; creation clamps; the state
handshake; loading while processing; a server that goes away."""

import time

import numpy as np
import pytest

import vesk
from vesk import mimoconvolution, clientops
from vesk.server import JackError
from harness import private_server, push, push_while

PASSIVE, PROCESS = 2, 10


def reference(x, h):
    """Exact matrix convolution in double: y[o] = sum_i x[i] * h[i, o], full length."""
    n, L = x.shape[1], h.shape[2]
    m = n + L - 1
    if n * L <= 4e6:
        return np.array([sum(np.convolve(x[i].astype(np.float64), h[i, o].astype(np.float64))
                             for i in range(h.shape[0])) for o in range(h.shape[1])])
    # Long cases: FFT in double, whose error (~1e-14) is far below what is tested.
    nf = 1 << (m - 1).bit_length()
    X = np.fft.rfft(x.astype(np.float64), nf)
    H = np.fft.rfft(h.astype(np.float64), nf)
    return np.fft.irfft(np.einsum("if,iof->of", X, H), nf)[:, :m]


def check_matrix(server_name, ninp, nout, length, seed):
    rng = np.random.default_rng(seed)
    # Responses that decay, as real ones do, so that late partitions matter less than early ones.
    h = (rng.standard_normal((ninp, nout, length)) * np.exp(-np.arange(length) / (length / 3 + 1))
         ).astype(np.float32)
    x = rng.uniform(-1, 1, (ninp, 3001)).astype(np.float32)
    with vesk.MatrixConvolver(h, nthr=2, name="mc", server=server_name) as m:
        y = push(m, x, tail=length - 1)
    ref = reference(x, h)
    err = np.linalg.norm(y - ref, axis=1) / np.linalg.norm(ref, axis=1)
    assert err.max() < 1e-6, f"{ninp}x{nout} x {length}: {20 * np.log10(err.max()):.1f} dB"


# (inputs, outputs, response length) per period size.
CASES = {
    64: [(1, 1, 1), (2, 3, 300), (3, 2, 600), (16, 16, 1000), (2, 2, 16384)],
    256: [(1, 1, 1), (3, 2, 300), (2, 4, 600), (5, 3, 1000), (16, 16, 16384)],
    1024: [(1, 1, 300), (4, 4, 600), (16, 16, 1000), (3, 5, 16384)],
}


@pytest.mark.parametrize("srv", ["server", "server1024"])
def test_matches_exact_convolution(request, srv):
    s = request.getfixturevalue(srv)
    for k, case in enumerate(CASES[s.period]):
        check_matrix(s.name, *case, seed=k)


def test_matches_exact_convolution_period_64():
    with private_server(rate=48000, period=64) as s:
        for k, case in enumerate(CASES[64]):
            check_matrix(s.name, *case, seed=10 + k)


def test_unit_impulses_gain_and_empty_pair(server):
    x = np.random.default_rng(3).uniform(-1, 1, (2, 2000)).astype(np.float32)
    one = np.array([1.0], np.float32)
    late = np.zeros(301, np.float32)
    late[300] = 1.0
    with vesk.MatrixConvolver(ninp=2, nout=2, maxlen=1000, name="unit", server=server.name) as m:
        m.set_impulse(0, 0, one)
        m.set_impulse(1, 1, late)
        y = push(m, x, tail=300)
        assert np.abs(y[0, :2000] - x[0]).max() < 1e-6       # a copy, no delay
        assert np.abs(y[0, 2000:]).max() < 1e-6
        assert np.abs(y[1, :300]).max() < 1e-6
        assert np.abs(y[1, 300:] - x[1]).max() < 1e-6        # delayed by 300 frames
        m.set_impulse(0, 0, one, gain=0.5)
        m.set_impulse(0, 1, one, gain=0.5)
        y = push(m, x, tail=300)
        assert np.abs(y[0, :2000] - 0.5 * x[0]).max() < 1e-6
        assert np.abs(y[1] - np.r_[np.zeros(300), x[1]] - np.r_[0.5 * x[0], np.zeros(300)]).max() < 1e-6
        m.set_impulse(0, 0, None)
        assert np.abs(push(m, x)[0]).max() < 1e-6


def test_index_and_array_checks(server):
    with vesk.MatrixConvolver(ninp=2, nout=3, maxlen=100, name="checks", server=server.name) as m:
        caps = m.capsule
        h = np.ones(10, np.float32)
        for i, o in [(2, 0), (0, 3), (-1, 0), (0, -1), (100, 100)]:
            assert mimoconvolution.load_impulse(caps, h, i, o, 1.0) == 1
            assert mimoconvolution.load_impulse(caps, None, i, o, 1.0) == 1
            with pytest.raises(IndexError):
                m.set_impulse(i, o, h)
        assert mimoconvolution.load_impulse(caps, h, 1, 2, 1.0) == 0
        assert mimoconvolution.load_impulse(caps, h[::-3], 1, 2, 1.0) == 0
        with pytest.raises(TypeError, match="Data type must be float32"):
            mimoconvolution.load_impulse(caps, h.astype(np.float64), 0, 0, 1.0)
        with pytest.raises(TypeError, match="Array must be single dimension"):
            mimoconvolution.load_impulse(caps, np.ones((2, 5), np.float32), 0, 0, 1.0)
        with pytest.raises(ValueError, match="Gain"):
            mimoconvolution.load_impulse(caps, h, 0, 0, float("nan"))
        bad = h.copy()
        bad[4] = np.inf
        with pytest.raises(ValueError, match="finite"):
            m.set_impulse(0, 0, bad)
        with pytest.raises(ValueError, match="longer than maxlen"):
            m.set_impulse(0, 0, np.ones(101))
        with pytest.raises(ValueError):
            m.load(np.ones((3, 3, 10)))
        # Nothing above changed the pair (0, 0): it is still empty.
        assert np.abs(push(m, np.ones((2, 500), np.float32))[0]).max() == 0


def count_ports(client, op):
    n = 0
    while clientops.port_operation(client, op, n, None) == 0:
        n += 1
    return n


def test_creation_clamps(server):
    for ninp, nout, maxlen, want in [(0, 200, 5, (1, 100)), (-3, 1, 100000, (1, 1)), (100, 0, 16, (100, 1))]:
        caps, client = mimoconvolution.makecaps(None, "clamp", server.name, maxlen, ninp, nout, 2)
        assert clientops.get_state(client) == PASSIVE
        assert (count_ports(client, vesk.PortOp.DISCALL_INP),
                count_ports(client, vesk.PortOp.DISCALL_OUT)) == want
        del caps, client
    # maxlen 100000 becomes 16384: the response is cut after frame 16383.
    h = np.zeros(16400, np.float32)
    h[16383] = 1.0
    h[16390] = 1.0
    caps, client = mimoconvolution.makecaps(None, "clamp", server.name, 100000, 1, 1, 40)
    assert mimoconvolution.load_impulse(caps, h, 0, 0, 1.0) == 0
    mimoconvolution.set_state(caps, PROCESS)
    srv = type("T", (), {"server": server.name, "inputs": ["clamp:in_0"], "outputs": ["clamp:out_0"]})
    y = push(srv, np.ones(10, np.float32), tail=16400)[0]
    assert np.flatnonzero(np.abs(y) > 0.5).tolist() == list(range(16383, 16393))
    del caps, client


def flush(m, frames):
    """Push zeros through while processing, so that no input history or tail is left."""
    m.start()
    push(m, np.zeros((m.ninp, frames), np.float32))


def test_state_handshake(server):
    p = server.period
    h = np.random.default_rng(4).standard_normal(300).astype(np.float32)
    x = np.random.default_rng(5).uniform(-1, 1, int(0.5 * server.rate)).astype(np.float32)
    with vesk.MatrixConvolver(h[None, None], start=False, name="state", server=server.name) as m:
        for s in (0, 1, 9, 11, -2, 3):
            with pytest.raises(ValueError, match="PASSIVE"):
                m.set_state(s)
        assert m.state == vesk.State.PASSIVE
        assert not push(m, x).any()
        # Switched on in the middle of a real-time run: silent up to a period
        # boundary, from there on the convolution of what came in since.
        y = push_while(m, x, m.start, at=0.2, before=lambda: (flush(m, 1000), m.stop()))[0]
        k = np.flatnonzero(y)[0] // p * p
        assert 0 < k < len(x) - 4 * p
        want = np.convolve(np.r_[np.zeros(k), x[k:]], h)[:len(x)]
        # Float rounding of a 300-tap sum grows with the output's size (peaks near 17).
        assert np.abs(y - want).max() < 2e-6 * np.abs(want).max()
        # Switched off: silent from a period boundary on.
        y = push_while(m, x, m.stop, at=0.2, before=lambda: flush(m, 1000))[0]
        k = (np.flatnonzero(y)[-1] // p + 1) * p
        want = np.convolve(x, h)[:k]
        assert np.abs(y[:k] - want).max() < 2e-6 * np.abs(want).max()
        assert not y[k:].any()


def test_load_while_processing_switches_between_periods(server):
    """The new response takes over at a period boundary: before it the old
    convolution, one period later the new one, never a mix of partitions."""
    p = server.period
    rng = np.random.default_rng(6)
    h1 = rng.standard_normal(1500).astype(np.float32)
    h2 = rng.standard_normal(1200).astype(np.float32)
    x = rng.uniform(-1, 1, int(0.5 * server.rate)).astype(np.float32)
    y1 = np.convolve(x, h1)[:len(x)]
    y2 = np.convolve(x, h2)[:len(x)]
    with vesk.MatrixConvolver(h1[None, None], maxlen=1500, name="swap", server=server.name) as m:
        y = push_while(m, x, lambda: m.set_impulse(0, 0, h2), at=0.2,
                       before=lambda: (m.set_impulse(0, 0, h1), flush(m, 2000)))[0]
    k = np.flatnonzero(np.abs(y - y1) > 1e-4)[0] // p * p
    assert 0 < k < len(x) - 4 * p
    assert np.abs(y[:k] - y1[:k]).max() < 1e-4
    assert np.abs(y[k + p:] - y2[k + p:]).max() < 1e-4


@pytest.mark.parametrize("how", ["stop", "kill"])
def test_server_gone(own_server, how):
    h = np.ones((2, 2, 100), np.float32)
    m = vesk.MatrixConvolver(h, name="gone", server=own_server.name)
    assert m.state == vesk.State.PROCESS
    getattr(own_server, how)()
    t = time.monotonic()
    mimoconvolution.set_state(m.capsule, PASSIVE)
    r = mimoconvolution.load_impulse(m.capsule, h[0, 0], 0, 0, 1.0)
    assert r in (0, 2)
    assert time.monotonic() - t < 6
    m.close()
    own_server.stop()


def test_create_and_destroy_loop(server):
    h = np.ones((3, 2, 50), np.float32)
    for k in range(20):
        with vesk.MatrixConvolver(h, nthr=1 + k % 4, name="loop", server=server.name) as m:
            if k % 2:
                m.set_impulse(0, 0, None)
    with vesk.MatrixConvolver(h, name="loop", server=server.name) as m:
        assert np.isfinite(push(m, np.ones((3, 1000), np.float32))).all()
