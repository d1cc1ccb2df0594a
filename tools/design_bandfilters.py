#!/usr/bin/env python3
"""Designs the octave and third-octave band filter tables of the bandfilter module.

Writes filters/bp6tables.cc for the module and vesk/_bandtables.py (the same
records, for the friendly layer's analytic responses). Run from the top of
the tree; an optional argument names another folder to write both into. Every record is a sixth-order band-pass (form 0 or
1) or a fourth-order high-pass (form 2) in the state-variable form of Bp6filter:

    form 0:  gain (z-1)^3 (z+1)^3 / (D1 D2 D3)
    form 1:  gain (z-1)^4 (z+1)^2 / (D1 D2 D3)
    form 2:  gain (z-1)^4 / (D1 D2)
    with Di = (z-1)^2 + c(2i-1) (z-1) + c(2i)

Design rule: a third-order Chebyshev band-pass prototype (0.068 dB ripple for
octave bands, 0.035 dB for third-octave bands), brought to the digital domain
by the bilinear transform; its centre and width are solved so that both
nominal band edges sit at -3.09 dB (octave) or -3.19 dB (third-octave), and
the gain gives exactly 0 dB at the band centre. Bands too close to the
Nyquist frequency for that (forms 1 and 2) are fitted numerically to the same
prototype's response over true frequency, with the same centre and edge
conditions. Octave records at 88200, 96000 and 192000 Hz are copies of the
record one band lower at half the rate (the normalised frequencies coincide).
Six records are kept exactly as they were first published; the script checks
that its own design of them agrees closely and keeps the published values.
"""

import sys
import warnings
import numpy as np
from scipy import optimize, signal

RATES = (44100, 48000, 88200, 96000, 192000)
RIPPLE = {1: 0.068, 3: 0.035}       # prototype pass-band ripple, dB
EDGE_DB = {1: -3.09, 3: -3.19}      # attenuation at the nominal band edges
NBANDS = {1: 10, 3: 31}

# Published records, kept exactly: (system, rate, band) -> text of the fields.
KEPT = {
    (1, 48000, 5): ("0", "5.87669711e-05", "0.0816530436", "0.0165533405", "0.0325909108",
                    "0.00924913865", "0.0727261677", "0.0306240991"),
    (3, 48000, 17): ("0", "2.32257503e-06", "0.0394218005", "0.0169177502", "0.0246632397",
                     "0.0139188301", "0.0338011384", "0.0207673702"),
    (1, 44100, 8): ("1", "0.0607072487", "0.859800875", "0.577132821", "1.23940206",
                    "0.504801929", "1.86594605", "1.37336302"),
    (1, 44100, 9): ("2", "0.0626523867", "2.1203599", "1.70954597", "2.45419002",
                    "1.60903203", "0", "0"),
    (3, 44100, 30): ("2", "0.0021000749", "3.47770405", "3.24890995", "3.42801905",
                     "2.97534108", "0", "0"),
    (3, 192000, 0): ("0", "2.95320002e-13", "0.000114021699", "4.26316888e-07",
                     "5.42291709e-05", "3.48590191e-07", "6.60839505e-05", "5.21015011e-07"),
}

# Forms other than 0, by (system, rate): band -> form.
FORMS = {
    (1, 44100): {8: 1, 9: 2},
    (3, 44100): {28: 1, 29: 1, 30: 2},
    (1, 48000): {8: 1, 9: 1},
    (3, 48000): {28: 1, 29: 1, 30: 1},
}


def centre (system, band):
    if system == 1: return 1000.0 * 2.0 ** (band - 5)
    return 1000.0 * 10.0 ** ((band - 17) / 10)


def edges (system, band):
    fc = centre (system, band)
    r = np.sqrt (2.0) if system == 1 else 10.0 ** 0.05
    return fc / r, fc * r


def response (form, gain, c, f, fs):
    """Complex response of a record at frequencies f (Hz), in double precision."""
    z = np.exp (2j * np.pi * np.asarray (f, dtype=float) / fs)
    w = z - 1
    d = lambda a, b: w * w + a * w + b
    if form == 0: return gain * w**3 * (z + 1)**3 / (d (c[0], c[1]) * d (c[2], c[3]) * d (c[4], c[5]))
    if form == 1: return gain * w**4 * (z + 1)**2 / (d (c[0], c[1]) * d (c[2], c[3]) * d (c[4], c[5]))
    return gain * w**4 / (d (c[0], c[1]) * d (c[2], c[3]))


def db (form, gain, c, f, fs):
    return 20 * np.log10 (np.abs (response (form, gain, c, f, fs)))


def pairs_to_coefs (poles):
    """Digital poles in the upper half plane -> c1, c2, ...: for three pairs the
    middle one first, then the lowest and the highest; two pairs by rising angle."""
    c = []
    poles = sorted (poles, key=np.angle)
    if len (poles) == 3: poles = [poles [1], poles [0], poles [2]]
    for q in poles:
        w = q - 1
        c += [-2 * w.real, abs (w) ** 2]
    return c


def chebyshev_bilinear (system, fc, fs, bw, shift):
    """Bilinear Chebyshev band-pass: analog centre tan(pi fc shift / fs), ripple bandwidth bw."""
    w0 = np.tan (np.pi * fc * shift / fs)
    wh = 0.5 * (bw + np.sqrt (bw * bw + 4 * w0 * w0))
    wl = wh - bw
    z, p, k = signal.cheby1 (3, RIPPLE [system], [wl, wh], 'bandpass', analog=True, output='zpk')
    _, pd, _ = signal.bilinear_zpk (z, p, k, 0.5)
    return pairs_to_coefs ([q for q in pd if q.imag > 0])


def normalise (form, c, fc, fs):
    return 1.0 / abs (response (form, 1.0, c, fc, fs))


def design_form0 (system, band, fs):
    fc = centre (system, band)
    fl, fh = edges (system, band)
    target = EDGE_DB [system]

    def coefs (v):
        return chebyshev_bilinear (system, fc, fs, np.exp (v [0]), np.exp (v [1]))

    def res (v):
        c = coefs (v)
        return db (0, normalise (0, c, fc, fs), c, [fl, fh], fs) - target

    # Start: the prototype's edge frequency x3 scales the warped edge bandwidth.
    eps = np.sqrt (10 ** (RIPPLE [system] / 10) - 1)
    x3 = np.cosh (np.arccosh (np.sqrt (10 ** (-target / 10) - 1) / eps) / 3)
    b0 = (np.tan (np.pi * fh / fs) - np.tan (np.pi * fl / fs)) / x3
    v = optimize.fsolve (res, [np.log (b0), 0.0], xtol=1e-14)
    return coefs (v)


def prototype_db (system, omega, bx):
    """Analog Chebyshev band-pass magnitude (dB) over true frequency ratio omega."""
    x = np.abs (omega - 1 / omega) / bx
    eps2 = 10 ** (RIPPLE [system] / 10) - 1
    t = np.where (x <= 1, np.cos (3 * np.arccos (np.minimum (x, 1))), np.cosh (3 * np.arccosh (np.maximum (x, 1))))
    return -10 * np.log10 (1 + eps2 * t * t)


def coefs_from_poles (v):
    """Pole parameters (log(-log radius), angle) per pair -> c values."""
    c = []
    for i in range (0, len (v), 2):
        w = np.exp (-np.exp (v [i]) + 1j * v [i + 1]) - 1
        c += [-2 * w.real, abs (w) ** 2]
    return c


def design_fitted (system, band, fs, form):
    """Numerical fit for bands near the Nyquist frequency (forms 1 and 2): the
    prototype's response over true frequency, exact at the centre and edges."""
    fc = centre (system, band)
    fl, fh = edges (system, band)
    target = EDGE_DB [system]
    r = fl / fc
    # Prototype width giving the target at the nominal edges.
    bx = optimize.brentq (lambda b: prototype_db (system, np.array ([1 / r]), b) [0] - target, 0.05, 5)
    f = np.geomspace (fc / 16, 0.999 * fs / 2, 800)
    goal = prototype_db (system, f / fc, bx)
    if form == 2: goal = np.where (f > fc, 0.0, goal)
    weight = np.where (goal > -6, 10.0, 1.0)
    ends = [fl] if form == 2 else [fl, fh]
    lim = class1_mask (system, fc)
    lim_f, lim_lo, lim_hi = (np.array (v) for v in zip (*[l for l in lim if l [0] < fs / 2]))
    # Start: the analog prototype's poles in true frequency, mapped by z = exp(s T).
    w0 = 2 * np.pi * fc
    _, p, _ = signal.cheby1 (3, RIPPLE [system], [w0 * r, w0 / r], 'bandpass', analog=True, output='zpk')
    p = sorted ([q for q in p if q.imag > 0], key=lambda q: q.imag)
    if form == 2: p = p [:2]
    v0 = []
    for q in p:
        zq = np.exp (q / fs)
        v0 += [np.log (-np.log (abs (zq))), min (np.angle (zq), 3.1)]

    def res (v):
        c = coefs_from_poles (v)
        g = normalise (form, c, fc, fs)
        d = db (form, g, c, f, fs)
        fit = weight * (np.maximum (d, -100) - np.maximum (goal, -100)) / 10
        cond = 1000 * (db (form, g, c, ends, fs) - target)
        # Keep inside the class 1 limits with 0.05 dB to spare.
        att = -db (form, g, c, lim_f, fs)
        bump = 100 * np.concatenate ((np.maximum (att - (lim_hi - 0.05), 0), np.maximum ((lim_lo + 0.05) - att, 0)))
        return np.concatenate ((fit, cond, bump))

    v = optimize.least_squares (res, v0, xtol=1e-15, ftol=1e-15, gtol=1e-15, max_nfev=20000).x
    return pairs_to_coefs ([np.exp (-np.exp (v [i]) + 1j * v [i + 1]) for i in range (0, len (v), 2)])


def design (system, band, fs):
    form = FORMS.get ((system, fs), {}).get (band, 0)
    if form == 0: c = design_form0 (system, band, fs)
    else: c = design_fitted (system, band, fs, form)
    c = [float (np.float32 (x)) for x in c]
    g = float (np.float32 (normalise (form, c, centre (system, band), fs)))
    if form == 2: c = c [:4] + [0.0, 0.0]
    return form, g, c


def f32text (x):
    if x == 0: return "0"
    return "%.9g" % np.float32 (x)


def build ():
    tables = {}
    for system in (1, 3):
        for fs in RATES:
            recs = []
            for band in range (NBANDS [system]):
                key = (system, fs, band)
                half = fs // 2
                if system == 1 and fs in (88200, 96000, 192000) and band >= 1:
                    recs.append (tables [(system, half)] [band - 1])
                    continue
                form, g, c = design (system, band, fs)
                text = tuple ([str (form), f32text (g)] + [f32text (x) for x in c])
                if key in KEPT:
                    kept = KEPT [key]
                    f = np.geomspace (centre (system, band) / 4, min (4 * centre (system, band), 0.499 * fs), 200)
                    mine = db (form, float (text [1]), [float (x) for x in text [2:]], f, fs)
                    pub = db (form, float (kept [1]), [float (x) for x in kept [2:]], f, fs)
                    dev = np.max (np.abs (np.maximum (mine, -60) - np.maximum (pub, -60)))
                    print ("kept record %s: own design differs by %.2f dB at most (above -60 dB)" % (key, dev), file=sys.stderr)
                    text = kept
                recs.append (text)
            tables [(system, fs)] = recs
    return tables


# Class 1 acceptance limits on relative attenuation (dB) at the octave-band
# breakpoints G^e, G = 10^0.3 (IEC 61260; see tests/cpp/bp6filter_test.cc for
# where the figures come from): (e, least, most).
CLASS1 = [(0, -0.3, 0.3), (1/8, -0.3, 0.4), (1/4, -0.3, 0.6), (3/8, -0.3, 1.3),
          (1/2, 2.0, 5.0), (1, 17.5, None), (2, 40.5, None), (3, 60.0, None), (4, 70.0, None)]


def breakpoint (system, e):
    """Normalised frequency of an octave breakpoint G^e for the band system."""
    g = 10 ** 0.3
    ratio = (g ** (1 / (2 * system)) - 1) / (g ** 0.5 - 1)
    return 1 + ratio * (g ** e - 1)


def class1_mask (system, fc):
    """(frequency, least, most) attenuation: the breakpoints, and between them
    a stepped mask (pass band under the next limit outwards, stop band above
    the limit inside it)."""
    lim = []
    for i, (x, least, most) in enumerate (CLASS1):
        for side in (1, -1):
            lim.append ((fc * breakpoint (system, x) ** side, least, np.inf if most is None else most))
        if i + 1 < len (CLASS1):
            w0, w1 = breakpoint (system, x), breakpoint (system, CLASS1 [i + 1][0])
            for j in range (1, 8):
                w = w0 * (w1 / w0) ** (j / 8)
                for side in (1, -1):
                    if i < 4: lim.append ((fc * w ** side, -0.3, CLASS1 [i + 1][2]))
                    else: lim.append ((fc * w ** side, least, np.inf))
    return lim


def check (tables):
    """Centre, edges, class 1 limits, stability; prints the worst figures per system."""
    worst = {}
    for (system, fs), recs in tables.items ():
        for band, rec in enumerate (recs):
            form = int (rec [0]); g = float (rec [1]); c = [float (x) for x in rec [2:]]
            fc = centre (system, band)
            fl, fh = edges (system, band)
            e = [x for x in (fl, fh) if x < fs / 2]
            dc = db (form, g, c, [fc], fs) [0]
            de = db (form, g, c, e, fs)
            assert abs (dc) < 1e-4, (system, fs, band, dc)
            lo = -3.1 if system == 1 else -3.2
            assert np.all ((de <= -2.9) & (de >= lo - 5e-4)), (system, fs, band, de)
            for i in range (0, 4 if form == 2 else 6, 2):
                assert np.all (np.abs (1 + np.roots ([1, c [i], c [i + 1]])) < 1), (system, fs, band)
            margin = np.inf
            for f, least, most in class1_mask (system, fc):
                if f >= fs / 2: continue
                att = -db (form, g, c, [f], fs) [0]
                m = min (att - least, most - att)
                assert m >= 0, (system, fs, band, f, att)
                margin = min (margin, m)
            w = worst.setdefault (system, [0, 0, -9, np.inf])
            w [0] = max (w [0], abs (dc)); w [1] = min (w [1], de.min ()); w [2] = max (w [2], de.max ())
            w [3] = min (w [3], margin)
    for s, w in worst.items ():
        print ("system %d: centre within %.2g dB, edges %.4f .. %.4f dB, class 1 margin %.3f dB"
               % (s, w [0], w [1], w [2], w [3]), file=sys.stderr)


def write (tables, path):
    suffix = {44100: "44", 48000: "48", 88200: "88", 96000: "96", 192000: "192"}
    out = []
    out.append ("// Octave and third-octave band filter tables, written by tools/design_bandfilters.py:")
    out.append ("// do not edit by hand. Fields: form, gain, c1 .. c6 (see bp6filter.h).")
    out.append ("")
    out.append ('#include "bp6filter.h"')
    out.append ("")
    for system in (1, 3):
        for fs in RATES:
            name = "oct%dpar%s" % (system, suffix [fs])
            out.append ("static const Bp6param %s [%d] =" % (name, NBANDS [system]))
            out.append ("{")
            for band, rec in enumerate (tables [(system, fs)]):
                fc = centre (system, band)
                fields = ", ".join ([rec [0]] + [x + ("f" if ("." in x or "e" in x) else "") for x in rec [1:]])
                out.append ("    { %s },   // %d: %.6g Hz" % (fields, band, fc))
            out.append ("};")
            out.append ("")
    for system in (1, 3):
        for fs in RATES:
            out.append ("const Bp6table Oct%dfilt%s = { %d.0f, %d, oct%dpar%s };"
                        % (system, suffix [fs], fs, NBANDS [system], system, suffix [fs]))
    out.append ("")
    with open (path, "w") as F:
        F.write ("\n".join (out))


def write_python (tables, path):
    out = ['"""Band filter records, written by tools/design_bandfilters.py: do not edit by hand.',
           '',
           'TABLES[(system, rate)] lists (form, gain, c1, c2, c3, c4, c5, c6) per band, by',
           'rising frequency; system 1 is octave bands, 3 third-octave bands. The values',
           'are those of the module\'s tables (single precision, printed exactly)."""',
           '',
           'TABLES = {']
    for system in (1, 3):
        for fs in RATES:
            out.append ("    (%d, %d): [" % (system, fs))
            for rec in tables [(system, fs)]:
                out.append ("        (%s)," % ", ".join ([rec [0]] + [repr (float (x)) for x in rec [1:]]))
            out.append ("    ],")
    out.append ("}")
    out.append ("")
    with open (path, "w") as F:
        F.write ("\n".join (out))


if __name__ == "__main__":
    import os
    warnings.simplefilter ("ignore", RuntimeWarning)
    tables = build ()
    check (tables)
    top = sys.argv [1] if len (sys.argv) > 1 else "."
    if len (sys.argv) > 1:
        write (tables, os.path.join (top, "bp6tables.cc"))
        write_python (tables, os.path.join (top, "_bandtables.py"))
    else:
        write (tables, "filters/bp6tables.cc")
        write_python (tables, "vesk/_bandtables.py")
