"""vesk's multichannel filters against scipy.signal.sosfilt in float32, in one
run, per channel, second-order section and sample, with the same number of
sections on both sides:

- scipy on long arrays (2^16 samples per channel, all channels in one call)
  and in blocks of 256 samples with zi carried from block to block (the
  real-time case), for 1, 16 and 64 channels;
- vesk (build/bench/bench/filters_bench, run from here) in periods of 256,
  at every vector level this processor has, the way the clients run them;
- the latency bound of one section's recursion (a multiply and four adds in
  a loop-carried chain), against which the one-channel figures are put.

Times are the CPU time of the running thread (process_time here, the
thread's clock in the C++ program), best of several runs, so that a machine
shared with other work does not count time spent waiting for a core.

    python bench/filters_sosfilt.py [BUILD_DIR]      (default build/bench)
"""

import os
import subprocess
import sys
import time

import numpy as np
from scipy import signal

LONG = 1 << 16
BLOCK = 256


def sos_for(nsect):
    """A band-pass with exactly nsect second-order sections."""
    sos = signal.butter(nsect, [0.01, 0.2], "bandpass", output="sos")
    assert sos.shape[0] == nsect
    return sos.astype(np.float32)


def scipy_ns(nsect, nchan, blocks):
    """ns per channel-section-sample of sosfilt, float32, axis -1."""
    sos = sos_for(nsect)
    x = np.tile((0.3 * np.sin(0.01 * np.arange(LONG))).astype(np.float32), (nchan, 1))
    zi = np.zeros((nsect, nchan, 2), np.float32)
    reps = max(1, int(4e6 / (LONG * nchan)))
    best = 1e30
    for _ in range(3):
        t0 = time.process_time()
        for _ in range(reps):
            if blocks:
                for k in range(0, LONG, BLOCK):
                    y, zi = signal.sosfilt(sos, x[:, k:k + BLOCK], axis=-1, zi=zi)
            else:
                y, zi = signal.sosfilt(sos, x, axis=-1, zi=zi)
        best = min(best, time.process_time() - t0)
    assert y.dtype == np.float32
    return best * 1e9 / (reps * LONG * nchan * nsect)


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/bench"
    out = subprocess.run([os.path.join(build, "bench", "filters_bench"), "raw"],
                         capture_output=True, text=True, check=True).stdout
    bound, rows = {}, []
    for line in out.splitlines():
        f = line.split("\t")
        if f[0] == "bound":
            bound[f[1]] = float(f[2])
        else:
            rows.append((f[0], int(f[1]), int(f[2]), f[3], float(f[4])))
    ref = {}
    for nsect in sorted({r[1] for r in rows}):
        for nchan in (1, 16, 64):
            ref[nsect, nchan] = (scipy_ns(nsect, nchan, False), scipy_ns(nsect, nchan, True))
    print("ns per channel-section-sample; scipy.signal.sosfilt float32 with the same number of sections")
    print(f"latency bound of one section's recursion: {bound['float']:.2f} ns (float), "
          f"{bound['double']:.2f} ns (double) per sample\n")
    print(f"{'':32s}{'sect':>5s}{'ch':>4s}{'level':>8s}{'vesk':>8s}{'scipy long':>12s}{'scipy 256':>11s}"
          f"{'long/vesk':>11s}{'256/vesk':>10s}{'vesk/bound':>12s}")
    for name, nsect, nchan, level, ns in rows:
        long_, blk = ref[nsect, nchan]
        # The equaliser and band filters keep double states, the others float.
        b = bound["double" if name.startswith(("equaliser", "octave")) else "float"]
        # At one channel each sample of a section waits for the one before;
        # a cascade run in one pass overlaps its sections, so the bound is
        # put per sample of one section.
        print(f"{name:32s}{nsect:5d}{nchan:4d}{level:>8s}{ns:8.3f}{long_:12.3f}{blk:11.3f}"
              f"{long_ / ns:10.1f}x{blk / ns:9.1f}x{ns / b:11.2f}")


if __name__ == "__main__":
    main()
