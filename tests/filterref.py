"""Measuring filter tools through JACK: impulse responses pushed through the
test harness, and their spectra at exact FFT bins."""

import time

import numpy as np

from harness import push

N = 1 << 16          # impulse response length: every filter tested decays within it


def settle():
    """Let parameter ramps finish (a few 10 ms steps) and new settings take hold."""
    time.sleep(0.35)


def impulse_responses(tool, inputs_used=None, n=N):
    """Impulse on every input at once; returns the outputs, shape (nout, n)."""
    nin = len(tool.inputs)
    x = np.zeros((nin, n), np.float32)
    x[:, 0] = 1.0
    return push(tool, x)


def bins(rate, lo=20.0, hi=20000.0, count=300, n=N):
    """Indices of about ``count`` log-spaced FFT bins from lo to hi Hz, and their frequencies."""
    k = np.unique(np.round(np.geomspace(lo * n / rate, hi * n / rate, count)).astype(int))
    return k, k * rate / n


def spectrum_db(h, k):
    """Magnitude in dB of impulse response h at FFT bins k."""
    with np.errstate(divide="ignore"):
        return 20 * np.log10(np.abs(np.fft.rfft(h.astype(np.float64))[k]))


def assert_response(measured_db, want_db, tol=0.01, floor=-40.0, what=""):
    """Within tol dB where the wanted response is above floor dB; below it the
    float32 noise floor of the measurement rules, so the magnitudes must agree
    to 1e-4 absolute (-80 dB)."""
    m = np.asarray(measured_db)
    w = np.asarray(want_db)
    hi = w > floor
    err = np.abs(m[hi] - w[hi])
    assert err.size == 0 or err.max() <= tol, f"{what}: {err.max():.4f} dB off"
    lo = ~hi
    if lo.any():
        diff = np.abs(10 ** (m[lo] / 20) - 10 ** (w[lo] / 20))
        assert diff.max() < 1e-4, f"{what}: {diff.max():.2e} off below {floor} dB"
