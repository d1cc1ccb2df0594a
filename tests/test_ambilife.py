"""The panner's and rotator's lives: no server at creation, a server that
goes away under them."""

import pytest

import vesk
from vesk import clientops, hoapanner, hoarotator


def poke(t):
    """Every setter once, with ordinary values."""
    if isinstance(t, vesk.AmbiPanner):
        t.set_direction(0, 30.0, 10.0, 0.1)
    else:
        t.set_rotation(0.5, (0, 0, 1), ramp=0.1)
        t.set_quaternion((1, 0, 1, 0))
        t.set_ypr(10, 20, 30)


@pytest.mark.parametrize("make", [
    lambda s: vesk.AmbiPanner(4, 3, name="lifepan", server=s),
    lambda s: vesk.AmbiRotator(4, name="liferot", server=s),
], ids=["panner", "rotator"])
def test_server_gone(own_server, make):
    t = make(own_server.name)
    assert t.state == vesk.State.PROCESS
    own_server.stop()
    poke(t)                                   # harmless on a client without server
    t.close()


def test_no_server():
    """FAILED objects exist, take every setter without effect, and are freed normally."""
    caps, client = hoapanner.makecaps(None, "x", "vesk-no-such-server", 3, 2)
    assert clientops.get_state(client) == -1
    hoapanner.set_direction(caps, 0, 10, 10, 0)
    del caps, client
    caps, client = hoarotator.makecaps(None, "x", "vesk-no-such-server", 3)
    assert clientops.get_state(client) == -1
    hoarotator.set_rotation(caps, 1, 0, 0, 1, 0)
    hoarotator.set_quaternion(caps, 1, 0, 0, 1, 0)
    del caps, client
