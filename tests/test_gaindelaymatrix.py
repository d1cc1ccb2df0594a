"""Gain and delay matrix through JACK: silence at creation, gain ramps over
one period, products of gains, sums of delays with their limits, crossfades
on delay changes, numpy arrays, refused values, counts."""

import time

import numpy as np
import pytest

import vesk
from vesk import gaindelaymatrix
from harness import push, push_while


def settle():
    """Let settings reach the process thread and their ramps finish."""
    time.sleep(0.05)


def push_change(m, x, reset, action, at, attempts=5):
    """Push x in real time and call action() about ``at`` seconds in; runs
    with xruns are repeated from the state that reset() restores."""
    def before():
        reset()
        settle()
    return push_while(m, x, action, at, retries=attempts - 1, before=before)


def reference(m, x):
    """Outputs of a settled matrix for inputs x (ninp, n), computed in double
    from the route gains and delays the friendly class reports."""
    g = m.route_gains.astype(np.float64)
    d = m.route_delays
    y = np.zeros((m.nout, x.shape[1]))
    for o in range(m.nout):
        for i in range(m.ninp):
            k = d[i, o]
            y[o, k:] += g[i, o] * x[i, : x.shape[1] - k]
    return y


@pytest.fixture
def mat(server):
    with vesk.GainDelayMatrix(3, 4, maxdelay=0.01, name="matrix", server=server.name) as m:
        yield m


@pytest.mark.parametrize("maxdelay", [0.0, 0.1])
def test_silent_after_creation(server, maxdelay):
    with vesk.GainDelayMatrix(3, 2, maxdelay, name="silent", server=server.name) as m:
        assert m.state == vesk.State.PROCESS
        assert not m.gains.any()
        x = np.random.default_rng(0).uniform(-1, 1, (3, 5000)).astype(np.float32)
        assert not push(m, x).any()


@pytest.mark.parametrize("srv", ["server", "server1024"])
def test_first_gain_ramps_over_one_period(request, srv):
    s = request.getfixturevalue(srv)
    with vesk.GainDelayMatrix(2, 2, name="ramp", server=s.name) as m:
        x = np.ones((2, int(0.4 * s.rate)), np.float32)
        y = push_change(m, x, lambda: m.set_gain(0, 0, 0.0), lambda: m.set_gain(0, 0, 1.0), at=0.15)
        k = np.flatnonzero(y[0])[0]
        assert k % s.period == 0                # a period boundary
        n = s.period
        np.testing.assert_allclose(y[0, k:k + n], np.arange(1, n + 1) / n, rtol=1e-6)
        assert np.all(y[0, k + n:] == 1.0)
        assert not y[1].any()


def test_gains_multiply(mat):
    rng = np.random.default_rng(1)
    mat.gains = rng.uniform(-1, 1, (3, 4))
    mat.set_gain(-1, 0, 0.5)             # output 0 halved
    mat.set_gain(1, -1, 0.0)             # input 1 off on every output
    mat.output_gains = [0.5, 2.0, 1.0, -1.0]
    mat.set_gain(-1, -1, 7.0)            # nothing
    mat.set_gain(3, 0, 7.0)              # past the inputs: nothing
    mat.set_gain(0, 4, 7.0)              # past the outputs: nothing
    settle()
    np.testing.assert_array_equal(mat.input_gains, np.float32([1, 0, 1]))
    x = rng.uniform(-1, 1, (3, 4000)).astype(np.float32)
    y = push(mat, x)
    np.testing.assert_allclose(y, reference(mat, x), atol=2e-6)
    g = mat.route_gains
    assert not g[1].any()
    assert g[2, 0] == np.float32(mat.gains[2, 0] * np.float32(0.5))


@pytest.mark.parametrize("dinp, dmat, dout, want", [
    (0.0, 0.02, 0.0, 480),          # saturates at the maximum
    (0.002, 0.001, 0.003, 288),
    (-0.005, 0.001, 0.0, 0),        # a negative total counts as 0
    (-0.001, 0.003, 0.0, 96),       # negative parts add in
    (0.0, 1e30, 1e30, 480),         # huge values saturate, never overflow
    (0.0, -1e30, -1e30, 0),
])
def test_delay_sums_and_limits(mat, dinp, dmat, dout, want):
    assert mat.max_delay_samples == 480
    mat.set_gain(0, 1, 1.0)
    mat.set_delay(0, -1, dinp)
    mat.set_delay(0, 1, dmat)
    mat.set_delay(-1, 1, dout)
    assert mat.route_delays[0, 1] == want
    settle()
    x = np.zeros((3, 2000), np.float32)
    x[0, 100] = 1.0
    y = push(mat, x)
    assert np.flatnonzero(y[1]).tolist() == [100 + want]
    assert y[1, 100 + want] == 1.0


@pytest.mark.parametrize("srv", ["server", "server1024"])
def test_delay_change_crossfades(request, srv):
    """0 to 100 samples on a steady 1 kHz sine: within one period the output
    fades linearly from the direct to the delayed sine, with no jump."""
    s = request.getfixturevalue(srv)
    fs, n = s.rate, s.period
    with vesk.GainDelayMatrix(1, 1, 0.01, name="xfade", server=s.name) as m:
        m.set_gain(0, 0, 1.0)
        t = np.arange(int(0.5 * fs))
        x = np.sin(2 * np.pi * 1000 * t / fs).astype(np.float32)
        y = push_change(m, x, lambda: m.set_delay(0, 0, 0.0), lambda: m.set_delay(0, 0, 100 / fs), at=0.2)[0]
        assert m.route_delays[0, 0] == 100
        # Direct until a period boundary k, delayed from the end of that period.
        k = np.flatnonzero(y != x)[0]
        k -= k % n
        assert np.array_equal(y[:k], x[:k])
        w = np.arange(1, n + 1) / n
        np.testing.assert_allclose(y[k:k + n], (1 - w) * x[k:k + n] + w * x[k - 100:k + n - 100], atol=1e-6)
        assert np.array_equal(y[k + n:], x[k + n - 100: len(x) - 100])
        step = np.abs(np.diff(y[n:])).max()
        assert step <= 2 * np.pi * 1000 / fs * 1.01


def test_longest_delay_counts_as_three_seconds(server):
    with vesk.GainDelayMatrix(1, 1, 5.0, name="long", server=server.name) as m:
        assert m.max_delay_samples == 3 * 48000
        assert m.maxdelay == 3.0
        m.set_gain(0, 0, 1.0)
        m.set_delay(0, 0, 4.0)
        settle()
        x = np.zeros(3 * 48000 + 1000, np.float32)
        x[10] = 0.5
        y = push(m, x)[0]
        assert np.flatnonzero(y).tolist() == [10 + 3 * 48000]


def test_set_delay_without_delay_lines_does_nothing(server):
    with vesk.GainDelayMatrix(2, 2, 0.0, name="nodelay", server=server.name) as m:
        assert m.max_delay_samples == 0
        m.set_gain(0, 0, 1.0)
        m.set_delay(0, 0, 0.001)
        m.delays = np.full((2, 2), 0.002)
        m.input_delays = [0.1, 0.1]
        assert not m.delays.any() and not m.input_delays.any()
        assert m.get_delay(0, 0) == 0.0
        settle()
        x = np.zeros((2, 1000), np.float32)
        x[0, 10] = 1.0
        assert np.flatnonzero(push(m, x)[0]).tolist() == [10]


def test_random_matrix_against_reference(server1024):
    """Gains and delays set as numpy arrays; outputs checked against the
    sum of delayed, scaled inputs."""
    rng = np.random.default_rng(2)
    with vesk.GainDelayMatrix(4, 3, 0.05, name="random", server=server1024.name) as m:
        m.gains = rng.uniform(-1.5, 1.5, (4, 3))
        m.delays = rng.uniform(0, 0.03, (4, 3))
        m.input_gains = rng.uniform(0.5, 1, 4)
        m.output_delays = [0.0, 0.001, -0.002]
        m.input_delays = rng.uniform(0, 0.01, 4)
        np.testing.assert_array_equal(m.delays * 44100, np.floor(m.delays * 44100 + 0.5))
        settle()
        x = rng.uniform(-1, 1, (4, 20000)).astype(np.float32)
        y = push(m, x)
        np.testing.assert_allclose(y, reference(m, x), atol=1e-5)


def test_single_elements_and_arrays_agree(mat):
    mat.set_gain(2, 3, 0.25)
    mat.set_gain(1, -1, 2.0)
    mat.set_gain(-1, 0, -1.0)
    mat.set_delay(2, 3, 0.001)
    assert mat.get_gain(2, 3) == 0.25 and mat.gains[2, 3] == np.float32(0.25)
    assert mat.get_gain(1, -1) == 2.0 and mat.input_gains[1] == 2.0
    assert mat.get_gain(-1, 0) == -1.0 and mat.output_gains[0] == -1.0
    assert mat.get_delay(2, 3) == 48 / 48000 and mat.delays[2, 3] == 48 / 48000
    mat.gains = 0.5                      # broadcast to every element
    assert np.all(mat.gains == 0.5)
    for i, o in [(-1, -1), (3, 0), (0, 4)]:
        with pytest.raises(IndexError):
            mat.get_gain(i, o)
    with pytest.raises(ValueError):
        mat.gains = np.ones((4, 3))      # wrong shape


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf, 2e12, 1e39])
def test_refused_gains_keep_the_setting(mat, bad):
    mat.set_gain(0, 0, 1.0)
    with pytest.raises(ValueError):
        mat.set_gain(0, 0, bad)
    with pytest.raises(ValueError):
        mat.set_gain(-1, 0, bad)
    with pytest.raises(ValueError):
        gaindelaymatrix.set_gain(mat.capsule, 0, 0, bad)
    a = np.full((3, 4), 0.3)
    a[2, 1] = bad
    with pytest.raises(ValueError):
        mat.gains = a                    # refused as a whole: nothing set
    assert mat.get_gain(0, 0) == 1.0 and mat.get_gain(-1, 0) == 1.0
    assert mat.gains[1, 1] == 0.0
    settle()
    x = np.random.default_rng(3).uniform(-1, 1, (3, 2000)).astype(np.float32)
    y = push(mat, x)
    np.testing.assert_array_equal(y[0], x[0])
    assert not y[1:].any()


@pytest.mark.parametrize("bad", [np.nan, np.inf, -np.inf])
def test_refused_delays_keep_the_setting(mat, bad):
    mat.set_delay(0, 0, 0.001)
    with pytest.raises(ValueError):
        mat.set_delay(0, 0, bad)
    with pytest.raises(ValueError):
        gaindelaymatrix.set_delay(mat.capsule, 0, -1, bad)
    with pytest.raises(ValueError):
        mat.delays = np.full((3, 4), bad)
    assert mat.get_delay(0, 0) == 0.001
    mat.set_gain(0, 0, 1.0)
    settle()
    x = np.zeros((3, 1000), np.float32)
    x[0, 5] = 1.0
    assert np.flatnonzero(push(mat, x)[0]).tolist() == [5 + 48]


@pytest.mark.parametrize("ninp, nout, pi, po", [(150, 101, 100, 100), (0, 3, 0, 3), (2, 0, 2, 0), (-1, -1, 0, 0)])
def test_counts_clamped(server, ninp, nout, pi, po):
    with vesk.GainDelayMatrix(ninp, nout, 0.01, name="counts", server=server.name) as m:
        assert m.state == vesk.State.PROCESS
        assert (m.ninp, m.nout) == (pi, po)
        assert (len(m.inputs), len(m.outputs)) == (pi, po)
        assert m.gains.shape == (pi, po)
        if pi == 0 and po:
            y = push(m, np.zeros((0, 1000), np.float32), inputs=[])
            assert y.shape == (po, 1000) and not y.any()


def test_maximum_delay_nan_refused(server):
    with pytest.raises(ValueError):
        vesk.GainDelayMatrix(1, 1, float("nan"), name="nan", server=server.name)
    with vesk.GainDelayMatrix(1, 1, float("inf"), name="inf", server=server.name) as m:
        assert m.max_delay_samples == 3 * 48000
    with vesk.GainDelayMatrix(1, 1, -1.0, name="neg", server=server.name) as m:
        assert m.max_delay_samples == 0


def test_module_functions_check_their_arguments(mat):
    with pytest.raises(ValueError):
        gaindelaymatrix.set_gain(mat.client, 0, 0, 1.0)     # not a Jmatrix capsule
    with pytest.raises(TypeError):
        gaindelaymatrix.set_delay(mat.capsule, 0, 0, "far")
    with pytest.raises(TypeError):
        gaindelaymatrix.makecaps(None, "x", None, 1, 1)
    mat.close()
    with pytest.raises(ValueError):
        mat.set_gain(0, 0, 1.0)


def test_failed_client():
    with vesk.GainDelayMatrix(2, 2, 0.1, name="nowhere", server="vesk-no-such-server") as m:
        assert m.state == vesk.State.FAILED
        m.set_gain(0, 0, 1.0)           # harmless on a failed client
        m.set_delay(0, 0, 0.01)


def test_create_and_destroy_many(server):
    for k in range(30):
        with vesk.GainDelayMatrix(k % 4, k % 3 + 1, 0.01 * (k % 2), name="many", server=server.name) as m:
            assert m.state == vesk.State.PROCESS


def test_period_change(own_server):
    """Delay lines work in blocks of the period size the matrix was made
    with: after the server changes its period, a matrix with delay lines
    gives silence instead of reading past them; one without keeps routing."""
    import jack
    with vesk.GainDelayMatrix(1, 1, 0.01, name="dl", server=own_server.name) as a, \
            vesk.GainDelayMatrix(1, 1, 0.0, name="direct", server=own_server.name) as b:
        for m in (a, b):
            m.set_gain(0, 0, 1.0)
        settle()
        x = np.random.default_rng(5).uniform(-1, 1, 4096).astype(np.float32)
        assert np.array_equal(push(a, x)[0], x)
        c = jack.Client("vesk-resize", servername=own_server.name, no_start_server=True)
        try:
            c.blocksize = 128
            assert c.blocksize == 128
        finally:
            c.close()
        settle()
        assert not push(a, x).any()
        assert a.state == vesk.State.PROCESS
        assert np.array_equal(push(b, x)[0], x)
