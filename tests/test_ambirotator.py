"""Ambisonic rotator through JACK: rotated sources against scipy's harmonics
of the rotated directions, the quarter turn about z, dropped requests, ramps
and restarted ramps, ports, and the friendly class's rotation conventions."""

import time

import numpy as np
import pytest
from scipy.spatial.transform import Rotation

import vesk
from vesk import hoarotator
from vesk.ambisonics import quaternion_from_ypr, rotation_matrix
from ambiref import sh_reference, rotate_direction
from harness import push, push_while


def settle():
    time.sleep(0.05)


def through(rot, G):
    """Rows of G (one set of channel gains each) through the rotator, one per sample."""
    x = np.zeros((rot.nchan, 256), np.float32)
    x[:, :len(G)] = np.asarray(G, np.float32).T
    return push(rot, x)[:, :len(G)].T


@pytest.mark.parametrize("degree", [1, 2, 3, 4, 5, 6, 7, 8])
def test_rotated_sources_match_rotated_directions(server, degree):
    rng = np.random.default_rng(10 + degree)
    az = rng.uniform(-np.pi, np.pi, 64)
    el = np.arcsin(rng.uniform(-1, 1, 64))
    G = sh_reference(degree, az, el)
    with vesk.AmbiRotator(degree, name="rotsh", server=server.name) as r:
        for how in ("quaternion", "rotation", "ypr"):
            q = rng.normal(size=4)
            q /= np.linalg.norm(q)
            if how == "quaternion":
                hoarotator.set_quaternion(r.capsule, *(3 * q), 0.0)
            elif how == "rotation":
                angle = 2 * np.arccos(q[0])
                hoarotator.set_rotation(r.capsule, angle, *(q[1:] * 7), 0.0)
            else:
                ypr = rng.uniform(-180, 180, 3)
                r.set_ypr(*ypr)
                q = Rotation.from_euler("ZYX", ypr, degrees=True).as_quat(scalar_first=True)
            settle()
            y = through(r, G)
            raz, rel = rotate_direction(rotation_matrix(q), az, el)
            np.testing.assert_allclose(y, sh_reference(degree, raz, rel), rtol=0, atol=1e-5, err_msg=how)


def test_quarter_turn_about_z(server):
    el = np.array([0.0, 0.4, -1.1])
    with vesk.AmbiRotator(8, name="rotz", server=server.name) as r:
        hoarotator.set_rotation(r.capsule, np.pi / 2, 0, 0, 1, 0)
        settle()
        y = through(r, np.vstack([sh_reference(8, 0, el), np.eye(81)[1:4]]))
    # A source at azimuth 0 moves to azimuth 90, elevation unchanged.
    np.testing.assert_allclose(y[:3], sh_reference(8, np.pi / 2, el), rtol=0, atol=1e-5)
    # Degree 1: output y = input x, z = z, x = -y (rows: inputs y, z, x).
    np.testing.assert_allclose(y[3:, 1:4], [[0, 0, -1], [0, 1, 0], [1, 0, 0]], rtol=0, atol=1e-7)


def test_identity_and_dropped_requests(server):
    rng = np.random.default_rng(1)
    x = rng.uniform(-1, 1, (16, 2000)).astype(np.float32)
    with vesk.AmbiRotator(3, name="rotdrop", server=server.name) as r:
        # No rotation after construction: outputs equal inputs.
        assert np.array_equal(push(r, x), x)
        hoarotator.set_rotation(r.capsule, 0.8, 1, -2, 0.5, 0)
        settle()
        y = push(r, x)
        for args in [("r", 0, 0, 0, 1), ("r", 1, 0, 0, 0), ("q", 0, 0, 0, 0),
                     ("r", np.nan, 1, 0, 0), ("q", 1, np.inf, 0, 0), ("q", np.nan, 0, 0, 0)]:
            f = hoarotator.set_rotation if args[0] == "r" else hoarotator.set_quaternion
            assert f(r.capsule, *args[1:], 0.0) is None
        settle()
        assert np.array_equal(push(r, x), y)
        hoarotator.set_quaternion(r.capsule, 2, 0, 0, 0, 0)
        settle()
        np.testing.assert_allclose(push(r, x), x, rtol=0, atol=1e-7)
        with pytest.raises(TypeError):
            hoarotator.set_rotation(r.capsule, 1, 0, 0)
        # The friendly class refuses what the module would drop, and takes
        # angle 0 as no rotation rather than as no request.
        with pytest.raises(ValueError):
            r.set_rotation(1.0, (0, 0, 0))
        with pytest.raises(ValueError):
            r.set_quaternion((0, 0, 0, 0))
        with pytest.raises(ValueError):
            r.set_ypr(10, 0, 0, ramp=np.nan)
        r.set_rotation(0.8, (1, -2, 0.5))
        r.set_rotation(0.0, (1, 0, 0))
        settle()
        np.testing.assert_allclose(push(r, x), x, rtol=0, atol=1e-7)


def test_ramp_and_restart(server):
    """0.5 s at 48000 Hz ramps over 24000 samples from a period boundary; a
    request during the ramp restarts from the matrix reached."""
    x = np.zeros((4, 96000), np.float32)
    x[1] = 1.0                                   # a source on the y axis
    with vesk.AmbiRotator(1, name="rotramp", server=server.name) as r:
        def before():
            r.set_quaternion((1, 0, 0, 0))
            settle()

        def action():
            hoarotator.set_rotation(r.capsule, np.pi / 2, 0, 0, 1, 0.5)
            time.sleep(0.25)
            hoarotator.set_rotation(r.capsule, -np.pi / 2, 0, 0, 1, 0.1)
        y = push_while(r, x, action, at=0.3, before=before)
    out_x = y[3]                                 # element (x, y): 0 -> -1, then -> +1
    k0 = int(np.argmax(out_x != 0))
    assert k0 > 0 and k0 % 256 == 0
    d = np.abs(np.diff(out_x[k0:]))
    k1 = k0 + 1 + int(np.argmax(d > 2 / 24000))   # first sample of the faster second ramp
    assert k1 % 256 == 0 and 0 < k1 - k0 < 24000
    s = np.arange(1, k1 - k0 + 1)
    np.testing.assert_allclose(out_x[k0:k1], -s / 24000, rtol=0, atol=2e-6)
    v = -(k1 - k0) / 24000                       # the value reached
    s = np.arange(1, 4801)
    np.testing.assert_allclose(out_x[k1:k1 + 4800], v + s * (1 - v) / 4800, rtol=0, atol=2e-6)
    np.testing.assert_allclose(out_x[k1 + 4800:], 1.0, rtol=0, atol=1e-6)


@pytest.mark.parametrize("degree, n", [(1, 4), (0, 4), (-2, 4), (5, 36), (8, 81), (9, 81)])
def test_port_counts_and_names(server, degree, n):
    import jack
    caps, client = hoarotator.makecaps(None, "rotports", server.name, degree)
    try:
        c = jack.Client("vesk-inspect", servername=server.name, no_start_server=True)
        try:
            ins = [q.name for q in c.get_ports("rotports:", is_input=True)]
            outs = [q.name for q in c.get_ports("rotports:", is_output=True)]
        finally:
            c.close()
    finally:
        del caps, client
    assert sorted(ins) == sorted(f"rotports:in.{i}" for i in range(n))
    assert sorted(outs) == sorted(f"rotports:out.{i}" for i in range(n))


@pytest.mark.parametrize("ypr, src, dst", [
    ((90, 0, 0), (0, 0), (90, 0)),        # yaw: front to the left
    ((0, 90, 0), (0, 0), (0, -90)),       # pitch: front downwards
    ((0, 0, 90), (90, 0), (0, 90)),       # roll: left upwards
    ((90, 0, 90), (90, 0), (0, 90)),      # roll first, then yaw (about the fixed axes)
])
def test_yaw_pitch_roll_conventions(server, ypr, src, dst):
    with vesk.AmbiRotator(2, name="rotypr", server=server.name) as r:
        r.set_ypr(*ypr)
        settle()
        y = through(r, sh_reference(2, *np.radians(src)))
    np.testing.assert_allclose(y[0], sh_reference(2, *np.radians(dst))[0], rtol=0, atol=1e-6)


def test_quaternion_helpers_against_scipy():
    rng = np.random.default_rng(4)
    for ypr in rng.uniform(-180, 180, (20, 3)):
        q = quaternion_from_ypr(*ypr)
        R = Rotation.from_euler("ZYX", ypr, degrees=True)
        np.testing.assert_allclose(rotation_matrix(q), R.as_matrix(), atol=1e-12)
        np.testing.assert_allclose(rotation_matrix(3 * q), R.as_matrix(), atol=1e-12)


def test_create_and_destroy_loop(server):
    for k in range(20):
        with vesk.AmbiRotator(8, name="rotloop", server=server.name) as r:
            r.set_rotation(0.1 * k, (0, 1, 1), ramp=0.2)
            assert r.state == vesk.State.PROCESS
