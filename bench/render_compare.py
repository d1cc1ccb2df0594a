"""Offline render speed: vesk.render in freewheel mode against sox, same file, same kind of chain.

    python3 bench/render_compare.py [--minutes 10] [--repeat 3]

Makes a stereo 48 kHz float WAV test file (default 10 minutes), then for
periods of 256 and 1024 frames on a private dummy JACK server renders it

  - pass-through: player -> capture, float WAV out;
  - chain: player -> Equaliser (low shelf 120 Hz +4 dB, peak 1 kHz -6 dB,
    high shelf 6 kHz +3 dB) -> PeakLimiter (+6 dB in, -1 dB threshold,
    50 ms release) -> capture, float WAV out;

and runs sox (needs `apt-get install sox`) on the same file:

  - copy: `sox in.wav -e floating-point -b 32 out.wav`;
  - chain: bass +4 120 Hz, equalizer 1 kHz 1 octave -6 dB, treble +3 6 kHz,
    gain +6 dB, compand as a limiter at -1 dB (attack 0.5 ms, decay 50 ms;
    without look-ahead: this sox fails with "flowed asymmetrically" on a
    stereo compand with a delay); float WAV out.

Speeds are seconds of audio per second of wall-clock time ("x real time"),
best of --repeat runs. For vesk two figures: "run" is the freewheel run
itself (freewheel on until the capture has closed its file, as
RenderResult.elapsed), "call" the whole render() call including client
creation, connections and file opening. sox's figure is the whole process.
"per CPU second" divides the audio seconds by the CPU time (user + system)
of the whole call: for vesk this Python process (player, capture, tools
and their JACK client threads) plus jackd, for sox its process; it is
what the speed would be with a core to spare for every busy thread, and
shows less of the machine's other load than wall-clock time does.
"""

import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

import numpy as np
import soundfile as sf

import vesk

RATE = 48000


def make_source(path, minutes):
    rng = np.random.default_rng(5)
    block = RATE * 30
    t = np.arange(block) / RATE
    with sf.SoundFile(path, "w", RATE, 2, "FLOAT") as f:
        for k in range(int(minutes * 2)):
            x = 0.1 * rng.standard_normal((block, 2))
            x[:, 0] += 0.5 * np.sin(2 * np.pi * 440 * t) * (np.mod(t + k, 3.0) < 0.5)
            f.write(x.astype(np.float32))
    return sf.info(path).frames


def cpu_self_and(pid):
    """CPU seconds (user + system) used so far by this process and by process ``pid``."""
    t = os.times()
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    tick = os.sysconf("SC_CLK_TCK")
    return t.user + t.system + (int(fields[11]) + int(fields[12])) / tick


def cpu_children():
    r = resource.getrusage(resource.RUSAGE_CHILDREN)
    return r.ru_utime + r.ru_stime


def vesk_runs(src, dest, period, repeat):
    out = {}
    with vesk.JackServer(f"vesk-bench-render-{os.getpid()}", rate=RATE, period=period) as server:
        for label in ("pass-through", "chain"):
            runs, calls, cpus = [], [], []
            for _ in range(repeat):
                c0 = cpu_self_and(server.pid)
                if label == "chain":
                    with vesk.Equaliser(2, "L2H", name="bench-eq", server=server.name) as eq, \
                         vesk.PeakLimiter(2, name="bench-lim", server=server.name) as lim:
                        eq.set_filter(0, 120.0, 4.0, 0.5)
                        eq.set_filter(1, 1000.0, -6.0, 1.0)
                        eq.set_filter(2, 6000.0, 3.0, 0.5)
                        eq.bypass = False
                        lim.inpgain = 6.0
                        lim.threshold = -1.0
                        lim.release = 0.05
                        time.sleep(0.1)
                        t0 = time.perf_counter()
                        r = vesk.render(src, dest, [eq, lim], options="float", progress=False)
                        calls.append(time.perf_counter() - t0)
                else:
                    t0 = time.perf_counter()
                    r = vesk.render(src, dest, options="float", server=server.name, progress=False)
                    calls.append(time.perf_counter() - t0)
                cpus.append(cpu_self_and(server.pid) - c0)
                runs.append(r.elapsed)
                seconds = r.seconds
            out[label] = (seconds / min(runs), seconds / min(calls), seconds / min(cpus))
    return out


def sox_runs(src, dest, seconds, repeat):
    copy = ["sox", "-D", src, "-e", "floating-point", "-b", "32", dest]
    chain = ["sox", "-D", src, "-e", "floating-point", "-b", "32", dest,
             "bass", "+4", "120", "0.5s",
             "equalizer", "1000", "1o", "-6",
             "treble", "+3", "6000", "0.5s",
             "gain", "6",
             "compand", "0.0005,0.05", "-90,-90,-1,-1,0,-1", "0", "-90"]
    out = {}
    for label, cmd in (("copy", copy), ("chain", chain)):
        times, cpus = [], []
        for _ in range(repeat):
            c0 = cpu_children()
            t0 = time.perf_counter()
            subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            times.append(time.perf_counter() - t0)
            cpus.append(cpu_children() - c0)
            # sox reports some effect failures on stderr only, with status 0.
            if abs(sf.info(dest).duration - seconds) > 0.01:
                sys.exit(f"sox did not render the whole file: {' '.join(cmd)}")
        out[label] = (seconds / min(times), seconds / min(cpus))
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--minutes", type=float, default=10.0)
    ap.add_argument("--repeat", type=int, default=3)
    args = ap.parse_args()
    if not shutil.which("sox"):
        sys.exit("sox is not installed (apt-get install sox)")
    with tempfile.TemporaryDirectory() as d:
        src = os.path.join(d, "in.wav")
        frames = make_source(src, args.minutes)
        seconds = frames / RATE
        print(f"source: {seconds:.0f} s stereo float WAV at {RATE} Hz; best of {args.repeat} runs; "
              f"speed in x real time\n")
        print("| work | tool | period | speed (run) | speed (call) | per CPU second |")
        print("|---|---|---|---|---|---|")
        for period in (256, 1024):
            v = vesk_runs(src, os.path.join(d, "out.wav"), period, args.repeat)
            for label, (run, call, cpu) in v.items():
                print(f"| {label} | vesk.render | {period} | {run:.0f} | {call:.0f} | {cpu:.0f} |", flush=True)
        s = sox_runs(src, os.path.join(d, "sox.wav"), seconds, args.repeat)
        for label, (sp, cpu) in s.items():
            print(f"| {label} | sox | - | - | {sp:.0f} | {cpu:.0f} |", flush=True)


if __name__ == "__main__":
    main()
