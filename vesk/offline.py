"""Offline rendering: a file played through a JACK graph in freewheel mode,
captured frame-exactly into another file.

:class:`FastPlayback` plays a range of a file and marks every period that
carries file frames on its ``_sync`` output; :class:`FastCapture` writes what
its inputs receive while the marker on its ``_sync`` input says so. Between
them runs whatever graph is under test. :func:`render` does the whole job in
one call::

    with vesk.Equaliser(2, "L1H", server=s.name) as eq:
        eq.set_filter(1, 1000.0, -6.0, 1.0)
        eq.bypass = False
        result = vesk.render("in.wav", "out.wav", [eq], options="wav,24bit")
    print(result.speed, "times real time")

The rendered file has exactly ``end - start`` frames at the server's rate,
whatever the period size, and runs as fast as the machine allows.
"""

import ctypes
import ctypes.util
import os
import sys
import time
from dataclasses import dataclass

from . import fastcapture, fastplayback
from ._tool import Tool, State
from .server import JackServer, JackError, on_pipewire
from .control import ServerControl

# Keywords of FastCapture.create options.
FILE_TYPES = ("caf", "wav", "amb", "aiff", "flac")
SAMPLE_FORMS = ("16bit", "24bit", "32bit", "float")
DITHERS = ("none", "rect", "tri", "lips")


def check_options(options):
    """Raise ValueError if a comma-separated capture option word is unknown."""
    if options is None:
        return
    words = [w for w in str(options)[:63].split(",") if w]
    for w in words:
        if w not in FILE_TYPES + SAMPLE_FORMS + DITHERS:
            raise ValueError(f"unknown file option {w!r}: use a type {FILE_TYPES}, "
                             f"a sample form {SAMPLE_FORMS} or a dither {DITHERS}")


class _Freewheel(Tool):
    """What the freewheel player and capture share: audio ports and ``_sync``."""

    def _open_fw(self, name, server, nchan):
        self._open(name, server, int(nchan))
        self._nchan = max(0, int(nchan))

    @property
    def nchan(self):
        """Number of audio ports."""
        return self._nchan

    @property
    def sync(self):
        """Full JACK name of the ``_sync`` port (an output of the player, an input of the capture)."""
        return f"{self.name}:_sync"


class FastPlayback(_Freewheel):
    """Plays a file range on outputs ``out_i`` in freewheel mode, with the sync marker on ``_sync``.

    ``load(path)`` opens a file and selects all of it; ``range`` narrows or
    extends the selection (frames past the end of the file play as silence).
    ``freewheel(True)`` asks the server for freewheel mode; when it begins,
    the player plays the range as fast as the graph runs, marking every
    period with the number of valid frames, and returns to PASSIVE after the
    last one. Switch freewheel off then with ``freewheel(False)``. File
    channels beyond ``nchan`` are not played; outputs beyond the file's
    channels are silent. ``nchan`` is 0..100 (more leaves the client FAILED).
    """

    _module = fastplayback

    def __init__(self, nchan, name="fastplayback", server=None):
        self._open_fw(name, server, nchan)
        self._nout = self._nchan if self.name else 0

    def load(self, path):
        """Open ``path`` for playback (None: unload). Raises OSError if it cannot be read."""
        self._check_open()
        if self.state != State.PASSIVE:
            raise JackError("FastPlayback: cannot load a file while playing")
        if fastplayback.load_file(self.capsule, None if path is None else os.fspath(path)):
            raise OSError(f"cannot read audio file {path}")

    def unload(self):
        self.load(None)

    @property
    def fileinfo(self):
        """(frames, channels) of the loaded file; (0, 0) without one."""
        return fastplayback.fileinfo(self.capsule)

    @property
    def range(self):
        """(start, end) frames of the range to play; set it as a pair."""
        return getattr(self, "_range", (0, self.fileinfo[0]))

    @range.setter
    def range(self, se):
        start, end = (int(v) for v in se)
        if fastplayback.set_range(self.capsule, start, end):
            raise ValueError(f"bad range ({start}, {end}): need 0 <= start <= end")
        self._range = (start, end)

    def load_range(self, path, start=0, end=None):
        """Load ``path`` and select frames start .. end (None: the end of the file)."""
        self.load(path)
        self._range = (0, self.fileinfo[0])
        self.range = (start, self.fileinfo[0] if end is None else end)

    def freewheel(self, on):
        """Ask the server to switch freewheel mode on or off (its answer is not reported)."""
        fastplayback.set_state(self.capsule, 1 if on else 0)


class FastCapture(_Freewheel):
    """Captures inputs ``in_i`` into a file, frame-exactly, under the sync marker on ``_sync``.

    ``create(path, nchan, options)`` makes the file; the capture starts at the
    first period with a marker and ends, closing the file, at the first
    period without one. A new capture needs a new ``create``. Options are
    comma-separated words: a type ("wav", "amb", "caf", "aiff", "flac"), a
    form ("16bit", "24bit", "32bit", "float") and a dither for 16-bit files
    ("none", "rect", "tri", "lips"); the default is "wav,24bit". File
    channels beyond the inputs are silent. ``close()`` completes a file that
    is still open, with every frame written so far.
    """

    _module = fastcapture

    def __init__(self, nchan, name="fastcapture", server=None):
        self._open_fw(name, server, nchan)
        self._ninp = self._nchan if self.name else 0

    def create(self, path, nchan=None, options=None):
        """Create the capture file (``nchan`` None: one channel per input, at least 1).

        Raises ValueError for an unknown option or a channel count outside
        1..1024, JackError while a capture runs, OSError if the file cannot
        be created.
        """
        self._check_open()
        check_options(options)
        n = max(1, self._nchan) if nchan is None else int(nchan)
        if not 1 <= n <= 1024:
            raise ValueError(f"file channels must be 1..1024, not {n}")
        if self.state != State.PASSIVE:
            raise JackError("FastCapture: cannot create a file while capturing")
        if fastcapture.create_file(self.capsule, os.fspath(path), n, options):
            raise OSError(f"cannot create audio file {path}")


# ---------------------------------------------------------------- file facts

class _SF_INFO(ctypes.Structure):
    _fields_ = [("frames", ctypes.c_int64), ("samplerate", ctypes.c_int), ("channels", ctypes.c_int),
                ("format", ctypes.c_int), ("sections", ctypes.c_int), ("seekable", ctypes.c_int)]


_sndfile = None


def file_info(path):
    """(frames, rate, channels) of an audio file, read by libsndfile; OSError if unreadable."""
    global _sndfile
    if _sndfile is None:
        lib = ctypes.CDLL(ctypes.util.find_library("sndfile") or "libsndfile.so.1")
        lib.sf_open.restype = ctypes.c_void_p
        lib.sf_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(_SF_INFO)]
        lib.sf_close.argtypes = [ctypes.c_void_p]
        _sndfile = lib
    info = _SF_INFO()
    h = _sndfile.sf_open(os.fsencode(path), 0x10, ctypes.byref(info))
    if not h:
        raise OSError(f"cannot read audio file {path}")
    _sndfile.sf_close(h)
    return info.frames, info.samplerate, info.channels


_BYTES = {"16bit": 2, "24bit": 3, "32bit": 4, "float": 4}


def _bytes_per_sample(options):
    """Sample size of an uncompressed capture file, None for FLAC."""
    words = [w for w in (options or "")[:63].split(",") if w]
    if "flac" in words and [w for w in words if w in FILE_TYPES][-1] == "flac":
        return None
    form = "24bit"
    for w in words:
        if w in _BYTES:
            form = w
    return _BYTES[form]


# ---------------------------------------------------------------- render

@dataclass
class RenderResult:
    """Summary of a :func:`render`."""
    frames: int        # frames in the rendered file
    rate: int          # its sample rate
    seconds: float     # its length in seconds
    elapsed: float     # wall-clock time of the freewheel run
    speed: float       # seconds rendered per second of wall-clock time

    def __str__(self):
        return (f"{self.frames} frames ({self.seconds:.2f} s at {self.rate} Hz) in {self.elapsed:.3f} s: "
                f"{self.speed:.0f} x real time")


def _chain(player, tools, capture):
    """(source, destination) port pairs: player -> each tool in turn -> capture, channel by channel."""
    outs = [player.outputs] + [t.outputs for t in tools]
    ins = [t.inputs for t in tools] + [capture.inputs]
    for a, b in zip(outs, ins):
        yield from zip(a, b)


def render(source, dest, tools=(), *, options=None, channels=None, start=0, end=None, server=None,
           wire=None, nplay=None, progress=None, period=1024, stall=30.0):
    """Render ``source`` through a JACK graph into ``dest`` in freewheel mode; return a :class:`RenderResult`.

    A player with ``nplay`` outputs (None: one per file channel) loads
    ``source`` (frames ``start`` .. ``end``, None: to its end; frames past
    the end of the file render as silence), a capture creates
    ``dest`` with ``channels`` channels (None: as many as the last stage has
    outputs) and ``options`` (see :class:`FastCapture`). The player's outputs
    feed the first of ``tools``, each tool's outputs the next one's inputs,
    channel by channel, and the last outputs feed the capture (no tools: the
    player feeds the capture directly). For any other graph pass
    ``wire(player, capture)``, which makes the connections itself, instead of
    ``tools``. The two ``_sync`` ports are connected, freewheel mode is
    switched on until the capture has ended, and the file is complete when
    this returns.

    ``server`` is the server's name; None takes the tools' server, else the
    default server if one runs, else a private dummy server at the file's
    rate with ``period`` frames, stopped at the end. The file's
    rate must match the server's. A progress bar (tqdm) is shown when
    ``progress`` is True, or when it is None and standard error is a
    terminal. Raises JackError when the server goes away or nothing moves
    for ``stall`` seconds; the capture file then holds every frame rendered
    so far. Raises JackError, too, when the file holds fewer frames than
    were asked for.
    """
    source, dest = os.fspath(source), os.fspath(dest)
    check_options(options)
    nframes, frate, fchan = file_info(source)
    start = int(start)
    end = nframes if end is None else int(end)
    if start < 0 or end < start:
        raise ValueError(f"bad range ({start}, {end}): need 0 <= start <= end")
    tools = list(tools)
    if server is None and tools:
        server = tools[0].server
    own = None
    if server is None and not JackServer.running(None):
        own = JackServer(None, rate=frate, period=period)
        server = own.name
    try:
        return _render(source, dest, tools, wire, options, channels, start, end,
                       fchan if nplay is None else int(nplay), frate, server, progress, stall)
    finally:
        if own is not None:
            own.stop()


def _render(source, dest, tools, wire, options, channels, start, end, nplay, frate, server, progress, stall):
    pid = os.getpid()
    player = FastPlayback(nplay, name=f"vesk-render-play-{pid}", server=server)
    try:
        player._check_open()
        if player.rate != frate:
            raise ValueError(f"{source} is at {frate} Hz, the JACK server runs at {player.rate} Hz")
        ncap = len(tools[-1].outputs) if tools else nplay
        if channels is None:
            channels = max(1, ncap)
        capture = FastCapture(ncap, name=f"vesk-render-capt-{pid}", server=server)
        try:
            capture._check_open()
            player.load_range(source, start, end)
            capture.create(dest, channels, options)
            with ServerControl(f"vesk-render-ctl-{os.getpid()}", server) as ctl:
                if wire is not None:
                    wire(player, capture)
                else:
                    for s, d in _chain(player, tools, capture):
                        ctl.connect(s, d)
                ctl.connect(player.sync, capture.sync)
            elapsed = 0.0
            if end > start:
                elapsed = _run(player, capture, dest, end - start, channels, options, progress, stall)
        finally:
            capture.close()        # completes the file
    finally:
        player.close()
    try:
        frames, rate, _ = file_info(dest)
    except OSError:
        if end > start:
            raise
        frames, rate = 0, frate     # libsndfile leaves an empty FLAC file without a stream
    if end > start and frames != end - start:
        why = (" (PipeWire's freewheel mode does not keep the clients of a graph in step and loses "
               "periods: render on jackd2, without pw-jack)" if on_pipewire() else "")
        raise JackError(f"render incomplete: {dest} holds {frames} of {end - start} frames{why}")
    seconds = frames / rate if rate else 0.0
    return RenderResult(frames, rate, seconds, elapsed, seconds / elapsed if elapsed > 0 else float("inf"))


def _size(path):
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


def _run(player, capture, dest, total, channels, options, progress, stall):
    """Freewheel until the capture has ended; return the wall-clock time."""
    bps = _bytes_per_sample(options)
    bar = None
    if progress or (progress is None and sys.stderr.isatty()):
        try:
            from tqdm import tqdm
            bar = tqdm(total=total, unit="frame", unit_scale=True, desc="render", leave=False)
        except ImportError:
            bar = None
    size0 = _size(dest)
    shown = 0
    started = False
    last = None
    t0 = time.monotonic()
    moved = t0
    player.freewheel(True)
    try:
        while True:
            ps, cs = player.state, capture.state
            size = _size(dest)
            if State.ZOMBIE in (ps, cs):
                raise JackError("the JACK server went away during the render")
            if ps == State.PROCESS or cs == State.PROCESS or size != size0:
                started = True
            if started and ps == State.PASSIVE and cs == State.PASSIVE:
                break
            now = time.monotonic()
            if (ps, cs, size) != last:
                last, moved = (ps, cs, size), now
            elif now - moved > stall:
                raise JackError(f"render stalled: nothing moved for {stall} s")
            if bar is not None and bps:
                done = min(total, max(0, size - size0) // (bps * channels))
                if done > shown:
                    bar.update(done - shown)
                    shown = done
            time.sleep(0.001 if now - t0 < 0.05 else 0.01)
        return time.monotonic() - t0
    finally:
        player.freewheel(False)
        if bar is not None:
            bar.update(total - shown)
            bar.close()
