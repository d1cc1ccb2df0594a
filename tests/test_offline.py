"""Freewheel player, freewheel capture and render(): files written and read
back with soundfile, frame counts exact, pass-through renders bit-identical."""

import contextlib
import os
import time

import jack
import numpy as np
import pytest
import soundfile as sf

import vesk
from vesk import fastcapture, fastplayback, clientops
from vesk import State


def noise(frames, chan, seed=1, amp=0.5):
    return (amp * np.random.default_rng(seed).uniform(-1, 1, (frames, chan))).astype(np.float32)


def write(path, data, rate, subtype="FLOAT"):
    sf.write(str(path), data, rate, subtype=subtype)
    return str(path)


def wait_until(cond, timeout=20.0, what="condition"):
    deadline = time.monotonic() + timeout
    while not cond():
        assert time.monotonic() < deadline, f"timeout waiting for {what}"
        time.sleep(0.002)


@contextlib.contextmanager
def pair(server, src, dest, nplay, ncap, fchan=None, options=None, start=0, end=None):
    """A player and a capture, loaded and connected channel by channel, not yet started."""
    player = vesk.FastPlayback(nplay, name="t-play", server=server.name)
    capture = vesk.FastCapture(ncap, name="t-capt", server=server.name)
    try:
        player.load_range(src, start, end)
        capture.create(dest, fchan, options)
        with vesk.ServerControl("t-ctl", server.name) as ctl:
            for s, d in zip(player.outputs, capture.inputs):
                ctl.connect(s, d)
            ctl.connect(player.sync, capture.sync)
        yield player, capture
    finally:
        if not player.closed:
            player.freewheel(False)
        capture.close()
        player.close()


def port_names(server, client):
    c = jack.Client("t-ports", servername=server.name, no_start_server=True)
    try:
        return sorted(p.shortname for p in c.get_ports(f"{client}:.*"))
    finally:
        c.close()


# ---------------------------------------------------------------- clients

@pytest.mark.parametrize("nchan, ports", [
    (2, ["_sync", "{}_0", "{}_1"]),
    (0, ["_sync"]),
    (-3, ["_sync"]),
])
def test_ports(server, nchan, ports):
    with vesk.FastPlayback(nchan, name="t-p", server=server.name) as p, \
         vesk.FastCapture(nchan, name="t-c", server=server.name) as c:
        assert p.state == State.PASSIVE and c.state == State.PASSIVE
        assert port_names(server, "t-p") == sorted(x.format("out") for x in ports)
        assert port_names(server, "t-c") == sorted(x.format("in") for x in ports)
        assert fastplayback.fileinfo(p.capsule) == (0, 0)


def _check_failed(pcaps, pclient, ccaps, cclient, tmp_path):
    """What a FAILED player and capture do: nothing, with the documented results."""
    src = write(tmp_path / "a.wav", noise(100, 1), 48000)
    assert clientops.get_state(pclient) == State.FAILED
    assert clientops.get_state(cclient) == State.FAILED
    assert fastplayback.load_file(pcaps, src) == 1
    assert fastplayback.set_range(pcaps, 0, 10) == 0
    assert fastplayback.set_state(pcaps, 1) == 0
    assert fastplayback.set_state(pcaps, 0) == 0
    assert fastplayback.fileinfo(pcaps) == (0, 0)
    assert fastcapture.create_file(ccaps, str(tmp_path / "x.wav"), 2, None) == 1
    assert not os.path.exists(tmp_path / "x.wav")


def test_too_many_channels(server, tmp_path):
    p, c = vesk.FastPlayback(101, server=server.name), vesk.FastCapture(101, server=server.name)
    _check_failed(p.capsule, p.client, c.capsule, c.client, tmp_path)
    p.close()
    c.close()


def test_no_server(tmp_path):
    _check_failed(*fastplayback.makecaps(None, "t-p", "vesk-no-such-server", 2),
                  *fastcapture.makecaps(None, "t-c", "vesk-no-such-server", 2), tmp_path)


def test_argument_errors(server, tmp_path):
    with vesk.FastPlayback(1, server=server.name) as p, vesk.FastCapture(1, server=server.name) as c:
        with pytest.raises(TypeError):
            fastcapture.create_file(c.capsule, None, 1, None)
        with pytest.raises(TypeError):
            fastplayback.set_range(p.capsule, "0", 1)
        with pytest.raises(TypeError):
            fastplayback.makecaps(None, "x", None)
        with pytest.raises((TypeError, ValueError)):
            fastplayback.load_file(c.capsule, None)          # a capture capsule is not a player
        with pytest.raises((TypeError, ValueError)):
            fastcapture.create_file(p.client, "x.wav", 1, None)
        for start, end in [(-1, 10), (10, 9)]:
            assert fastplayback.set_range(p.capsule, start, end) == 1
            with pytest.raises(ValueError):
                p.range = (start, end)
        assert fastplayback.set_range(p.capsule, 5, 5) == 0
        with pytest.raises(ValueError):
            c.create(tmp_path / "x.wav", 1, "wav,mp3")
        with pytest.raises(ValueError):
            c.create(tmp_path / "x.wav", 1025)


# ---------------------------------------------------------------- files

def test_load_file(server, tmp_path):
    src = write(tmp_path / "a.wav", noise(1234, 3), 48000)
    junk = tmp_path / "junk.wav"
    junk.write_bytes(b"RIFF\x10\x00\x00\x00WAVEjunk and more junk")
    with vesk.FastPlayback(2, server=server.name) as p:
        assert fastplayback.load_file(p.capsule, src) == 0
        assert p.fileinfo == (1234, 3)
        assert fastplayback.load_file(p.capsule, None) == 0
        assert p.fileinfo == (0, 0)
        for bad in [str(junk), str(tmp_path), str(tmp_path / "missing.wav"), ""]:
            assert fastplayback.load_file(p.capsule, src) == 0
            assert fastplayback.load_file(p.capsule, bad) == 1
            assert p.fileinfo == (0, 0)          # the previous file is dropped
        with pytest.raises(OSError):
            p.load(junk)


CREATE_CASES = [
    # options, channels, result, (format, subtype) read back
    ("flac,16bit,tri", 2, 0, ("FLAC", "PCM_16")),
    ("16bit,lips,caf", 2, 0, ("CAF", "PCM_16")),
    ("float,rect", 2, 0, ("WAV", "FLOAT")),
    (None, 2, 0, ("WAV", "PCM_24")),
    ("wav,,aiff,32bit,", 1, 0, ("AIFF", "PCM_32")),      # empty pieces skipped, later words win
    ("amb,16bit", 4, 0, ("WAVEX", "PCM_16")),
    ("mp3", 2, 1, None),
    ("WAV", 2, 1, None),
    ("wav,24bit,none,dither", 2, 1, None),
    (None, 1025, 1, None),
    (None, 0, 1, None),
]


@pytest.mark.parametrize("options, nchan, result, fmt", CREATE_CASES)
def test_create_file(server, tmp_path, options, nchan, result, fmt):
    path = str(tmp_path / "c.snd")
    first = str(tmp_path / "first.wav")
    with vesk.FastCapture(2, server=server.name) as c:
        assert fastcapture.create_file(c.capsule, first, 2, None) == 0
        assert fastcapture.create_file(c.capsule, path, nchan, options) == result
        # Every call first drops the previous file: it is complete and empty.
        assert sf.info(first).frames == 0
    if fmt is None:
        assert not os.path.exists(path)
    elif fmt[0] == "FLAC":
        assert os.path.exists(path)       # libsndfile writes a FLAC stream only with its first frames
    else:
        info = sf.info(path)
        assert (info.format, info.subtype, info.channels, info.samplerate, info.frames) == (*fmt, nchan, 48000, 0)


def test_create_file_unwritable(server, tmp_path):
    with vesk.FastCapture(1, server=server.name) as c:
        assert fastcapture.create_file(c.capsule, str(tmp_path / "no" / "dir.wav"), 1, None) == 1
        assert fastcapture.create_file(c.capsule, str(tmp_path), 1, None) == 1
        with pytest.raises(OSError):
            c.create(tmp_path / "no" / "dir.wav")


def _combinations():
    for t in ("caf", "wav", "amb", "aiff", "flac"):
        for f in ("16bit", "24bit", "32bit", "float"):
            if t == "flac" and f in ("32bit", "float"):
                continue
            for d in (("none", "rect", "tri", "lips") if f == "16bit" else ("none",)):
                yield t, f, d


SF_FORMAT = {"caf": "CAF", "wav": "WAV", "amb": "WAV", "aiff": "AIFF", "flac": "FLAC"}
SF_SUBTYPE = {"16bit": "PCM_16", "24bit": "PCM_24", "32bit": "PCM_32", "float": "FLOAT"}


def test_every_combination(server1024, tmp_path):
    """Every type x form x dither of create_file, rendered from a 3-channel
    float file into 1 to 4 file channels, reads back with soundfile."""
    n = 1500
    x = noise(n, 3, amp=0.7)
    src = write(tmp_path / "src.wav", x, 44100)
    for k, (t, f, d) in enumerate(_combinations()):
        chan = 1 + k % 4
        dest = str(tmp_path / f"out_{t}_{f}_{d}_{chan}")
        r = vesk.render(src, dest, options=f"{t},{f},{d}", channels=chan, server=server1024.name)
        info = sf.info(dest)
        fmt = SF_FORMAT[t] + ("EX" if SF_FORMAT[t] == "WAV" and chan >= 3 else "")
        assert (info.format, info.subtype, info.samplerate, info.channels, info.frames) == \
            (fmt, SF_SUBTYPE[f], 44100, chan, n), (t, f, d, chan)
        assert r.frames == n
        y = sf.read(dest, dtype="float32", always_2d=True)[0]
        want = np.zeros((n, chan), np.float32)
        want[:, :min(3, chan)] = x[:, :min(3, chan)]
        tol = {"float": 0, "32bit": 1e-9, "24bit": 2 ** -23, "16bit": 2 ** -15}[f]
        if d in ("rect", "tri"):
            tol = 1.5 * 2 ** -15
        if d == "lips":
            tol = 40 * 2 ** -15
        assert np.max(np.abs(y - want)) <= tol * 1.0001, (t, f, d, chan)


# ---------------------------------------------------------------- rendering

def _markers(sync, period):
    """Marker counts of consecutive periods of a recorded _sync signal (0: none)."""
    raw = sync[: len(sync) // period * period].reshape(-1, period)[:, :2].copy().view(np.uint8)
    ok = (raw[:, 0] == 0x46) & (raw[:, 1] == 0x57) & (raw[:, 2] == 0) & (raw[:, 3] == 1) & \
         (raw[:, 6] == 0) & (raw[:, 7] == 1)
    return np.where(ok, raw[:, 4].astype(int) | (raw[:, 5].astype(int) << 8), 0)


def test_marked_periods(server1024, tmp_path):
    """A range of 2500 frames at period 1024: marked periods of 1024, 1024 and
    452 frames, then none; the file has exactly those frames, bit-identical."""
    P = server1024.period
    x = noise(10000, 2)
    src = write(tmp_path / "src.wav", x, 44100)
    dest = str(tmp_path / "out.wav")
    with pair(server1024, src, dest, 2, 2, options="float", start=3000, end=5500) as (player, capture), \
         vesk.SignalIO(ninp=2, name="t-sio", server=server1024.name) as sio:
        sio.connect_input(0, player.outputs[0])
        sio.connect_input(1, player.sync)
        sio.record([64 * P, 64 * P])
        sio.start()
        player.freewheel(True)
        audio, sync = sio.wait(timeout=30)
        player.freewheel(False)
        wait_until(lambda: player.state == State.PASSIVE and capture.state == State.PASSIVE)
    counts = _markers(sync, P)
    first = int(np.flatnonzero(counts)[0])
    assert list(counts[first:first + 4]) == [1024, 1024, 452, 0]
    assert not counts[first + 3:].any()
    played = audio[first * P:(first + 3) * P]
    assert np.array_equal(played[:2500], x[3000:5500, 0])
    assert not played[2500:].any()
    y = sf.read(dest, dtype="float32")[0]
    assert np.array_equal(y, x[3000:5500])


@pytest.mark.parametrize("start, end, nfile", [
    (0, 2500, 2500),          # whole file
    (2000, 3100, 2500),       # past the end: 500 frames of the file, 600 of silence
    (2500, 4000, 2500),       # starts at the end: all silence, all marked
    (9000, 9100, 2500),       # starts beyond the end
    (700, 700, 2500),         # empty range: nothing at all
])
def test_ranges(server1024, tmp_path, start, end, nfile):
    x = noise(nfile, 2)
    src = write(tmp_path / "src.wav", x, 44100)
    dest = str(tmp_path / "out.wav")
    r = vesk.render(src, dest, options="float", start=start, end=end, server=server1024.name)
    y = sf.read(dest, dtype="float32", always_2d=True)[0]
    assert r.frames == end - start and len(y) == end - start
    want = np.zeros((end - start, 2), np.float32)
    have = x[start:end]
    want[:len(have)] = have
    assert np.array_equal(y, want)


def test_empty_range_marks_nothing(server1024, tmp_path):
    """With end = start the player returns to PASSIVE at once and the capture
    never starts: its file stays empty."""
    src = write(tmp_path / "src.wav", noise(5000, 1), 44100)
    dest = str(tmp_path / "out.wav")
    with pair(server1024, src, dest, 1, 1, options="float", start=1000, end=1000) as (player, capture):
        player.freewheel(True)
        time.sleep(0.3)
        assert player.state == State.PASSIVE and capture.state == State.PASSIVE
        player.freewheel(False)
    assert sf.info(dest).frames == 0


@pytest.mark.parametrize("fchan, nplay, channels, want", [
    (1, 2, 2, [0, None]),           # mono file on a 2-channel player: out_1 silent
    (4, 2, 2, [0, 1]),              # 4-channel file on a 2-channel player: first two only
    (2, 2, 4, [0, 1, None, None]),  # 4-channel file captured from 2 inputs: channels 2, 3 zero
    (2, 2, 1, [0]),                 # 1-channel file captured from 2 inputs: in_0 only
])
def test_channel_mapping(server1024, tmp_path, fchan, nplay, channels, want):
    x = noise(3000, fchan)
    src = write(tmp_path / "src.wav", x, 44100)
    dest = str(tmp_path / "out.wav")
    vesk.render(src, dest, options="float", nplay=nplay, channels=channels, server=server1024.name)
    y = sf.read(dest, dtype="float32", always_2d=True)[0]
    assert y.shape == (3000, channels)
    for c, w in enumerate(want):
        assert np.array_equal(y[:, c], np.zeros(3000, np.float32) if w is None else x[:, w])


def _marker(count, byte2=0):
    m = np.array([0x46, 0x57, byte2, 0x01, count & 0xFF, (count >> 8) & 0xFF, 0x00, 0x01], np.uint8)
    return m.view(np.float32)


@pytest.mark.parametrize("markers, frames", [
    # (count, byte 2) per period; the frames each period adds to the file
    ([(256, 0), (100, 0), (0x7FFF, 0), (256, 1), (256, 0)], [256, 100, 256]),   # byte 2 set ends it; 0x7fff clamped
    ([(256, 0), (0, 0), (256, 0)], [256]),                                       # count 0 is no marker
    ([(0, 1), (50, 0), (256, 0), (256, 7)], [0, 50, 256]),                        # no capture before the first marker
])
def test_marker_control(server, tmp_path, markers, frames):
    """Markers made by hand: the capture writes exactly the marked frames,
    clamps a count beyond the period and ends at the first period without a
    valid marker; a marker after that never reopens the file."""
    P = server.period
    n = len(markers) * P
    audio = (np.arange(n) / n).astype(np.float32)
    sync = np.zeros(n, np.float32)
    for k, (count, b2) in enumerate(markers):
        sync[k * P:k * P + 2] = _marker(count, b2)
    dest = str(tmp_path / "out.wav")
    with vesk.FastCapture(1, name="t-mc", server=server.name) as cap, \
         vesk.SignalIO(nout=2, name="t-mc-sio", server=server.name) as sio:
        cap.create(dest, 1, "float")
        sio.connect_output(0, cap.inputs[0])
        sio.connect_output(1, cap.sync)
        sio.play([audio, sync])
        sio.run(timeout=10)
        wait_until(lambda: cap.state == State.PASSIVE)
        time.sleep(0.05)
    want = np.concatenate([audio[k * P:k * P + f] for k, f in enumerate(frames)])
    y = sf.read(dest, dtype="float32")[0]
    assert np.array_equal(y, want)


def test_ten_minutes_bit_identical(server1024, tmp_path):
    """Ten minutes of stereo float through a pass-through graph at period 1024."""
    rate, minutes = 44100, 10
    n = rate * 60 * minutes
    src = str(tmp_path / "long.wav")
    rng = np.random.default_rng(7)
    block = rate * 30
    with sf.SoundFile(src, "w", rate, 2, "FLOAT") as f:
        for _ in range(n // block):
            f.write(rng.uniform(-1, 1, (block, 2)).astype(np.float32))
    dest = str(tmp_path / "long_out.wav")
    r = vesk.render(src, dest, options="float", server=server1024.name)
    print(f"\n10-minute render: {r}")
    assert r.frames == n
    with sf.SoundFile(src) as a, sf.SoundFile(dest) as b:
        assert b.frames == n
        for k in range(0, n, block):
            assert np.array_equal(a.read(block, dtype="float32"), b.read(block, dtype="float32")), k


def test_truncated_file_plays_what_it_holds(server1024, tmp_path):
    x = noise(20000, 2)
    src = write(tmp_path / "t.wav", x, 44100)
    size = os.path.getsize(src)
    with open(src, "r+b") as f:
        f.truncate(size - 8 * 7001)        # 7001 frames of 8 bytes gone
    frames = vesk.offline.file_info(src)[0]
    dest = str(tmp_path / "out.wav")
    r = vesk.render(src, dest, options="float", end=20000, server=server1024.name)
    y = sf.read(dest, dtype="float32")[0]
    assert r.frames == 20000 and len(y) == 20000
    held = 20000 - 7001
    assert frames in (held, 20000)         # the header's length, or what the file holds
    assert np.array_equal(y[:held], x[:held])
    assert not y[held:].any()


# ---------------------------------------------------------------- runs interrupted or disturbed

def _long_source(tmp_path, rate, seconds=120):
    x = noise(rate * seconds, 2, seed=3)
    return write(tmp_path / "long.wav", x, rate), x


def test_busy_calls_are_refused(server1024, tmp_path):
    """load_file during playback and create_file during a capture return 1;
    the render goes on undisturbed."""
    src, x = _long_source(tmp_path, 44100)
    dest = str(tmp_path / "out.wav")
    with pair(server1024, src, dest, 2, 2, options="float") as (player, capture):
        player.freewheel(True)
        wait_until(lambda: capture.state == State.PROCESS, what="capture")
        assert fastplayback.load_file(player.capsule, src) == 1
        assert fastcapture.create_file(capture.capsule, str(tmp_path / "other.wav"), 2, None) == 1
        assert fastplayback.fileinfo(player.capsule) == (len(x), 2)
        wait_until(lambda: player.state == State.PASSIVE and capture.state == State.PASSIVE, 60)
        player.freewheel(False)
    assert not os.path.exists(tmp_path / "other.wav")
    assert np.array_equal(sf.read(dest, dtype="float32")[0], x)


def test_freewheel_stopped_midway(server1024, tmp_path):
    """Freewheel ending mid-range stops the player at once; the next start
    begins again at the range's start (into a new capture file)."""
    src, x = _long_source(tmp_path, 44100)
    d1, d2 = str(tmp_path / "a.wav"), str(tmp_path / "b.wav")
    with pair(server1024, src, d1, 2, 2, options="float", start=1000) as (player, capture):
        player.freewheel(True)
        wait_until(lambda: capture.state == State.PROCESS, what="capture")
        time.sleep(0.05)
        player.freewheel(False)
        wait_until(lambda: player.state == State.PASSIVE and capture.state == State.PASSIVE)
        capture.create(d2, 2, "float")
        player.freewheel(True)
        wait_until(lambda: capture.state == State.PROCESS, what="capture")
        wait_until(lambda: player.state == State.PASSIVE and capture.state == State.PASSIVE, 60)
        player.freewheel(False)
    a = sf.read(d1, dtype="float32")[0]
    assert 0 < len(a) < len(x) - 1000
    assert np.array_equal(a, x[1000:1000 + len(a)])
    assert np.array_equal(sf.read(d2, dtype="float32")[0], x[1000:])


@pytest.mark.parametrize("victim", ["capture", "player"])
def test_destroyed_midway_loses_nothing(server1024, tmp_path, victim):
    """A capture destroyed mid-render, or one whose player goes away, leaves a
    complete file holding exactly the frames rendered so far."""
    src, x = _long_source(tmp_path, 44100)
    dest = str(tmp_path / "out.wav")
    with pair(server1024, src, dest, 2, 2, options="float") as (player, capture):
        player.freewheel(True)
        wait_until(lambda: capture.state == State.PROCESS, what="capture")
        time.sleep(0.05)
        (capture if victim == "capture" else player).close()
        if victim == "player":
            wait_until(lambda: capture.state == State.PASSIVE)
            capture.close()
        y = sf.read(dest, dtype="float32")[0]
    assert 0 < len(y) < len(x)
    assert np.array_equal(y, x[:len(y)])


def test_server_death_loses_nothing(own_server, tmp_path):
    """The server dies mid-render: the capture completes its file at once,
    with every frame written so far."""
    src, x = _long_source(tmp_path, 48000)
    dest = str(tmp_path / "out.wav")
    player = vesk.FastPlayback(2, name="t-play", server=own_server.name)
    capture = vesk.FastCapture(2, name="t-capt", server=own_server.name)
    player.load(src)
    capture.create(dest, 2, "float")
    with vesk.ServerControl("t-ctl", own_server.name) as ctl:
        for s, d in zip(player.outputs + [player.sync], capture.inputs + [capture.sync]):
            ctl.connect(s, d)
    player.freewheel(True)
    wait_until(lambda: capture.state == State.PROCESS, what="capture")
    time.sleep(0.05)
    own_server.kill()
    wait_until(lambda: capture.state == State.ZOMBIE, 10, "shutdown")
    y = sf.read(dest, dtype="float32")[0]          # complete before the object goes
    assert 0 < len(y) < len(x)
    assert np.array_equal(y, x[:len(y)])
    assert fastcapture.create_file(capture.capsule, str(tmp_path / "z.wav"), 2, None) == 1
    player.freewheel(False)
    capture.close()
    player.close()


def test_period_change_while_loaded(own_server, tmp_path):
    """Files loaded and created at a period of 256, rendered at 1024 and then
    at 64: the period buffers are read and written in pieces, so nothing
    overruns and the result stays exact."""
    x = noise(30000, 2)
    src = write(tmp_path / "src.wav", x, 48000)
    for k, new in enumerate([1024, 64]):
        dest = str(tmp_path / f"out{k}.wav")
        with pair(own_server, src, dest, 2, 2, options="float", start=123, end=25000) as (player, capture):
            c = jack.Client("t-bs", servername=own_server.name, no_start_server=True)
            c.blocksize = new
            c.close()
            wait_until(lambda: player.period == new)
            # A short render may pass unseen between two polls: wait as render() does.
            vesk.offline._run(player, capture, dest, 25000 - 123, 2, "float", False, 20.0)
            c = jack.Client("t-bs", servername=own_server.name, no_start_server=True)
            c.blocksize = 256
            c.close()
        assert np.array_equal(sf.read(dest, dtype="float32")[0], x[123:25000])


# ---------------------------------------------------------------- render()

def test_render_chain_and_result(server, tmp_path):
    """render() through a chain of two tools gives what the tools give, and
    reports its frames, seconds and speed."""
    x = noise(48000, 2, amp=0.25)
    src = write(tmp_path / "src.wav", x, 48000)
    dest = str(tmp_path / "out.wav")
    with vesk.GainControl(2, name="t-g1", server=server.name) as g1, \
         vesk.GainControl(2, name="t-g2", server=server.name) as g2:
        g1.gain = -6.0
        g2.gain = 6.0
        time.sleep(0.05)
        r = vesk.render(src, dest, [g1, g2], options="float", progress=False)
    assert (r.frames, r.rate) == (48000, 48000)
    assert r.seconds == pytest.approx(1.0)
    assert r.speed > 1.0 and r.elapsed > 0
    y = sf.read(dest, dtype="float32")[0]
    assert np.allclose(y, x, atol=1e-6)
    # The progress bar (tqdm, forced on here) leaves the result alone.
    r = vesk.render(src, dest, options="float,caf", server=server.name, progress=True)
    assert r.frames == 48000 and np.array_equal(sf.read(dest, dtype="float32")[0], x)
    with pytest.raises(ValueError):
        vesk.render(src, dest, options="ogg", server=server.name)
    with pytest.raises(ValueError):
        vesk.render(write(tmp_path / "r44.wav", x, 44100), dest, server=server.name)
    with pytest.raises(OSError):
        vesk.render(str(tmp_path / "missing.wav"), dest, server=server.name)
