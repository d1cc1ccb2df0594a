"""Friendly classes of the filters: parametric equaliser, crossover,
Butterworth filters and IEC band filters.

Each tool can tell what its current settings look like: ``response()``
returns ``(freqs, db)``, the analytic magnitude response in dB at the
frequencies in Hz, computed from the very coefficients the real-time thread
uses (once every parameter ramp has ended). :func:`plot_response` draws such
a response into a PNG file when matplotlib is installed::

    with vesk.Equaliser(2, "L13H", server=server.name) as eq:
        eq.set_filter(1, 1000.0, 6.0, 1.0)
        eq.bypass = False
        f, db = eq.response()
        eq.plot("eq.png")
"""

import numpy as np

from . import equaliser, crossover, butterworth, bandfilter
from ._tool import Tool
from ._bandtables import TABLES as _BAND_TABLES

_F32 = np.float32


def default_freqs(rate, n=512, lo=20.0, hi=20000.0):
    """``n`` log-spaced frequencies from ``lo`` to ``hi`` Hz, kept below half of ``rate``."""
    hi = min(hi, 0.49 * rate)
    return np.geomspace(lo, hi, n)


def _zvar(freqs, rate):
    f = np.asarray(freqs, dtype=float)
    return np.exp(2j * np.pi * f / rate)


def _db(h):
    with np.errstate(divide="ignore"):
        return 20 * np.log10(np.abs(h))


def plot_response(freqs, db, path, title=None, ylim=None):
    """Draw a magnitude response (dB over log frequency) into the PNG file ``path``.

    Needs matplotlib; raises RuntimeError when it is not installed.
    ``db`` may be one array or a list of arrays (one curve each).
    """
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        raise RuntimeError("plot_response needs matplotlib, which is not installed") from None
    curves = db if isinstance(db, (list, tuple)) else [db]
    fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
    try:
        for k, d in enumerate(curves):
            ax.semilogx(freqs, np.maximum(np.asarray(d, dtype=float), -200), label=str(k) if len(curves) > 1 else None)
        ax.set_xlabel("Frequency (Hz)")
        ax.set_ylabel("Magnitude (dB)")
        ax.grid(True, which="both", alpha=0.3)
        if ylim is not None:
            ax.set_ylim(*ylim)
        else:
            # From a little below the lowest point (at most 100 dB down) to a
            # little above the highest, and never less than 24 dB tall.
            top = max(float(np.max(np.maximum(np.asarray(d, float), -200))) for d in curves)
            low = min(float(np.min(np.maximum(np.asarray(d, float), -200))) for d in curves)
            lo, hi = max(low - 3.0, top - 100.0), top + 3.0
            if hi - lo < 24.0:
                mid = 0.5 * (hi + lo)
                lo, hi = mid - 12.0, mid + 12.0
            ax.set_ylim(lo, hi)
        if title:
            ax.set_title(title)
        if len(curves) > 1:
            ax.legend()
        fig.tight_layout()
        fig.savefig(path, format="png")
    finally:
        plt.close(fig)


def _clip(v, lo, hi):
    return _F32(min(max(_F32(v), _F32(lo)), _F32(hi)))


class _FilterTool(Tool):
    """What the filter tools share: responses, plots and index checks."""

    def _rate(self, rate):
        if rate is not None:
            return float(rate)
        r = self.rate
        if not r:
            raise ValueError(f"{type(self).__name__} has no sample rate (client not running); pass rate=")
        return float(r)

    def plot(self, path, *args, title=None, **kw):
        """Draw :meth:`response` (same arguments) into the PNG file ``path``."""
        f, db = self.response(*args, **kw)
        plot_response(f, db, path, title=title or repr(self))


class _RoutingFilterTool(_FilterTool):
    """A filter tool whose outputs each take one selected input: 1 to 100 of each."""

    def _open_io(self, name, server, ninp, nout, *args):
        self._open(name, server, int(ninp), int(nout), *args)
        self._ninp_n = max(1, min(100, int(ninp)))
        self._nout_n = max(1, min(100, int(nout)))
        self._ninp = self._ninp_n if self.name else 0
        self._nout = self._nout_n if self.name else 0

    @property
    def ninp(self):
        """Number of inputs."""
        return self._ninp_n

    @property
    def nout(self):
        """Number of outputs."""
        return self._nout_n


# ---------------------------------------------------------------- equaliser

_SECTION_TYPES = {"L": 0, "H": 1, "1": 2, "2": 3, "3": 4}
_PI = _F32(3.141592)


def eq_section_coefs(stype, f, g, s):
    """Coefficients c0..c4 of an equaliser section, in single precision as the
    real-time code computes them (f fraction of the rate, g linear, s shape)."""
    f, g, s = _F32(f), _F32(g), _F32(s)
    one, two = _F32(1), _F32(2)
    if stype >= 2:
        if stype == 3 and g < one:
            s = s / g
        elif stype == 4:
            s = s * np.sqrt(_F32(3.16) / g)
        t = np.tan(_PI * f)
        D = one + s * t + t * t
        E = two * t * t + s * t
        r = (one - two * t * t / E) * (g - one)
        return E * r / D, r, _F32(0), two * E / D, two * t * t / E
    m = one / g if g < one else g
    k = s * (m - one) / m
    if stype == 0:
        t = np.tan(_F32(5.0265474) * f)
        u = t * np.sqrt(m)
    else:
        t = np.tan(_F32(1.9792030) * f)
        u = t / np.sqrt(m)
    if g < one:
        a, p, b, q = (two - _F32(1.6) * k) * u, u * u, (two - _F32(0.9) * k) * t, t * t
    else:
        a, p, b, q = (two - _F32(0.9) * k) * t, t * t, (two - _F32(1.6) * k) * u, u * u
    D, E, D1, E1 = one + a + p, two * p + a, one + b + q, two * q + b
    h = g if stype == 1 else one
    return h * D1 / D - one, h * E1 / E - one, (g - one) if stype == 0 else _F32(0), two * E / D, two * p / E


def eq_section_response(coefs, freqs, rate):
    """Complex response of an equaliser section with coefficients c0..c4."""
    c0, c1, c2, c3, c4 = (float(c) for c in coefs)
    w = _zvar(freqs, rate) - 1
    return 1 + (c0 * w * w + c1 * c3 * w + c2 * c3 * c4) / (w * w + c3 * w + c3 * c4)


class Equaliser(_FilterTool):
    """Multichannel parametric equaliser: a make-up gain, then up to eight sections.

    All ``nchan`` channels (inputs ``in_i`` to outputs ``out_i``, 0..100) share
    one set of parameters. ``sections`` has one character per section:
    ``"L"`` low shelf, ``"H"`` high shelf, ``"1"`` peak with fixed bandwidth
    (a cut is narrower than a boost), ``"2"`` peak with symmetric cut and
    boost, ``"3"`` peak whose bandwidth narrows as the gain grows (cut and
    boost symmetric); any other character repeats the type before it (first:
    low shelf); only the first 8 characters count.

    A new equaliser is bypassed: it passes its input unchanged, whatever is
    set, until ``bypass`` is set False. Changes move on a 10 ms grid in
    bounded steps (frequency by 1.25x, gain by 2x per step) with the
    coefficients interpolated per sample, so they never click::

        with vesk.Equaliser(2, "L2H", server=s.name) as eq:
            eq.set_filter(0, 100.0, 6.0, 0.5)    # low shelf 100 Hz, +6 dB, slope 0.5
            eq.set_filter(1, 2000.0, -4.0, 1.0)  # peak 2 kHz, -4 dB, bandwidth 1
            eq.gain = -2.0                       # make-up gain, dB
            eq.bypass = False

    Ranges (values outside clamp): frequency 1e-5 to 0.49 of the sample rate
    (a low shelf up to 0.3, above which it would turn unstable), gain -20 to
    +20 dB, shape -1 to 1 for shelves (slope) and 0.1 to 10 for peaks
    (bandwidth, larger is wider). NaN is refused with ValueError.
    """

    _module = equaliser

    def __init__(self, nchan, sections="", name="equaliser", server=None):
        self._open(name, server, int(nchan), sections)
        self._nchan = max(0, min(100, int(nchan)))
        self._ninp = self._nout = self._nchan if self.name else 0
        types, t = [], 0
        for ch in sections[:8]:
            t = _SECTION_TYPES.get(ch, t)
            types.append(t)
        self._types = types
        self._settings = [None] * len(types)     # (freq Hz, gain dB, shape) as last set
        self._gain = 0.0
        self._bypass = True

    @property
    def nchan(self):
        """Number of channels."""
        return self._nchan

    @property
    def section_types(self):
        """Type of each section: 0 low shelf, 1 high shelf, 2, 3, 4 peaks."""
        return list(self._types)

    def set_filter(self, index, freq, gain, shape):
        """Set section ``index``: frequency in Hz, gain in dB, shape (see the class doc).

        An index that names no section is ignored.
        """
        equaliser.set_filter(self.capsule, int(index), float(freq), float(gain), float(shape))
        if 0 <= index < len(self._types):
            self._settings[index] = (float(freq), float(gain), float(shape))

    @property
    def gain(self):
        """Make-up gain in dB (clamped to -20..+20 dB when applied)."""
        return self._gain

    @gain.setter
    def gain(self, db):
        equaliser.set_gain(self.capsule, float(db))
        self._gain = float(db)

    @property
    def bypass(self):
        """True (the start) passes the input unchanged; False applies gain and sections."""
        return self._bypass

    @bypass.setter
    def bypass(self, on):
        equaliser.set_bypass(self.capsule, 1 if on else 0)
        self._bypass = bool(on)

    def section_coefs(self, index, rate=None):
        """Coefficients c0..c4 that section ``index`` settles on, or None when it is inactive."""
        rate = self._rate(rate)
        t = self._types[index]
        st = self._settings[index]
        freq, gdb, shape = st if st is not None else (0.1 * rate, 0.0, 0.0 if t < 2 else 1.0)
        f = _clip(_F32(freq) / _F32(rate), 1e-5, 0.3 if t == 0 else 0.49)
        g = _clip(np.power(_F32(10), _F32(gdb) / _F32(20)), 0.1, 10.0)
        s = _clip(shape, -1.0, 1.0) if t < 2 else _clip(shape, 0.1, 10.0)
        if self._bypass or abs(float(g) - 1) < 0.001:
            return None
        return eq_section_coefs(t, f, g, s)

    def response(self, freqs=None, rate=None):
        """(freqs, dB): the magnitude response of the current settings, once all ramps end."""
        rate = self._rate(rate)
        freqs = default_freqs(rate) if freqs is None else np.asarray(freqs, dtype=float)
        h = np.ones(freqs.shape, complex)
        if not self._bypass:
            g = float(_clip(np.power(_F32(10), _F32(self._gain) / _F32(20)), 0.1, 10.0))
            h *= g
            for i in range(len(self._types)):
                c = self.section_coefs(i, rate)
                if c is not None:
                    h *= eq_section_response(c, freqs, rate)
        return freqs, _db(h)


# ---------------------------------------------------------------- crossover

def lr4_coefs(f, s):
    """(a0, a1, a2, a3, g) of a crossover filter, single precision as in real time."""
    f = _clip(f, 1e-6, 0.48)
    s = _clip(s, -6.0, -3.0)
    p = np.power((s + _F32(6)) / _F32(3), _F32(0.465))
    t = np.tan(_PI * f)
    b1 = _F32(2) * t * np.cos((_F32(2) + p) * _PI / _F32(8))
    b2 = _F32(2) * t * np.cos((_F32(2) - p) * _PI / _F32(8))
    D1 = _F32(1) + b1 + t * t
    D2 = _F32(1) + b2 + t * t
    four_t2 = _F32(4) * t * t
    return ((_F32(2) * b1 + four_t2) / D1, four_t2 / (_F32(2) * b1 + four_t2),
            (_F32(2) * b2 + four_t2) / D2, four_t2 / (_F32(2) * b2 + four_t2), _F32(1) / (D1 * D2))


def _sv_sections(coefs, z, highpass, gain=1.0):
    """Cascade of state-variable sections ((p, q) pairs): high-pass
    gain w^2 / D, low-pass (p q / 4)(z + 1)^2 / D, D = w^2 + p w + p q."""
    w = z - 1
    h = np.full(z.shape, gain, complex)
    for p, q in coefs:
        p, q = float(p), float(q)
        d = w * w + p * w + p * q
        h *= (w * w / d) if highpass else (p * q / 4 * (z + 1) ** 2 / d)
    return h


class Crossover(_RoutingFilterTool):
    """Crossover matrix: each output takes one input, delays it, filters it
    through an optional fourth-order high-pass and low-pass, and scales it.

    The shape of each filter is its attenuation at its frequency, from -6 dB
    (Linkwitz-Riley: matching low and high outputs sum flat) to -3 dB
    (Butterworth). ``ninp`` and ``nout`` are clamped to 1..100, ``maxdelay``
    (seconds) to 0..0.1. Every output is silent until it gets a filter::

        with vesk.Crossover(1, 2, maxdelay=0.01, server=s.name) as xo:
            xo.set_filter(0, 0, lowpass=500.0)       # output 0: low
            xo.set_filter(1, 0, highpass=500.0)      # output 1: high
            xo.set_delay(1, 0.002)
            xo.set_gain(1, 0.5)

    Frequencies above 0.48 of the sample rate act as 0.48; shapes outside
    -6..-3 act as the nearest end; a frequency of 0 or less means no such
    filter. NaN is refused with ValueError, and so are non-finite gains.
    """

    _module = crossover

    def __init__(self, ninp, nout, maxdelay=0.0, name="crossover", server=None):
        self._open_io(name, server, ninp, nout, float(maxdelay))
        self._maxdelay = min(max(float(maxdelay), 0.0), 0.1)
        self._filters = [None] * self._nout_n
        self._gains = [1.0] * self._nout_n
        self._delays = [0.0] * self._nout_n

    @property
    def maxdelay(self):
        """Largest delay in seconds (as given, clamped to 0..0.1)."""
        return self._maxdelay

    def set_filter(self, output, input=0, highpass=0.0, lowpass=0.0, hp_shape=-6.0, lp_shape=-6.0):
        """Feed ``output`` from ``input`` through a high-pass at ``highpass`` Hz and a
        low-pass at ``lowpass`` Hz (0: none; both 0 silences the output).

        Bad indices are ignored.
        """
        crossover.set_filter(self.capsule, int(input), int(output), float(highpass), float(hp_shape),
                             float(lowpass), float(lp_shape))
        if 0 <= input < self._ninp_n and 0 <= output < self._nout_n:
            self._filters[output] = (int(input), float(highpass), float(hp_shape), float(lowpass), float(lp_shape))

    def set_delay(self, output, seconds):
        """Delay ``output`` by ``seconds`` (rounded to samples, clamped to 0..maxdelay)."""
        crossover.set_delay(self.capsule, int(output), float(seconds))
        if 0 <= output < self._nout_n:
            self._delays[output] = float(seconds)

    def set_gain(self, output, gain):
        """Linear gain of ``output`` (not clamped; must be finite)."""
        crossover.set_gain(self.capsule, int(output), float(gain))
        if 0 <= output < self._nout_n:
            self._gains[output] = float(gain)

    def response(self, output, freqs=None, rate=None):
        """(freqs, dB) of ``output`` with its current filters and gain (-inf: silent)."""
        rate = self._rate(rate)
        freqs = default_freqs(rate) if freqs is None else np.asarray(freqs, dtype=float)
        z = _zvar(freqs, rate)
        st = self._filters[output]
        h = np.zeros(freqs.shape, complex)
        if st is not None:
            _, hpf, hps, lpf, lps = st
            hpf, lpf = _F32(hpf) / _F32(rate), _F32(lpf) / _F32(rate)
            if hpf > 0 or lpf > 0:
                h = np.full(freqs.shape, float(_F32(self._gains[output])), complex)
                if hpf > 0:
                    a0, a1, a2, a3, g = lr4_coefs(hpf, hps)
                    h *= _sv_sections([(a0, a1), (a2, a3)], z, True, float(g))
                if lpf > 0:
                    a0, a1, a2, a3, _ = lr4_coefs(lpf, lps)
                    h *= _sv_sections([(a0, a1), (a2, a3)], z, False)
        return freqs, _db(h)


# ---------------------------------------------------------------- Butterworth

_BW_DAMP = [_F32(0.390181), _F32(1.11114), _F32(1.662939), _F32(1.961571)]


def bw8_coefs(f):
    """Section coefficient pairs and high-pass gain g of an eighth-order Butterworth filter."""
    f = _clip(f, 1e-6, 0.48)
    t = np.tan(_PI * f)
    g = _F32(1)
    pairs = []
    for d in _BW_DAMP:
        b = d * t
        D = _F32(1) + b + t * t
        pairs.append(((_F32(2) * b + _F32(4) * t * t) / D, _F32(4) * t * t / (_F32(2) * b + _F32(4) * t * t)))
        g = g / D
    return pairs, g


class ButterworthFilter(_RoutingFilterTool):
    """Eighth-order Butterworth filters: each output takes one input through an
    optional high-pass and an optional low-pass (both: a band-pass; neither: a
    plain copy). A new object copies input 0 to every output.

    ``ninp`` and ``nout`` are clamped to 1..100. Frequencies are in Hz; 0 or
    less means no such filter; frequencies at or above 0.48 of the sample
    rate (the Nyquist frequency included) act as 0.48, where the filter is
    still stable. NaN is refused with ValueError::

        with vesk.ButterworthFilter(1, 1, server=s.name) as bw:
            bw.set_filter(0, 0, highpass=100.0, lowpass=5000.0)
    """

    _module = butterworth

    def __init__(self, ninp, nout, name="butterworth", server=None):
        self._open_io(name, server, ninp, nout)
        self._filters = [(0, 0.0, 0.0)] * self._nout_n

    def set_filter(self, output, input=0, highpass=0.0, lowpass=0.0):
        """Feed ``output`` from ``input`` through the given high-pass and low-pass (Hz, 0: none).

        Bad indices are ignored.
        """
        butterworth.set_filter(self.capsule, int(input), int(output), float(highpass), float(lowpass))
        if 0 <= input < self._ninp_n and 0 <= output < self._nout_n:
            self._filters[output] = (int(input), float(highpass), float(lowpass))

    def response(self, output, freqs=None, rate=None):
        """(freqs, dB) of ``output`` with its current filters."""
        rate = self._rate(rate)
        freqs = default_freqs(rate) if freqs is None else np.asarray(freqs, dtype=float)
        z = _zvar(freqs, rate)
        _, hpf, lpf = self._filters[output]
        hpf, lpf = _F32(hpf) / _F32(rate), _F32(lpf) / _F32(rate)
        h = np.ones(freqs.shape, complex)
        if hpf > 0:
            pairs, g = bw8_coefs(hpf)
            h *= _sv_sections(pairs, z, True, float(g))
        if lpf > 0:
            pairs, _ = bw8_coefs(lpf)
            h *= _sv_sections(pairs, z, False)
        return freqs, _db(h)


# ---------------------------------------------------------------- band filters

OFF, OCTAVE, THIRD_OCTAVE = 0, 1, 3


def band_centres(system):
    """Centre frequencies (Hz) of the bands of ``system`` (1 octave, 3 third-octave)."""
    if system == OCTAVE:
        return 1000.0 * 2.0 ** (np.arange(10) - 5)
    if system == THIRD_OCTAVE:
        return 1000.0 * 10.0 ** ((np.arange(31) - 17) / 10)
    raise ValueError("system must be 1 (octave) or 3 (third-octave)")


def band_record(system, band, rate):
    """(form, gain, c1..c6) of a band filter record, as the module's tables hold it."""
    try:
        return _BAND_TABLES[(int(system), int(rate))][int(band)]
    except (KeyError, IndexError):
        raise ValueError(f"no band {band} of system {system} at {rate} Hz") from None


def band_response(record, freqs, rate):
    """Complex response of a band filter record."""
    form, gain, c1, c2, c3, c4, c5, c6 = (float(_F32(v)) for v in record)
    z = _zvar(freqs, rate)
    w = z - 1
    d = lambda a, b: w * w + a * w + b
    if form == 0:
        return gain * w ** 3 * (z + 1) ** 3 / (d(c1, c2) * d(c3, c4) * d(c5, c6))
    if form == 1:
        return gain * w ** 4 * (z + 1) ** 2 / (d(c1, c2) * d(c3, c4) * d(c5, c6))
    return gain * w ** 4 / (d(c1, c2) * d(c3, c4))


class BandFilter(_RoutingFilterTool):
    """IEC 61260 octave and third-octave band filters: each output takes one
    input through one band filter, or is silent (the start).

    Octave bands 0..9 are centred on 1000 x 2^(k-5) Hz (31.25 Hz to 16 kHz),
    third-octave bands 0..30 on 1000 x 10^((k-17)/10) Hz (20 Hz to 20 kHz);
    each has 0 dB at its centre and about -3 dB at its edges. Works at 44100,
    48000, 88200, 96000 and 192000 Hz; at any other rate ``state`` is FAILED.
    ``ninp`` and ``nout`` are clamped to 1..100::

        with vesk.BandFilter(1, 10, server=s.name) as bf:
            for k in range(10):
                bf.set_filter(k, 0, vesk.filters.OCTAVE, k)

    A changed band restarts that output's filter from rest. Bad indices,
    systems and bands are ignored.
    """

    _module = bandfilter

    def __init__(self, ninp, nout, name="bandfilter", server=None):
        self._open_io(name, server, ninp, nout)
        self._bands = [None] * self._nout_n
        self._inputs = [0] * self._nout_n

    def set_filter(self, output, input, system, band):
        """Feed ``output`` from ``input`` through ``band`` of ``system`` (1 octave,
        3 third-octave); system 0 silences the output and keeps its input."""
        bandfilter.set_filter(self.capsule, int(input), int(output), int(system), int(band))
        if not (0 <= input < self._ninp_n and 0 <= output < self._nout_n):
            return
        if system == OFF:
            self._bands[output] = None
        elif system in (OCTAVE, THIRD_OCTAVE) and 0 <= band < (10 if system == OCTAVE else 31):
            self._bands[output] = (int(system), int(band))
            self._inputs[output] = int(input)

    def off(self, output):
        """Silence ``output``."""
        self.set_filter(output, 0, OFF, 0)

    def band(self, output):
        """(system, band) of ``output``, or None when it is silent."""
        return self._bands[output]

    def response(self, output, freqs=None, rate=None):
        """(freqs, dB) of ``output`` (-inf everywhere when it is silent)."""
        rate = self._rate(rate)
        freqs = default_freqs(rate) if freqs is None else np.asarray(freqs, dtype=float)
        b = self._bands[output]
        if b is None:
            return freqs, _db(np.zeros(freqs.shape))
        return freqs, _db(band_response(band_record(b[0], b[1], int(rate)), freqs, rate))
