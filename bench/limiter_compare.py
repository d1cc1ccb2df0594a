"""Peak limiter against a LADSPA look-ahead limiter, side by side, run by hand.

    python bench/limiter_compare.py [BUILD_DIR]     (default build/bench)

Makes one 60 s stereo 16-bit WAV at 44100 Hz (a loud mix of clipped drums,
bass, chords and noise bursts), limits it with vesk's Peaklim (the
peaklim_bench program in file mode) and with swh-plugins' "Fast Lookahead
limiter" (LADSPA 1913) through ladspa-sdk's applyplugin, at the same input
gain, ceiling and release time, and prints for each: run time (best of 5,
whole program, and less the time applyplugin takes for a plain gain plugin,
which is its file handling), the largest sample peak and the largest 4x
oversampled peak relative to the ceiling. The LADSPA plugin is run as a
black box (Debian packages swh-plugins and ladspa-sdk).

Then the speed of the DSP alone, in one process on the same input
(peaklim_bench compare): Peaklim on 2 and 16 channels against 1 and 8
stereo instances of the LADSPA limiter loaded into the same program, in
periods of 256, thread CPU time, best of 7 with the two sides taking turns.
That figure is the one to quote; the file runs above include reading,
writing and (for applyplugin) format conversion.
"""

import os
import subprocess
import sys
import tempfile
import time

import numpy as np
import soundfile as sf
from scipy.signal import resample_poly

FS = 44100
SECONDS = 60
CEILING_DB = -1.0
INPGAIN_DBS = (6.0, 12.0)
RELEASE_S = 0.05
LADSPA = "/usr/lib/ladspa"


def program_mix(rng):
    n = FS * SECONDS
    t = np.arange(n) / FS
    beat = int(FS * 60 / 124 / 2)                      # eighth notes at 124 bpm
    b, tb = np.arange(n) // beat, (np.arange(n) % beat) / FS
    kick = np.where(b % 4 == 0, 1.3 * np.exp(-tb / 0.09) * np.sin(2 * np.pi * (48 * tb + 2.4 * (1 - np.exp(-tb / 0.03)))), 0)
    snare = np.where(b % 4 == 2, np.exp(-tb / 0.06) * (0.7 * rng.normal(0, 1, n) + 0.4 * np.sin(2 * np.pi * 185 * tb)), 0)
    w = rng.normal(0, 1, n)
    hat = 0.2 * np.exp(-tb / 0.012) * (w - 0.5 * np.roll(w, 1) - 0.5 * np.roll(w, 2))
    bass = 0.45 * np.sin(2 * np.pi * 55 * (1 + (b // 16 % 4 == 2) * 0.5) * t) * np.exp(-tb / 0.4)
    chord = sum(0.12 * np.sin(2 * np.pi * f * t + k) for k, f in enumerate((220, 277.2, 329.6, 440, 659.3)))
    bursts = (np.arange(n) % (5 * FS) < FS // 2) * 0.3 * rng.normal(0, 1, n)
    drums = np.clip(1.8 * (kick + snare + hat), -1, 1)
    left = drums + bass + chord + bursts
    right = np.clip(1.8 * (kick + snare + np.roll(hat, 77)), -1, 1) + bass + np.roll(chord, 300) + bursts
    x = np.stack([left, right], axis=1)
    return (x / np.abs(x).max() * 0.999).astype(np.float32)


def best_time(cmd, runs=5):
    best = 1e9
    for _ in range(runs):
        t0 = time.perf_counter()
        r = subprocess.run(cmd, capture_output=True, text=True)
        dt = time.perf_counter() - t0
        if r.returncode:
            sys.exit(f"{cmd[0]} failed: {r.stdout}{r.stderr}")
        best = min(best, dt)
    return best, r.stdout


def peaks(path):
    y, fs = sf.read(path, dtype="float64")
    sample = np.abs(y).max()
    over = max(np.abs(resample_poly(y[:, c], 4, 1)).max() for c in range(y.shape[1]))
    return 20 * np.log10(sample) - CEILING_DB, 20 * np.log10(over) - CEILING_DB


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build/bench"
    prog = os.path.join(build, "bench", "peaklim_bench")
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "mix.wav")
        sf.write(src, program_mix(np.random.default_rng(7)), FS, subtype="PCM_16")
        ours = os.path.join(d, "vesk.wav")
        theirs = os.path.join(d, "ladspa.wav")
        plain = os.path.join(d, "plain.wav")
        t_plain, _ = best_time(["applyplugin", src, plain, f"{LADSPA}/amp.so", "amp_stereo", "1"])
        x = sf.read(src)[0]
        samples = FS * SECONDS * 2
        print(f"60 s stereo 16-bit at {FS} Hz: sample peak {20 * np.log10(np.abs(x).max()):+.2f} dBFS, "
              f"4x peak {20 * np.log10(max(np.abs(resample_poly(x[:, c], 4, 1)).max() for c in range(2))):+.2f} dBFS")
        print(f"applyplugin with a plain gain plugin (its file handling): {t_plain:.3f} s")
        for gain in INPGAIN_DBS:
            t_ours, out = best_time([prog, src, ours, str(CEILING_DB), str(gain), str(RELEASE_S)])
            dsp = float(out.split("dsp_seconds")[1].split()[0])
            t_theirs, _ = best_time(["applyplugin", src, theirs, f"{LADSPA}/fast_lookahead_limiter_1913.so",
                                     "fastLookaheadLimiter", str(gain), str(CEILING_DB), str(RELEASE_S)])
            lad = t_theirs - t_plain
            print(f"\ninput gain {gain:+.0f} dB, ceiling {CEILING_DB:.0f} dBFS, release {RELEASE_S * 1000:.0f} ms; peaks relative to the ceiling")
            print(f"{'':28s}{'run time':>10s}{'per ch-sample':>15s}{'sample peak':>13s}{'4x peak':>12s}")
            sp, op = peaks(ours)
            print(f"{'vesk Peaklim (float out)':28s}{t_ours:8.3f} s{1e9 * dsp / samples:11.2f} ns{sp:+11.4f} dB{op:+9.4f} dB")
            sp, op = peaks(theirs)
            print(f"{'LADSPA 1913 (16-bit out)':28s}{t_theirs:8.3f} s{1e9 * lad / samples:11.2f} ns{sp:+11.4f} dB{op:+9.4f} dB")
            # The LADSPA figure less the plain run is only an estimate of its DSP
            # time (and meaningless on a busy machine); see the figures below.
            print(f"speed ratio LADSPA / vesk: whole programs {t_theirs / t_ours:.2f}")
    print("\nDSP only, in one process on the same input (44.1 kHz, +12 dB, -1 dB ceiling, 50 ms release):")
    for nch in (2, 16):
        r = subprocess.run([prog, "compare", str(nch)], capture_output=True, text=True, check=True)
        print("  " + r.stdout.strip())


if __name__ == "__main__":
    main()
