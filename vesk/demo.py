"""The vesk demo: a signal through a gain control, with measured levels.

    python -m vesk.demo [SERVER]

Attaches to the JACK server SERVER (default: the default server) if it runs,
otherwise starts a private one with the dummy backend (48000 Hz, period 256)
and stops it at the end. A 1 kHz sine at -6 dBFS goes through a two-channel
GainControl; the levels of its outputs are printed as the gains change.
"""

import sys
import threading
import time

import numpy as np

import vesk


def main(argv):
    import jack

    server_name = argv[1] if len(argv) > 1 else None
    server = vesk.JackServer.ensure(server_name)
    try:
        how = f"private server (pid {server.pid})" if server.owned else "running server"
        print(f"JACK: {how} '{server.name or 'default'}', {server.rate} Hz, period {server.period}")
        with vesk.GainControl(2, name="vesk-demo-gain", server=server.name) as gain:
            io = jack.Client("vesk-demo-io", servername=server.name, no_start_server=True)
            src = io.outports.register("sine")
            sinks = [io.inports.register(f"in_{i}") for i in range(2)]
            fs = io.samplerate
            phase = [0]
            acc = np.zeros(2)
            count = [0]
            lock = threading.Lock()

            @io.set_process_callback
            def process(frames):
                n = np.arange(phase[0], phase[0] + frames)
                src.get_array()[:] = 0.5 * np.sin(2 * np.pi * 1000 * n / fs)
                phase[0] = (phase[0] + frames) % fs
                with lock:
                    for i, p in enumerate(sinks):
                        acc[i] += np.sum(p.get_array().astype(np.float64) ** 2)
                    count[0] += frames

            io.activate()
            for i in range(2):
                io.connect(src, gain.inputs[i])
                io.connect(gain.outputs[i], sinks[i])

            def measure(label):
                time.sleep(0.1)                 # let the 10 ms ramps settle
                with lock:
                    acc[:] = 0
                    count[0] = 0
                time.sleep(0.3)
                with lock:
                    rms = np.sqrt(acc / max(count[0], 1))
                levels = [f"{20 * np.log10(r * np.sqrt(2)):7.2f} dBFS" if r > 0 else "     silent" for r in rms]
                print(f"  {label:<34} out_0 {levels[0]}   out_1 {levels[1]}")

            print("Input: 1 kHz sine at -6.02 dBFS on both channels; levels as sine peak")
            measure("before the first master gain")
            gain.gain = 0.0
            measure("master 0 dB")
            gain.gain = -6.0
            measure("master -6 dB")
            gain.set_gain(-12.0, 1)
            measure("master -6 dB, channel 1 -12 dB")
            gain.set_mute(True, 0)
            measure("channel 0 muted")
            gain.set_mute(False, 0)
            gain.set_mute(True)
            measure("master muted")
            io.deactivate()
            io.close()
    finally:
        server.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
