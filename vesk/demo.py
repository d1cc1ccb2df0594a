"""The vesk demo: an offline render through an equaliser and a limiter.

    python -m vesk.demo [SERVER] [--out DIR]

Makes a 20-second stereo test file (pink noise, a bass tone and loud
bursts), renders it in freewheel mode through a three-section Equaliser
and a PeakLimiter into a 24-bit WAV file, prints the render's speed and
the levels of both files, and draws their spectra into a PNG file beside
them (in DIR, default: vesk-demo in the temporary directory).

Attaches to the JACK server SERVER (default: the default server) if it
runs, otherwise starts a private one with the dummy backend (48000 Hz,
period 1024) and stops it at the end.
"""

import argparse
import os
import sys
import tempfile
import time

import numpy as np

import vesk

RATE = 48000
SECONDS = 20


def test_signal(rate=RATE, seconds=SECONDS, seed=1):
    """Stereo float32 test signal: pink noise at about -24 dBFS RMS, a 60 Hz
    tone, and a burst of a 3 kHz tone near full scale every 2 seconds."""
    n = rate * seconds
    rng = np.random.default_rng(seed)
    # Pink noise: white noise shaped by 1/sqrt(f) in the frequency domain.
    bins = rng.standard_normal((2, n // 2 + 1)) + 1j * rng.standard_normal((2, n // 2 + 1))
    f = np.fft.rfftfreq(n, 1 / rate)
    bins *= 1 / np.sqrt(np.maximum(f, 20.0))
    pink = np.fft.irfft(bins, n)
    pink *= 10 ** (-24 / 20) / np.sqrt(np.mean(pink ** 2))
    t = np.arange(n) / rate
    x = pink + 0.1 * np.sin(2 * np.pi * 60 * t)
    burst = (np.mod(t, 2.0) < 0.25) * np.sin(2 * np.pi * 3000 * t) * 0.6
    x[0] += burst
    x[1] += 0.7 * burst
    return x.T.astype(np.float32)


def levels(x):
    """(peak dBFS, RMS dBFS) per channel of a (frames, channels) array."""
    with np.errstate(divide="ignore"):
        peak = 20 * np.log10(np.max(np.abs(x), axis=0))
        rms = 10 * np.log10(np.mean(x.astype(np.float64) ** 2, axis=0))
    return peak, rms


def spectrum(x, rate, n=4096):
    """Power spectrum in dB of a (frames, channels) array, channels averaged (Welch, Hann, 50 % overlap)."""
    w = np.hanning(n)
    segs = [x[k:k + n] * w[:, None] for k in range(0, len(x) - n + 1, n // 2)]
    p = np.mean([np.abs(np.fft.rfft(s, axis=0)) ** 2 for s in segs], axis=(0, 2))
    p /= (rate * np.sum(w ** 2))
    with np.errstate(divide="ignore"):
        return np.fft.rfftfreq(n, 1 / rate), 10 * np.log10(p)


def plot_spectra(path, freqs, db_in, db_out):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    fig, ax = plt.subplots(figsize=(8, 4.5), dpi=100)
    k = freqs >= 20
    ax.semilogx(freqs[k], db_in[k], label="input")
    ax.semilogx(freqs[k], db_out[k], label="output (equaliser + limiter)")
    ax.set_xlabel("Frequency (Hz)")
    ax.set_ylabel("Power spectral density (dB/Hz)")
    ax.set_title("vesk demo: offline render")
    ax.grid(True, which="both", alpha=0.3)
    ax.legend()
    fig.tight_layout()
    fig.savefig(path, format="png")
    plt.close(fig)
    return True


def main(argv):
    import soundfile as sf

    ap = argparse.ArgumentParser(prog="python -m vesk.demo", description="Offline render through an equaliser and a limiter.")
    ap.add_argument("server", nargs="?", default=None, help="JACK server name (default: the default server)")
    ap.add_argument("--out", default=os.path.join(tempfile.gettempdir(), "vesk-demo"), help="output directory")
    args = ap.parse_args(argv[1:])
    if vesk.on_pipewire():
        print("This process uses PipeWire's JACK library (pw-jack). The demo renders offline in freewheel "
              "mode, and PipeWire's freewheel mode loses periods between clients: run the demo without "
              "pw-jack (it starts a private jackd, beside PipeWire).", file=sys.stderr)
        return 1
    os.makedirs(args.out, exist_ok=True)
    src = os.path.join(args.out, "input.wav")
    dest = os.path.join(args.out, "output.wav")
    png = os.path.join(args.out, "spectra.png")

    x = test_signal()
    sf.write(src, x, RATE, subtype="FLOAT")
    print(f"Test file: {src} ({SECONDS} s stereo, {RATE} Hz, float)")

    server = vesk.JackServer.ensure(args.server, rate=RATE, period=1024)
    try:
        how = f"private dummy server (pid {server.pid})" if server.owned else "running server"
        print(f"JACK: {how} '{server.name or 'default'}', {server.rate} Hz, period {server.period}")
        with vesk.Equaliser(2, "L2H", name="vesk-demo-eq", server=server.name) as eq, \
             vesk.PeakLimiter(2, name="vesk-demo-lim", server=server.name) as lim:
            eq.set_filter(0, 120.0, 4.0, 0.5)      # low shelf 120 Hz, +4 dB
            eq.set_filter(1, 1000.0, -6.0, 1.0)    # peak 1 kHz, -6 dB
            eq.set_filter(2, 6000.0, 3.0, 0.5)     # high shelf 6 kHz, +3 dB
            eq.bypass = False
            lim.inpgain = 6.0
            lim.threshold = -1.0
            lim.release = 0.05
            time.sleep(0.1)                         # let the parameter ramps settle
            print("Chain: Equaliser (shelf 120 Hz +4 dB, peak 1 kHz -6 dB, shelf 6 kHz +3 dB)"
                  " -> PeakLimiter (+6 dB in, threshold -1 dB)")
            result = vesk.render(src, dest, [eq, lim], options="wav,24bit")
    finally:
        server.stop()
    print(f"Rendered: {dest}")
    print(f"  {result}")

    y, _ = sf.read(dest, dtype="float32", always_2d=True)
    for label, data in (("input ", x), ("output", y)):
        peak, rms = levels(data)
        chans = "   ".join(f"ch{c}: peak {peak[c]:6.2f} dBFS, RMS {rms[c]:6.2f} dBFS" for c in range(len(peak)))
        print(f"  {label}  {chans}")
    f, db_in = spectrum(x, RATE)
    _, db_out = spectrum(y, RATE)
    if plot_spectra(png, f, db_in, db_out):
        print(f"Spectra: {png}")
    else:
        print("Spectra: not drawn (matplotlib is not installed)")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
