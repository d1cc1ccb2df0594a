"""Binaural rendering of ambisonic signal sets, and the design of its filters
from head-related impulse responses.

:class:`BinauralRenderer` takes an ambisonic signal set of degree 1 to 8
(ACN order, SN3D, inputs "in.0" ... ) and renders it to "out.L" and "out.R":
rotation, optional near-field compensation, then one filter per channel. The
filters are left-ear filters: the right ear uses the same ones with the
channels of negative order negated (left-right symmetry of the head).
:func:`design_filters` makes them from HRIRs with their directions, and
:func:`sofa_filters` from a SOFA file::

    with vesk.BinauralRenderer(3, maxlen=512, server=server.name) as r:
        r.load_sofa("subject.sofa")      # HRIRs at the server's rate
        r.nfcomp = 1.5                   # sources 1.5 m away
        r.set_head(30.0, 0.0, 0.0)       # the listener looks 30 degrees to the left
"""

import math

import numpy as np

from . import hoabinaural
from ._tool import Tool
from .ambisonics import _Rotation, quaternion_from_ypr, quaternion_inverse

SPEED_OF_SOUND = 343.0   # m/s, as the renderer's near-field compensation uses
HEAD_RADIUS = 0.0875     # m, the default head radius of the filter design

_F32 = np.float32


def sn3d_harmonics(degree, azimuth, elevation):
    """Real spherical harmonics up to ``degree`` (ACN order, SN3D, no
    Condon-Shortley sign) of the directions ``azimuth``, ``elevation`` in
    degrees (arrays of one shape). Returns shape (..., (degree+1)**2): the
    panning gains of a source in each direction."""
    a = np.radians(np.asarray(azimuth, dtype=float))
    e = np.radians(np.asarray(elevation, dtype=float))
    a, e = np.broadcast_arrays(a, e)
    L = int(degree)
    s = np.sin(e)
    c = np.abs(np.cos(e))
    a = np.where(np.cos(e) < 0, a + np.pi, a)
    P = np.zeros((L + 1, L + 1) + s.shape)
    P[0, 0] = 1
    if L >= 1:
        P[1, 0] = s
        P[1, 1] = c
    for l in range(2, L + 1):
        P[l, 0] = ((2 * l - 1) * s * P[l - 1, 0] - (l - 1) * P[l - 2, 0]) / l
        for m in range(1, l + 1):
            P[l, m] = P[l - 2, m] + (2 * l - 1) * c * P[l - 1, m - 1]
    out = np.zeros(s.shape + ((L + 1) ** 2,))
    out[..., 0] = 1
    for l in range(1, L + 1):
        out[..., l * l + l] = P[l, 0]
        q = 2.0
        for m in range(1, l + 1):
            q /= (l - m + 1) * (l + m)
            g = math.sqrt(q) * P[l, m]
            out[..., l * l + l + m] = g * np.cos(m * a)
            out[..., l * l + l - m] = g * np.sin(m * a)
    return out


def default_crossover(degree, radius=HEAD_RADIUS):
    """The frequency below which a degree renders the HRIRs' phase well:
    degree * c / (2 pi radius), where k * radius reaches the degree
    (about 624 Hz per degree for a head of 8.75 cm)."""
    return degree * SPEED_OF_SOUND / (2 * np.pi * radius)


def design_filters(hrirs, directions, degree, rate, length=None, crossover=None,
                   radius=HEAD_RADIUS, regularisation=1e-4):
    """Per-channel left-ear filters for :class:`BinauralRenderer` from a set of HRIRs.

    ``hrirs`` has shape (M, 2, N) (left and right ear) or (M, N) (left ear
    only); ``directions`` shape (M, 2): azimuth and elevation in degrees of
    each measurement (azimuth counter-clockwise from the front, elevation up,
    as in SOFA's spherical source positions); ``rate`` is their sample rate.
    Returns a float32 array of shape ((degree+1)**2, length), ``length``
    defaulting to max(N, 256): row i is the filter of ACN channel i.

    The design is magnitude least squares (MagLS: Schoerkhuber, Zaunschirm
    and Hoeldrich, "Binaural rendering of Ambisonic signals via magnitude
    least squares", DAGA 2018):

    - The right ear is taken as the left ear of the mirrored direction
      (azimuth negated), so both ears' data fit the one set of left-ear
      filters that the renderer's symmetry assumes.
    - Below ``crossover`` (default :func:`default_crossover`: degree * c /
      (2 pi radius)) each frequency bin is a regularised least-squares fit of
      the complex HRTFs by the SN3D harmonics of the directions:
      h = (Y^T Y + r I)^-1 Y^T H, r = ``regularisation`` times the mean
      diagonal of Y^T Y.
    - From the crossover up only the magnitudes are fitted: bin by bin, the
      target takes the phase of the previous bin's rendered HRTFs, and the
      same least-squares fit is made to |H| with that phase. Above the
      frequency where the degree can follow the phase, this spends the
      degrees of freedom on the magnitude (timbre and level differences),
      which the ear hears, instead of on interaural phase, which it does not.
    - The filters come back to the time domain on a grid of 2 * max(N,
      length) samples, are cut to ``length`` and faded out over their last
      eighth (half Hann window).
    """
    hrirs = np.asarray(hrirs, dtype=float)
    directions = np.asarray(directions, dtype=float)
    if hrirs.ndim == 2:
        hrirs = hrirs[:, np.newaxis, :]
    if hrirs.ndim != 3 or hrirs.shape[1] not in (1, 2):
        raise ValueError("hrirs must have shape (M, 2, N) or (M, N)")
    M, nears, N = hrirs.shape
    if directions.ndim != 2 or directions.shape[0] != M or directions.shape[1] < 2:
        raise ValueError(f"directions must have shape ({M}, 2)")
    if not np.all(np.isfinite(hrirs)) or not np.all(np.isfinite(directions[:, :2])):
        raise ValueError("hrirs and directions must be finite")
    degree = int(degree)
    if not 1 <= degree <= 8:
        raise ValueError("degree must be 1 to 8")
    length = max(N, 256) if length is None else int(length)
    if length < 1:
        raise ValueError("length must be at least 1")
    rate = float(rate)
    fc = default_crossover(degree, radius) if crossover is None else float(crossover)

    nfft = 2 * max(N, length)
    spectra = np.fft.rfft(hrirs, nfft, axis=-1)
    az, el = directions[:, 0], directions[:, 1]
    if nears == 2:
        data = np.concatenate([spectra[:, 0], spectra[:, 1]])
        Y = sn3d_harmonics(degree, np.concatenate([az, -az]), np.concatenate([el, el]))
    else:
        data = spectra[:, 0]
        Y = sn3d_harmonics(degree, az, el)
    G = Y.T @ Y
    G += regularisation * np.trace(G) / G.shape[0] * np.eye(G.shape[0])
    Yp = np.linalg.solve(G, Y.T)

    freqs = np.fft.rfftfreq(nfft, 1.0 / rate)
    kc = int(np.searchsorted(freqs, fc))
    kc = max(1, min(kc, len(freqs)))
    coef = np.zeros((Y.shape[1], len(freqs)), dtype=complex)
    coef[:, :kc] = Yp @ data[:, :kc]
    mag = np.abs(data)
    # The phase runs on from bin to bin with the set's bulk delay, so that the
    # high band stays where the HRIRs' energy is instead of wrapping round.
    delay = float(np.median(np.argmax(np.abs(hrirs), axis=-1)))
    step = -2 * np.pi * delay / nfft
    for k in range(kc, len(freqs)):
        phase = np.angle(Y @ coef[:, k - 1]) + step
        coef[:, k] = Yp @ (mag[:, k] * np.exp(1j * phase))
    coef[:, -1] = coef[:, -1].real
    h = np.fft.irfft(coef, nfft, axis=-1)[:, :length]
    nfade = length // 8
    if nfade > 0:
        h[:, length - nfade:] *= 0.5 * (1 + np.cos(np.pi * (np.arange(nfade) + 1) / nfade))
    return h.astype(_F32)


def read_sofa(path):
    """(hrirs (M, R, N), directions (M, 2) in degrees, rate) from a SOFA file,
    read with ``sofar``. Cartesian source positions are converted."""
    import sofar
    s = sofar.read_sofa(str(path), verify=False, verbose=False)
    ir = np.asarray(s.Data_IR, dtype=float)
    pos = np.asarray(s.SourcePosition, dtype=float)
    if pos.ndim == 1:
        pos = np.broadcast_to(pos, (ir.shape[0], pos.shape[0]))
    if str(getattr(s, "SourcePosition_Type", "spherical")).lower().startswith("cartesian"):
        x, y, z = pos[:, 0], pos[:, 1], pos[:, 2]
        pos = np.stack([np.degrees(np.arctan2(y, x)), np.degrees(np.arctan2(z, np.hypot(x, y)))], axis=1)
    rate = float(np.ravel(s.Data_SamplingRate)[0])
    return ir, pos[:, :2], rate


def sofa_filters(path, degree, length=None, crossover=None, **kw):
    """(filters, rate): :func:`design_filters` applied to the HRIRs of a SOFA
    file (SimpleFreeFieldHRIR: receivers 0 and 1 are the left and right
    ear). The filters are for the file's sample rate, which is returned."""
    ir, directions, rate = read_sofa(path)
    return design_filters(ir[:, :2], directions, degree, rate, length, crossover, **kw), rate


class BinauralRenderer(_Rotation, Tool):
    """Binaural renderer of an ambisonic signal set of degree 1 to 8.

    Inputs "in.0" ... "in.{(degree+1)**2 - 1}" take the set in ACN order,
    SN3D; outputs "out.L" and "out.R" give the ear signals. Each period the
    set is rotated (:meth:`set_rotation`, :meth:`set_quaternion`,
    :meth:`set_ypr`, :meth:`set_head`: the scene turns, with a ramp of 0 to
    1 s; conventions as in :mod:`vesk.ambisonics`), optionally
    near-field compensated (:attr:`nfcomp`), then every channel is convolved
    with its left-ear filter and summed (the right ear negates the channels
    of negative order). Both outputs are silent until filters are loaded
    (:meth:`set_filter`, :meth:`set_filters`, :meth:`load_sofa`,
    :meth:`load_hrirs`). A new filter replaces the old one whole at a period
    boundary, so filters can be changed while audio runs.

    ``degree`` clamps to 1..8 and ``maxlen`` (longest filter, samples) to
    1..2048; the convolution uses whole periods, so up to ``maxlen`` rounded
    up to a multiple of the period is used. The period size is fixed at
    creation: after the server changes it to anything but a multiple of the
    old one, the outputs are silent.
    """

    _module = hoabinaural
    _inp_format = "in.{}"

    def __init__(self, degree, maxlen=2048, name="hoabinaural", server=None):
        self._open(name, server, int(maxlen), int(degree))
        self._degree = max(1, min(8, int(degree)))
        self._maxlen = max(1, min(2048, int(maxlen)))
        self._ninp = self.nchan if self.name else 0
        self._nout = 2 if self.name else 0
        self._nfcomp = None

    @property
    def degree(self):
        """Ambisonic degree, 1..8."""
        return self._degree

    @property
    def nchan(self):
        """Number of ambisonic channels (inputs), (degree+1)**2."""
        return (self._degree + 1) ** 2

    @property
    def maxlen(self):
        """Longest filter asked for at creation (clamped to 1..2048)."""
        return self._maxlen

    @property
    def outputs(self):
        """Full JACK names of the outputs ("client:out.L", "client:out.R")."""
        n = self.name
        return [f"{n}:out.L", f"{n}:out.R"] if n else []

    def set_filter(self, index, h):
        """Load the left-ear filter of ACN channel ``index`` (None clears it).

        ``h`` is converted to float32; samples past what the renderer uses are
        ignored. Non-finite samples raise ValueError; an index outside
        0..nchan-1 raises IndexError.
        """
        index = int(index)
        if not 0 <= index < self.nchan:
            raise IndexError(f"Channel index {index} out of range 0..{self.nchan - 1}")
        if h is not None:
            h = np.asarray(h, dtype=_F32)
            if h.ndim != 1:
                raise ValueError("Filter must be one-dimensional")
        hoabinaural.set_filter(self.capsule, index, h)

    def set_filters(self, filters):
        """Load all filters at once: ``filters`` has one row per channel (nchan rows)."""
        f = np.asarray(filters, dtype=_F32)
        if f.ndim != 2 or f.shape[0] != self.nchan:
            raise ValueError(f"filters must have shape ({self.nchan}, n)")
        for i in range(self.nchan):
            self.set_filter(i, f[i])

    def clear_filters(self):
        """Silence both outputs: every channel's filter cleared."""
        for i in range(self.nchan):
            self.set_filter(i, None)

    def load_hrirs(self, hrirs, directions, rate=None, **kw):
        """Design (:func:`design_filters`, keyword arguments passed on) and
        load filters from HRIRs at the server's rate; ``length`` defaults to
        :attr:`maxlen`. Returns the filters."""
        if rate is not None and self.rate and abs(float(rate) - self.rate) > 0.5:
            raise ValueError(f"HRIRs at {rate} Hz for a server at {self.rate} Hz")
        kw.setdefault("length", self._maxlen)
        f = design_filters(hrirs, directions, self._degree, rate or self.rate, **kw)
        self.set_filters(f)
        return f

    def load_sofa(self, path, **kw):
        """Design and load filters from a SOFA file (see :meth:`load_hrirs`)."""
        ir, directions, rate = read_sofa(path)
        return self.load_hrirs(ir[:, :2], directions, rate, **kw)

    @property
    def nfcomp(self):
        """Near-field compensation distance in metres (None: off).

        Set a distance to compensate for sources that far away (values below
        0.5 m act as 0.5 m); None or any distance above 20 m turns it off.
        NaN raises ValueError.
        """
        return self._nfcomp

    @nfcomp.setter
    def nfcomp(self, distance):
        if distance is None or distance > 20:
            hoabinaural.set_nfcomp(self.capsule, 1e30)
            self._nfcomp = None
        else:
            hoabinaural.set_nfcomp(self.capsule, float(distance))
            self._nfcomp = max(float(distance), 0.5)

    def set_head(self, yaw, pitch, roll, ramp=0.0, degrees=True):
        """Keep the scene still for a listener whose head has turned by yaw,
        pitch and roll (as :meth:`set_ypr`): the scene is rotated by the
        inverse of the head's rotation."""
        self._send(quaternion_inverse(quaternion_from_ypr(yaw, pitch, roll, degrees)), ramp)
