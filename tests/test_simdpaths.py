"""Every multichannel tool with its channels side by side in vector lanes
(AVX2, AVX-512) against the plain code, through JACK: VESK_SIMD, read when a
tool is built, forces the narrower paths (and never widens past what the
processor has). Channel counts that do and do not fill whole vectors; the
plain code is what every level must reproduce: bit for bit for the filters
and meters, within 1e-6 of each channel's peak for the equaliser and the
limiter, whose wider paths fuse their multiply-adds."""

import numpy as np
import pytest

import vesk
from harness import push

LEVELS = ("avx2", "avx512")


def noise(nch, n=6000, seed=5):
    rng = np.random.default_rng(seed + nch)
    x = rng.normal(0, 0.3, (nch, n))
    x[:, 2000:3000] *= 8            # a loud stretch for the limiter
    return x.astype(np.float32)


def equaliser(nch, server):
    t = vesk.Equaliser(nch, "L12H3", name="eq", server=server)
    for i, (f, g, s) in enumerate([(80, 6, 0.5), (300, -9, 1), (1000, 12, 2), (9000, -6, 0.5), (4000, 3, 0.3)]):
        t.set_filter(i, f, g, s)
    t.gain = -4.0
    return t


def crossover(nch, server):
    t = vesk.Crossover(nch, nch, name="xo", server=server)
    for o in range(nch):
        kind = o % 3
        t.set_filter(o, (o * 5) % nch, highpass=0.0 if kind == 1 else 50.0 + 20 * o,
                     lowpass=0.0 if kind == 0 else 8000.0 - 100 * o, hp_shape=-6.0 + 0.1 * o)
        t.set_gain(o, 0.5 + 0.05 * o)
    return t


def butterworth(nch, server):
    t = vesk.ButterworthFilter(nch, nch, name="bw", server=server)
    for o in range(nch):
        kind = o % 3
        t.set_filter(o, o, highpass=0.0 if kind == 1 else 40.0 + 30 * o,
                     lowpass=0.0 if kind == 0 else 12000.0 - 200 * o)
    return t


def bandfilter(nch, server):
    t = vesk.BandFilter(nch, nch, name="bands", server=server)
    for o in range(nch):
        if o % 7 != 6:
            t.set_filter(o, o, 1 if o % 2 else 3, o % 10 if o % 2 else (3 * o) % 31)
    return t


def noisemeter(nch, server):
    t = vesk.NoiseMeter(nch, nch, name="nm", server=server)
    for m in range(nch):
        t.set_input(m, m)
        t.set_filter(vesk.Weighting(m % 6), meter=m, dc=bool(m % 2))
        t.set_detect(vesk.Detector((m // 2) % 6), meter=m)
    return t


def limiter(nch, server):
    t = vesk.PeakLimiter(nch, name="lim", server=server)
    t.inpgain = 12.0
    t.threshold = -6.0
    t.release = 0.02
    return t


TOOLS = [(equaliser, False), (crossover, True), (butterworth, True), (bandfilter, True),
         (noisemeter, True), (limiter, False)]


def run(make, nch, server, level, monkeypatch):
    if level is None:
        monkeypatch.delenv("VESK_SIMD", raising=False)
    else:
        monkeypatch.setenv("VESK_SIMD", level)
    with make(nch, server.name) as t:
        return push(t, noise(nch))


@pytest.mark.parametrize("nch", [3, 17])
@pytest.mark.parametrize("make,exact", TOOLS, ids=[m.__name__ for m, _ in TOOLS])
def test_lanes_match_plain_code(server, monkeypatch, make, exact, nch):
    ref = run(make, nch, server, "scalar", monkeypatch)
    assert np.abs(ref).max() > 1e-3
    for level in LEVELS:
        y = run(make, nch, server, level, monkeypatch)
        if exact:
            np.testing.assert_array_equal(y, ref, err_msg=level)
        else:
            tol = 1e-6 * np.abs(ref).max(axis=1, keepdims=True)
            assert np.all(np.abs(y - ref) <= tol), level
