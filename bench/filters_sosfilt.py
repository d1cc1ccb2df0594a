"""scipy.signal.sosfilt on the same numbers of second-order sections as
bench/filters_bench.cc (8 for the equaliser and the Butterworth band-pass,
4 for a crossover output, 3 for a band filter), in float32 and float64, one
channel and many, in ns per channel-sample: the reference the C++ figures
are compared with.

    python bench/filters_sosfilt.py
"""

import time

import numpy as np
from scipy import signal


def timeit(sos, nchan, dtype, n=1 << 16):
    x = (0.3 * np.sin(0.01 * np.arange(n))).astype(dtype)
    x = np.tile(x, (nchan, 1))
    zi = np.zeros((sos.shape[0], nchan, 2), dtype)
    signal.sosfilt(sos, x[:, :256], axis=-1, zi=zi)
    reps = max(1, int(4e6 / (n * nchan)))
    t0 = time.perf_counter()
    for _ in range(reps):
        y, zi = signal.sosfilt(sos, x, axis=-1, zi=zi)
    t1 = time.perf_counter()
    return (t1 - t0) * 1e9 / (reps * n * nchan)


def main():
    eq = signal.butter(16, [0.01, 0.2], "bandpass", output="sos")          # 8 sections
    xo = signal.butter(8, [0.01, 0.05], "bandpass", output="sos")          # 4 sections
    bp = signal.butter(3, [0.03, 0.06], "bandpass", output="sos")          # 3 sections
    print(f"{'':34s} {'ch':>4s} {'dtype':>8s} {'ns/ch-smp':>10s} {'ns/section-smp':>16s}")
    for nchan in (1, 16, 64):
        for name, sos in (("8 sections (equaliser, butterworth)", eq), ("4 sections (crossover output)", xo),
                          ("3 sections (band filter)", bp)):
            for dtype in (np.float32, np.float64):
                ns = timeit(sos.astype(dtype), nchan, dtype)
                print(f"{name:34s} {nchan:4d} {np.dtype(dtype).name:>8s} {ns:10.2f} {ns / sos.shape[0]:16.2f}")


if __name__ == "__main__":
    main()
