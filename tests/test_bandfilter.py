"""IEC band filters through JACK: silence at creation, every band of both
systems at all five rates against its record's transfer function, the 1 kHz
figures, ignored settings, unsupported rates."""

import numpy as np
import pytest

import vesk
from vesk import bandfilter
from vesk.filters import OCTAVE, THIRD_OCTAVE, band_centres
from harness import push
from filterref import settle, impulse_responses, bins, spectrum_db, assert_response


def all_bands(bf):
    for k in range(10):
        bf.set_filter(k, 0, OCTAVE, k)
    for k in range(31):
        bf.set_filter(10 + k, 0, THIRD_OCTAVE, k)


def check_all_bands(bf, rate, n):
    all_bands(bf)
    settle()
    y = impulse_responses(bf, n=n)
    k, f = bins(rate, n=n, count=400)
    for out in range(41):
        assert_response(spectrum_db(y[out], k), bf.response(out, f)[1], what=f"{rate} Hz output {out}")
        sysband = bf.band(out)
        fc = band_centres(sysband[0])[sysband[1]]
        kc = int(round(fc * n / rate))
        # Close to 0 dB at the bin nearest the centre (the bin is up to 1.5 Hz off).
        assert abs(spectrum_db(y[out], np.array([kc]))[0]) < 0.2


def test_fresh_object_is_silent(server):
    with vesk.BandFilter(2, 3, name="bffresh", server=server.name) as bf:
        assert bf.state == vesk.State.PROCESS
        x = np.random.default_rng(1).uniform(-1, 1, (2, 3000)).astype(np.float32)
        assert not push(bf, x).any()


def test_every_band_at_48k(server):
    with vesk.BandFilter(1, 41, name="bf48", server=server.name) as bf:
        check_all_bands(bf, 48000, 1 << 17)


def test_every_band_at_44k1(server1024):
    with vesk.BandFilter(1, 41, name="bf44", server=server1024.name) as bf:
        check_all_bands(bf, 44100, 1 << 17)


@pytest.mark.parametrize("rate, n", [(88200, 1 << 18), (96000, 1 << 18), (192000, 1 << 19)])
def test_every_band_at_high_rates(server_private, rate, n):
    with server_private(rate=rate, period=1024) as s:
        with vesk.BandFilter(1, 41, name="bfhigh", server=s.name) as bf:
            assert bf.state == vesk.State.PROCESS
            check_all_bands(bf, rate, n)


def test_one_kilohertz_sine(server):
    with vesk.BandFilter(1, 2, name="bfsine", server=server.name) as bf:
        bf.set_filter(0, 0, OCTAVE, 5)
        bf.set_filter(1, 0, OCTAVE, 4)
        settle()
        t = np.arange(48000) / 48000.0
        y = push(bf, np.sin(2 * np.pi * 1000 * t).astype(np.float32))
        peak = 20 * np.log10(np.abs(y[:, 24000:]).max(axis=1))
        assert peak[0] == pytest.approx(0.0, abs=0.01)
        assert peak[1] == pytest.approx(-22.9, abs=0.3)


def test_ignored_settings_and_off(server):
    with vesk.BandFilter(2, 2, name="bfbad", server=server.name) as bf:
        bf.set_filter(0, 1, OCTAVE, 5)
        bf.set_filter(1, 0, THIRD_OCTAVE, 17)
        settle()
        x = np.random.default_rng(3).uniform(-1, 1, (2, 4000)).astype(np.float32)
        y0 = push(bf, x)
        for out, inp, system, band in [(0, 0, OCTAVE, 10), (0, 0, THIRD_OCTAVE, 31), (0, 0, 2, 3),
                                       (0, 0, OCTAVE, -1), (0, 2, OCTAVE, 3), (2, 0, OCTAVE, 3), (-1, 0, 1, 3)]:
            bandfilter.set_filter(bf.capsule, inp, out, system, band)
        settle()
        np.testing.assert_allclose(push(bf, x), y0, atol=1e-6)
        bf.off(0)
        settle()
        y = push(bf, x)
        assert not y[0].any()
        assert bf.band(0) is None
        np.testing.assert_allclose(y[1], y0[1], atol=1e-6)


def test_unsupported_rate_fails(server_private):
    with server_private(rate=32000, period=256) as s:
        with vesk.BandFilter(1, 1, name="bf32", server=s.name) as bf:
            assert bf.state == vesk.State.FAILED
            bf.set_filter(0, 0, OCTAVE, 5)          # harmless


def test_response_of_silent_output_and_rates(server):
    with vesk.BandFilter(1, 1, name="bfresp", server=server.name) as bf:
        f, db = bf.response(0)
        assert np.all(db == -np.inf)
        bf.set_filter(0, 0, THIRD_OCTAVE, 17)
        f, db = bf.response(0, [1000.0])
        assert abs(db[0]) < 1e-4
        with pytest.raises(ValueError):
            bf.response(0, rate=32000)
