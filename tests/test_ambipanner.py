"""Ambisonic panner through JACK: harmonics against scipy (closed formulas to
degree 4, the recursion above), tabled gains, ramps at period boundaries,
directions beyond the poles, adding inputs, port counts and names."""

import time

import numpy as np
import pytest

import vesk
from vesk import hoapanner
from ambiref import sh_reference
from harness import push, push_while


def settle():
    """Let the server run a few periods so that requests are taken."""
    time.sleep(0.05)


def gains_of(panner, n):
    """Gains of inputs 0..n-1: input i carries an impulse at sample i."""
    x = np.zeros((panner.ninp, 256), np.float32)
    for i in range(n):
        x[i, i] = 1.0
    return push(panner, x)[:, :n].T


def float_radians(deg):
    """Radians as the panner computes them from a float32 angle in degrees."""
    return np.float32(np.float64(np.float32(deg)) * np.pi / 180).astype(np.float64)


@pytest.mark.parametrize("degree", [1, 2, 3, 4, 5, 6, 7, 8])
def test_harmonics_against_scipy(server, degree):
    """Random directions, elevations beyond the poles, and the poles themselves."""
    rng = np.random.default_rng(degree)
    n = 100
    az = rng.uniform(-360, 360, n)
    el = rng.uniform(-180, 180, n)
    el[:4] = [90, -90, 90, -90]
    el[4:8] = [120, -120, 180, -180]
    with vesk.AmbiPanner(degree, n, name="pansh", server=server.name) as p:
        for i in range(n):
            p.set_direction(i, az[i], el[i])
        settle()
        g = gains_of(p, n)
    ref = sh_reference(degree, float_radians(az), float_radians(el))
    np.testing.assert_allclose(g, ref, rtol=0, atol=1e-6)


def test_tabled_gains(server):
    """Degree 4 at (0, 0), degree 2 at (90, 0), degree 1 at (45, 30)."""
    with vesk.AmbiPanner(4, 3, name="pantab", server=server.name) as p:
        p.set_direction(1, 90, 0)
        p.set_direction(2, 45, 30)
        settle()
        g = gains_of(p, 3)
    want = np.zeros(25, np.float32)
    for ch, v in {0: 1, 3: 1, 6: -0.5, 8: 0.8660254, 13: -0.6123724, 15: 0.7905694,
                  20: 0.375, 22: -0.5590170, 24: 0.7395100}.items():
        want[ch] = v
    # Exactly the tabled float values where the formulas multiply by 0 or 1;
    # the other channels are zero.
    assert np.array_equal(g[0], want)
    want = np.zeros(9)
    want[[0, 1, 6, 8]] = [1, 1, -0.5, -0.8660254]
    np.testing.assert_allclose(g[1, :9], want, rtol=0, atol=1e-7)
    np.testing.assert_allclose(g[2, :4], [1, 0.6123724, 0.5, 0.6123724], rtol=0, atol=1e-7)


@pytest.mark.parametrize("degree", [1, 4, 5, 8])
def test_elevation_beyond_pole(server, degree):
    """Elevation 120 at azimuth a equals elevation 60 at azimuth a + 180."""
    with vesk.AmbiPanner(degree, 4, name="panpole", server=server.name) as p:
        p.set_direction(0, 0, 120)
        p.set_direction(1, 180, 60)
        p.set_direction(2, -50, -130)
        p.set_direction(3, 130, -50)
        settle()
        g = gains_of(p, 4)
    np.testing.assert_allclose(g[0], g[1], rtol=0, atol=1e-6)
    np.testing.assert_allclose(g[2], g[3], rtol=0, atol=1e-6)


def test_inputs_add(server):
    """Two inputs at one direction give the output of their sum."""
    rng = np.random.default_rng(2)
    a, b = rng.uniform(-0.5, 0.5, (2, 3000)).astype(np.float32)
    with vesk.AmbiPanner(5, 2, name="panadd", server=server.name) as p:
        p.set_direction(0, 70, -20)
        p.set_direction(1, 70, -20)
        settle()
        y2 = push(p, np.stack([a, b]))
        y1 = push(p, np.stack([a + b, np.zeros_like(a)]))
    np.testing.assert_allclose(y2, y1, rtol=0, atol=1e-6)


@pytest.mark.parametrize("tramp, nramp", [(0.01, 480), (0.0, 0)])
def test_ramp_starts_at_a_period(server, tramp, nramp):
    """A request is taken at the next period and ramps over round(fsamp tramp) samples.

    At 0.01 s and 48000 Hz the ramp runs 256 samples in one period and 224 in
    the next; ramp time 0 jumps at the first sample of a period.
    """
    x = np.ones((1, 48000), np.float32)
    with vesk.AmbiPanner(1, 1, name="panramp", server=server.name) as p:
        def before():
            p.set_direction(0, 0, 0)
            settle()
        y = push_while(p, x, lambda: p.set_direction(0, 90, 0, tramp), at=0.4, before=before)
    y1 = y[1]                 # channel 1 (y) moves from 0 to 1
    k0 = int(np.argmax(y1 != 0))
    assert 0 < k0 < 40000 and k0 % 256 == 0
    assert not y1[:k0].any()
    ramp = y1[k0:k0 + nramp]
    np.testing.assert_allclose(ramp, np.arange(1, nramp + 1) / max(nramp, 1), rtol=0, atol=1e-6)
    np.testing.assert_allclose(y1[k0 + nramp:], 1.0, rtol=0, atol=1e-6)
    if nramp:
        # Still moving in the sample before the end, at the target from there on.
        assert y1[k0 + nramp - 2] < 1.0 - 1e-4


@pytest.mark.parametrize("degree, ninp, nin, nout", [
    (1, 2, 2, 4),
    (0, 0, 1, 4),
    (-3, -1, 1, 4),
    (3, 1, 1, 16),
    (8, 100, 100, 81),
    (9, 500, 100, 81),
])
def test_port_counts_and_names(server, degree, ninp, nin, nout):
    import jack
    caps, client = hoapanner.makecaps(None, "panports", server.name, degree, ninp)
    try:
        c = jack.Client("vesk-inspect", servername=server.name, no_start_server=True)
        try:
            ins = [q.name for q in c.get_ports("panports:", is_input=True)]
            outs = [q.name for q in c.get_ports("panports:", is_output=True)]
        finally:
            c.close()
    finally:
        del caps, client
    assert sorted(ins) == sorted(f"panports:in_{i}" for i in range(nin))
    assert sorted(outs) == sorted(f"panports:out.{i}" for i in range(nout))


def test_bad_requests(server):
    """Indices out of range are ignored by the module and refused by the class; angles must be finite."""
    with vesk.AmbiPanner(2, 2, name="panbad", server=server.name) as p:
        p.set_direction(0, 30, 10)
        for i in (-1, 2, 1000):
            assert hoapanner.set_direction(p.capsule, i, 90, 0, 0) is None
        with pytest.raises(IndexError):
            p.set_direction(2, 0, 0)
        for bad in [(np.nan, 0, 0), (0, np.inf, 0), (0, 0, np.nan)]:
            with pytest.raises(ValueError):
                hoapanner.set_direction(p.capsule, 0, *bad)
        with pytest.raises(TypeError):
            hoapanner.set_direction(p.capsule, 0, "left", 0, 0)
        settle()
        g = gains_of(p, 2)
        np.testing.assert_allclose(g[0], sh_reference(2, float_radians(30), float_radians(10))[0], atol=1e-6)
        np.testing.assert_allclose(g[1], sh_reference(2, 0, 0)[0], atol=1e-6)
        assert np.array_equal(p.directions, [[30, 10], [0, 0]])


def test_create_and_destroy_loop(server):
    for k in range(20):
        with vesk.AmbiPanner(8, 16, name="panloop", server=server.name) as p:
            p.set_direction(k % 16, 10 * k, 0, 0.1)
            assert p.state == vesk.State.PROCESS
