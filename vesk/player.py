"""Friendly class of the real-time audio file player."""

import os

from . import fileplayer
from ._tool import Tool, State
from .server import JackError


class FilePlayer(Tool):
    """Plays an audio file onto ``nout`` outputs ("out_0", ...), in real time.

    File channel i goes to output i; outputs beyond the file's channels stay
    silent, file channels beyond the outputs are not played. A file at
    another sample rate than the server's is converted on the fly::

        with vesk.FilePlayer(nout=2, name="player") as p:
            p.open("music.flac")
            p.connect_output(0, "system:playback_1")
            p.play()
            p.gain = -6            # dB, ramped over ``ramp`` seconds
            p.seek(44100 * 30)     # a position in file frames
            p.stop()

    The file is read ahead on a disk thread; after :meth:`open` and
    :meth:`seek` playback starts once a second of the file (or all that is
    left of it) has been read. :attr:`state` tells where the player is:
    PASSIVE (idle, a file may be opened), PROCESS (stopped), STOPWAIT
    (stopped, reading after a seek), PLAYWAIT (waiting for data before
    playing), PLAYING, ENDFILE (at the end of the file).
    """

    _module = fileplayer

    def __init__(self, nout=2, name="fileplayer", server=None, file=None, ramp=0.1):
        nout = max(0, min(100, int(nout)))
        self._open(name, server, nout)
        self._nout = nout if self.state != State.FAILED else 0
        self._gain = 0.0
        self.ramp = float(ramp)
        if file is not None:
            self.open(file)

    @property
    def nout(self):
        """Number of output ports."""
        return self._nout

    # Raw access.

    def set_state(self, state):
        """Hand a state command (PASSIVE, PROCESS or PLAYING) to the process thread;
        returns within one period (or at once when the client or its server is gone)."""
        fileplayer.set_state(self.capsule, int(state))

    @property
    def posit(self):
        """(state, position in file frames)."""
        s, p = fileplayer.get_posit(self.capsule)
        try:
            s = State(s)
        except ValueError:
            pass
        return s, p

    # Files.

    def open(self, path):
        """Open an audio file (any format libsndfile reads; 4096 Hz and up).

        The player goes idle first; the position is 0 and it stays stopped
        until :meth:`play`. Raises OSError when the file cannot be played.
        """
        self._check_open()
        self.set_state(State.PASSIVE)
        path = os.fspath(path)
        if fileplayer.open_file(self.capsule, path):
            raise OSError(f"FilePlayer: cannot play {path!r}")
        self.set_state(State.PROCESS)

    def close_file(self):
        """Go idle and close the current file."""
        self.set_state(State.PASSIVE)
        if fileplayer.close_file(self.capsule):
            self._check_open()
            raise RuntimeError("FilePlayer: the file could not be closed")

    @property
    def file_info(self):
        """(channels, sample rate, length in frames) of the open file, zeros without one."""
        return fileplayer.get_file_info(self.capsule)

    @property
    def channels(self):
        """Channels of the open file."""
        return self.file_info[0]

    @property
    def file_rate(self):
        """Sample rate of the open file, in Hz."""
        return self.file_info[1]

    @property
    def length(self):
        """Length of the open file, in frames."""
        return self.file_info[2]

    # Transport.

    def play(self):
        """Start playing from the current position (after a second of data has been read)."""
        self._check_open()
        if self.state == State.PASSIVE:
            self.set_state(State.PROCESS)
        self.set_state(State.PLAYING)

    def stop(self):
        """Stop at the current position."""
        self.set_state(State.PROCESS)

    def seek(self, frame):
        """Locate to ``frame`` (file frames; clamped to the file); playing goes on from there."""
        if self.state == State.PASSIVE:
            self.set_state(State.PROCESS)
        fileplayer.set_posit(self.capsule, int(frame))

    @property
    def position(self):
        """Playback position in file frames."""
        return fileplayer.get_posit(self.capsule)[1]

    @property
    def playing(self):
        """True while playing or waiting for data to play."""
        return self.state in (State.PLAYING, State.PLAYWAIT)

    # Gain.

    def set_gain(self, gain, time=None):
        """Ramp to ``gain`` dB over ``time`` seconds (default :attr:`ramp`); -150 dB and below is silence."""
        time = self.ramp if time is None else float(time)
        fileplayer.set_gain(self.capsule, float(gain), time)
        self._gain = float(gain)

    @property
    def gain(self):
        """Playback gain in dB (the target of the last change); setting it ramps over :attr:`ramp` s."""
        return self._gain

    @gain.setter
    def gain(self, value):
        self.set_gain(value)
