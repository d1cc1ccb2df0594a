"""Gain control through JACK: silence before the first master gain, dB
conversion, products of master and channel gains, mutes, clamping, ramps."""

import numpy as np
import pytest

import vesk
from vesk import gaincontrol, clientops
from harness import push, push_while


def settle(g):
    """Let any ramp finish: a few 10 ms steps of real time."""
    import time
    time.sleep(0.1)


@pytest.fixture
def gain(server):
    with vesk.GainControl(4, name="gain", server=server.name) as g:
        yield g


def test_silent_until_first_master_gain(gain):
    x = np.ones((4, 4096), np.float32)
    gain.set_gain(0.0, 0)
    gain.set_gain(0.0, 3)
    settle(gain)
    assert not push(gain, x).any()
    gain.gain = 0.0
    settle(gain)
    assert np.array_equal(push(gain, x), x)


@pytest.mark.parametrize("db, want", [
    (-120.0, 1e-6),
    (-120.1, 0.0),
    (-np.inf, 0.0),
    (-6.0, 10 ** -0.3),
    (12.0, 10 ** 0.6),
])
def test_master_gain_in_db(gain, db, want):
    gain.gain = db
    settle(gain)
    x = np.full((4, 1000), 0.5, np.float32)
    y = push(gain, x)
    np.testing.assert_allclose(y, 0.5 * want, rtol=1e-6, atol=0)
    if want == 0.0:
        assert not y.any()


def test_master_and_channel_gains_multiply(gain):
    gain.gain = -6.0
    for ch, db in enumerate([0.0, -6.0, 6.0, -20.0]):
        gain.set_gain(db, ch)
    gain.set_gain(-40.0, 4)          # past the last channel: ignored
    gain.set_gain(-40.0, 1000)
    settle(gain)
    x = np.random.default_rng(3).uniform(-1, 1, (4, 3000)).astype(np.float32)
    y = push(gain, x)
    for ch, db in enumerate([0.0, -6.0, 6.0, -20.0]):
        g = np.float32(10 ** (-0.3)) * np.float32(10 ** (0.05 * db))
        np.testing.assert_allclose(y[ch], x[ch] * g, rtol=2e-7, atol=0)


def test_mute_logic(gain):
    gain.gain = 0.0
    gain.set_mute(True)
    gain.set_mute(True, 2)
    settle(gain)
    x = np.ones((4, 2000), np.float32)
    assert not push(gain, x).any()
    gain.set_mute(False)                 # master back, channel 2 stays muted
    settle(gain)
    y = push(gain, x)
    assert np.array_equal(y[[0, 1, 3]], x[[0, 1, 3]])
    assert not y[2].any()
    gain.set_mute(False, 2)
    settle(gain)
    assert np.array_equal(push(gain, x), x)


def test_refused_values_keep_the_setting(gain):
    gain.gain = -6.0
    settle(gain)
    for bad in (float("nan"), float("inf"), 1e4):
        with pytest.raises(ValueError):
            gain.set_gain(bad)
        with pytest.raises(ValueError):
            gain.set_gain(bad, 1)
    settle(gain)
    y = push(gain, np.ones((4, 512), np.float32))
    np.testing.assert_allclose(y, np.float32(10 ** -0.3), rtol=1e-7)


@pytest.mark.parametrize("n, ports", [(150, 100), (0, 0), (-5, 0), (1, 1)])
def test_channel_count_clamped(server, n, ports):
    with vesk.GainControl(n, name="clamp", server=server.name) as g:
        assert g.state == vesk.State.PROCESS
        assert g.nchan == ports
        for i in range(ports):
            assert g.port_operation(vesk._tool.PORT_CONNECT_OUT, i, f"{g.name}:in_{i}") == 0
        assert g.port_operation(vesk._tool.PORT_CONNECT_OUT, ports, f"{g.name}:in_0") == -1


@pytest.mark.parametrize("srv", ["server", "server1024"])
def test_fade_in_is_one_linear_step(request, srv):
    """The first master gain fades in from silence over exactly one 10 ms step,
    whatever the period size, and the step starts at a step boundary."""
    s = request.getfixturevalue(srv)
    with vesk.GainControl(1, name="ramp", server=s.name) as g:
        step = s.rate // 100
        x = np.ones(s.rate // 2, np.float32)
        def silent():
            g.set_gain(-np.inf)
            settle(g)

        y = push_while(g, x, lambda: g.set_gain(0.0), at=0.15, before=silent)[0]
        k = np.flatnonzero(y)[0]
        ramp = y[k:k + step]
        np.testing.assert_allclose(ramp, np.arange(1, step + 1) / step, atol=1e-5)
        assert np.all(y[k + step:] == 1.0)


@pytest.mark.parametrize("srv", ["server", "server1024"])
def test_halvings_from_0_to_minus_40_db(request, srv):
    """0 dB to -40 dB: six halvings of one step each, then a last ramp."""
    s = request.getfixturevalue(srv)
    with vesk.GainControl(1, name="ramp40", server=s.name) as g:
        step = s.rate // 100
        def unity():
            g.gain = 0.0
            settle(g)

        x = np.ones(s.rate // 2, np.float32)
        y = push_while(g, x, lambda: g.set_gain(-40.0), at=0.15, before=unity)[0]
        k = np.flatnonzero(y != 1.0)[0]
        ends = y[k + step - 1: k + 8 * step: step]
        want = [0.5, 0.25, 0.125, 0.0625, 0.03125, 0.015625, 0.01, 0.01]
        np.testing.assert_allclose(ends, want, rtol=1e-4)
        assert np.all(np.abs(y[k + 7 * step:] - np.float32(0.01)) < 1e-9)


def test_jack_info_and_state(gain, server):
    assert gain.state == vesk.State.PROCESS
    assert gain.jack_info == ("gain", 48000, 256)
    assert clientops.get_state(gain.client) == 10
