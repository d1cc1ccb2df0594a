"""Sample-synchronous playback and recording through JACK: exact loop-back,
skips and passes, run ends, triggers, strided arrays, gains, the state
handshake (also when the server goes away), array checks and held views."""

import gc
import os
import signal
import subprocess
import sys
import time
import weakref

import numpy as np
import pytest

import vesk
from vesk import signalio, clientops
from vesk.server import JackError

PASSIVE, TRIGWAIT, PROCESS, STANDBY = 2, 9, 10, 1


@pytest.fixture(params=["server", "server1024"])
def srv(request):
    return request.getfixturevalue(request.param)


@pytest.fixture
def loop(srv):
    """One output looped back to input 0 of the same client, and a spare input 1."""
    with vesk.SignalIO(ninp=2, nout=2, name="sio", server=srv.name) as s:
        s.connect_output(0, f"{s.name}:in_0")
        yield s


def ramp(n, start=1):
    return np.arange(start, start + n, dtype=np.float32)


def test_states_of_a_new_object(server):
    caps, client = signalio.makecaps(None, "raw", server.name)
    assert clientops.get_state(client) == STANDBY
    assert signalio.get_posit(caps) == (STANDBY, 0)
    assert clientops.port_operation(client, 1, 0, "out_0") == 0
    # STANDBY takes requests but no slot: the run that follows has no active
    # slot and lasts one period; the slot set in PASSIVE keeps it one more.
    a = ramp(10)
    signalio.set_output_data(caps, 0, a, 1, 0)
    signalio.set_state(caps, PASSIVE)
    assert signalio.get_posit(caps) == (PASSIVE, 0)
    for want in (1, 2):
        signalio.set_state(caps, PROCESS)
        while signalio.get_posit(caps)[0] != PASSIVE:
            time.sleep(0.002)
        assert signalio.get_posit(caps) == (PASSIVE, want * server.period)
        signalio.set_output_data(caps, 0, a, 1, 0)


def test_loopback_is_exact_with_one_period_latency(loop):
    """Output 0 feeds input 0 of the same client: JACK delivers it one period
    later, bit for bit."""
    p = loop.period
    x = np.random.default_rng(1).uniform(-1, 1, 5000).astype(np.float32)
    x[::97] = [1e-38, -3e38, 0.0, 1.0, -1.0, 7.5e-45] * (len(x[::97]) // 6) + [0.5] * (len(x[::97]) % 6)
    loop.play([x])
    (r,) = loop.record([p + 5000 + 100])
    (got,) = loop.run(timeout=10)
    assert got is r
    assert not r[:p].any()
    assert np.array_equal(r[p:p + 5000], x)
    assert not r[p + 5000:].any()


def test_crossed_own_loops_are_exact_with_one_period_latency(srv):
    """Outputs crossed over to inputs of the same client, one output to two
    inputs: every input gets its output's previous period, bit for bit
    (PipeWire hands such an input the output's current buffer instead; the
    client base gives it the previous period there too)."""
    with vesk.SignalIO(ninp=3, nout=2, name="cross", server=srv.name) as s:
        p = s.period
        for out, inp in [(0, 1), (1, 0), (0, 2)]:
            s.connect_output(out, f"{s.name}:in_{inp}")
        rng = np.random.default_rng(7)
        x = rng.uniform(-1, 1, (2, 3000)).astype(np.float32)
        for run in range(2):
            s.play(x)
            rec = s.record([p + 3100] * 3)
            s.run(timeout=10)
            for inp, out in [(0, 1), (1, 0), (2, 0)]:
                assert not rec[inp][:p].any(), (run, inp)
                assert np.array_equal(rec[inp][p:p + 3000], x[out]), (run, inp)
                assert not rec[inp][p + 3000:].any(), (run, inp)


def test_own_loop_mixed_with_another_client(srv):
    """An input fed by its own client's output and by another client gets the
    sum, with the own part one period late."""
    with vesk.SignalIO(ninp=1, nout=1, name="mixed", server=srv.name) as s, \
         vesk.SignalIO(nout=1, name="const", server=srv.name) as c:
        p = s.period
        s.connect_output(0, f"{s.name}:in_0")
        c.connect_output(0, f"{s.name}:in_0")
        c.play([np.full(p, 0.25, np.float32)], nloop=-1)
        c.start()
        x = np.random.default_rng(3).uniform(-1, 1, 3000).astype(np.float32)
        s.play([x])
        (r,) = s.record([p + 3000])
        s.run(timeout=10)
        c.stop()
        assert np.all(r[:p] == np.float32(0.25))
        assert np.array_equal(r[p:], x + np.float32(0.25))


def test_skip_and_two_passes_then_passive_one_period_later(loop):
    p = loop.period
    x = ramp(1000)
    loop.play([x], nloop=2, nskip=100)
    (r,) = loop.record([p + 2500])
    loop.run(timeout=10)
    want = np.concatenate([np.zeros(p + 100), x, x, np.zeros(400)]).astype(np.float32)
    assert np.array_equal(r, want)
    # Playback alone: the run lasts the periods that held samples, plus one.
    loop.record([])
    loop.run(timeout=10)
    state, posit = loop.posit
    assert state == vesk.State.PASSIVE
    assert posit == (-(-2100 // p) + 1) * p


def test_run_without_active_slot_lasts_one_period(loop):
    for a, nloop in [(None, 1), (ramp(100), 0)]:
        loop.set_output(0, a, nloop=nloop)
        loop.set_input(1, np.zeros(100, np.float32), nloop=0)
        assert loop.run(timeout=5) == []
        assert loop.posit == (vesk.State.PASSIVE, loop.period)


def test_slot_without_port_does_not_keep_the_run(srv):
    """Slots 5 and 99 hold arrays but have no ports: the run ends after one period."""
    with vesk.SignalIO(ninp=1, nout=1, name="noport", server=srv.name) as s:
        signalio.set_output_data(s.capsule, 5, ramp(100000), 1, 0)
        signalio.set_input_data(s.capsule, 99, np.zeros(100000, np.float32), 1, 0)
        s.run(timeout=5)
        assert s.posit == (vesk.State.PASSIVE, s.period)


@pytest.mark.parametrize("offs", [37, 0])
def test_trigger_starts_at_its_sample(srv, offs):
    """A trigger source plays zeros, 0.5 (not above), then 0.6 at sample
    `offs` of its third period; the triggered client starts playing and
    recording at that very sample."""
    p = srv.period
    with vesk.SignalIO(nout=1, name="trigsrc", server=srv.name) as t, \
         vesk.SignalIO(ninp=2, nout=1, name="trig", server=srv.name) as s:
        t.connect_output(0, "trig:in_0")
        s.connect_output(0, "trig:in_1")          # loop back, one period late
        k = 2 * p + offs
        tx = np.zeros(k + 2000, np.float32)
        tx[k - 5] = 0.5
        tx[k] = 0.6
        tx[k + 1:] = ramp(1999) / 10000
        y = ramp(700)
        s.play([y])
        rec = s.record([1000, p + 1000])
        s.start(trigger=0)
        time.sleep(0.05)
        assert s.posit == (vesk.State.TRIGWAIT, 0)
        t.play([tx])
        t.run(timeout=10)
        r0, r1 = s.wait(timeout=10)
        assert r0[0] == np.float32(0.6)
        assert np.array_equal(r0, tx[k:k + 1000])
        assert not r1[:p].any()
        assert np.array_equal(r1[p:p + 700], y)
        # posit counts from the trigger sample: whole periods minus offs.
        state, posit = s.posit
        assert state == vesk.State.PASSIVE
        assert (posit + offs) % p == 0
        assert posit >= p + 1000


def test_trigger_input_without_port_never_starts(server):
    with vesk.SignalIO(ninp=1, nout=1, name="notrig", server=server.name) as s, \
         vesk.SignalIO(ninp=1, name="watch", server=server.name) as w:
        s.connect_output(0, "watch:in_0")
        s.connect_input(0, "notrig:out_0")
        s.play([np.ones(10000, np.float32)])
        with pytest.raises(TimeoutError):
            w.record([48000])
            w.start()
            s.run(trigger=7, timeout=0.5)
        assert s.state == vesk.State.PASSIVE      # the timeout stopped it
        (r,) = w.wait(timeout=5)
        assert not r.any()


def test_trigger_index_out_of_range_keeps_the_last(server):
    """Input 1 carries ones, input 0 nothing. Indices out of range leave the
    trigger on input 1, so a triggered run starts (and, with no slot, ends
    one period later)."""
    with vesk.SignalIO(nout=1, name="ones", server=server.name) as t, \
         vesk.SignalIO(ninp=2, name="trigidx", server=server.name) as s:
        t.connect_output(0, "trigidx:in_1")
        t.play([np.ones(1000, np.float32)], nloop=-1)
        t.start()
        signalio.set_trigger_inp(s.capsule, 1)
        for bad in (-1, 100, 2 ** 31 - 1, -2 ** 31):
            signalio.set_trigger_inp(s.capsule, bad)
        signalio.set_state(s.capsule, TRIGWAIT)
        s.wait(timeout=5)
        assert s.posit == (vesk.State.PASSIVE, s.period)
        # On input 0 it waits.
        signalio.set_trigger_inp(s.capsule, 0)
        signalio.set_state(s.capsule, TRIGWAIT)
        time.sleep(0.05)
        assert s.posit == (vesk.State.TRIGWAIT, 0)
        s.stop()
        t.stop()


@pytest.mark.parametrize("view", ["every_second", "reversed", "every_third_reversed"])
def test_strided_arrays(loop, view):
    p = loop.period
    buf = np.full(9000, -7.0, np.float32)
    sl = {"every_second": np.s_[::2], "reversed": np.s_[::-1], "every_third_reversed": np.s_[::-3]}[view]
    rec = buf[sl]
    src = np.random.default_rng(2).uniform(-1, 1, 3 * len(rec)).astype(np.float32)
    play = src[sl]
    n = min(len(rec), len(play))
    loop.set_output(0, play)
    loop.set_input(0, rec, nskip=p)              # skip the latency
    loop.run(timeout=10)
    assert np.array_equal(rec[:n], play[:n])
    # Elements outside the view are untouched.
    mask = np.ones(len(buf), bool)
    mask[sl] = False
    assert np.all(buf[mask] == -7.0)


def test_gains(loop):
    p = loop.period
    x = np.random.default_rng(3).uniform(-1, 1, 3000).astype(np.float32)
    for gout, gin in [(0.5, 2.0), (0.3, -1.7), (0.0, 1.0), (1.0, 0.0)]:
        loop.play([x], gain=gout)
        loop.record([3000], nskip=p, gain=gin)
        (r,) = loop.run(timeout=10)
        assert np.array_equal(r, np.float32(gin) * (np.float32(gout) * x))
    for bad in (float("nan"), float("inf"), -float("inf")):
        with pytest.raises(ValueError):
            signalio.set_output_gain(loop.capsule, 0, bad)
        with pytest.raises(ValueError):
            signalio.set_input_gain(loop.capsule, 0, bad)


def test_input_passes_and_skip(loop):
    """Recording 3 passes over a 500-sample array: the last pass stays."""
    p = loop.period
    x = ramp(3000)
    loop.play([x])
    (r,) = loop.record([np.zeros(500, np.float32)], nloop=3, nskip=p + 200)
    loop.run(timeout=10)
    assert np.array_equal(r, x[1200:1700])


def test_endless_loop_until_stopped(loop):
    p = loop.period
    x = ramp(300)
    loop.play([x], nloop=-1)
    (r,) = loop.record([np.zeros(10000, np.float32)], nloop=-1, nskip=p)
    loop.start()
    time.sleep(0.4)
    assert loop.state == vesk.State.PROCESS
    loop.stop()
    assert loop.state == vesk.State.PASSIVE
    # Element i of the m-th pass holds stream sample i + 10000 m, which is
    # ramp value (i + 10000 m) mod 300 + 1: (r - 1 - i) mod 100 is 0 throughout.
    i = np.arange(10000)
    assert r.all()
    assert np.all((r.astype(np.int64) - 1 - i) % 100 == 0)
    assert loop.posit[1] > 0.3 * loop.rate


def test_changes_during_a_run_change_nothing(loop):
    p = loop.period
    x, other = ramp(2000), -ramp(2000)
    loop.play([x])
    (r,) = loop.record([p + 2000])
    loop.start()
    signalio.set_output_data(loop.capsule, 0, other, 1, 0)
    signalio.set_output_gain(loop.capsule, 0, 0.25)
    signalio.set_input_data(loop.capsule, 0, None, 0, 0)
    with pytest.raises(RuntimeError):
        loop.set_output(0, other)
    loop.wait(timeout=10)
    assert np.array_equal(r[p:], x)


def test_slot_indices_out_of_range(loop):
    x = ramp(10)
    for k in (-1, 100, 2 ** 31 - 1):
        assert signalio.set_output_data(loop.capsule, k, x, 1, 0) is None
        assert signalio.set_input_data(loop.capsule, k, np.zeros(10, np.float32), 1, 0) is None
        assert signalio.set_output_gain(loop.capsule, k, 2.0) is None
        assert signalio.set_input_gain(loop.capsule, k, 2.0) is None
    assert loop.run(timeout=5) == []
    assert loop.posit[1] == loop.period


@pytest.mark.parametrize("arr, msg", [
    (np.zeros(10, np.float64), "Data type must be float32"),
    (np.zeros(10, np.int32), "Data type must be float32"),
    (np.zeros((2, 5), np.float32), "Array must be single dimension"),
    (np.zeros((2, 5), np.float64), "Data type must be float32"),
    (np.zeros((), np.float32), "Array must be single dimension"),
])
def test_array_checks(loop, arr, msg):
    x = ramp(500)
    loop.play([x])
    (r,) = loop.record([loop.period + 500])
    for fn in (signalio.set_output_data, signalio.set_input_data):
        with pytest.raises(TypeError) as e:
            fn(loop.capsule, 0, arr, 1, 0)
        assert str(e.value) == msg
    # The slots are as they were.
    loop.run(timeout=5)
    assert np.array_equal(r[loop.period:], x)


def test_read_only_recording_array_refused_by_the_buffer_request(loop):
    ro = np.zeros(100, np.float32)
    ro.flags.writeable = False
    # numpy's own refusal of a writable buffer request.
    with pytest.raises(ValueError, match="^buffer source array is read-only$"):
        signalio.set_input_data(loop.capsule, 0, ro, 1, 0)
    # bytes: Python's own.
    with pytest.raises(BufferError, match="^Object is not writable.$"):
        signalio.set_input_data(loop.capsule, 0, b"\0" * 400, 1, 0)
    with pytest.raises(TypeError):
        signalio.set_input_data(loop.capsule, 0, [0.0] * 10, 1, 0)
    # Read-only arrays play fine.
    signalio.set_output_data(loop.capsule, 0, ro, 1, 0)


def test_set_state_zero_leaves_the_object_inert(loop):
    x = ramp(1000)
    loop.play([x], nloop=-1)
    loop.start()
    time.sleep(0.05)
    signalio.set_state(loop.capsule, 0)
    assert loop.state == vesk.State.INITIAL
    t0 = time.monotonic()
    for s in (PASSIVE, PROCESS, TRIGWAIT, STANDBY):
        signalio.set_state(loop.capsule, s)
    assert time.monotonic() - t0 < 0.1
    assert loop.state == vesk.State.INITIAL
    signalio.set_output_data(loop.capsule, 0, None, 0, 0)
    with pytest.raises(JackError):
        loop.play([x])


@pytest.mark.parametrize("leave", [STANDBY, 0])
def test_outputs_fall_silent_when_a_run_is_left(server, leave):
    """Leaving a run for a state that stops writing the outputs silences them
    (JACK would otherwise repeat the last period for ever)."""
    with vesk.SignalIO(nout=1, name="leave", server=server.name) as a, \
         vesk.SignalIO(ninp=1, name="listen", server=server.name) as b:
        a.connect_output(0, "listen:in_0")
        a.play([ramp(1000)], nloop=-1)
        a.start()
        time.sleep(0.05)
        a.set_state(leave)
        b.record([4800])
        (r,) = b.run(timeout=5)
        assert not r.any()


def test_dropped_arrays_stay_alive(loop):
    """The object holds what it plays and records: dropping the caller's
    arrays mid-run changes nothing and crashes nothing; clearing the slot
    lets them go."""
    p = loop.period
    x = np.random.default_rng(4).uniform(-1, 1, 20000).astype(np.float32)
    want = x.copy()
    rec = np.zeros(p + 20000, np.float32)
    lost = np.zeros(20000, np.float32)
    signalio.set_output_data(loop.capsule, 0, x, 1, 0)
    signalio.set_input_data(loop.capsule, 0, rec, 1, 0)
    signalio.set_input_data(loop.capsule, 1, lost, 1, 0)
    wx, wlost = weakref.ref(x), weakref.ref(lost)
    loop.set_state(PROCESS)
    del x, lost
    gc.collect()
    junk = [np.full(20000, 9.0, np.float32) for k in range(10)]   # reuse of freed memory would show
    assert wx() is not None and wlost() is not None
    while loop.state == vesk.State.PROCESS:
        time.sleep(0.01)
    assert np.array_equal(rec[p:], want)
    signalio.set_output_data(loop.capsule, 0, None, 0, 0)
    signalio.set_input_data(loop.capsule, 1, None, 0, 0)
    gc.collect()
    assert wx() is None and wlost() is None
    del junk


def test_destroyed_mid_run_with_dropped_arrays(server):
    for k in range(5):
        s = vesk.SignalIO(ninp=1, nout=1, name="drop", server=server.name)
        s.connect_output(0, "drop:in_0")
        s.play([np.ones(100000, np.float32)])
        s.record([100000])
        s.start()
        time.sleep(0.02)
        s.close()
        del s
        gc.collect()


def test_views_are_released(server):
    """Slots hold one reference while they use an array, none after."""
    caps, client = signalio.makecaps(None, "refs", server.name)
    signalio.set_state(caps, PASSIVE)
    a = np.zeros(1000, np.float32)
    b = np.zeros(1000, np.float32)
    ra, rb = sys.getrefcount(a), sys.getrefcount(b)
    for k in range(200):
        signalio.set_input_data(caps, k % 100, a, 1, 0)
        signalio.set_output_data(caps, k % 100, b, 1, 0)
    assert sys.getrefcount(a) == ra + 100 and sys.getrefcount(b) == rb + 100
    for k in range(100):
        signalio.set_input_data(caps, k, None, 0, 0)
    assert sys.getrefcount(a) == ra
    # Refused outside PASSIVE: nothing held.
    signalio.set_state(caps, STANDBY)
    signalio.set_input_data(caps, 0, a, 1, 0)
    assert sys.getrefcount(a) == ra
    # Destruction lets go of the rest.
    del caps, client
    gc.collect()
    assert sys.getrefcount(b) == rb


def test_empty_array_counts_as_none(loop):
    loop.set_output(0, np.zeros(0, np.float32), nloop=-1)
    loop.set_input(1, np.zeros(0, np.float32), nloop=-1)
    loop.record([])
    assert loop.run(timeout=5) == []
    assert loop.posit == (vesk.State.PASSIVE, loop.period)


def test_without_server():
    caps, client = signalio.makecaps(None, "x", "vesk-no-such-server")
    assert clientops.get_state(client) == -1
    t0 = time.monotonic()
    signalio.set_state(caps, PROCESS)
    assert time.monotonic() - t0 < 0.1
    assert signalio.get_posit(caps) == (-1, 0)
    signalio.set_output_data(caps, 0, ramp(10), 1, 0)
    signalio.set_trigger_inp(caps, 0)


def test_module_frame():
    docs = {"makecaps": "Create object capsules.", "set_state": "Set new jack state.",
            "set_input_data": "Set input buffer.", "set_output_data": "Set output buffer.",
            "set_input_gain": "Set input gain.", "set_output_gain": "Set output gain.",
            "set_trigger_inp": "Select trigger input.", "get_posit": "Get current state and position."}
    for name, doc in docs.items():
        assert getattr(signalio, name).__doc__ == doc
    with pytest.raises(ValueError):
        signalio.get_posit(None)
    with pytest.raises(TypeError):
        signalio.set_state(None)


# The server goes away under a waiting set_state. These use servers of their own.

@pytest.fixture
def doomed_server(own_server):
    """A server of the test's own that the test kills (its teardown clears
    the dead server's entry from JACK's server table)."""
    yield own_server

def _waiting_set_state(server, before_call):
    """Creates a client, freezes the server so that the process thread stops,
    runs before_call(pid), then calls set_state; returns its duration and the state."""
    s = vesk.SignalIO(nout=1, name="gone", server=server.name)
    os.kill(server.pid, signal.SIGSTOP)
    try:
        before_call(server.pid)
        t0 = time.monotonic()
        signalio.set_state(s.capsule, PROCESS)
        dt = time.monotonic() - t0
        return s, dt, s.state
    finally:
        try:
            os.kill(server.pid, signal.SIGCONT)
        except ProcessLookupError:
            pass


def test_set_state_returns_when_the_server_is_killed(doomed_server):
    """SIGKILL arrives 0.3 s into the wait: the client turns ZOMBIE and the
    call returns soon after, well before its stall limit."""
    s, dt, state = _waiting_set_state(doomed_server, lambda pid: subprocess.Popen(
        ["sh", "-c", f"sleep 0.3; kill -KILL {pid}"]))
    assert state == vesk.State.ZOMBIE
    assert 0.25 < dt < 1.5
    doomed_server._proc.wait()
    # Further calls return at once; closing is safe.
    t0 = time.monotonic()
    signalio.set_state(s.capsule, PASSIVE)
    assert time.monotonic() - t0 < 0.1
    s.close()


def test_set_state_gives_up_on_a_stalled_server(own_server):
    """A server that stops running periods without going away: the call gives
    up after two seconds without a period; the request is taken later."""
    s, dt, state = _waiting_set_state(own_server, lambda pid: None)
    assert 1.9 < dt < 3.0
    assert state == vesk.State.PASSIVE
    time.sleep(0.2)                                 # the server runs again
    # The pending request was taken: a run without slots, one period long.
    assert s.posit == (vesk.State.PASSIVE, s.period)
    s.set_state(PASSIVE)
    assert s.state == vesk.State.PASSIVE
    s.close()


def test_set_state_after_the_server_died(doomed_server):
    s = vesk.SignalIO(nout=1, name="dead", server=doomed_server.name)
    doomed_server.kill()
    t_end = time.monotonic() + 5
    while s.state != vesk.State.ZOMBIE and time.monotonic() < t_end:
        time.sleep(0.01)
    assert s.state == vesk.State.ZOMBIE
    t0 = time.monotonic()
    s.set_state(PROCESS)
    assert time.monotonic() - t0 < 0.1
    with pytest.raises(JackError):
        s.play([ramp(10)])
    s.close()


def test_friendly_api(server):
    with vesk.SignalIO(ninp=3, nout=2, name="api", server=server.name) as s:
        assert (s.ninp, s.nout) == (3, 2)
        assert s.inputs == [f"api:in_{i}" for i in range(3)]
        assert s.outputs == ["api:out_0", "api:out_1"]
        assert s.state == vesk.State.PASSIVE and not s.running
        s.connect_output(0, "api:in_0")
        s.connect_output(1, "api:in_2")
        p = s.period
        x = np.stack([np.arange(1000.0), -np.arange(1000.0)])      # float64 rows: converted
        played = s.play(x)
        assert all(a.dtype == np.float32 for a in played)
        own = np.zeros(p + 1000, np.float32)
        rec = s.record([own, None, p + 1000])
        assert rec[0] is own and rec[1] is None and rec[2].shape == (p + 1000,)
        r0, r1, r2 = s.run(timeout=10)
        assert r0 is own and r1 is None
        assert np.array_equal(r0[p:], x[0].astype(np.float32))
        assert np.array_equal(r2[p:], x[1].astype(np.float32))
        with pytest.raises(ValueError):
            s.play([x[0]] * 3)
        with pytest.raises(ValueError):
            s.record([10] * 4)
        # An endless run meets its timeout, and is stopped by it.
        s.play([x[0]], nloop=-1)
        s.record([])
        t0 = time.monotonic()
        with pytest.raises(TimeoutError):
            s.run(timeout=0.2)
        assert 0.2 <= time.monotonic() - t0 < 1.0
        assert s.state == vesk.State.PASSIVE
    with pytest.raises(ValueError):
        s.play([])                                      # closed


def test_friendly_without_server():
    s = vesk.SignalIO(ninp=2, nout=2, name="x", server="vesk-no-such-server")
    assert s.state == vesk.State.FAILED
    assert (s.ninp, s.nout) == (0, 0)
    with pytest.raises(JackError):
        s.play([])
    with pytest.raises(JackError):
        s.run(timeout=1)
    s.close()


def test_create_and_destroy_loop(server):
    a = np.zeros(1000, np.float32)
    r = sys.getrefcount(a)
    for k in range(20):
        with vesk.SignalIO(ninp=2, nout=2, name="loop", server=server.name) as s:
            s.play([a, a])
            s.record([a[::2]])
            s.start()
    del s
    gc.collect()
    assert sys.getrefcount(a) == r
