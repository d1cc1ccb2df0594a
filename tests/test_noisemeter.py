"""Noise meter through JACK: weighted output signals against the standards'
curves, readings, setter return codes, meter counts, unsupported rates,
array checks and array lifetime."""

import gc
import time
import weakref

import numpy as np
import pytest

import vesk
from vesk import noisemeter, clientops, Weighting, Detector
from harness import private_server, push, push_while

# IEC 61672-1 analytic weightings and the ITU-R BS.468-4 table.
F1, F2, F3, F4 = 20.598997, 107.65265, 737.86223, 12194.217


def iec_c(f):
    raw = lambda f: 20 * np.log10(F4 ** 2 * f ** 2 / ((f ** 2 + F1 ** 2) * (f ** 2 + F4 ** 2)))
    return raw(f) - raw(1000.0)


def iec_a(f):
    raw = lambda f: 20 * np.log10(F4 ** 2 * f ** 4 / ((f ** 2 + F1 ** 2) * np.sqrt(f ** 2 + F2 ** 2)
                                                      * np.sqrt(f ** 2 + F3 ** 2) * (f ** 2 + F4 ** 2)))
    return raw(f) - raw(1000.0)


ITU468 = {31.5: -29.9, 100: -19.8, 1000: 0.0, 2000: 5.6, 6300: 12.2, 10000: 8.1, 12500: 0.0}


def sine(rate, f, amp, n):
    return (amp * np.sin(2 * np.pi * f * np.arange(n) / rate)).astype(np.float32)


def amplitude(y, rate, f):
    """Amplitude of the sine of frequency f in y, by least squares."""
    t = np.arange(len(y)) / rate
    m = np.stack([np.sin(2 * np.pi * f * t), np.cos(2 * np.pi * f * t)], axis=1)
    c = np.linalg.lstsq(m, y.astype(np.float64), rcond=None)[0]
    return float(np.hypot(*c))


@pytest.fixture
def meter(server):
    with vesk.NoiseMeter(4, 3, name="noise", server=server.name) as m:
        yield m


CASES = [(Weighting.A, f, iec_a(f), 0.35) for f in (31.5, 100.0, 1000.0, 4000.0, 16000.0)] \
      + [(Weighting.C, f, iec_c(f), 0.35) for f in (31.5, 1000.0, 8000.0, 16000.0)] \
      + [(Weighting.ITU468, f, db, 0.1) for f, db in ITU468.items()] \
      + [(Weighting.ITU468_2K, f, db - 5.6, 0.1) for f, db in ITU468.items()] \
      + [(Weighting.BW20K, f, 0.0, 0.05) for f in (31.5, 1000.0, 5000.0)] \
      + [(Weighting.NONE, 1000.0, 0.0, 1e-6)]


@pytest.mark.parametrize("weighting, f, want_db, tol", CASES)
def test_output_carries_the_weighted_signal(meter, server, weighting, f, want_db, tol):
    rate = server.rate
    meter.set_filter(weighting, 1)
    meter.set_input(2, 1)
    n = rate // 2
    x = np.zeros((4, n), np.float32)
    x[2] = sine(rate, f, 0.1, n)
    y = push(meter, x)[1]
    got = 20 * np.log10(amplitude(y[n // 2:], rate, f) / 0.1)
    assert got == pytest.approx(want_db, abs=tol)


@pytest.mark.parametrize("weighting, detector, want", [
    (Weighting.BW20K, Detector.RMS, 1.0),
    (Weighting.ITU468_2K, Detector.RMS, 0.52),
    (Weighting.ITU468, Detector.ITU468, 1.0),
    (Weighting.A, Detector.VU, 1.0),
    (Weighting.C, Detector.RMS_SLOW, 1.0),
    (Weighting.NONE, Detector.NONE, 0.0),
])
def test_sine_readings(meter, server, weighting, detector, want):
    meter.set_filter(weighting, dc=True)
    meter.set_detect(detector)
    got = []
    x = np.zeros((4, 5 * server.rate), np.float32)
    x[0] = sine(server.rate, 1000, 1.0, x.shape[1])
    push_while(meter, x, lambda: got.extend([meter.read(), meter.read_db()]), at=4.0, before=got.clear)
    np.testing.assert_allclose(got[0], want, atol=0.012)
    if want:
        np.testing.assert_allclose(got[1], 20 * np.log10(want), atol=0.12)


def test_meters_follow_their_inputs(server):
    """2 inputs and 6 meters: each meter reads the input it was given, and
    all 6 readings are filled."""
    with vesk.NoiseMeter(2, 6, name="six", server=server.name) as m:
        m.set_detect(Detector.RMS)
        for k in range(6):
            m.set_input(k % 2, k)
        got = []
        x = np.stack([sine(server.rate, 1000, 0.5, 2 * server.rate), sine(server.rate, 500, 0.25, 2 * server.rate)])
        push_while(m, x, lambda: got.append(m.read()), at=1.5, before=got.clear)
        np.testing.assert_allclose(got[0], [0.5, 0.25] * 3, rtol=0.01)
        assert len(m.outputs) == 6


def test_return_codes(server):
    levels = np.full(3, -1.0, np.float32)
    caps, client = noisemeter.makecaps(None, "codes", server.name, 4, 3, levels)
    cases = [
        (noisemeter.set_input, (5, -1), 1),
        (noisemeter.set_input, (4, 0), 1),
        (noisemeter.set_input, (-1, 0), 1),
        (noisemeter.set_input, (0, -2), 1),
        (noisemeter.set_input, (0, 3), 1),
        (noisemeter.set_input, (3, 2), 0),
        (noisemeter.set_input, (1, -1), 0),
        (noisemeter.set_filter, (-1, 7, 0), -1),
        (noisemeter.set_filter, (0, 0, 0), -1),
        (noisemeter.set_filter, (0, 2, 1), 0),
        (noisemeter.set_filter, (-1, 5, 0), 0),
        (noisemeter.set_filter, (3, 1, 0), 1),
        (noisemeter.set_filter, (-2, 1, 0), 1),
        (noisemeter.set_detect, (-1, 0), -1),
        (noisemeter.set_detect, (2, 6), -1),
        (noisemeter.set_detect, (0, 5), 0),
        (noisemeter.set_detect, (-1, 1), 0),
        (noisemeter.set_detect, (3, 1), 1),
        (noisemeter.set_detect, (-5, 1), 1),
    ]
    for fn, args, want in cases:
        assert fn(caps, *args) == want, (fn.__name__, args)
    assert noisemeter.get_levels(caps) == vesk.State.PROCESS
    assert np.all(levels >= 0)


def test_unknown_codes_stop_the_meter(meter, server):
    """set_filter(-1, 7, 0) stores 7 (no weighting) on every meter; detector
    code 0 reads 0."""
    assert noisemeter.set_filter(meter.capsule, -1, 7, 0) == -1
    meter.set_detect(Detector.RMS)
    x = np.zeros((4, server.rate // 2), np.float32)
    x[0] = sine(server.rate, 6300, 0.3, x.shape[1])
    y = push(meter, x)
    assert np.array_equal(y, np.stack([x[0]] * 3))      # unweighted copies of input 0
    assert noisemeter.set_detect(meter.capsule, -1, 0) == -1
    time.sleep(0.05)
    assert np.all(meter.read() == 0)


def test_friendly_refusals(meter):
    for bad in (lambda: meter.set_input(4), lambda: meter.set_input(0, 3), lambda: meter.set_filter(Weighting.A, 3),
                lambda: meter.set_detect(Detector.VU, -2), lambda: meter.set_filter(7), lambda: meter.set_detect(6)):
        with pytest.raises(ValueError):
            bad()
    meter.set_filter(Weighting.NONE)      # no weighting is a valid choice
    meter.set_detect(Detector.NONE)


@pytest.fixture(scope="module")
def server32k():
    with private_server(rate=32000, period=256) as s:
        yield s


def test_unsupported_rate_leaves_the_meter_idle(server32k):
    levels = np.full(2, -1.0, np.float32)
    caps, client = noisemeter.makecaps(None, "r32k", server32k.name, 1, 2, levels)
    assert clientops.get_state(client) == vesk.State.INITIAL
    assert noisemeter.get_levels(caps) == 0
    assert noisemeter.set_input(caps, 0, 0) == 1
    assert noisemeter.set_filter(caps, -1, 1, 0) == 1
    assert noisemeter.set_detect(caps, -1, 1) == 1
    assert np.all(levels == 0)
    del caps, client
    with vesk.NoiseMeter(1, 2, name="r32k", server=server32k.name) as m:
        assert m.state == vesk.State.INITIAL
        with pytest.raises(vesk.JackError):
            m.set_detect(Detector.RMS)
        assert np.all(m.read() == 0)


def test_meter_count_zero_writes_nothing(server):
    """A meter count of 0 takes an empty array and makes one meter, whose
    reading is never written: the empty array here views the start of a
    larger one, which must stay untouched."""
    big = np.full(4, -1.0, np.float32)
    caps, client = noisemeter.makecaps(None, "zero", server.name, 1, 0, big[:0])
    assert noisemeter.get_levels(caps) == vesk.State.PROCESS
    name = clientops.get_jack_info(client)[0]
    assert noisemeter.set_detect(caps, 0, 1) == 0
    assert noisemeter.set_detect(caps, 1, 1) == 1
    tool = type("T", (), dict(server=server.name, inputs=[f"{name}:in_0"], outputs=[f"{name}:out_0"]))()
    got = []
    push_while(tool, np.ones((1, server.rate), np.float32), lambda: got.append(noisemeter.get_levels(caps)), at=0.3, before=got.clear)
    assert got == [vesk.State.PROCESS]
    assert np.all(big == -1)


@pytest.mark.parametrize("n, meters", [(150, 100), (100, 100), (1, 1)])
def test_meter_count_clamped(server, n, meters):
    levels = np.full(n, -1.0, np.float32)
    caps, client = noisemeter.makecaps(None, "many", server.name, 300, n, levels)
    assert noisemeter.get_levels(caps) == vesk.State.PROCESS
    assert np.all(levels[:meters] == 0) and np.all(levels[meters:] == -1)
    assert noisemeter.set_input(caps, 99, meters - 1) == 0
    assert noisemeter.set_input(caps, 100, 0) == 1
    assert noisemeter.set_detect(caps, meters, 1) == 1
    assert clientops.port_operation(client, vesk.PortOp.DISCALL_OUT, meters - 1, None) == 0
    assert clientops.port_operation(client, vesk.PortOp.DISCALL_OUT, meters, None) == -1


@pytest.mark.parametrize("make, exc, msg", [
    (lambda: np.zeros(2, np.float32), ValueError, "Array must have 3 elements"),
    (lambda: np.zeros((3, 1), np.float32), TypeError, "Array must be single dimension"),
    (lambda: np.zeros(3, np.float64), TypeError, "Data type must be float32"),
    (lambda: np.zeros(6, np.float32)[::2], ValueError, "contiguous"),
    (lambda: "abc", TypeError, None),
])
def test_array_checks(server, make, exc, msg):
    with pytest.raises(exc) as e:
        noisemeter.makecaps(None, "bad", server.name, 1, 3, make())
    if msg:
        assert msg in str(e.value)


def test_dropped_array_stays_alive(server):
    levels = np.zeros(2, np.float32)
    ref = weakref.ref(levels)
    caps, client = noisemeter.makecaps(None, "alive", server.name, 1, 2, levels)
    noisemeter.set_detect(caps, -1, 3)
    del levels
    gc.collect()
    junk = [np.ones(2, np.float32) for _ in range(1000)]
    for _ in range(200):
        assert noisemeter.get_levels(caps) == vesk.State.PROCESS
    assert ref() is not None and np.all(ref() >= 0)
    assert all(np.all(j == 1) for j in junk)
    del caps, client
    gc.collect()
    assert ref() is None


def test_missing_ports_measure_silence(meter, server):
    """Ports deleted through the client operations: the meter keeps running."""
    meter.set_filter(Weighting.ITU468)
    meter.set_detect(Detector.ITU468)
    assert meter.port_operation(vesk.PortOp.DELETE_INP, 0) == 0
    assert meter.port_operation(vesk.PortOp.DELETE_OUT, 1) == 0
    time.sleep(0.1)
    assert meter.state == vesk.State.PROCESS
    assert np.all(meter.read() < 1e-6)


def test_create_and_destroy_loop(server):
    for i in range(30):
        with vesk.NoiseMeter(2, 4, name="loop", server=server.name) as m:
            m.set_filter(Weighting.A)
            m.set_detect(Detector.VU)
            m.read()


def test_docs():
    docs = dict(makecaps="Create object capsules.", set_input="Select input.", set_filter="Select filter type.",
                set_detect="Select detector type.", get_levels="Get current state and levels.")
    for fn, doc in docs.items():
        assert getattr(noisemeter, fn).__doc__ == doc


def test_no_server_gives_failed():
    levels = np.full(2, -1.0, np.float32)
    caps, client = noisemeter.makecaps(None, "none", "vesk-no-such-server-5", 1, 2, levels)
    assert noisemeter.get_levels(caps) == vesk.State.FAILED
    assert noisemeter.set_input(caps, 0, 0) == 1
    assert noisemeter.set_filter(caps, 0, 1, 0) == 1
    assert noisemeter.set_detect(caps, -1, 1) == 1
    assert np.all(levels == -1)
    with pytest.raises(ValueError):
        noisemeter.get_levels(client)          # the "Jclient" capsule is not a noise meter
