"""Crossover, Butterworth and band filters with ports deleted while they run:
a deleted output is skipped, an output whose input port is gone is silent,
the other outputs carry on unchanged."""

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
