"""Client operations on any tool's "Jclient" capsule: state, server info,
port operations, and the rules that keep capsules safe."""

import gc
import subprocess
import sys
import time

import pytest

import vesk
from vesk import clientops, gaincontrol, servercontrol
from vesk._tool import (PORT_CREATE_INP, PORT_CREATE_OUT, PORT_DELETE_INP, PORT_DELETE_OUT,
                        PORT_CONNECT_INP, PORT_CONNECT_OUT, PORT_DISCONN_INP, PORT_DISCONN_OUT,
                        PORT_DISCALL_INP, PORT_DISCALL_OUT)


def ports_of(server, client):
    """Full names and connections of a client's ports, seen from JACK-Client."""
    import jack
    c = jack.Client("vesk-inspect", servername=server.name, no_start_server=True)
    try:
        return {p.name: sorted(q.name for q in c.get_all_connections(p))
                for p in c.get_ports(f"{client}:")}
    finally:
        c.close()


def test_failed_without_server():
    """A server that does not run gives FAILED at once, with no exception and nothing printed."""
    code = ("import time, vesk.gaincontrol as g, vesk.clientops as c\n"
            "t0 = time.monotonic()\n"
            "t = g.makecaps(None, 'x', 'vesk-no-such-server', 2)\n"
            "assert isinstance(t, tuple) and len(t) == 2\n"
            "assert c.get_state(t[1]) == -1\n"
            "assert c.get_jack_info(t[1]) == (None, 0, 0)\n"
            "g.set_gain(t[0], -1, 0.0); g.set_mute(t[0], 0, 1)\n"
            "assert c.port_operation(t[1], 0, 0, 'x') == -1\n"
            "assert time.monotonic() - t0 < 2.0\n")
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=30)
    assert r.returncode == 0, r.stderr
    assert r.stdout == "" and r.stderr == ""


def test_makecaps_accepts_any_first_object(server):
    for obj in (None, 1, object(), "x"):
        caps, client = gaincontrol.makecaps(obj, "any", server.name, 1)
        assert clientops.get_state(client) == 10


def test_jack_info(server):
    caps, client = gaincontrol.makecaps(None, "info", server.name, 1)
    assert clientops.get_jack_info(client) == ("info", 48000, 256)
    caps2, client2 = gaincontrol.makecaps(None, "info", server.name, 1)
    name = clientops.get_jack_info(client2)[0]
    assert name != "info" and name.startswith("info")     # the server's own unique name


def test_names_in_use_get_a_suffix(server):
    """A name in use is granted with "-01", "-02", ... (jackd2 does this
    itself, PipeWire would grant it twice), and each client's ports are
    reached under its granted name; a freed name is granted again."""
    tools = [vesk.GainControl(1, name="dup", server=server.name) for _ in range(3)]
    try:
        assert [t.name for t in tools] == ["dup", "dup-01", "dup-02"]
        assert tools[1].inputs == ["dup-01:in_0"]
        tools[0].connect_output(0, tools[1].inputs[0])
        tools[1].connect_output(0, tools[2].inputs[0])
        assert ports_of(server, "dup-01") == {"dup-01:in_0": ["dup:out_0"], "dup-01:out_0": ["dup-02:in_0"]}
        assert ports_of(server, "dup") == {"dup:in_0": [], "dup:out_0": ["dup-01:in_0"]}
        tools[0].close()
        again = vesk.GainControl(1, name="dup", server=server.name)
        assert again.name == "dup"
        again.close()
    finally:
        for t in tools:
            t.close()


def test_port_operations(server):
    """Create, connect, disconnect and delete ports; results are 0 or JACK's/our error."""
    with vesk.GainControl(0, name="ops", server=server.name) as a, \
         vesk.GainControl(2, name="peer", server=server.name) as b:
        op = a.port_operation
        # A client opened with no ports refuses any index.
        assert op(PORT_CREATE_INP, 0, "x") == -1
    with vesk.GainControl(2, name="peer", server=server.name) as b, \
         vesk.GainControl(2, name="ops", server=server.name) as a:
        op = b.port_operation
        assert op(PORT_CREATE_INP, 0, "again") == -1          # port 0 exists
        assert op(PORT_DELETE_OUT, 1, None) == 0
        assert "peer:out_1" not in ports_of(server, "peer")
        assert op(PORT_DELETE_OUT, 1, None) == -1             # already gone
        assert op(PORT_CREATE_OUT, 1, "extra") == 0
        assert op(PORT_CREATE_OUT, 2, "beyond") == -1         # index beyond the count
        assert op(PORT_CREATE_OUT, -1, "neg") == -1
        assert op(PORT_CREATE_OUT, 1, None) == -1
        assert op(PORT_CONNECT_OUT, 1, "ops:in_0") == 0
        assert op(PORT_CONNECT_OUT, 1, "ops:in_0") != 0       # JACK: already connected
        assert op(PORT_CONNECT_INP, 0, "ops:out_1") == 0
        assert op(PORT_CONNECT_INP, 1, "no:such") != 0
        p = ports_of(server, "peer")
        assert p["peer:extra"] == ["ops:in_0"]
        assert p["peer:in_0"] == ["ops:out_1"]
        assert op(PORT_DISCONN_OUT, 1, "ops:in_0") == 0
        assert op(PORT_DISCONN_INP, 0, "ops:out_1") == 0
        assert all(not v for v in ports_of(server, "peer").values())
        op(PORT_CONNECT_OUT, 0, "ops:in_0")
        op(PORT_CONNECT_OUT, 0, "ops:in_1")
        assert op(PORT_DISCALL_OUT, 0, None) == 0
        assert ports_of(server, "peer")["peer:out_0"] == []
        op(PORT_CONNECT_INP, 1, "ops:out_0")
        assert op(PORT_DISCALL_INP, 1, None) == 0
        assert ports_of(server, "peer")["peer:in_1"] == []
        assert op(PORT_DELETE_INP, 0, None) == 0
        assert op(99, 0, "x") == -1 and op(-1, 0, "x") == -1


def test_deleting_ports_while_audio_runs(server):
    """Ports come and go under a running process callback without harm."""
    import numpy as np
    from harness import push
    with vesk.GainControl(2, name="churn", server=server.name) as g:
        g.gain = 0.0
        for k in range(20):
            assert g.port_operation(PORT_DELETE_OUT, 1, None) == 0
            assert g.port_operation(PORT_CREATE_OUT, 1, "out_1") == 0
        assert g.state == vesk.State.PROCESS
        x = np.ones((2, 1000), np.float32)
        time.sleep(0.05)
        assert np.array_equal(push(g, x), x)


@pytest.mark.parametrize("bad", [None, 1, "Jclient", servercontrol.create(None, "x", "vesk-none")])
def test_wrong_capsule_raises(bad):
    for f in (clientops.get_state, clientops.get_jack_info):
        with pytest.raises((TypeError, ValueError)):
            f(bad)
    with pytest.raises((TypeError, ValueError)):
        clientops.port_operation(bad, 0, 0, None)


def test_tool_capsule_is_not_a_client_capsule(server):
    caps, client = gaincontrol.makecaps(None, "kinds", server.name, 1)
    with pytest.raises(ValueError):
        clientops.get_state(caps)
    with pytest.raises(ValueError):
        gaincontrol.set_gain(client, -1, 0.0)
    with pytest.raises(TypeError):
        gaincontrol.set_gain(caps, -1)           # wrong argument count
    assert clientops.get_state(client) == 10


def test_client_capsule_keeps_its_object_alive(server):
    """Dropping the tool capsule first leaves the client capsule usable;
    the object goes when the last capsule goes."""
    caps, client = gaincontrol.makecaps(None, "keep", server.name, 2)
    del caps
    gc.collect()
    assert clientops.get_state(client) == 10
    assert clientops.get_jack_info(client)[0] == "keep"
    assert clientops.port_operation(client, PORT_DELETE_INP, 0, None) == 0
    assert "keep:out_0" in ports_of(server, "keep")
    del client
    gc.collect()
    assert ports_of(server, "keep") == {}


def test_destroy_closes_the_client(server):
    g = vesk.GainControl(3, name="gone", server=server.name)
    assert len(ports_of(server, "gone")) == 6
    g.close()
    assert ports_of(server, "gone") == {}
    with pytest.raises(ValueError):
        g.state
    caps = gaincontrol.makecaps(None, "gone2", server.name, 1)
    del caps
    assert ports_of(server, "gone2") == {}


def _rss_threads():
    status = open("/proc/self/status").read().split("\n")
    get = lambda k: int(next(l for l in status if l.startswith(k)).split()[1])
    return get("VmRSS:"), get("Threads:")


@pytest.mark.jackd_only("PipeWire's libjack keeps about 150 kB of every client with ports that is opened and closed")
def test_create_destroy_cycles_do_not_leak(server):
    for _ in range(50):                           # warm up allocator and libjack
        gaincontrol.makecaps(None, "cycle", server.name, 2)
    gc.collect()
    rss0, thr0 = _rss_threads()
    for _ in range(1000):
        caps, client = gaincontrol.makecaps(None, "cycle", server.name, 2)
        assert clientops.get_state(client) == 10
        del caps, client
    gc.collect()
    rss1, thr1 = _rss_threads()
    assert thr1 == thr0
    assert rss1 - rss0 < 2048, f"RSS grew by {rss1 - rss0} kB over 1000 cycles"


def test_none_means_the_default_server(server):
    """makecaps with None as server name opens the client on the default
    server (libjack's default, which JACK_DEFAULT_SERVER names)."""
    import os
    code = ("import vesk.gaincontrol as g, vesk.clientops as c\n"
            "t = g.makecaps(None, 'dflt', None, 1)\n"
            "print(c.get_state(t[1]), c.get_jack_info(t[1]))\n")
    env = dict(os.environ)
    if server.name is not None:                   # else the default server it is
        env["JACK_DEFAULT_SERVER"] = server.name
    r = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=30, env=env)
    assert r.stdout.strip() == "10 ('dflt', 48000, 256)", r.stderr
