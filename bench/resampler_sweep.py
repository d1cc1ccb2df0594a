"""Sweep measure of the resampler against libsoxr and libsamplerate, the way
published converter comparisons do it: a linear sweep from 0 to half the
input rate (8 s, amplitude 0.5) is converted by each, and a spectrogram of
the output (Kaiser window, beta 20, whose side lobes lie below -190 dB;
16384-point frames, hop 2048) shows what is not the sweep itself.

Reported per converter, in dB relative to the sweep's own level in the
passband:
  aliases    the loudest bin of frames whose input frequencies all lie above
             101 % of half the output rate (everything there is aliasing)
  images     the loudest bin away from the sweep line (beyond the span of
             frequencies the frame covers and the window's main lobe) in
             frames whose input frequencies lie below 90 % of half the lower
             rate (images, aliases, distortion, noise)

Run by hand after building with -DVESK_BENCH=ON:
  python bench/resampler_sweep.py [build/tests/bench/resampler_bench]
"""

import os
import subprocess
import sys
import tempfile

import numpy as np

NAMES = ["vesk Resampler (hlen 36)", "libsoxr HQ", "libsoxr VHQ", "libsamplerate best"]
SECS = 8.0
NFFT = 16384
HOP = 2048


def measure(prog, k, fi, fo):
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "y.raw")
        subprocess.run([prog, "sweep", str(k), str(fi), str(fo), str(SECS), path], check=True)
        y = np.fromfile(path, np.float32).astype(np.float64)
    win = np.kaiser(NFFT, 20.0)
    starts = np.arange(0, len(y) - NFFT, HOP)
    frames = np.stack([y[s:s + NFFT] * win for s in starts])
    power = np.abs(np.fft.rfft(frames, axis=1)) ** 2
    freqs = np.fft.rfftfreq(NFFT, 1 / fo)
    # The output frame centred at output time t shows input frequency f(t).
    f_in = (starts + NFFT / 2) / fo * (0.5 * fi / SECS)
    nyq = 0.5 * min(fi, fo)
    # Half the span of input frequencies one frame covers, plus the main lobe.
    half = 0.5 * (0.5 * fi / SECS) * NFFT / fo + 8 * fo / NFFT
    ref = None
    worst_alias, worst_image = -400.0, -400.0
    for s, f in zip(power, f_in):
        if f + half < 0.9 * nyq:
            line = np.abs(freqs - f) < half
            lvl = s[line].max()
            ref = lvl if ref is None else max(ref, lvl)
            worst_image = max(worst_image, 10 * np.log10(s[~line].max() + 1e-300) - 10 * np.log10(lvl))
        elif f - half > 1.01 * 0.5 * fo and ref is not None:
            worst_alias = max(worst_alias, 10 * np.log10(s.max() + 1e-300) - 10 * np.log10(ref))
    return worst_alias, worst_image


def main():
    prog = sys.argv[1] if len(sys.argv) > 1 else "build/tests/bench/resampler_bench"
    for fi, fo in [(96000, 44100), (44100, 48000)]:
        print(f"Sweep {fi} -> {fo} Hz (dB re the sweep)")
        for k, name in enumerate(NAMES):
            a, i = measure(prog, k, fi, fo)
            alias = f"aliases {a:7.1f}" if fi > fo else " " * 15
            print(f"  {name:26s} {alias}   images {i:7.1f}")


if __name__ == "__main__":
    main()
