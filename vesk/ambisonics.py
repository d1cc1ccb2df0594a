"""Friendly classes of the ambisonic panner and rotator, and the rotation
conventions they share.

Conventions (the same in every ambisonic tool):

- Signal sets of degree L have (L+1)**2 channels in ACN order (channel
  l*l + l + m for degree l, order m), real spherical harmonics without the
  Condon-Shortley sign, SN3D normalisation.
- Directions: azimuth 0, elevation 0 is the front (+x); a positive azimuth
  turns towards the left (+y), a positive elevation upwards (+z).
- Rotations are active: a source at direction v in the input is at R v in
  the output. All angles of rotations follow the right-hand rule about their
  axis.
- Quaternions are scalar first, (w, x, y, z); they need not be of unit
  length. scipy's ``Rotation.as_quat()`` is scalar last: pass
  ``as_quat(scalar_first=True)``.
- Yaw, pitch and roll (Tait-Bryan angles) give R = Rz(yaw) Ry(pitch) Rx(roll):
  roll about x first, then pitch about y, then yaw about z, all about the
  fixed axes. With the right-hand rule, a positive yaw moves a source in
  front towards the left, a positive pitch moves it downwards, and a
  positive roll moves a source on the left upwards. To keep a scene still
  for a listener whose head turned by (yaw, pitch, roll), rotate the field by
  the inverse: ``quaternion_inverse(quaternion_from_ypr(yaw, pitch, roll))``.
"""

import math

import numpy as np

from . import hoapanner, hoarotator
from ._tool import Tool


def quaternion_from_axis_angle(angle, axis):
    """Unit quaternion (w, x, y, z) of a rotation by ``angle`` radians about ``axis``."""
    axis = np.asarray(axis, dtype=float).reshape(3)
    n = np.linalg.norm(axis)
    if not (np.isfinite(n) and n > 0 and math.isfinite(angle)):
        raise ValueError("Rotation needs a finite angle and a finite, non-zero axis")
    s = math.sin(0.5 * angle) / n
    return np.array([math.cos(0.5 * angle), *(axis * s)])


def quaternion_from_ypr(yaw, pitch, roll, degrees=True):
    """Unit quaternion (w, x, y, z) of R = Rz(yaw) Ry(pitch) Rx(roll) (see the module notes)."""
    if degrees:
        yaw, pitch, roll = (math.radians(a) for a in (yaw, pitch, roll))
    qz = quaternion_from_axis_angle(yaw, (0, 0, 1))
    qy = quaternion_from_axis_angle(pitch, (0, 1, 0))
    qx = quaternion_from_axis_angle(roll, (1, 0, 0))
    return quaternion_multiply(quaternion_multiply(qz, qy), qx)


def quaternion_multiply(a, b):
    """Hamilton product a b: the rotation b followed by a."""
    aw, ax, ay, az = a
    bw, bx, by, bz = b
    return np.array([aw * bw - ax * bx - ay * by - az * bz,
                     aw * bx + ax * bw + ay * bz - az * by,
                     aw * by - ax * bz + ay * bw + az * bx,
                     aw * bz + ax * by - ay * bx + az * bw])


def quaternion_inverse(q):
    """The inverse rotation of the unit quaternion q."""
    w, x, y, z = q
    return np.array([w, -x, -y, -z])


def _unit_quaternion(q):
    q = np.asarray(q, dtype=float).reshape(4)
    n = np.linalg.norm(q)
    if not (np.isfinite(n) and n > 0):
        raise ValueError("Quaternion must be finite and non-zero")
    return q / n


def rotation_matrix(q):
    """The 3 x 3 matrix (acting on x, y, z column vectors) of the quaternion q (w, x, y, z)."""
    w, x, y, z = _unit_quaternion(q)
    return np.array([[1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)],
                     [2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)],
                     [2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)]])


def _ramp(t):
    t = float(t)
    if math.isnan(t):
        raise ValueError("Ramp time must not be NaN")
    return t


class _Rotation:
    """How a rotation is set and read back, for the tools that rotate a
    signal set (the rotator, and the binaural renderer, whose scene turns).
    The tool's module takes it with ``set_quaternion``."""

    _quat = (1.0, 0.0, 0.0, 0.0)   # no rotation until one is set

    def set_rotation(self, angle, axis, ramp=0.0, degrees=False):
        """Rotate by ``angle`` (radians, or degrees with ``degrees``) about
        ``axis`` (x, y, z) over ``ramp`` seconds (0..1).

        The axis need not be of unit length; a zero or non-finite axis or
        angle raises ValueError. An angle of 0 (or any multiple of 360
        degrees) means no rotation.
        """
        angle = math.radians(angle) if degrees else float(angle)
        self._send(quaternion_from_axis_angle(angle, axis), ramp)

    def set_quaternion(self, q, ramp=0.0):
        """Rotate by the quaternion ``q`` = (w, x, y, z), of any non-zero
        finite length; (1, 0, 0, 0) is no rotation."""
        self._send(_unit_quaternion(q), ramp)

    def set_ypr(self, yaw, pitch, roll, ramp=0.0, degrees=True):
        """Rotate by R = Rz(yaw) Ry(pitch) Rx(roll), angles in degrees (radians with ``degrees=False``)."""
        self._send(quaternion_from_ypr(yaw, pitch, roll, degrees), ramp)

    def _send(self, q, ramp):
        # Sent as a quaternion: an angle of zero would be dropped as a request.
        self._module.set_quaternion(self.capsule, *(float(v) for v in q), _ramp(ramp))
        self._quat = np.asarray(q, dtype=float)

    @property
    def quaternion(self):
        """The rotation as last set, a unit quaternion (w, x, y, z)."""
        return np.array(self._quat, dtype=float)

    @property
    def matrix(self):
        """The rotation as last set, a 3 x 3 matrix acting on (x, y, z)."""
        return rotation_matrix(self._quat)


class AmbiPanner(Tool):
    """Pans up to 100 mono inputs into one ambisonic signal set of degree 1 to 8.

    Every input ``in_i`` has a direction of its own; all of them feed the
    (degree+1)**2 outputs ``out.0``, ``out.1``, ... (ACN, SN3D; see the
    module notes for the conventions). A direction change moves every
    channel gain linearly to its new value over the ramp time given with it
    (0 to 1 s); it starts at the next period. Channel 0 always has gain 1::

        with vesk.AmbiPanner(3, 2, name="pan") as p:
            p.set_direction(0, 30.0, 0.0)            # input 0 front left
            p.set_direction(1, -110.0, 20.0, 0.05)   # input 1 in 50 ms

    ``degree`` is clamped to 1..8, ``ninp`` to 1..100. Every input starts at
    azimuth 0, elevation 0.
    """

    _module = hoapanner
    _inp_format = "in_{}"
    _out_format = "out.{}"

    def __init__(self, degree, ninp=1, name="hoapanner", server=None):
        self._open(name, server, int(degree), int(ninp))
        self._degree = max(1, min(8, int(degree)))
        n = max(1, min(100, int(ninp)))
        if self.name:
            self._ninp, self._nout = n, (self._degree + 1) ** 2
        self._directions = np.zeros((n, 2))

    @property
    def degree(self):
        """Ambisonic degree (1..8)."""
        return self._degree

    @property
    def ninp(self):
        """Number of mono inputs."""
        return len(self._directions)

    @property
    def nchan(self):
        """Number of ambisonic outputs, (degree+1)**2."""
        return (self._degree + 1) ** 2

    def set_direction(self, index, azimuth, elevation, ramp=0.0):
        """Pan input ``index`` to ``azimuth``, ``elevation`` (degrees) over ``ramp`` seconds (0..1).

        Angles may lie outside the usual ranges (elevation 120 is elevation
        60 seen from azimuth + 180); non-finite angles raise ValueError.
        Indices outside 0..ninp-1 raise IndexError.
        """
        index = int(index)
        if not 0 <= index < self.ninp:
            raise IndexError(f"Input index {index} out of range 0..{self.ninp - 1}")
        hoapanner.set_direction(self.capsule, index, float(azimuth), float(elevation), _ramp(ramp))
        self._directions[index] = (azimuth, elevation)

    @property
    def directions(self):
        """(azimuth, elevation) in degrees of every input as last set, shape (ninp, 2)."""
        return self._directions.copy()


class AmbiRotator(_Rotation, Tool):
    """Rotates one ambisonic signal set of degree 1 to 8.

    (degree+1)**2 inputs ``in.i`` feed as many outputs ``out.i``. The
    rotation is active (a source at v moves to R v) and changes smoothly:
    every matrix element moves linearly to its new value over the ramp time
    given with the request (0 to 1 s). A rotation can be given as angle and
    axis, as a quaternion, or as yaw, pitch and roll (see the module notes)::

        with vesk.AmbiRotator(3, name="rot") as r:
            r.set_ypr(90, 0, 0, ramp=0.1)     # front moves to the left
            r.set_quaternion((1, 0, 0, 0))    # back to no rotation

    ``degree`` is clamped to 1..8. The rotator starts with no rotation.
    """

    _module = hoarotator
    _inp_format = "in.{}"
    _out_format = "out.{}"

    def __init__(self, degree, name="hoarotator", server=None):
        self._open(name, server, int(degree))
        self._degree = max(1, min(8, int(degree)))
        if self.name:
            self._ninp = self._nout = (self._degree + 1) ** 2

    @property
    def degree(self):
        """Ambisonic degree (1..8)."""
        return self._degree

    @property
    def nchan(self):
        """Number of channels, (degree+1)**2 inputs and as many outputs."""
        return (self._degree + 1) ** 2
