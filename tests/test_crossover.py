"""Crossover through JACK: silence at creation, responses against the
Linkwitz-Riley and Butterworth prototypes (scipy), the flat sum, the shape
law, clamping of shape, frequency and delay, gains, channel counts."""

import math

import numpy as np
import pytest
from scipy import signal

import vesk
from vesk import crossover
from harness import push
from filterref import N, settle, impulse_responses, bins, spectrum_db, assert_response


def prototype_db(f, fc, shape, kind, rate):
    """Independent reference: the analog fourth-order prototype with section
    dampings 2 cos((2 +- p) pi / 8), through the bilinear transform prewarped
    at fc (scipy for the two Butterworth ends)."""
    w = 2 * np.pi * np.asarray(f) / rate
    if shape in (-6.0, -3.0) and kind != "band":
        order = 2 if shape == -6.0 else 4
        sos = signal.butter(order, fc, "low" if kind == "low" else "high", fs=rate, output="sos")
        h = signal.sosfreqz(sos, worN=w)[1]
        if order == 2:
            h = h * h
        return 20 * np.log10(np.abs(h))
    p = ((shape + 6) / 3) ** 0.465
    z = np.exp(1j * w)
    S = (z - 1) / (z + 1) / np.tan(np.pi * fc / rate)
    h = np.ones_like(S)
    for d in (2 * np.cos((2 + p) * np.pi / 8), 2 * np.cos((2 - p) * np.pi / 8)):
        h *= (S * S if kind == "high" else 1) / (S * S + d * S + 1)
    return 20 * np.log10(np.abs(h))


@pytest.fixture
def xo(server):
    with vesk.Crossover(2, 4, maxdelay=0.5, name="xo", server=server.name) as x:
        yield x


def test_fresh_crossover_is_silent(xo):
    x = np.random.default_rng(1).uniform(-1, 1, (2, 3000)).astype(np.float32)
    assert not push(xo, x).any()


@pytest.mark.parametrize("shape", [-6.0, -4.5, -3.0])
def test_responses_match_prototype(xo, server, shape):
    rate = server.rate
    xo.set_filter(0, 0, lowpass=1000.0, lp_shape=shape)
    xo.set_filter(1, 1, highpass=1000.0, hp_shape=shape)
    xo.set_filter(2, 0, highpass=200.0, hp_shape=shape, lowpass=5000.0, lp_shape=shape)
    xo.set_filter(3, 1, highpass=30.0, hp_shape=shape)
    settle()
    y = impulse_responses(xo)
    k, f = bins(rate)
    for out, kind, fc in [(0, "low", 1000.0), (1, "high", 1000.0), (3, "high", 30.0)]:
        m = spectrum_db(y[out], k)
        assert_response(m, xo.response(out, f)[1], what=f"out {out}")
        assert_response(m, prototype_db(f, fc, shape, kind, rate), what=f"prototype {out}")
    band = prototype_db(f, 200.0, shape, "high", rate) + prototype_db(f, 5000.0, shape, "low", rate)
    m = spectrum_db(y[2], k)
    assert_response(m, band, what="band")
    assert_response(m, xo.response(2, f)[1], what="band response")


def test_linkwitz_riley_sum_is_flat(xo, server):
    rate = server.rate
    kc = 1365
    fc = kc * rate / N
    xo.set_filter(0, 0, lowpass=fc)
    xo.set_filter(1, 0, highpass=fc)
    settle()
    y = impulse_responses(xo)
    k, f = bins(rate)
    assert np.abs(spectrum_db(y[0] + y[1], k)).max() < 0.01
    for out in (0, 1):
        assert spectrum_db(y[out], np.array([kc]))[0] == pytest.approx(-6.02, abs=0.005)


def test_shape_law(xo, server):
    kc = 1365
    fc = kc * server.rate / N
    for shape in np.arange(-6.0, -2.99, 0.25):
        xo.set_filter(0, 0, lowpass=fc, lp_shape=shape)
        xo.set_filter(1, 0, highpass=fc, hp_shape=shape)
        settle()
        y = impulse_responses(xo)
        for out in (0, 1):
            assert spectrum_db(y[out], np.array([kc]))[0] == pytest.approx(shape, abs=0.04), shape
    assert spectrum_db(y[0], np.array([kc]))[0] == pytest.approx(-3.01, abs=0.005)


def test_shape_and_frequency_clamp(xo, server):
    rate = server.rate
    xo.set_filter(0, 0, lowpass=1000.0, lp_shape=-10.0)
    xo.set_filter(1, 0, lowpass=1000.0, lp_shape=-6.0)
    xo.set_filter(2, 0, highpass=30000.0, hp_shape=0.0)
    xo.set_filter(3, 0, highpass=0.48 * rate, hp_shape=-3.0)
    settle()
    y = impulse_responses(xo)
    assert np.array_equal(y[0], y[1])
    assert np.array_equal(y[2], y[3])
    # Infinities clamp too; -inf (like 0 or less) means no filter.
    xo.set_filter(2, 0, highpass=math.inf, hp_shape=math.inf)
    xo.set_filter(1, 0, lowpass=-math.inf)
    settle()
    y = impulse_responses(xo)
    assert np.array_equal(y[2], y[3])
    assert not y[1].any()


def test_delays(server):
    rate = server.rate
    with vesk.Crossover(1, 3, maxdelay=0.5, name="xodel", server=server.name) as xo:
        assert xo.maxdelay == 0.1
        for out in range(3):
            xo.set_filter(out, 0, highpass=20.0)
        xo.set_delay(1, 0.2)           # clamped to the largest delay, 0.1 s
        xo.set_delay(2, -1.0)          # 0
        settle()
        x = np.random.default_rng(5).uniform(-1, 1, 20000).astype(np.float32)
        y = push(xo, x, tail=rate // 10)
        d = rate // 10
        np.testing.assert_allclose(y[1][d:d + 20000], y[0][:20000], atol=1e-6)
        assert np.abs(y[1][:d]).max() < 1e-6
        assert np.array_equal(y[2], y[0])
        xo.set_delay(1, math.inf)      # infinity clamps like any large value
        xo.set_delay(2, -math.inf)
        with pytest.raises(ValueError):
            xo.set_delay(1, float("nan"))
        settle()
        y = push(xo, x, tail=rate // 10)
        np.testing.assert_allclose(y[1][d:d + 20000], y[0][:20000], atol=1e-6)
        assert np.array_equal(y[2], y[0])


def test_no_delay_line_without_largest_delay(server):
    with vesk.Crossover(1, 2, maxdelay=0.0, name="xonodel", server=server.name) as xo:
        xo.set_filter(0, 0, lowpass=2000.0)
        xo.set_filter(1, 0, lowpass=2000.0)
        xo.set_delay(1, 0.05)
        settle()
        y = impulse_responses(xo)
        assert np.array_equal(y[0], y[1])


def test_gains(xo, server):
    for out in range(3):
        xo.set_filter(out, 0, highpass=100.0, lowpass=8000.0)
    xo.set_gain(1, 0.5)
    xo.set_gain(2, 0.5)
    xo.set_gain(2, 1.0)                # exactly 1.0: the filtered output as it is
    settle()
    y = impulse_responses(xo)
    np.testing.assert_allclose(y[1], 0.5 * y[0], rtol=1e-6, atol=1e-12)
    assert np.array_equal(y[2], y[0])
    for bad in (float("nan"), math.inf, -math.inf):
        with pytest.raises(ValueError):
            xo.set_gain(1, bad)
    xo.set_gain(7, 0.1)                # no such output: ignored
    xo.set_filter(7, 0, lowpass=100.0)
    xo.set_filter(0, 5, lowpass=100.0)
    settle()
    np.testing.assert_allclose(impulse_responses(xo)[:3], y[:3], atol=1e-9)


def test_both_frequencies_zero_silences_again(xo):
    xo.set_filter(0, 0, lowpass=1000.0)
    settle()
    assert impulse_responses(xo)[0].any()
    xo.set_filter(0, 0, lowpass=0.0, highpass=-5.0)
    settle()
    assert not impulse_responses(xo)[0].any()


@pytest.mark.parametrize("ninp, nout, want", [(0, 0, (1, 1)), (-3, 2, (1, 2)), (150, 1, (100, 1))])
def test_port_counts(server, ninp, nout, want):
    with vesk.Crossover(ninp, nout, name="xoports", server=server.name) as xo:
        assert xo.state == vesk.State.PROCESS
        assert (len(xo.inputs), len(xo.outputs)) == want
        assert xo.port_operation(vesk.PortOp.CONNECT_OUT, want[1], f"{xo.name}:in_0") == -1
        assert xo.port_operation(vesk.PortOp.CONNECT_OUT, want[1] - 1, f"{xo.name}:in_0") == 0


def test_nan_refused(xo):
    nan = float("nan")
    for args in [(0, 0, nan), (0, 0, 100.0, nan), (0, 0, 0.0, 0.0, nan), (0, 0, 0.0, 0.0, -6.0, nan)]:
        with pytest.raises(ValueError):
            xo.set_filter(*args)
    with pytest.raises(ValueError):
        crossover.makecaps(None, "xonan", xo.server, 1, 1, nan)
