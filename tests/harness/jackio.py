"""Source and sink JACK clients that push arrays through ports of a client
under test and record what comes back, sample-aligned.

Runs in a process of its own (see push.py): its process callbacks are
Python, which must never share an interpreter with a vesk setter that holds
the interpreter lock while it waits for JACK's process thread.

Usage: python jackio.py CONFIG.json   (CONFIG names the server, ports, files)
It prints "armed" once audio flows, and at the end "done xruns N" (or
"timeout ...") before it closes its clients.
The source writes input frame k of the data at the cycle whose frame time is
start + k; the sink records its inputs at the same frame times, so output
sample k is what the client under test produced for input sample k. An
extra sync connection from source to sink makes JACK always run the source
first and the sink last. It is made last, and the run starts once the sink
has seen what the source sends on it for a few periods: PipeWire makes
connections live some periods after jack_connect returns, jackd2 at once.
"""

import faulthandler
import json
import os
import signal
import sys
import threading

import jack
import numpy as np


def main():
    # The test watchdog asks for the stacks of a push that hangs.
    faulthandler.register(signal.SIGUSR1, all_threads=True)
    cfg = json.load(open(sys.argv[1]))
    data = np.load(cfg["input"]).astype(np.float32)
    nin, n = data.shape
    nout = len(cfg["outputs"])
    total = n + cfg["tail"]
    tag = f"{os.getpid()}"
    kw = dict(servername=cfg["server"], no_start_server=True)
    src = jack.Client(f"vsrc{tag}", **kw)
    snk = jack.Client(f"vsnk{tag}", **kw)
    souts = [src.outports.register(f"o{i}") for i in range(nin)]
    sins = [snk.inports.register(f"i{j}") for j in range(nout)]
    ssync = src.outports.register("sync")
    ksync = snk.inports.register("sync")
    out = np.zeros((nout, total), np.float32)
    st = dict(armed=False, start=None, xruns=0)
    done = threading.Event()
    linked = threading.Event()
    seen = [0]

    @src.set_process_callback
    def source(frames):
        ssync.get_array()[:] = 1.0
        if st["armed"] and st["start"] is None:
            st["start"] = src.last_frame_time
        pos = None if st["start"] is None else src.last_frame_time - st["start"]
        for i, p in enumerate(souts):
            buf = p.get_array()
            buf[:] = 0
            if pos is not None and pos < n:
                seg = data[i, pos:pos + frames]
                buf[:len(seg)] = seg

    @snk.set_process_callback
    def sink(frames):
        if ksync.get_array()[0] == 1.0:
            seen[0] += 1
            if seen[0] >= 4:
                linked.set()
        if st["start"] is None or done.is_set():
            return
        pos = snk.last_frame_time - st["start"]
        m = min(frames, total - pos)
        if m > 0:
            for j, p in enumerate(sins):
                out[j, pos:pos + m] = p.get_array()[:m]
        if pos + frames >= total:
            done.set()

    def xrun(delay):
        st["xruns"] += 1

    snk.set_xrun_callback(xrun)
    src.activate()
    snk.activate()
    for p, name in zip(souts, cfg["inputs"]):
        src.connect(p, name)
    for name, p in zip(cfg["outputs"], sins):
        snk.connect(name, p)
    src.connect(ssync, ksync)
    if not linked.wait(10.0):
        print("connections never became live", flush=True)
        sys.exit(3)
    if cfg["freewheel"]:
        src.set_freewheel(True)
    st["armed"] = True
    print("armed", flush=True)
    ok = done.wait(cfg["timeout"])
    if cfg["freewheel"]:
        src.set_freewheel(False)
    if ok:
        np.save(cfg["output"], out)
    # The result goes out before the clients close: libjack stops a client's
    # process thread by cancelling it, and when that thread waits for the
    # interpreter lock in a callback at that moment, it dies holding the
    # lock's mutex and this process hangs. The parent then ends it.
    print(f"{'done' if ok else 'timeout'} xruns {st['xruns']}", flush=True)
    src.deactivate()
    snk.deactivate()
    src.close()
    snk.close()
    sys.exit(0 if ok else 3)


if __name__ == "__main__":
    main()
