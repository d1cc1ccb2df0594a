"""Server control: transport, connections by name, and life without a server."""

import time

import pytest

import vesk
from vesk import servercontrol


def wait_for(pred, timeout=2.0):
    t = time.monotonic() + timeout
    while time.monotonic() < t:
        v = pred()
        if v:
            return v
        time.sleep(0.005)
    return pred()


def test_without_server():
    c = servercontrol.create(None, "ctl", "vesk-no-such-server")
    assert servercontrol.get_jack_info(c) == (None, 0, 0)
    assert servercontrol.get_transport_state(c) == (0, 0)
    assert servercontrol.connect_ports(c, "a:b", "c:d") == -1
    assert servercontrol.disconn_ports(c, "a:b", "c:d") == -1
    for f in (servercontrol.transport_start, servercontrol.transport_stop):
        assert f(c) is None
    assert servercontrol.transport_locate(c, 1000) is None
    with pytest.raises(vesk.JackError):
        vesk.ServerControl(server="vesk-no-such-server")


def test_transport(server):
    c = servercontrol.create(None, "ctl", server.name)
    assert servercontrol.get_jack_info(c) == ("ctl", 48000, 256)
    assert wait_for(lambda: servercontrol.get_transport_state(c)[0] == 0)
    servercontrol.transport_locate(c, 48000)
    assert wait_for(lambda: servercontrol.get_transport_state(c) == (0, 48000))
    servercontrol.transport_start(c)
    assert wait_for(lambda: servercontrol.get_transport_state(c)[0] == 1)
    f1 = servercontrol.get_transport_state(c)[1]
    time.sleep(0.1)
    st, f2 = servercontrol.get_transport_state(c)
    assert st == 1 and f2 > f1 >= 48000
    servercontrol.transport_stop(c)
    assert wait_for(lambda: servercontrol.get_transport_state(c)[0] == 0)
    f3 = servercontrol.get_transport_state(c)[1]
    time.sleep(0.05)
    assert servercontrol.get_transport_state(c) == (0, f3)
    servercontrol.transport_locate(c, 2**31 - 256)
    assert wait_for(lambda: servercontrol.get_transport_state(c)[1] == 2**31 - 256)
    servercontrol.transport_start(c)
    assert wait_for(lambda: servercontrol.get_transport_state(c)[1] < 0)   # past 2^31: negative
    servercontrol.transport_stop(c)
    servercontrol.transport_locate(c, 0)
    with pytest.raises(OverflowError):
        servercontrol.transport_locate(c, 2**31)


def test_connections(server):
    c = servercontrol.create(None, "ctl", server.name)
    with vesk.GainControl(1, name="a", server=server.name) as a:
        assert servercontrol.connect_ports(c, "a:out_0", "a:in_0") == 0
        assert servercontrol.connect_ports(c, "a:out_0", "a:in_0") != 0       # already connected
        assert servercontrol.connect_ports(c, "a:out_0", "nobody:in") != 0
        assert servercontrol.connect_ports(c, "a:in_0", "a:out_0") != 0       # wrong direction
        assert servercontrol.disconn_ports(c, "a:out_0", "a:in_0") == 0
        assert servercontrol.disconn_ports(c, "a:out_0", "a:in_0") != 0
        with vesk.ServerControl(server=server.name) as sc:
            sc.connect("a:out_0", "a:in_0")
            with pytest.raises(vesk.JackError):
                sc.connect("a:out_0", "a:in_0")
            sc.disconnect("a:out_0", "a:in_0")


def test_zombie_after_server_stops(own_server):
    c = servercontrol.create(None, "ctl", own_server.name)
    g = vesk.GainControl(1, server=own_server.name)
    own_server.stop()
    assert wait_for(lambda: g.state == vesk.State.ZOMBIE, 5.0)
    assert wait_for(lambda: True)
    st = servercontrol.get_transport_state(c)        # still readable
    assert servercontrol.get_jack_info(c)[0] == "ctl"
    assert isinstance(st, tuple)
    g.close()
    del c


def test_wrong_capsule(server):
    from vesk import gaincontrol
    caps, client = gaincontrol.makecaps(None, "x", server.name, 1)
    for bad in (caps, client, None):
        with pytest.raises((TypeError, ValueError)):
            servercontrol.get_transport_state(bad)
