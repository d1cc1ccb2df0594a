"""Noise source through JACK: silence at creation, white level, pink slope
(Welch estimate), uncorrelated outputs, silence for other types, indices out
of range, refused levels, clamped output counts."""

import numpy as np
import pytest
import scipy.signal

import vesk
from vesk import noisesource, clientops
from harness import push


def capture(noise, n, outputs=None):
    """n samples of the noise outputs, rendered in freewheel mode."""
    return push(noise, np.zeros((0, n), np.float32), inputs=[], outputs=outputs)


@pytest.fixture
def noise(server):
    with vesk.NoiseSource(4, name="noise", server=server.name) as n:
        yield n


def test_silent_after_creation(noise):
    assert noise.state == vesk.State.PROCESS
    assert noise.outputs == [f"noise:out_{i}" for i in range(4)]
    assert not capture(noise, 5000).any()


@pytest.mark.parametrize("db", [0.0, -20.0, 6.0])
def test_white_level(noise, db):
    """RMS of a full-scale sine at 0 dB, within 1 % (192000 samples: the
    estimate's own spread is 0.16 %)."""
    noise.set_output(1, "white", db)
    y = capture(noise, 192000)
    assert not y[[0, 2, 3]].any()
    rms = np.sqrt(np.mean(y[1].astype(np.float64) ** 2))
    assert rms == pytest.approx(np.sqrt(0.5) * 10 ** (db / 20), rel=0.01)
    # Gaussian: the kurtosis of a normal distribution is 3.
    k = np.mean(y[1].astype(np.float64) ** 4) / np.mean(y[1].astype(np.float64) ** 2) ** 2
    assert k == pytest.approx(3.0, abs=0.1)


@pytest.mark.freewheel
def test_pink_falls_3db_per_octave(server):
    """Welch estimate over 2^22 samples, averaged in third-octave bands from 50 Hz
    to 10 kHz: within +-0.5 dB of a line falling 3.01 dB per octave."""
    with vesk.NoiseSource(1, name="pink", server=server.name) as n:
        n.set_output(0, "pink", 0.0)
        y = capture(n, 1 << 22)[0].astype(np.float64)
    f, p = scipy.signal.welch(y, fs=48000, nperseg=1 << 14)
    centres = 1000 * 2.0 ** (np.arange(-14, 11) / 3)          # 63 Hz .. 10 kHz
    centres = np.concatenate(([50.0], centres))
    band = np.array([np.mean(p[(f >= c * 2 ** (-1 / 6)) & (f < c * 2 ** (1 / 6))]) for c in centres])
    db = 10 * np.log10(band * centres)                        # flat for a 1/f density
    dev = db - np.mean(db)
    assert np.max(np.abs(dev)) < 0.5, dict(zip(centres.round(), dev.round(2)))
    # The slope of the density itself, fitted over the same range.
    slope = np.polyfit(np.log2(centres), 10 * np.log10(band), 1)[0]
    assert slope == pytest.approx(-3.0103, abs=0.1)


def test_outputs_uncorrelated(noise):
    """Same settings, different noise: correlation below 0.01 (the estimate's
    own spread is 0.0023 for 192000 white samples)."""
    noise.set_output(None, "white", 0.0)
    y = capture(noise, 192000).astype(np.float64)
    c = np.corrcoef(y)
    for i in range(4):
        for j in range(i):
            assert abs(c[i, j]) < 0.01, (i, j, c[i, j])
    assert not np.array_equal(y[0], y[1])


def test_pink_outputs_differ(noise):
    noise.set_output(0, "pink", 0.0)
    noise.set_output(3, "pink", 0.0)
    y = capture(noise, 48000).astype(np.float64)
    assert not y[[1, 2]].any()
    # Pink noise has long correlation times, so 48000 samples only bound the
    # estimate loosely (its spread is about 0.05); equal noise would give 1.
    assert abs(np.corrcoef(y[0], y[3])[0, 1]) < 0.3


@pytest.mark.parametrize("kind", [3, 0, -1, 99, "off"])
def test_other_types_are_silent(noise, kind):
    noise.set_output(None, "white", 0.0)
    assert capture(noise, 2000).all(axis=1).any()
    noise.set_output(2, kind, 0.0)
    y = capture(noise, 5000)
    assert not y[2].any()
    assert y[[0, 1, 3]].any(axis=1).all()


def test_index_out_of_range_changes_nothing(noise):
    noise.set_output(0, "white", -6.0)
    for i in (-1, 4, 100, 2 ** 31 - 1, -2 ** 31):
        noise.set_output(i, "pink", 0.0)
        noisesource.set_output(noise.capsule, i, 2, 0.0)
    y = capture(noise, 48000)
    assert not y[1:].any()
    assert np.sqrt(np.mean(y[0].astype(np.float64) ** 2)) == pytest.approx(np.sqrt(0.5) * 10 ** -0.3, rel=0.03)


def test_refused_levels_keep_the_setting(noise):
    noise.set_output(0, "white", -20.0)
    for bad in (float("nan"), float("inf"), 701.0, 1e300):
        with pytest.raises(ValueError):
            noise.set_output(0, "pink", bad)
        with pytest.raises(ValueError):
            noisesource.set_output(noise.capsule, 0, 2, bad)
    assert noise.settings(0) == (1, -20.0)
    y = capture(noise, 48000)[0].astype(np.float64)
    assert np.sqrt(np.mean(y ** 2)) == pytest.approx(0.1 * np.sqrt(0.5), rel=0.03)
    # -inf dB is silence, +700 dB the loudest level, and finite.
    noise.set_output(0, "pink", -np.inf)
    assert not capture(noise, 2000)[0].any()
    noise.set_output(0, "pink", 700.0)
    y = capture(noise, 20000)[0]
    assert np.all(np.isfinite(y)) and np.abs(y).max() > 1e30


@pytest.mark.parametrize("n, ports", [(150, 100), (0, 0), (-5, 0), (1, 1)])
def test_output_count_clamped(server, n, ports):
    with vesk.NoiseSource(n, name="clamp", server=server.name) as s:
        assert s.state == vesk.State.PROCESS
        assert s.nout == ports
        assert len(s.outputs) == ports
        for i in range(ports):
            assert s.port_operation(vesk._tool.PORT_DISCALL_OUT, i) == 0
        assert s.port_operation(vesk._tool.PORT_DISCALL_OUT, ports) == -1
        assert s.port_operation(vesk._tool.PORT_DISCALL_INP, 0) == -1


def test_module_frame():
    assert noisesource.makecaps.__doc__ == "Create object capsules."
    assert noisesource.set_output.__doc__ == "Set noise type and level."
    with pytest.raises(ValueError):          # not a "Jnoise" capsule
        noisesource.set_output(None, 0, 1, 0.0)
    with pytest.raises(TypeError):
        noisesource.set_output(None, 0, 1)
    with pytest.raises(TypeError):
        noisesource.makecaps(None, "x", None)


def test_without_server():
    caps, client = noisesource.makecaps(None, "x", "vesk-no-such-server", 2)
    assert clientops.get_state(client) == -1
    assert noisesource.set_output(caps, 0, 1, 0.0) is None


def test_create_and_destroy_loop(server):
    for k in range(20):
        with vesk.NoiseSource(8, name="loop", server=server.name) as n:
            n.set_output(k % 8, 1 + k % 2, -10.0)
            assert n.state == vesk.State.PROCESS
