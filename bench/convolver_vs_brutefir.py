"""Our convolution engine against BruteFIR (Debian's brutefir, run as a black
box), side by side in one run on the same random responses and input.

Cases: 2x2 full matrix of 65536-tap responses, and 16x16 of 4096 taps.
BruteFIR runs with partitions of 256 frames (filter_length 256,N), raw float
file input and output, FFTW wisdom kept in the work folder; ours runs the
engine offline through build/tests/bench/convproc_bench (sync mode: every
partition computed, worker threads as fast as they go) at periods 256 and
64. Only processing is timed, never start-up (loading, FFT planning):
BruteFIR runs twice per repetition, on the whole input and on its first
second, and the difference is its cost for the rest (CPU time as the task
clock of all its threads and processes from perf stat, wall time as seen
from here); our bench times its processing loop itself (wall clock, and CPU
time of all its threads from getrusage). The best of the repetitions is kept. The outputs are checked against
each other. Figures per engine: processing wall and CPU seconds, frames per
CPU second, speed relative to BruteFIR (CPU time), model GFLOP/s per CPU
second, and the fraction of the memory-bandwidth roofline (spectra bytes a
partitioned convolution must stream per CPU second, 16 per complex
multiply-add, over a one-thread triad bandwidth).

    python3 bench/convolver_vs_brutefir.py [--seconds-2x2 60] [--seconds-16x16 20] [--repeat 3]

Needs brutefir and perf (Debian: apt-get install brutefir linux-perf), and
the bench programs built (cmake -DVESK_BENCH=ON into build/tests).

The machine is shared: CPU seconds are the steadier figure, wall seconds
include time other processes took.
"""

import argparse
import math
import os
import re
import subprocess
import sys
import tempfile
import time

import numpy as np

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BENCH = os.path.join(TOP, "build", "tests", "bench", "convproc_bench")
RATE = 48000


def timed(cmd, **kw):
    """(wall s, CPU s of all its threads and child processes, stdout) of one run."""
    t0 = time.monotonic()
    r = subprocess.run(["perf", "stat", "-x,", "-e", "task-clock", "--"] + cmd, capture_output=True, text=True, **kw)
    t1 = time.monotonic()
    if r.returncode:
        sys.exit(f"{cmd[0]} failed: {r.stdout}{r.stderr}")
    msec = [float(l.split(",")[0]) for l in r.stderr.splitlines() if ",task-clock," in l][-1]
    return t1 - t0, msec * 1e-3, r.stdout


MAXFILTERS = 256    # BruteFIR refuses configurations with more filters


def brutefir_config(d, ninp, nout, taps, B, xname, mix):
    lines = [f"sampling_rate: {RATE};", f"filter_length: {B},{taps // B};", "float_bits: 32;",
             "overflow_warnings: false;", "show_progress: false;", "max_dither_table_size: 0;",
             "allow_poll_mode: false;", "monitor_rate: false;", "powersave: false;", "lock_memory: false;",
             "modules_path: \"/usr/lib/brutefir\";", f"convolver_config: \"{d}/wisdom\";", ""]
    for i in range(ninp):
        for o in range(nout):
            lines.append(f"coeff \"c{i}_{o}\" {{ filename: \"{d}/h_{i}_{o}.raw\"; format: \"FLOAT_LE\"; "
                         f"attenuation: 0; }};")
    ins = ", ".join(f"\"i{i}\"" for i in range(ninp))
    outs = ", ".join(f"\"o{o}\"" for o in range(nout))
    lines.append(f"input {ins} {{ device: \"file\" {{ path: \"{d}/{xname}.raw\"; }}; sample: \"FLOAT_LE\"; "
                 f"channels: {ninp}; }};")
    lines.append(f"output {outs} {{ device: \"file\" {{ path: \"{d}/{xname}_y_bf.raw\"; }}; sample: \"FLOAT_LE\"; "
                 f"channels: {nout}; dither: false; }};")
    # mix: every pair filters into a per-output mixing filter (coeff -1: no
    # filtering), BruteFIR's idiom for a matrix; otherwise every pair filters
    # straight into its output.
    for i in range(ninp):
        for o in range(nout):
            dest = f"to_filters: \"m{o}\"" if mix else f"to_outputs: \"o{o}\""
            lines.append(f"filter \"f{i}_{o}\" {{ from_inputs: \"i{i}\"; {dest}; coeff: \"c{i}_{o}\"; }};")
    for o in range(nout if mix else 0):
        src = ", ".join(f"\"f{i}_{o}\"" for i in range(ninp))
        lines.append(f"filter \"m{o}\" {{ from_filters: {src}; to_outputs: \"o{o}\"; coeff: -1; }};")
    path = os.path.join(d, f"brutefir_{xname}_{int(mix)}.conf")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


def model_uniform(ninp, nout, taps, B):
    """(flops, complex multiply-adds) per frame of uniformly partitioned convolution with partitions of B."""
    N = 2 * B
    cmacs = ninp * nout * (taps // B) * (B + 1) / B
    return (ninp + nout) * 2.5 * N * math.log2(N) / B + 8 * cmacs, cmacs


def aligned_error_db(y, ref, nout):
    """Relative error of y against ref (both interleaved), after finding y's delay."""
    y = y.reshape(-1, nout)
    ref = ref.reshape(-1, nout)
    seg = ref[20000:28192, 0]
    best = None
    for lag in range(0, 4096):
        a = y[20000 + lag:28192 + lag, 0]
        if len(a) < len(seg):
            break
        e = np.sum((a - seg) ** 2)
        if best is None or e < best[0]:
            best = (e, lag)
    lag = best[1]
    n = min(len(ref), len(y) - lag)
    r = ref[:n].astype(np.float64)
    return lag, 10 * math.log10(np.sum((y[lag:lag + n] - r) ** 2) / np.sum(r ** 2))


def run_case(ninp, nout, taps, seconds, repeat, triad):
    rng = np.random.default_rng(taps + ninp)
    frames = int(seconds * RATE) // 256 * 256
    with tempfile.TemporaryDirectory() as d:
        for i in range(ninp):
            for o in range(nout):
                h = rng.uniform(-1, 1, taps).astype(np.float32) / math.sqrt(taps)
                h.tofile(os.path.join(d, f"h_{i}_{o}.raw"))
        x = rng.uniform(-0.5, 0.5, (frames, ninp)).astype(np.float32)
        x.tofile(os.path.join(d, "x.raw"))
        short = RATE // 256 * 256
        x[:short].tofile(os.path.join(d, "xs.raw"))
        mixes = [False] + ([True] if ninp * nout + nout <= MAXFILTERS else [])
        conf = {(xn, mix): brutefir_config(d, ninp, nout, taps, 256, xn, mix) for xn in ("x", "xs") for mix in mixes}
        # One run to let BruteFIR make its FFTW wisdom; our engine plans at configure in every run.
        timed(["brutefir", "-nodefault", "-quiet", conf[("xs", False)]], cwd=d)
        results = {}
        engines = [("BruteFIR", 256, mix) for mix in mixes] + [("ours", 256, None), ("ours", 64, None)]
        for r in range(repeat):
            for eng, B, mix in engines:
                if eng == "BruteFIR":
                    wc = {xn: timed(["brutefir", "-nodefault", "-quiet", conf[(xn, mix)]], cwd=d) for xn in ("x", "xs")}
                    flops, cmacs = model_uniform(ninp, nout, taps, 256)
                    w = wc["x"][0] - wc["xs"][0]
                    c = wc["x"][1] - wc["xs"][1]
                    n = frames - short
                else:
                    out = timed([BENCH, "run", str(ninp), str(nout), str(taps), str(B), d, "x"])[2]
                    m = dict(re.findall(r"(\S+) ([\d.]+)", out))
                    flops, cmacs = float(m["flops/frame"]), float(m["cmacs/frame"])
                    w, c, n = float(m["wall"]), float(m["cpu"]), frames
                key = (eng if mix is None else f"BruteFIR{'-mix' if mix else ''}", B)
                prev = results.get(key)
                results[key] = (min(w, prev[0]) if prev else w, min(c, prev[1]) if prev else c, flops, cmacs, n)
        ybf = np.fromfile(os.path.join(d, "x_y_bf.raw"), np.float32)   # from the last BruteFIR run
        checks = {}
        for B in (256, 64):
            yo = np.fromfile(os.path.join(d, f"x_y_{B}.raw"), np.float32)
            checks[B] = aligned_error_db(ybf, yo, nout)
    # The reference: BruteFIR in its faster configuration.
    wb, cb, _, _, nb = min((v for k, v in results.items() if k[0].startswith("BruteFIR")), key=lambda v: v[1] / v[4])
    print(f"\n{ninp}x{nout} x {taps} taps, {frames} frames of input ({frames / RATE:.1f} s at {RATE} Hz), "
          f"best of {repeat}")
    print(f"{'engine':12} {'B':>4} {'wall s':>8} {'CPU s':>8} {'frames/CPU s':>13} {'x BruteFIR':>10} "
          f"{'GFLOP/s':>8} {'GB/s':>6} {'roofline':>8}")
    for (eng, B), (w, c, flops, cmacs, n) in results.items():
        gflops = flops * n / c * 1e-9
        gbs = 16 * cmacs * n / c * 1e-9
        print(f"{eng:12} {B:4d} {w:8.2f} {c:8.2f} {n / c:13.0f} {(n / c) / (nb / cb):10.2f} {gflops:8.2f} "
              f"{gbs:6.2f} {gbs / triad:8.2f}")
    for B, (lag, db) in checks.items():
        print(f"ours B={B} against BruteFIR: BruteFIR's output is {lag} frames later; difference {db:.1f} dB")


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--seconds-2x2", type=float, default=60.0)
    ap.add_argument("--seconds-16x16", type=float, default=20.0)
    ap.add_argument("--repeat", type=int, default=3)
    a = ap.parse_args()
    if not os.path.exists(BENCH):
        sys.exit(f"{BENCH} missing: cmake -S . -B build/tests -DVESK_BENCH=ON ... && cmake --build build/tests")
    out = subprocess.run([BENCH, "stream"], capture_output=True, text=True).stdout
    triad = float(re.search(r"triad ([\d.]+)", out).group(1))
    print(f"memory bandwidth (triad, one thread): {triad:.2f} GB/s; "
          f"roofline fraction = spectra bytes streamed per CPU second / that")
    run_case(2, 2, 65536, a.seconds_2x2, a.repeat, triad)
    run_case(16, 16, 4096, a.seconds_16x16, a.repeat, triad)


if __name__ == "__main__":
    main()
