"""Parametric equaliser through JACK: bypass at creation, responses against
the sections' transfer functions, exact peak gains, cut/boost symmetry,
ramps on the 10 ms grid whatever the period, section strings, refused and
clamped values."""

import math

import numpy as np
import pytest

import vesk
from vesk import equaliser
from harness import private_server, push, push_while
from filterref import N, settle, impulse_responses, bins, spectrum_db, assert_response


def measure(eq, k):
    return spectrum_db(impulse_responses(eq)[0], k)


@pytest.fixture
def eq1(server):
    with vesk.Equaliser(1, "L", name="eq1", server=server.name) as eq:
        yield eq


def test_fresh_equaliser_passes_input_unchanged(server):
    with vesk.Equaliser(3, "L123H", name="eqfresh", server=server.name) as eq:
        for i, (f, g, s) in enumerate([(100, 12, 1), (1000, -9, 2), (2000, 6, 0.5), (5000, -20, 1), (8000, 15, -1)]):
            eq.set_filter(i, f, g, s)
        eq.gain = 10.0
        settle()
        x = np.random.default_rng(1).uniform(-1, 1, (3, 5000)).astype(np.float32)
        assert np.array_equal(push(eq, x), x)
        eq.bypass = False
        settle()
        assert not np.allclose(push(eq, x), x, atol=1e-3)
        eq.bypass = True
        settle()
        assert np.array_equal(push(eq, x), x)


CASES = [
    ("L", 200.0, 9.0, 0.5),
    ("L", 300.0, -12.0, -1.0),
    ("L", 60.0, 20.0, 1.0),
    ("H", 5000.0, 6.0, 1.0),
    ("H", 3000.0, -15.0, 0.0),
    ("1", 1000.0, 12.0, 1.0),
    ("1", 1000.0, -12.0, 1.0),
    ("2", 250.0, -9.0, 2.0),
    ("2", 8000.0, 9.0, 0.3),
    ("3", 4000.0, 15.0, 0.3),
    ("3", 150.0, -20.0, 5.0),
]


@pytest.mark.parametrize("kind, freq, gain, shape", CASES)
def test_response_matches_transfer_function(server, kind, freq, gain, shape):
    with vesk.Equaliser(1, kind, name="eqresp", server=server.name) as eq:
        eq.set_filter(0, freq, gain, shape)
        eq.gain = -3.0
        eq.bypass = False
        settle()
        k, f = bins(server.rate)
        assert_response(measure(eq, k), eq.response(f)[1], what=f"{kind} {freq} {gain} {shape}")


def test_shelf_ends(server):
    """Low shelf: DC gain is the section gain, Nyquist 0 dB; high shelf the reverse."""
    with vesk.Equaliser(1, "LH", name="eqshelf", server=server.name) as eq:
        eq.bypass = False
        eq.set_filter(0, 1000.0, 12.0, 0.0)
        settle()
        h = impulse_responses(eq)[0]
        H = np.fft.rfft(h.astype(float))
        assert 20 * np.log10(abs(H[0])) == pytest.approx(12.0, abs=0.01)
        assert 20 * np.log10(abs(H[-1])) == pytest.approx(0.0, abs=0.01)
        eq.set_filter(0, 1000.0, 0.0, 0.0)
        eq.set_filter(1, 1000.0, -12.0, 0.0)
        settle()
        H = np.fft.rfft(impulse_responses(eq)[0].astype(float))
        assert 20 * np.log10(abs(H[0])) == pytest.approx(0.0, abs=0.01)
        assert 20 * np.log10(abs(H[-1])) == pytest.approx(-12.0, abs=0.01)


@pytest.mark.parametrize("kind", ["1", "2", "3"])
def test_peak_has_its_gain_at_its_frequency_and_mirrors(server, kind):
    rate = server.rate
    kc = 1365                                  # a bin near 1 kHz: 999.76 Hz
    fc = kc * rate / N
    k, f = bins(rate, 100, 10000, 200)
    res = {}
    with vesk.Equaliser(1, kind, name="eqpeak", server=server.name) as eq:
        eq.bypass = False
        for g in (10.0, -10.0):
            eq.set_filter(0, fc, g, 1.5)
            settle()
            h = impulse_responses(eq)[0]
            assert spectrum_db(h, np.array([kc]))[0] == pytest.approx(g, abs=0.01)
            res[g] = spectrum_db(h, k)
    total = res[10.0] + res[-10.0]
    if kind == "1":
        # Cut narrower than boost: the cut recovers sooner away from the centre.
        assert total.min() > -0.01 and total.max() > 1.0
    else:
        assert np.abs(total).max() < 0.01


def test_makeup_gain_steps(eq1):
    """0 to +20 dB takes three 10 ms steps (x2, x2, then the rest); +20 to -20 dB seven."""
    step = 480
    eq1.bypass = False
    settle()
    x = np.ones(24000, np.float32)
    def gain_at(db):
        def restore():
            eq1.gain = db
            settle()
        return restore

    y = push_while(eq1, x, lambda: setattr(eq1, "gain", 20.0), at=0.1, before=gain_at(0.0))[0]
    k = np.flatnonzero(y != 1.0)[0]
    np.testing.assert_allclose(y[k + step - 1: k + 4 * step: step], [2, 4, 10, 10], rtol=1e-4)   # accumulated float increments
    assert np.all(y[k + 3 * step:] == y[-1])
    y = push_while(eq1, x, lambda: setattr(eq1, "gain", -20.0), at=0.1, before=gain_at(20.0))[0]
    k = np.flatnonzero(y != y[0])[0]
    want = [5, 2.5, 1.25, 0.625, 0.3125, 0.15625, 0.1, 0.1]
    np.testing.assert_allclose(y[k + step - 1: k + 8 * step: step], want, rtol=1e-4)


@pytest.fixture
def server1000():
    """Periods of 1000 frames: two whole steps and a piece in each."""
    with private_server(rate=48000, period=1000) as s:
        yield s


@pytest.mark.parametrize("srv", ["server", "server1024", "server1000"])
def test_step_grid_is_independent_of_the_period(request, srv):
    """Ramps move in straight pieces of exactly one step (10 ms), whose
    boundaries fall on the client's own step grid, not on periods."""
    s = request.getfixturevalue(srv)
    rate, period = s.rate, s.period
    with vesk.Equaliser(1, "", name="eqgrid", server=s.name) as eq:
        step = math.ceil(rate * 0.01)
        eq.bypass = False
        settle()
        def unity():
            eq.gain = 0.0
            settle()

        y = push_while(eq, np.ones(rate // 2, np.float32), lambda: setattr(eq, "gain", 20.0), at=0.1,
                       before=unity)[0]
        k = np.flatnonzero(y != 1.0)[0]
        # The grid started with the client's first period, which is a period
        # boundary like the start of the push.
        assert k % math.gcd(step, period) == 0
        for m in range(3):
            seg = y[k + m * step: k + (m + 1) * step].astype(float)
            d = np.diff(seg)
            assert np.ptp(d) < 1e-5, f"piece {m} is not one straight ramp"
        assert y[k + 3 * step - 1] == pytest.approx(10.0, rel=1e-4)


def test_section_strings(server):
    with vesk.Equaliser(1, "L123HL1HLL", name="eqlong", server=server.name) as eq:
        assert eq.section_types == [0, 2, 3, 4, 1, 0, 2, 1]
        eq.bypass = False
        eq.set_filter(8, 1000.0, 12.0, 1.0)        # no ninth section: ignored
        eq.set_filter(-1, 1000.0, 12.0, 1.0)
        settle()
        x = np.random.default_rng(2).uniform(-1, 1, 3000).astype(np.float32)
        assert np.array_equal(push(eq, x)[0], x)
    # Unknown characters repeat the type before them; first of all a low shelf.
    with vesk.Equaliser(1, "x2y", name="eqodd", server=server.name) as eq:
        assert eq.section_types == [0, 3, 3]
        eq.bypass = False
        eq.set_filter(0, 100.0, 8.0, 1.0)
        eq.set_filter(1, 1000.0, -10.0, 1.0)
        eq.set_filter(2, 5000.0, 10.0, 1.0)
        settle()
        k, f = bins(server.rate)
        m = measure(eq, k)
        assert_response(m, eq.response(f)[1], what="x2y")
        # Section 0 is a shelf: at DC it has its full gain.
        H0 = np.fft.rfft(impulse_responses(eq)[0].astype(float))[0]
        assert 20 * np.log10(abs(H0)) == pytest.approx(8.0, abs=0.01)


def test_nan_refused_and_infinities_clamp(server):
    with vesk.Equaliser(1, "L2", name="eqnan", server=server.name) as eq:
        eq.bypass = False
        eq.set_filter(1, 2000.0, 6.0, 1.0)
        settle()
        k, f = bins(server.rate)
        before = measure(eq, k)
        nan = float("nan")
        for args in [(1, nan, 6.0, 1.0), (1, 2000.0, nan, 1.0), (1, 2000.0, 6.0, nan)]:
            with pytest.raises(ValueError):
                eq.set_filter(*args)
        with pytest.raises(ValueError):
            eq.gain = nan
        settle()
        np.testing.assert_allclose(measure(eq, k), before, atol=1e-6)
        # Infinities clamp like any other value: to 0.3 of the rate (low
        # shelf), +20 dB, and the slope's end.
        eq.set_filter(1, 2000.0, 0.0, 1.0)
        eq.set_filter(0, math.inf, math.inf, math.inf)
        eq.gain = -math.inf
        settle()
        y = impulse_responses(eq)[0]
        assert np.isfinite(y).all()
        _, want = eq.response(f)
        assert_response(spectrum_db(y, k), want, what="clamped")
        H = np.fft.rfft(y.astype(float))
        assert 20 * np.log10(abs(H[0])) == pytest.approx(0.0, abs=0.01)      # +20 dB shelf, -20 dB make-up


@pytest.mark.parametrize("freq", [0.31, 0.4, 0.49, 0.6])
def test_low_shelf_stays_stable_near_nyquist(server, freq):
    with vesk.Equaliser(1, "L", name="eqhigh", server=server.name) as eq:
        eq.bypass = False
        for g, s in [(20.0, 1.0), (-20.0, -1.0), (12.0, 0.0)]:
            eq.set_filter(0, freq * server.rate, g, s)
            settle()
            y = impulse_responses(eq)[0]
            assert np.isfinite(y).all() and np.abs(y[-1000:]).max() < 1e-6
            k, f = bins(server.rate)
            assert_response(spectrum_db(y, k), eq.response(f)[1], what=f"{freq} {g}")


def test_failed_client_and_wrong_capsules():
    with vesk.Equaliser(2, "L1", name="eqfail", server="vesk-no-such-server") as eq:
        assert eq.state == vesk.State.FAILED
        eq.set_filter(0, 100.0, 6.0, 1.0)
        eq.gain = 3.0
        eq.bypass = False
        f, db = eq.response(rate=48000)
        assert db.shape == f.shape
    with pytest.raises(ValueError):
        equaliser.set_gain(None, 0.0)
    with pytest.raises(TypeError):
        equaliser.set_filter(None, 0, 1.0)


def test_plot_writes_png(server, tmp_path):
    pytest.importorskip("matplotlib")
    with vesk.Equaliser(1, "L3H", name="eqplot", server=server.name) as eq:
        eq.set_filter(1, 1000.0, 9.0, 1.0)
        eq.bypass = False
        path = tmp_path / "eq.png"
        eq.plot(str(path))
        assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_channels_alike_and_missing_ports(server):
    """All channels get the same processing; a deleted output port is left
    out and a deleted input port reads as silence, without upsetting the rest."""
    with vesk.Equaliser(6, "13", name="eqports", server=server.name) as eq:
        eq.set_filter(0, 200.0, 6.0, 1.0)
        eq.set_filter(1, 3000.0, -8.0, 2.0)
        eq.bypass = False
        settle()
        x = np.tile(np.random.default_rng(4).uniform(-1, 1, 4000).astype(np.float32), (6, 1))
        y = push(eq, x)
        for ch in range(1, 6):
            assert np.array_equal(y[ch], y[0])
        assert eq.port_operation(vesk.PortOp.DELETE_OUT, 2) == 0
        assert eq.port_operation(vesk.PortOp.DELETE_INP, 4) == 0
        outs = [p for i, p in enumerate(eq.outputs) if i != 2]
        ins = [p for i, p in enumerate(eq.inputs) if i != 4]
        y2 = push(eq, x[:5], inputs=ins, outputs=outs)      # rows: channels 0, 1, 3, 4, 5
        assert np.abs(y2[3]).max() < 1e-10                   # channel 4: its input is gone (the
                                                             # states keep a tiny anti-denormal offset)
        for row in (0, 1, 2, 4):
            np.testing.assert_allclose(y2[row], y[0], atol=1e-5)


def test_sections_must_be_a_string(server):
    with pytest.raises(TypeError):
        vesk.Equaliser(1, None, server=server.name)
