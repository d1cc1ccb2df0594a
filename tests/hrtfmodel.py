"""A rigid-sphere head for the binaural tests: far-field HRIRs of two ears on
a sphere of radius 8.75 cm, at azimuth +90 (left) and -90 degrees (right),
by the sphere's series solution (Rayleigh; Duda and Martens, JASA 104, 1998)."""

import numpy as np
from scipy.special import eval_legendre, spherical_jn, spherical_yn

RADIUS = 0.0875
C = 343.0
DELAY = 32      # samples added so that the nearer ear's response is causal


def sphere_transfer(cos_theta, freqs, radius=RADIUS, c=C):
    """Pressure on the sphere at angle theta from the source direction, over
    the free-field pressure at the centre, at freqs (Hz): shape (len(cos_theta), len(freqs))."""
    cos_theta = np.atleast_1d(np.asarray(cos_theta, dtype=float))
    freqs = np.asarray(freqs, dtype=float)
    H = np.ones((len(cos_theta), len(freqs)), complex)
    pos = freqs > 0
    mu = 2 * np.pi * freqs[pos] * radius / c
    S = np.zeros((len(cos_theta), len(mu)), complex)
    with np.errstate(all="ignore"):
        for m in range(int(mu.max()) + 40):
            dh = spherical_jn(m, mu, True) - 1j * spherical_yn(m, mu, True)
            term = (1j) ** (m - 1) / dh
            term[~np.isfinite(term)] = 0
            S += np.outer((2 * m + 1) * eval_legendre(m, cos_theta), term)
    H[:, pos] = S / mu ** 2
    return H


def hrirs(azimuth, elevation, rate=48000, n=256):
    """HRIRs of the directions (degrees), shape (M, 2, n): left, right."""
    az = np.radians(np.atleast_1d(azimuth).astype(float))
    el = np.radians(np.atleast_1d(elevation).astype(float))
    y = np.sin(az) * np.cos(el)           # cosine of the angle to the left ear (+y)
    nfft = 4 * n
    f = np.fft.rfftfreq(nfft, 1.0 / rate)
    shift = np.exp(-2j * np.pi * f * DELAY / rate)
    out = np.empty((len(az), 2, n))
    for ear, cos_t in enumerate((y, -y)):
        h = np.fft.irfft(sphere_transfer(cos_t, f) * shift, nfft)[:, :n]
        fade = n // 8
        h[:, n - fade:] *= 0.5 * (1 + np.cos(np.pi * (np.arange(fade) + 1) / fade))
        out[:, ear] = h
    return out


def fibonacci_directions(m):
    """m nearly uniform directions (azimuth, elevation in degrees)."""
    i = np.arange(m) + 0.5
    el = np.degrees(np.arcsin(1 - 2 * i / m))
    az = np.degrees((np.pi * (3 - np.sqrt(5)) * i) % (2 * np.pi))
    az = np.where(az > 180, az - 360, az)
    return np.stack([az, el], axis=1)


def write_sofa(path, m=600, rate=48000, n=256):
    """A SimpleFreeFieldHRIR file of m directions; returns (hrirs, directions)."""
    import sofar
    d = fibonacci_directions(m)
    ir = hrirs(d[:, 0], d[:, 1], rate, n)
    s = sofar.Sofa("SimpleFreeFieldHRIR")
    s.Data_IR = ir
    s.Data_SamplingRate = float(rate)
    s.SourcePosition = np.column_stack([d, np.full(m, 1.5)])
    s.GLOBAL_Title = "rigid sphere"
    sofar.write_sofa(str(path), s)
    return ir, d
