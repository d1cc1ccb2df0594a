"""Level meter through JACK: calibration, DC rejection, peak hold and fall,
read semantics, channel clamping, array checks and array lifetime."""

import gc
import time
import weakref

import numpy as np
import pytest

import vesk
from vesk import levelmeter
from harness import private_server, push, push_while


def sine(rate, f, amp, n):
    return (amp * np.sin(2 * np.pi * f * np.arange(n) / rate)).astype(np.float32)


@pytest.fixture(scope="module")
def server48k1024():
    """48 kHz with periods of 1024 frames, for the hold and fall check."""
    with private_server(rate=48000, period=1024) as s:
        yield s


@pytest.fixture
def meter(server):
    with vesk.LevelMeter(2, name="level", server=server.name) as m:
        yield m


def test_full_scale_sine_reads_one(meter, server):
    got = []
    x = np.stack([sine(server.rate, 1000, 1.0, 2 * server.rate), sine(server.rate, 3000, 0.25, 2 * server.rate)])
    push_while(meter, x, lambda: got.extend([meter.read(), meter.read_db()]), at=1.4, before=got.clear)
    rms, peak = got[0]
    np.testing.assert_allclose(rms, [1.0, 0.25], rtol=0.01)
    np.testing.assert_allclose(peak, [1.0, 0.25], rtol=0.01)
    rms_db, peak_db = got[1]
    np.testing.assert_allclose(rms_db, [0.0, -12.04], atol=0.1)
    np.testing.assert_allclose(peak_db, [0.0, -12.04], atol=0.1)


def test_rms_keeps_its_maximum_until_read(meter, server):
    """Without reads the largest RMS since the last read is kept, even
    after the signal has stopped; the next read starts again from the current level."""
    meter.read()
    push(meter, np.stack([sine(server.rate, 500, 0.5, server.rate)] * 2))
    time.sleep(0.3)
    rms, _ = meter.read()
    np.testing.assert_allclose(rms, 0.5, rtol=0.01)
    time.sleep(1.0)
    # The maximum since the last read includes the period right after it ...
    rms, _ = meter.read()
    assert np.all(rms < 0.3)
    time.sleep(0.05)
    # ... and now it is the decayed level.
    rms, _ = meter.read()
    assert np.all(rms < 0.05)


def test_dc_step_decays(meter, server):
    got = []

    def action():
        meter.read()
        time.sleep(0.05)
        got.append(meter.read())

    x = np.full((2, 3 * server.rate), 0.5, np.float32)
    push_while(meter, x, action, at=2.5, before=got.clear)
    rms, peak = got[0]
    # The 5 Hz DC filter removes the step; the peak has fallen 15 dB/s since the hold.
    assert np.all(rms < 0.01)
    assert np.all(peak < 0.5 * 10 ** (-15 * 1.5 / 20))
    assert np.all(peak > 0)


@pytest.mark.parametrize("srv, period", [("server", 256), ("server48k1024", 1024)])
def test_peak_holds_then_falls_15_db_per_second(request, srv, period):
    s = request.getfixturevalue(srv)
    assert (s.rate, s.period) == (48000, period)
    t = period / s.rate
    hold = int(0.5 / t + 0.5)
    fall = 10 ** (-0.05 * 15 * t)
    with vesk.LevelMeter(1, name="hold", server=s.name) as m:
        # One period of 1 kHz at amplitude 0.8 (the data starts on a period
        # boundary), then silence.
        x = np.zeros(int(2.0 * s.rate), np.float32)
        x[:period] = sine(s.rate, 1000, 0.8, period)
        trace = []

        def poll():
            trace.clear()                 # a repeated run (after an xrun) starts afresh
            end = time.monotonic() + 1.4
            while time.monotonic() < end:
                trace.append((time.monotonic(), m.read()[1][0]))
                time.sleep(0.0005)

        push_while(m, x, poll, at=0.0)
    times = np.array([p[0] for p in trace])
    peaks = np.array([p[1] for p in trace], np.float64)
    top = peaks.max()
    assert top == pytest.approx(0.8, abs=0.005)
    first_top = times[np.argmax(peaks == top)]
    first_fall = times[np.argmax((peaks < top) & (times > first_top))]
    # Held for `hold` periods after the period of the burst.
    assert first_fall - first_top == pytest.approx(hold * t, abs=max(2 * t, 0.025))
    # Then every period multiplies by the fall factor: 15 dB per second. A
    # poll may miss a period under load: successive readings then differ by
    # a whole power of the factor.
    values = [v for v in dict.fromkeys(peaks[times >= first_fall]) if v < top]
    assert len(values) > 10
    powers = np.log(np.array(values[1:]) / np.array(values[:-1])) / np.log(fall)
    assert np.all(powers > 0.5)
    np.testing.assert_allclose(powers, np.round(powers), atol=2e-3)
    # And in real time, too.
    k = times >= first_fall
    slope = np.polyfit(times[k], 20 * np.log10(peaks[k]), 1)[0]
    assert slope == pytest.approx(-15.0, rel=0.1)


def test_two_reads_within_a_period_agree(server1024):
    """Back-to-back reads (microseconds apart, within one 23 ms period)
    return the same RMS, while the level changes from period to period."""
    s = server1024
    with vesk.LevelMeter(1, name="twice", server=s.name) as m:
        n = 3 * s.rate
        x = sine(s.rate, 1000, 1.0, n) * np.linspace(0.05, 1.0, n, dtype=np.float32)
        pairs = []

        def action():
            for _ in range(20):
                a = m.read()[0][0]
                b = m.read()[0][0]
                pairs.append((a, b))
                time.sleep(0.06)

        push_while(m, x, action, at=0.5, before=pairs.clear)
    same = sum(a == b for a, b in pairs)
    assert same >= len(pairs) - 2            # a period boundary may fall between two reads
    firsts = [a for a, _ in pairs]
    assert len(set(firsts)) == len(firsts)   # the level did change between the pairs


@pytest.mark.parametrize("n, ports", [(150, 100), (100, 100), (1, 1), (0, 0)])
def test_channel_count(server, n, ports):
    rms = np.full(n, -1.0, np.float32)
    peak = np.full(n, -1.0, np.float32)
    caps, client = levelmeter.makecaps(None, "count", server.name, n, rms, peak)
    from vesk import clientops
    assert levelmeter.get_levels(caps) == vesk.State.PROCESS
    name = clientops.get_jack_info(client)[0]
    for i in range(ports):
        assert clientops.port_operation(client, vesk.PortOp.DISCALL_INP, i, None) == 0
    assert clientops.port_operation(client, vesk.PortOp.DISCALL_INP, ports, None) == -1
    time.sleep(0.05)
    levelmeter.get_levels(caps)
    assert np.all(rms[:ports] >= 0) and np.all(peak[:ports] >= 0)
    assert np.all(rms[ports:] == -1) and np.all(peak[ports:] == -1)
    del caps, client
    with vesk.LevelMeter(n, name="count", server=server.name) as m:
        assert m.nchan == ports and len(m.inputs) == ports
        assert [len(a) for a in m.read()] == [ports, ports]


@pytest.mark.parametrize("make, exc, msg", [
    (lambda: np.zeros(3, np.float32), ValueError, "Array must have 4 elements"),
    (lambda: np.zeros((2, 2), np.float32), TypeError, "Array must be single dimension"),
    (lambda: np.zeros(4, np.float64), TypeError, "Data type must be float32"),
    (lambda: np.zeros(4, np.int32), TypeError, "Data type must be float32"),
    (lambda: np.zeros(8, np.float32)[::2], ValueError, "contiguous"),
    (lambda: [0.0] * 4, TypeError, None),
    (lambda: np.zeros(4, np.float32).view(np.float32)[::-1], ValueError, "contiguous"),
])
@pytest.mark.parametrize("which", [0, 1])
def test_array_checks(server, make, exc, msg, which):
    arrays = [np.zeros(4, np.float32), np.zeros(4, np.float32)]
    arrays[which] = make()
    with pytest.raises(exc) as e:
        levelmeter.makecaps(None, "bad", server.name, 4, *arrays)
    if msg:
        assert msg in str(e.value)
    if which == 1:
        # The view of the first array was given back: it can be resized again.
        arrays[0].resize(8, refcheck=False)


def test_read_only_array_refused(server):
    a = np.zeros(2, np.float32)
    a.flags.writeable = False
    with pytest.raises((BufferError, ValueError)):
        levelmeter.makecaps(None, "ro", server.name, 2, a, np.zeros(2, np.float32))
    with pytest.raises(ValueError):
        levelmeter.makecaps(None, "neg", server.name, -1, np.zeros(0, np.float32), np.zeros(0, np.float32))


def test_dropped_arrays_stay_alive(server):
    """The meter keeps its arrays alive: dropping them in Python neither
    frees them nor lets get_levels write into freed memory."""
    rms = np.zeros(3, np.float32)
    peak = np.zeros(3, np.float32)
    refs = [weakref.ref(rms), weakref.ref(peak)]
    caps, client = levelmeter.makecaps(None, "alive", server.name, 3, rms, peak)
    with pytest.raises((ValueError, BufferError)):
        rms.resize(1000, refcheck=False)       # exported: cannot move
    del rms, peak
    gc.collect()
    junk = [np.ones(3, np.float32) for _ in range(1000)]   # reuse freed memory, if any
    for _ in range(200):
        assert levelmeter.get_levels(caps) == vesk.State.PROCESS
    assert all(r() is not None for r in refs)
    assert all(np.all(r() >= 0) and np.all(r() < 1e-3) for r in refs)
    assert all(np.all(j == 1) for j in junk)
    del caps
    gc.collect()
    assert all(r() is not None for r in refs)          # the client capsule still holds the object
    del client
    gc.collect()
    assert all(r() is None for r in refs)


def test_create_and_destroy_loop(server):
    for i in range(30):
        with vesk.LevelMeter(8, name="loop", server=server.name) as m:
            assert m.state == vesk.State.PROCESS
            m.read()
    with pytest.raises(ValueError):
        m.read()


def test_wrong_capsule(server):
    with vesk.GainControl(1, name="other", server=server.name) as g:
        with pytest.raises(ValueError):
            levelmeter.get_levels(g.capsule)
    with pytest.raises((ValueError, TypeError)):
        levelmeter.get_levels(None)


def test_no_server_gives_failed():
    rms = np.zeros(2, np.float32)
    caps, client = levelmeter.makecaps(None, "none", "vesk-no-such-server-5", 2, rms, np.zeros(2, np.float32))
    assert levelmeter.get_levels(caps) == vesk.State.FAILED
    rms[:] = -1
    levelmeter.get_levels(caps)
    assert np.all(rms == -1)


def test_docs():
    assert levelmeter.makecaps.__doc__ == "Create object capsules."
    assert levelmeter.get_levels.__doc__ == "Get current state and levels."
