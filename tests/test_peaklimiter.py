"""Peak limiter through JACK: transparency and look-ahead delay, peaks at the
threshold, release time, input gain ramps, setter limits, channel counts."""

import time

import numpy as np
import pytest

import vesk
from vesk import peaklimiter
from harness import push, push_while

THR6 = 10 ** (-6 / 20)    # 0.501


def settle():
    """Let settings reach the process thread (a few periods of real time)."""
    time.sleep(0.05)


@pytest.fixture
def lim(server):
    with vesk.PeakLimiter(2, name="limiter", server=server.name) as p:
        yield p


@pytest.mark.parametrize("srv, delay", [("server1024", 56), ("server", 64)])
def test_below_threshold_passes_delayed(request, srv, delay):
    s = request.getfixturevalue(srv)
    with vesk.PeakLimiter(3, name="transparent", server=s.name) as p:
        assert p.delay == delay
        p.threshold = -6.0
        settle()
        x = np.random.default_rng(1).uniform(-0.49, 0.49, (3, 20000)).astype(np.float32)
        y = push(p, x)
        assert not y[:, :delay].any()
        assert np.array_equal(y[:, delay:], x[:, :-delay])


@pytest.mark.parametrize("srv", ["server1024", "server"])
def test_single_full_scale_sample(request, srv):
    """The gain is already down when the sample reaches the output."""
    s = request.getfixturevalue(srv)
    with vesk.PeakLimiter(1, name="click", server=s.name) as p:
        p.threshold = -6.0
        settle()
        x = np.zeros(8000, np.float32)
        x[3001] = 1.0
        y = push(p, x)[0]
        assert abs(y[3001 + p.delay] - THR6) < 5e-4
        assert np.argmax(np.abs(y)) == 3001 + p.delay


@pytest.mark.parametrize("f", [50.0, 1000.0])
def test_sustained_sine_settles_at_threshold(lim, server, f):
    lim.threshold = -6.0
    settle()
    n = np.arange(48000)
    x = (0.9 * np.sin(2 * np.pi * f * n / 48000)).astype(np.float32)
    y = push(lim, np.vstack([x, -x]))
    tail = np.abs(y[:, 24000:])
    assert abs(tail.max() - THR6) < 5e-4
    per = int(round(48000 / f))
    peaks = tail[:, : tail.shape[1] // per * per].reshape(2, -1, per).max(axis=2)
    np.testing.assert_allclose(peaks, THR6, atol=3e-3)


def release_time(p, rate):
    """Gain 0.5 from a DC step of 2.0, then input 0.25: the time in seconds
    in which 1 - gain falls by a factor e, from 0.1 downwards."""
    p.threshold = 0.0
    settle()
    n = int(0.3 * rate) + int(6 * p.release * rate)
    x = np.full(n, 0.25, np.float32)
    x[: int(0.3 * rate)] = 2.0
    y = push(p, np.vstack([x] * p.nchan))[0]
    g = y[int(0.3 * rate) + p.delay:] / 0.25
    assert abs(y[int(0.3 * rate) + p.delay - 1] - 1.0) < 1e-4
    n1 = np.flatnonzero(1 - g < 0.1)[0]
    n2 = np.flatnonzero(1 - g < 0.1 * np.exp(-2))[0]
    return (n2 - n1) / 2 / rate


@pytest.mark.parametrize("t", [None, 0.1, 1.0])
def test_release_follows_the_set_time(lim, server, t):
    if t is not None:
        lim.release = t
    assert lim.release == (0.01 if t is None else t)
    assert release_time(lim, server.rate) == pytest.approx(lim.release, rel=0.02)


@pytest.mark.parametrize("attr, value, same", [
    ("threshold", 3.0, 0.0),
    ("threshold", np.inf, 0.0),
    ("threshold", -40.0, -30.0),
    ("threshold", -np.inf, -30.0),
    ("inpgain", 40.0, 30.0),
    ("inpgain", np.inf, 30.0),
    ("inpgain", -40.0, -30.0),
    ("release", 0.0001, 0.001),
    ("release", -1.0, 0.001),
    ("release", 5.0, 1.0),
    ("release", np.inf, 1.0),
])
def test_setter_limits(server, attr, value, same):
    """A value beyond a limit acts exactly like the limit."""
    rng = np.random.default_rng(4)
    x = (rng.uniform(-1, 1, 30000) * (np.arange(30000) % 6000 < 2500)).astype(np.float32)
    outs = []
    for v in (value, same):
        with vesk.PeakLimiter(1, name="limits", server=server.name) as p:
            p.threshold = -10.0
            setattr(p, attr, v)
            assert getattr(p, attr) == same
            settle()
            outs.append(push(p, x)[0])
    assert np.array_equal(outs[0], outs[1])
    assert outs[0].any()


def test_nan_refused_and_setting_kept(lim):
    lim.threshold = -6.0
    lim.inpgain = 3.0
    lim.release = 0.2
    for attr in ("threshold", "inpgain", "release"):
        with pytest.raises(ValueError):
            setattr(lim, attr, float("nan"))
    for f in (peaklimiter.set_threshold, peaklimiter.set_inpgain, peaklimiter.set_release):
        with pytest.raises(ValueError):
            f(lim.capsule, float("nan"))
    assert (lim.threshold, lim.inpgain, lim.release) == (-6.0, 3.0, 0.2)
    settle()
    # Still limiting at -6 dB with +3 dB input gain; nothing non-finite.
    x = np.zeros((2, 6000), np.float32)
    x[:, 1000] = 0.1
    x[:, 3000] = 0.9
    y = push(lim, x)
    assert np.all(np.isfinite(y))
    assert abs(y[0, 3000 + lim.delay] - THR6) < 1e-3
    assert y[0, 1000 + lim.delay] == pytest.approx(0.1 * 10 ** (3 / 20), rel=1e-5)


def find_ramps(y, level):
    """Starts of the input gain ramps seen on a constant level: the sample
    before the first one that differs from the level reached before."""
    starts = []
    k = 0
    while True:
        d = np.flatnonzero(np.abs(y[k:] - level) > 1e-7 * level)
        if not len(d):
            return starts
        s = k + d[0] - 1
        starts.append(s)
        level = y[s + 64]
        k = s + 64


@pytest.mark.parametrize("srv", ["server", "server1024"])
def test_input_gain_ramps_over_one_group(request, srv):
    """Each change ramps linearly over 64 samples (8 blocks of 8 at these
    rates) and ramps start at group ends, a whole number of groups apart."""
    s = request.getfixturevalue(srv)
    with vesk.PeakLimiter(1, name="ramp", server=s.name) as p:
        x = np.full(int(0.6 * s.rate), 0.1, np.float32)

        def change():
            p.inpgain = 6.0
            time.sleep(0.15)
            p.inpgain = 0.0

        y = push_while(p, x, change, at=0.15, retries=5)[0][p.delay:]
        starts = find_ramps(y, np.float32(0.1))
        assert len(starts) == 2
        assert (starts[1] - starts[0]) % 64 == 0
        g1 = np.float32(10 ** 0.3)
        for s0, a, b in ((starts[0], 1.0, g1), (starts[1], g1, 1.0)):
            m = np.arange(65)
            np.testing.assert_allclose(y[s0 + m], 0.1 * (a + m * (b - a) / 64), rtol=2e-6)
        assert y[starts[0] + 64: starts[1]] == pytest.approx(0.1 * g1, rel=2e-6)


@pytest.mark.parametrize("n, ports", [(0, 1), (-3, 1), (1, 1), (2, 2), (150, 100)])
def test_channel_count_clamped(server, n, ports):
    with vesk.PeakLimiter(n, name="clamp", server=server.name) as p:
        assert p.state == vesk.State.PROCESS
        assert p.nchan == ports
        assert len(p.inputs) == ports
        for i in range(ports):
            assert p.port_operation(vesk.PortOp.CONNECT_OUT, i, f"{p.name}:in_{i}") == 0
        assert p.port_operation(vesk.PortOp.CONNECT_OUT, ports, f"{p.name}:in_0") == -1


def test_loud_noise_stays_at_threshold(server1024):
    """Noise bursts at +12 dB input gain: no sample above threshold + 0.1 dB."""
    with vesk.PeakLimiter(2, name="noise", server=server1024.name) as p:
        p.inpgain = 12.0
        p.threshold = -1.0
        settle()
        rng = np.random.default_rng(9)
        x = (rng.normal(0, 0.3, (2, 88200)) * (np.arange(88200) % 9000 < 4000)).astype(np.float32)
        y = push(p, x)
        assert 20 * np.log10(np.abs(y).max()) < -1.0 + 0.1


def test_module_functions_check_their_arguments(lim):
    with pytest.raises(ValueError):
        peaklimiter.set_threshold(lim.client, -6.0)      # the "Jclient" capsule is not a Jpeaklim
    with pytest.raises(TypeError):
        peaklimiter.set_threshold(lim.capsule, "loud")
    with pytest.raises(TypeError):
        peaklimiter.makecaps(None, "x", None)
    lim.close()
    with pytest.raises(ValueError):
        lim.threshold = -3.0


def test_failed_client(server):
    with vesk.PeakLimiter(2, name="nowhere", server="vesk-no-such-server") as p:
        assert p.state == vesk.State.FAILED
        p.threshold = -6.0              # harmless on a failed client
        p.inpgain = 6.0
        p.release = 0.5


def test_create_and_destroy_many(server):
    for k in range(30):
        with vesk.PeakLimiter(k % 5 + 1, name="many", server=server.name) as p:
            assert p.state == vesk.State.PROCESS


def test_period_change(own_server):
    """The limiter works sample by sample: a new server period changes nothing."""
    import jack
    with vesk.PeakLimiter(1, name="resize", server=own_server.name) as p:
        x = np.random.default_rng(6).uniform(-0.4, 0.4, 6000).astype(np.float32)
        c = jack.Client("vesk-resize", servername=own_server.name, no_start_server=True)
        try:
            c.blocksize = 64
            assert c.blocksize == 64
        finally:
            c.close()
        settle()
        assert p.period == 64
        y = push(p, x)[0]
        assert np.array_equal(y[p.delay:], x[:-p.delay])
