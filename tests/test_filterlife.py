"""The filter tools' lives: ports deleted while they run (a deleted output
is skipped, an output whose input port is gone is silent, the others carry
on), servers that go away under them, loops of create and destroy."""

import numpy as np
import pytest

import vesk
from vesk.filters import OCTAVE
from harness import push
from filterref import settle


def make(kind, server):
    if kind == "crossover":
        t = vesk.Crossover(2, 3, maxdelay=0.01, name="pxo", server=server.name)
        for out in range(3):
            t.set_filter(out, out % 2, highpass=100.0, lowpass=5000.0)
            t.set_delay(out, 0.001)
    elif kind == "butterworth":
        t = vesk.ButterworthFilter(2, 3, name="pbw", server=server.name)
        for out in range(3):
            t.set_filter(out, out % 2, highpass=100.0, lowpass=5000.0)
    else:
        t = vesk.BandFilter(2, 3, name="pbf", server=server.name)
        for out in range(3):
            t.set_filter(out, out % 2, OCTAVE, 5)
    return t


@pytest.mark.parametrize("kind", ["crossover", "butterworth", "bandfilter"])
def test_deleted_ports(server, kind):
    with make(kind, server) as t:
        settle()
        x = np.tile(np.random.default_rng(6).uniform(-1, 1, 6000).astype(np.float32), (2, 1))
        y = push(t, x)
        np.testing.assert_allclose(y[2], y[0], atol=1e-6)
        assert t.port_operation(vesk.PortOp.DELETE_INP, 1) == 0
        assert t.port_operation(vesk.PortOp.DELETE_OUT, 2) == 0
        y2 = push(t, x[:1], inputs=t.inputs[:1], outputs=t.outputs[:2])
        np.testing.assert_allclose(y2[0], y[0], atol=1e-5)
        assert np.abs(y2[1]).max() < 1e-10


ALL = ["equaliser", "crossover", "butterworth", "bandfilter"]


def make_any(kind, server_name):
    if kind == "equaliser":
        t = vesk.Equaliser(2, "L1", name="life", server=server_name)
        t.set_filter(1, 1000.0, 6.0, 1.0)
        t.bypass = False
        return t
    srv = type("S", (), {"name": server_name})
    return make(kind, srv)


def poke(t):
    """Every setter once, with ordinary values."""
    if isinstance(t, vesk.Equaliser):
        t.set_filter(0, 200.0, 3.0, 0.5)
        t.gain = -2.0
        t.bypass = True
    elif isinstance(t, vesk.Crossover):
        t.set_filter(0, 0, highpass=300.0)
        t.set_delay(0, 0.002)
        t.set_gain(0, 0.7)
    elif isinstance(t, vesk.ButterworthFilter):
        t.set_filter(0, 1, lowpass=300.0)
    else:
        t.set_filter(0, 1, OCTAVE, 3)


@pytest.mark.parametrize("kind", ALL)
def test_server_gone(own_server, kind):
    t = make_any(kind, own_server.name)
    assert t.state == vesk.State.PROCESS
    own_server.stop()
    poke(t)                                   # harmless on a client without server
    t.close()


@pytest.mark.parametrize("kind", ALL)
def test_create_and_destroy_loop(server, kind):
    for _ in range(25):
        with make_any(kind, server.name) as t:
            poke(t)
    with make_any(kind, server.name) as t:
        settle()
        x = np.random.default_rng(9).uniform(-1, 1, (len(t.inputs), 2000)).astype(np.float32)
        assert np.isfinite(push(t, x)).all()
