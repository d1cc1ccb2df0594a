"""Lines from a pipe with a time limit.

Reads the pipe's descriptor itself, so that a wait on it never misses a
line already read into a buffer (select() on a buffered file object can).
"""

import os
import select
import time


class Lines:
    def __init__(self, fd):
        self.fd = fd
        self._buf = b""
        self._eof = False

    def wait(self, seconds):
        """True when a line (or the end) can be read within ``seconds`` (None: no limit)."""
        deadline = None if seconds is None else time.monotonic() + seconds
        while b"\n" not in self._buf and not self._eof:
            left = None if deadline is None else max(0.0, deadline - time.monotonic())
            ready, _, _ = select.select([self.fd], [], [], left)
            if not ready:
                return False
            data = os.read(self.fd, 65536)
            self._buf += data
            self._eof = not data
        return True

    def readline(self, seconds=None):
        """The next line, "" at the end, None if none came within ``seconds``."""
        if not self.wait(seconds):
            return None
        if b"\n" not in self._buf:
            line, self._buf = self._buf, b""
            return line.decode(errors="replace")
        line, self._buf = self._buf.split(b"\n", 1)
        return line.decode(errors="replace") + "\n"
