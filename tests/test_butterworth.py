"""Butterworth filters through JACK: copies at creation, responses against
scipy's eighth-order Butterworth (bilinear, same prewarp), the 1 kHz
low-pass figures, band-pass in either order, frequencies at and above
half the sample rate."""

import math

import numpy as np
import pytest
from scipy import signal

import vesk
from vesk import butterworth
from harness import push
from filterref import N, settle, impulse_responses, bins, spectrum_db, assert_response


def scipy_db(f, rate, hp, lp):
    w = 2 * np.pi * np.asarray(f) / rate
    h = np.ones(len(w), complex)
    if hp > 0:
        h *= signal.sosfreqz(signal.butter(8, hp, "high", fs=rate, output="sos"), worN=w)[1]
    if lp > 0:
        h *= signal.sosfreqz(signal.butter(8, lp, "low", fs=rate, output="sos"), worN=w)[1]
    return 20 * np.log10(np.abs(h))


@pytest.fixture
def bw(server):
    with vesk.ButterworthFilter(2, 4, name="bw", server=server.name) as b:
        yield b


def test_fresh_object_copies_input_0(bw):
    x = np.random.default_rng(1).uniform(-1, 1, (2, 3000)).astype(np.float32)
    y = push(bw, x)
    for out in range(4):
        assert np.array_equal(y[out], x[0])


SETTINGS = [(0.0, 1000.0), (1000.0, 0.0), (300.0, 3000.0), (40.0, 0.0), (0.0, 15000.0), (3000.0, 300.0)]


def test_responses_match_scipy(bw, server):
    rate = server.rate
    k, f = bins(rate)
    for start in (0, 4):
        group = SETTINGS[start:start + 4]
        for out, (hp, lp) in enumerate(group):
            bw.set_filter(out, out % 2, highpass=hp, lowpass=lp)
        settle()
        y = impulse_responses(bw)
        for out, (hp, lp) in enumerate(group):
            m = spectrum_db(y[out], k)
            assert_response(m, scipy_db(f, rate, hp, lp), what=f"scipy {hp} {lp}")
            assert_response(m, bw.response(out, f)[1], what=f"response {hp} {lp}")


def test_one_kilohertz_low_pass(bw, server):
    bw.set_filter(0, 0, lowpass=1000.0)
    settle()
    h = impulse_responses(bw)[0]
    per_bin = server.rate / N
    k = np.round(np.array([100.0, 1000.0, 2000.0]) / per_bin).astype(int)
    # The bins lie within 0.4 Hz of the nominal frequencies: compare with the
    # exact response there, and the figures with the nominal ones.
    m = spectrum_db(h, k)
    assert m[0] == pytest.approx(0.0, abs=0.001)
    assert m[1] == pytest.approx(-3.01, abs=0.02)
    assert m[2] == pytest.approx(-48.0, abs=0.6)       # about -48 dB (-48.47 with the prewarp)
    assert_response(m, scipy_db(k * per_bin, server.rate, 0, 1000.0))


def test_both_zero_copies_again_and_bad_indices(bw):
    bw.set_filter(1, 1, highpass=500.0)
    bw.set_filter(1, 2, highpass=5000.0)       # input index == number of inputs: ignored
    bw.set_filter(4, 0, highpass=5000.0)       # no such output
    settle()
    x = np.random.default_rng(2).uniform(-1, 1, (2, 3000)).astype(np.float32)
    y = push(bw, x)
    assert not np.allclose(y[1], x[1], atol=1e-3)
    bw.set_filter(1, 1, 0.0, 0.0)
    settle()
    y = push(bw, x)
    assert np.array_equal(y[1], x[1])
    assert np.array_equal(y[3], x[0])


@pytest.mark.parametrize("freq", [0.48, 0.5, 0.7, math.inf])
def test_at_and_above_nyquist_stays_stable(bw, server, freq):
    rate = server.rate
    f = freq * rate
    bw.set_filter(0, 0, lowpass=f)
    bw.set_filter(1, 0, highpass=f)
    bw.set_filter(2, 0, lowpass=0.48 * rate)
    bw.set_filter(3, 0, highpass=0.48 * rate)
    settle()
    y = impulse_responses(bw)
    assert np.isfinite(y).all()
    assert np.array_equal(y[0], y[2])
    assert np.array_equal(y[1], y[3])
    assert np.abs(y[:, -1000:]).max() < 1e-6


def test_nan_refused(bw):
    nan = float("nan")
    with pytest.raises(ValueError):
        bw.set_filter(0, 0, highpass=nan)
    with pytest.raises(ValueError):
        bw.set_filter(0, 0, lowpass=nan)
    with pytest.raises(ValueError):
        butterworth.set_filter(bw.capsule, 0, 0, 0.0, nan)


@pytest.mark.parametrize("ninp, nout, want", [(0, 0, (1, 1)), (1, 101, (1, 100))])
def test_port_counts(server, ninp, nout, want):
    with vesk.ButterworthFilter(ninp, nout, name="bwports", server=server.name) as b:
        assert b.state == vesk.State.PROCESS
        assert (len(b.inputs), len(b.outputs)) == want
