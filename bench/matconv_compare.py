"""Matrix convolution against BruteFIR, side by side in one run, run by hand.

    python bench/matconv_compare.py [BUILD_DIR]     (default build/bench)

Both convolve 16 inputs through the same 16 x 16 matrix of 4096-frame
responses (random, float32) into 16 outputs, in partitions of 256 frames
(16 partitions per response) at 48 kHz, in single precision, using both
processors: vesk's Denseconv with 2 worker threads (the denseconv_bench
program), BruteFIR (Debian package, run as a black box) with its filters
split over 2 filter processes, outputs 0-7 in one and 8-15 in the other.

Both run with SCHED_FIFO priority 1 where permitted (see FIFO below).
Compared: the speed of each against real time (seconds of audio per second
of wall time, best of 3). For BruteFIR it is taken from the difference of
two runs, over 5 s and 25 s of audio, so that its start-up (planning,
loading 256 coefficient files) cancels; its file input and output
(16-channel raw float) stay in. Denseconv is timed around its process calls
alone. Also printed: the fraction of the memory roofline Denseconv reaches,
i.e. the spectrum traffic its speed implies (8 M^2 N fs / B bytes per
second of audio, M = 16, N = 4096, B = 256) over the read bandwidth of the
machine with one thread per processor (measured by denseconv_bench in the
same run), taking the best speed and the highest bandwidth of 3 runs,
for this matrix and for a 32 x 32 one that does not fit the cache; and,
as a check that both do the same work, the relative difference of their
outputs for 1 s of sine inputs.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np

M, N, B, FS = 16, 4096, 256, 48000
# Both sides run with SCHED_FIFO at priority 1 (chrt; BruteFIR's filter
# processes inherit it, Denseconv's workers ask for it), so that other load
# on the machine delays neither; without the right to it, both run normally.
FIFO = ["chrt", "-f", "1"] if shutil.which("chrt") and os.geteuid() == 0 else []


def bench_dir():
    return os.path.join(sys.argv[1] if len(sys.argv) > 1 else "build/bench", "bench")


def brutefir_config(d, inpath, outpath):
    lines = [
        "float_bits: 32;", f"sampling_rate: {FS};", f"filter_length: {B},{N // B};",
        "overflow_warnings: false;", "show_progress: false;",
        "max_dither_table_size: 0;", "allow_poll_mode: false;", 'modules_path: ".";',
        "powersave: false;", "monitor_rate: false;", "lock_memory: false;", "sdf_length: -1;",
        f'convolver_config: "{d}/wisdom";', "benchmark: false;",
    ]
    for i in range(M):
        for o in range(M):
            lines.append(f'coeff "h{i}_{o}" {{ filename: "{d}/h{i}_{o}.raw"; format: "FLOAT_LE"; '
                         f'attenuation: 0.0; blocks: -1; skip: 0; shared_mem: false; }};')
    names = ", ".join(f'"i{i}"' for i in range(M))
    lines.append(f'input {names} {{ device: "file" {{ path: "{inpath}"; }}; sample: "FLOAT_LE"; channels: {M}; '
                 f'delay: {", ".join(["0"] * M)}; maxdelay: -1; mute: {", ".join(["false"] * M)}; }};')
    names = ", ".join(f'"o{o}"' for o in range(M))
    lines.append(f'output {names} {{ device: "file" {{ path: "{outpath}"; }}; sample: "FLOAT_LE"; '
                 f'channels: {M}; delay: {", ".join(["0"] * M)}; maxdelay: -1; '
                 f'mute: {", ".join(["false"] * M)}; dither: false; merge: false; }};')
    for i in range(M):
        for o in range(M):
            lines.append(f'filter "f{i}_{o}" {{ from_inputs: "i{i}"; to_outputs: "o{o}"; '
                         f'coeff: "h{i}_{o}"; process: {o * 2 // M}; delay: 0; crossfade: false; }};')
    path = os.path.join(d, "config")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def run_brutefir(cfg):
    t0 = time.perf_counter()
    r = subprocess.run(FIFO + ["brutefir", "-nodefault", "-quiet", cfg], capture_output=True, text=True)
    dt = time.perf_counter() - t0
    if r.returncode:
        sys.exit(f"brutefir failed: {r.stdout}{r.stderr}")
    return dt


def run_denseconv(prog, m, seconds=20, runs=3):
    """Best speed of several runs, and the highest read bandwidth measured in them."""
    speed = traffic = bw = 0.0
    for _ in range(runs):
        out = subprocess.run(FIFO + [prog, str(m), str(m), str(N), str(B), "2", str(seconds)],
                             capture_output=True, text=True, check=True).stdout
        vals = dict(line.split() for line in out.splitlines()[1:])
        if float(vals["speed"]) > speed:
            speed, traffic = float(vals["speed"]), float(vals["traffic"])
        bw = max(bw, float(vals["bandwidth"]))
    return speed, traffic, bw


def main():
    prog = os.path.join(bench_dir(), "denseconv_bench")
    if not os.path.exists(prog):
        sys.exit(f"{prog} not found: build with -DVESK_BENCH=ON")
    if not shutil.which("brutefir"):
        sys.exit("brutefir not installed (Debian package brutefir)")
    rng = np.random.default_rng(1)
    h = (0.1 * rng.standard_normal((M, M, N))).astype(np.float32)
    with tempfile.TemporaryDirectory() as d:
        for i in range(M):
            for o in range(M):
                h[i, o].tofile(os.path.join(d, f"h{i}_{o}.raw"))
        h.tofile(os.path.join(d, "matrix.raw"))

        # Same work, same answer: 1 s of sines through both.
        t = np.arange(FS)
        sines = np.stack([0.5 * np.sin(0.001 * (c + 1) * t) for c in range(M)], axis=1).astype(np.float32)
        sines.tofile(os.path.join(d, "sines.raw"))
        run_brutefir(brutefir_config(d, os.path.join(d, "sines.raw"), os.path.join(d, "bf.raw")))
        subprocess.run([prog, str(M), str(M), str(N), str(B), "2", "1",
                        os.path.join(d, "matrix.raw"), os.path.join(d, "dc.raw")], check=True)
        bf = np.fromfile(os.path.join(d, "bf.raw"), np.float32).reshape(-1, M)
        dc = np.fromfile(os.path.join(d, "dc.raw"), np.float32).reshape(-1, M)
        n = min(len(bf), len(dc)) - 2 * B
        lag = min(range(0, 2 * B + 1), key=lambda k: np.linalg.norm(bf[k:k + n] - dc[:n]))
        diff = np.linalg.norm(bf[lag:lag + n] - dc[:n]) / np.linalg.norm(dc[:n])

        # BruteFIR's speed from two lengths of noise input.
        times = {}
        for secs in (5, 25):
            path = os.path.join(d, f"noise{secs}.raw")
            rng.uniform(-0.5, 0.5, (secs * FS, M)).astype(np.float32).tofile(path)
            cfg = brutefir_config(d, path, "/dev/null")
            times[secs] = min(run_brutefir(cfg) for _ in range(3))
        bf_speed = 20 / (times[25] - times[5])

        speed, traffic, bw = run_denseconv(prog, M)
    # The same on a 32 x 32 matrix, whose spectra (34 MB) no longer fit the
    # processor's cache, so that memory is the limit.
    speed32, traffic32, bw32 = run_denseconv(prog, 2 * M, seconds=5)
    print(f"{M} x {M} matrix of {N}-frame responses, partitions of {B}, {FS} Hz, 2 processors")
    print(f"outputs agree: relative difference {diff:.2e} ({20 * np.log10(diff):.0f} dB), "
          f"BruteFIR {lag} frames later")
    print(f"{'':28s} {'x real time':>12s}")
    print(f"{'BruteFIR (2 processes)':28s} {bf_speed:12.2f}   (runs of 5 s: {times[5]:.2f} s, 25 s: {times[25]:.2f} s)")
    print(f"{'Denseconv (2 workers)':28s} {speed:12.2f}")
    print(f"speed ratio Denseconv / BruteFIR: {speed / bf_speed:.2f}")
    for m, tr, b in ((M, traffic, bw), (2 * M, traffic32, bw32)):
        print(f"roofline {m} x {m}: spectrum traffic {tr / 1e9:.1f} GB/s, read bandwidth {b / 1e9:.1f} GB/s "
              f"-> {100 * tr / b:.0f} %")
    print(f"(Denseconv 32 x 32: {speed32:.2f} x real time)")


if __name__ == "__main__":
    main()
