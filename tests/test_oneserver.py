"""One JACK server per process, and servers that end with the process that
started them.

libjack maps one server per process: clients of two servers open at once
crash when they close. Every case runs in a subprocess of its own, so that a
crash shows as that case's exit status and never takes the test run down.
"""

import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import vesk

HEADER = """
import gc, os, sys, time
import vesk
from vesk import gaincontrol, clientops, servercontrol
A = vesk.JackServer(f"one-a-{os.getpid()}", 48000, 256, busy_timeout=600)
B = vesk.JackServer(f"one-b-{os.getpid()}", 44100, 1024, busy_timeout=600)
def raw(name, server):
    caps, client = gaincontrol.makecaps(None, name, server, 2)
    return caps, client, clientops.get_state(client)
"""

FOOTER = """
gc.collect()
A.stop(); B.stop()
print("done")
"""


def run_case(body, timeout=60, env=None):
    code = HEADER + textwrap.dedent(body) + FOOTER
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout,
                       env=env)
    assert r.returncode == 0, f"exit status {r.returncode}\n{r.stdout}\n{r.stderr}"
    assert r.stdout.rstrip().endswith("done"), r.stdout + r.stderr
    return r


@pytest.mark.parametrize("close_first", ["a", "b"])
def test_second_server_refused_and_both_orders_close(close_first):
    r = run_case(f"""
        ca, la, sa = raw("ga", A.name)
        cb, lb, sb = raw("gb", B.name)
        print("states", sa, sb)
        assert sa == 10 and sb == -1
        # Nothing of the refused client is left open on B.
        assert servercontrol.get_jack_info(servercontrol.create(None, "look", A.name))[0] is not None
        if "{close_first}" == "a":
            del ca, la; gc.collect(); del cb, lb
        else:
            del cb, lb; gc.collect(); del ca, la
        gc.collect()
        assert vesk.server_in_use() == (None, 0)
        # Once everything on A is closed, B can be used.
        cb, lb, sb = raw("gb", B.name)
        assert sb == 10 and clientops.get_jack_info(lb)[1:] == (44100, 1024)
        assert vesk.server_in_use() == (B.name, 1)
        # ... and while B is in use, A is refused.
        ca, la, sa = raw("ga", A.name)
        assert sa == -1
        del ca, la, cb, lb
    """)
    # The refusal prints nothing: libjack's messages are silenced and no client was opened.
    assert r.stderr == ""
    assert "states 10 -1" in r.stdout


def test_friendly_classes_raise_naming_both_servers():
    run_case("""
        g = vesk.GainControl(1, name="g", server=A.name)
        for make in (lambda: vesk.GainControl(1, name="h", server=B.name),
                     lambda: vesk.NoiseSource(1, name="n", server=B.name),
                     lambda: vesk.ServerControl("c", server=B.name)):
            try:
                make()
            except vesk.JackError as e:
                msg = str(e)
                assert A.name in msg and B.name in msg and "one server per process" in msg, msg
            else:
                raise AssertionError("a client of a second server was allowed")
        # More clients of the same server are fine; a server started meanwhile
        # is probed from another process, since a probe here would be refused.
        h = vesk.GainControl(1, name="h", server=A.name)
        C = vesk.JackServer(f"one-c-{os.getpid()}", 48000, 512, busy_timeout=600)
        assert (C.rate, C.period) == (48000, 512)
        g.close(); h.close(); gc.collect()
        with vesk.GainControl(1, name="c", server=C.name) as c:
            assert c.period == 512
        C.stop()
    """)


def test_default_server_name_resolves_like_libjack():
    # None means $JACK_DEFAULT_SERVER: a client opened with None and one
    # opened with that name are on the same server.
    env = dict(os.environ)
    env.pop("JACK_DEFAULT_SERVER", None)
    run_case("""
        os.environ["JACK_DEFAULT_SERVER"] = A.name
        assert vesk.server.resolve_server(None) == A.name
        ca, la, sa = raw("g1", None)
        cn, ln, sn = raw("g2", A.name)
        cb, lb, sb = raw("g3", B.name)
        assert (sa, sn, sb) == (10, 10, -1), (sa, sn, sb)
        assert clientops.get_jack_info(la)[1:] == (48000, 256)
        del ca, la, cn, ln, cb, lb
        del os.environ["JACK_DEFAULT_SERVER"]
        assert vesk.server.resolve_server(None) == "default"
    """, env=env)


def _alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split()[2] != "Z"
    except FileNotFoundError:
        return False


@pytest.mark.parametrize("from_thread", [False, True])
def test_started_server_ends_with_its_process(from_thread):
    # The parent dies by SIGKILL, so none of its cleanup runs. A server
    # started from a thread that ended long before must survive that thread.
    code = textwrap.dedent(f"""
        import threading, time, vesk
        out = []
        def start():
            out.append(vesk.JackServer(busy_timeout=600))
        if {from_thread}:
            t = threading.Thread(target=start); t.start(); t.join()
        else:
            start()
        s = out[0]
        time.sleep(0.5)
        with vesk.GainControl(1, server=s.name) as g:
            print(s.pid, s.name, g.state, flush=True)
            time.sleep(600)
    """)
    p = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    try:
        line = p.stdout.readline().split()
        assert len(line) == 3, "the child did not start its server"
        pid, name, state = int(line[0]), line[1], int(line[2])
        assert state == int(vesk.State.PROCESS)
        assert _alive(pid)
    finally:
        p.kill()
        p.wait()
    t0 = time.monotonic()
    while _alive(pid) and time.monotonic() - t0 < 5:
        time.sleep(0.01)
    gone = time.monotonic() - t0
    assert gone < 1.0, f"jackd {pid} still runs {gone:.2f} s after its parent was killed"
    # Its entry in JACK's server table is gone or, if the server could not
    # clean up, marked dead (a later start clears it when the table is full).
    assert name not in [n for n, _, alive in vesk.server.running_servers() if alive]


def test_full_server_table_fails_fast_naming_the_servers():
    # A dead server's stale entry is cleared when the table is full, so it
    # never holds a slot: the table fills with live servers only.
    code = textwrap.dedent("""
        import signal, time, vesk
        mine = []
        dead = vesk.JackServer()
        dead._proc.send_signal(signal.SIGKILL); dead._proc.wait()
        assert dead.name in [n for n, _, alive in vesk.server.running_servers() if not alive]
        try:
            while True:
                t0 = time.monotonic()
                try:
                    mine.append(vesk.JackServer())
                except vesk.JackError as e:
                    dt = time.monotonic() - t0
                    msg = str(e)
                    break
                assert len(mine) <= 8, "more servers than JACK's table holds"
            print(f"{dt:.2f}")
            print(msg)
            assert "full" in msg and "busy_timeout" in msg, msg
            for s in mine:
                assert f"'{s.name}'" in msg, (s.name, msg)
            assert dead.name not in msg, msg
        finally:
            for s in mine:
                s.stop()
    """)
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=120)
    assert r.returncode == 0, r.stdout + r.stderr
    assert float(r.stdout.split()[0]) < 5.0, r.stdout


def test_server_output_is_kept_to_its_tail():
    # A server failing in a loop prints without end: only the last 64 kB
    # are kept, in memory, however much it writes.
    r, w = os.pipe()
    tail = vesk.server._LogTail(os.fdopen(r, "rb"))
    line = b"JackEngine::XRun: client = x was not finished, state = Triggered\n"
    with os.fdopen(w, "wb") as f:
        for _ in range(20 * 1024 * 1024 // len(line)):
            f.write(line)
        f.write(b"last words\n")
    text = tail.text(wait=5.0)
    assert len(text) <= 65536
    assert text.endswith("last words\n")
