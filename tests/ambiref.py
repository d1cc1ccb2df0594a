"""Independent references for the ambisonic tests: real spherical harmonics
(ACN, SN3D, no Condon-Shortley sign) from scipy's complex ones, and
directions rotated by a 3 x 3 matrix."""

import numpy as np
from scipy.special import sph_harm_y


def sh_reference(degree, azim, elev):
    """Harmonics of degrees 0..degree of directions (radians), shape (n, (degree+1)**2)."""
    azim, elev = np.broadcast_arrays(np.atleast_1d(np.asarray(azim, float)),
                                     np.atleast_1d(np.asarray(elev, float)))
    # Through the unit vector, so that elevations beyond the poles are the
    # same direction as scipy sees it (polar angle 0..pi).
    x, y, z = np.cos(azim) * np.cos(elev), np.sin(azim) * np.cos(elev), np.sin(elev)
    theta = np.arccos(np.clip(z, -1, 1))
    phi = np.mod(np.arctan2(y, x), 2 * np.pi)
    out = np.zeros((len(azim), (degree + 1) ** 2))
    for l in range(degree + 1):
        k = np.sqrt(4 * np.pi / (2 * l + 1))
        out[:, l * l + l] = k * sph_harm_y(l, 0, theta, phi).real
        for m in range(1, l + 1):
            # scipy carries the Condon-Shortley sign (-1)^m: take it out.
            Y = sph_harm_y(l, m, theta, phi) * (-1) ** m * np.sqrt(2) * k
            out[:, l * l + l + m] = Y.real
            out[:, l * l + l - m] = Y.imag
    return out


def rotate_direction(R, azim, elev):
    """Azimuth and elevation (radians) of R v for directions v given by their angles."""
    v = np.array([np.cos(azim) * np.cos(elev), np.sin(azim) * np.cos(elev), np.sin(elev)])
    u = R @ v
    return np.arctan2(u[1], u[0]), np.arctan2(u[2], np.hypot(u[0], u[1]))
