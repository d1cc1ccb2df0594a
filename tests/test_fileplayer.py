"""File player through JACK: files at the server's rate come out bit for bit,
others are converted and counted in file frames; the state table, locate
while playing, the end of the file, the gain ramp's period counts, refusals
of files it cannot play, a server that goes away, loops of open and close."""

import time

import numpy as np
import pytest
import soundfile as sf

import vesk
from vesk import fileplayer, clientops
from vesk._tool import State

PASSIVE, PROCESS, STOPWAIT, PLAYING, PLAYWAIT, ENDFILE = 2, 10, 11, 12, 13, 14


def write(path, data, rate, subtype="FLOAT"):
    data = np.asarray(data, np.float32)
    sf.write(str(path), data.T if data.ndim == 2 else data, rate, subtype=subtype)
    return str(path)


def noise(nchan, n, seed=1):
    """Frames with no zero sample, so that the first one is easy to find."""
    x = np.random.default_rng(seed).uniform(0.05, 0.9, (nchan, n))
    return (x * np.where(np.arange(n) % 3, 1, -1)).astype(np.float32)


def wait_state(caps, states, timeout=10.0):
    t = time.monotonic() + timeout
    while fileplayer.get_posit(caps)[0] not in states:
        assert time.monotonic() < t, f"state {fileplayer.get_posit(caps)} not in {states}"
        time.sleep(0.002)
    return fileplayer.get_posit(caps)


def record(player, recorder, n, action):
    """Record n frames of every player output while action() runs."""
    recorder.record([n] * recorder.ninp)
    recorder.start()
    action()
    return np.array(recorder.wait(timeout=60))


@pytest.fixture
def rig(server):
    """A 2-output player wired into a 2-input recorder."""
    with vesk.FilePlayer(nout=2, name="fplay", server=server.name) as p, \
         vesk.SignalIO(ninp=2, name="frec", server=server.name) as r:
        for i in range(2):
            p.connect_output(i, f"{r.name}:in_{i}")
        yield p, r


def test_a_new_player(server, tmp_path):
    caps, client = fileplayer.makecaps(None, "fresh", server.name, 3)
    assert clientops.get_state(client) == PASSIVE
    assert fileplayer.get_posit(caps) == (PASSIVE, 0)
    assert fileplayer.get_file_info(caps) == (0, 0, 0)
    # Commands that do not fit PASSIVE are taken and change nothing.
    fileplayer.set_state(caps, PLAYING)
    fileplayer.set_posit(caps, 1000)
    assert fileplayer.get_posit(caps) == (PASSIVE, 0)
    # Without a file the player stops at the end of nothing.
    fileplayer.set_state(caps, PROCESS)
    assert fileplayer.get_posit(caps) == (ENDFILE, 0)
    assert fileplayer.open_file(caps, write(tmp_path / "a.wav", noise(1, 100), 48000)) == 1
    fileplayer.set_state(caps, PASSIVE)
    assert fileplayer.open_file(caps, str(tmp_path / "a.wav")) == 0
    assert fileplayer.get_file_info(caps) == (1, 48000, 100)
    assert fileplayer.set_state.__doc__ == "Set new state."
    assert fileplayer.set_posit.__doc__ == "Locate to new postition."


@pytest.mark.parametrize("nchan", [1, 2, 3])
def test_own_rate_is_bit_identical(rig, tmp_path, nchan):
    """Channel i of the file on output i; outputs beyond the file are silent."""
    p, r = rig
    x = noise(nchan, 30000)
    p.open(write(tmp_path / "x.wav", x, 48000))
    assert p.file_info == (nchan, 48000, 30000)
    got = record(p, r, 40000, p.play)
    assert p.posit == (State.ENDFILE, 30000)
    k = np.flatnonzero(got[0])[0]
    for i in range(2):
        if i < nchan:
            assert np.array_equal(got[i, k:k + 30000], x[i])
        else:
            assert not got[i].any()
    assert not got[:, :k].any() and not got[:, k + 30000:].any()


def test_other_rate_is_converted(rig, tmp_path):
    """A 1 kHz tone at 44.1 kHz comes out as a 1 kHz tone at 48 kHz; the
    position counts file frames."""
    p, r = rig
    n = 44100 * 2
    t = np.arange(n) / 44100
    x = np.stack([0.5 * np.sin(2 * np.pi * 1000 * t), 0.25 * np.cos(2 * np.pi * 3000 * t)])
    p.open(write(tmp_path / "t.wav", x, 44100))
    assert p.file_info == (2, 44100, n)
    got = record(p, r, 48000 * 2 + 12000, p.play)
    assert p.posit == (State.ENDFILE, n)
    # The converter's rounding leaves traces of 1e-17 or so around the
    # signal: its start and end are found above a threshold.
    audible = np.flatnonzero(np.abs(got[0]) > 1e-6)
    k = audible[0]
    for ch, (f, a) in enumerate([(1000, 0.5), (3000, 0.25)]):
        y = got[ch, k + 2000:k + 94000].astype(np.float64)
        m = np.arange(len(y)) / 48000
        A = np.stack([np.sin(2 * np.pi * f * m), np.cos(2 * np.pi * f * m)], 1)
        c, *_ = np.linalg.lstsq(A, y, rcond=None)
        resid = y - A @ c
        assert abs(np.hypot(*c) - a) < 1e-5 * a
        assert 20 * np.log10(np.std(resid) / (a / np.sqrt(2))) < -120
    # 96000 output frames for 88200 file frames, plus the filter's reach
    # (144 file frames) at either end.
    span = audible[-1] - k
    assert 96000 < span <= 96000 + 2 * 144 * 48000 / 44100 + 2


def test_stop_locate_and_end_of_file(rig, tmp_path, server):
    p, r = rig
    n = 48000 * 8
    p.open(write(tmp_path / "long.wav", noise(2, n), 48000))
    caps = p.capsule
    s, pos = wait_state(caps, {PROCESS})
    assert pos == 0
    p.play()
    s, pos = wait_state(caps, {PLAYING})
    time.sleep(0.2)
    p.stop()
    s, pos = p.posit
    assert s == State.PROCESS and 0 < pos < n
    time.sleep(0.1)
    assert p.position == pos
    # Locating while playing waits for the reader, then plays on from there.
    p.play()
    wait_state(caps, {PLAYING})
    p.seek(n - 48000 * 2)
    assert p.state in (State.PLAYWAIT, State.PLAYING)
    s, pos = wait_state(caps, {PLAYING})
    assert n - 48000 * 2 <= pos < n - 48000
    # Locating while stopped goes through STOPWAIT to PROCESS.
    p.stop()
    p.seek(n - 5000)
    wait_state(caps, {PROCESS})
    assert p.position == n - 5000
    # The last 5000 frames, then ENDFILE and silence; PLAYING changes
    # nothing there until a locate.
    x = sf.read(str(tmp_path / "long.wav"), dtype="float32")[0].T
    got = record(p, r, 24000, p.play)
    s, pos = wait_state(caps, {ENDFILE})
    assert pos == n
    k = np.flatnonzero(got[0])[0]
    assert np.array_equal(got[:, k:k + 5000], x[:, n - 5000:])
    assert not got[:, k + 5000:].any()
    p.set_state(State.PLAYING)
    assert p.posit == (State.ENDFILE, n)
    p.seek(n + 100)
    assert p.state in (State.STOPWAIT, State.ENDFILE)
    p.seek(0)
    assert wait_state(caps, {PROCESS}) == (PROCESS, 0)
    # Files are opened and closed only in PASSIVE.
    assert fileplayer.open_file(caps, str(tmp_path / "long.wav")) == 1
    assert fileplayer.close_file(caps) == 1
    p.set_state(State.PASSIVE)
    assert fileplayer.close_file(caps) == 0
    assert p.file_info == (0, 0, 0) and p.position == 0


def ramp_periods(rec, period):
    """Number of periods whose samples are not all equal (the ramp's periods)."""
    v = rec[: len(rec) // period * period].reshape(-1, period)
    return int(np.count_nonzero(v.max(1) != v.min(1)))


@pytest.mark.parametrize("start, target, ramp, periods", [
    (0.0, -200.0, 0.0, 1),      # ceil (48000 * 0.001 / 256)
    (0.0, -6.0, 1.0, 188),      # ceil (48000 * 1.001 / 256)
    (-6.0, -6.05, 1.0, 1),      # under 0.1 dB: one period whatever the time
])
def test_gain_ramp_periods(rig, tmp_path, server, start, target, ramp, periods):
    p, r = rig
    p.open(write(tmp_path / "dc.wav", np.full(48000 * 5, 0.5), 48000))
    p.set_gain(start, 0)
    p.play()
    wait_state(p.capsule, {PLAYING})
    time.sleep(0.05)
    got = record(p, r, 48000 * 2, lambda: (time.sleep(0.2), p.set_gain(target, ramp)))[0]
    assert ramp_periods(got, server.period) == periods
    assert got[0] == np.float32(0.5 * 10 ** (start / 20))
    want = 0 if target <= -150 else 0.5 * 10 ** (target / 20)
    assert got[-1] == pytest.approx(want, rel=1e-5, abs=0)
    # In amplitude the ramp is a straight line within each period.
    changing = np.flatnonzero(np.diff(got))
    if periods == 188:
        seg = got[changing[0] + 1:changing[0] + 1 + server.period].astype(np.float64)
        assert np.abs(np.diff(seg, 2)).max() < 1e-6


def test_zero_outputs_still_follow_commands(server, tmp_path):
    with vesk.FilePlayer(nout=0, name="mute", server=server.name) as p:
        assert p.outputs == []
        p.open(write(tmp_path / "m.wav", noise(2, 24000), 48000))
        p.play()
        s, pos = wait_state(p.capsule, {ENDFILE}, timeout=5)
        assert pos == 24000
        p.seek(100)
        assert wait_state(p.capsule, {PROCESS}) == (PROCESS, 100)


def test_files_it_cannot_play(server, tmp_path):
    with vesk.FilePlayer(nout=1, name="picky", server=server.name) as p:
        good = write(tmp_path / "good.wav", noise(1, 1000), 48000)
        cases = [str(tmp_path / "missing.wav"),
                 write(tmp_path / "low.wav", noise(1, 1000), 4000),          # below 4096 Hz
                 write(tmp_path / "high.wav", noise(1, 1000), 400000)]       # beyond the converter
        (tmp_path / "junk.wav").write_bytes(b"RIFF not really")
        cases.append(str(tmp_path / "junk.wav"))
        for bad in cases:
            p.open(good)
            with pytest.raises(OSError):
                p.open(bad)
            assert p.file_info == (0, 0, 0)
            assert p.state == State.PASSIVE
        # 4096 Hz is the lowest rate the reader takes, and the converter serves it.
        assert fileplayer.open_file(p.capsule, write(tmp_path / "r.wav", noise(1, 10), 4096)) == 0
        with pytest.raises(ValueError):
            fileplayer.set_gain(p.capsule, float("nan"), 0)
        with pytest.raises(ValueError):
            fileplayer.set_gain(p.capsule, 0, float("inf"))
        with pytest.raises(TypeError):
            fileplayer.set_posit(p.capsule, "x")
        with pytest.raises(ValueError):
            fileplayer.open_file(p.client, good)     # the "Jclient" capsule


def test_server_gone(own_server, tmp_path):
    """Commands return promptly once the server has shut the client down."""
    p = vesk.FilePlayer(nout=2, name="orphan", server=own_server.name)
    p.open(write(tmp_path / "o.wav", noise(2, 48000), 48000))
    p.play()
    own_server.kill()
    t = time.monotonic()
    while p.state != State.ZOMBIE and time.monotonic() - t < 5:
        time.sleep(0.01)
    t = time.monotonic()
    p.set_state(State.PROCESS)
    fileplayer.set_posit(p.capsule, 0)
    assert time.monotonic() - t < 1.0
    assert fileplayer.open_file(p.capsule, str(tmp_path / "o.wav")) == 1
    p.close()


def test_open_close_and_destroy_loops(server, tmp_path):
    """Files closed right after a locate, players destroyed while reading."""
    f = write(tmp_path / "big.wav", noise(2, 48000 * 20), 44100)
    g = write(tmp_path / "small.wav", noise(1, 1000), 48000)
    with vesk.FilePlayer(nout=2, name="churn", server=server.name) as p:
        for k in range(10):
            p.open(f if k % 2 else g)
            p.seek(k * 37000)
            p.play()
            p.close_file()
            assert p.file_info == (0, 0, 0)
    for k in range(10):
        with vesk.FilePlayer(nout=2, name="churn", server=server.name) as p:
            p.open(f)
            p.play()
            p.seek(k * 50000)
