"""Starting, attaching to and stopping a JACK server."""

import itertools
import os
import signal
import subprocess
import tempfile
import time

from . import servercontrol

_count = itertools.count()


class JackError(RuntimeError):
    """A JACK server or client operation failed."""


class JackServer:
    """A JACK server: a private ``jackd`` with the dummy backend, or one that runs already.

    ``JackServer(name, rate, period)`` starts ``jackd -n name -d dummy -r rate -p period``
    and returns once the server accepts clients. The dummy backend needs no
    sound card and runs in real time; it supports freewheel mode for offline
    rendering. ``JackServer.attach(name)`` attaches to a running server and
    never stops it. Use it as a context manager, or call :meth:`stop`::

        with vesk.JackServer("demo", rate=48000, period=256) as server:
            with vesk.GainControl(2, server=server.name) as gain:
                ...

    ``name`` None gives a unique name for a started server and the default
    server for an attached one.
    """

    def __init__(self, name=None, rate=48000, period=256, *, timeout=10.0, jackd="jackd", extra_args=(),
                 busy_timeout=120.0):
        self.name = name if name is not None else f"vesk-{os.getpid()}-{next(_count)}"
        self._proc = None
        self._log = None
        args = [jackd, "-n", self.name, *extra_args, "-d", "dummy", "-r", str(int(rate)), "-p", str(int(period))]
        env = dict(os.environ, JACK_NO_AUDIO_RESERVATION="1")
        # JACK allows only a few servers per machine: while all are taken,
        # wait up to busy_timeout for one to go.
        busy_until = time.monotonic() + busy_timeout
        while True:
            self._log = tempfile.TemporaryFile()
            try:
                self._proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=self._log,
                                              stderr=subprocess.STDOUT, env=env, start_new_session=True)
            except OSError as e:
                raise JackError(f"cannot start {jackd}: {e}") from None
            if self._wait_ready(timeout):
                return
            if "Too many servers" in self.log() and time.monotonic() < busy_until:
                self._proc = None
                time.sleep(0.5)
                continue
            raise JackError(f"jackd exited with status {self._proc.returncode}: {self.log()}")

    def _wait_ready(self, timeout):
        """True once the server accepts clients, False if jackd exited first."""
        deadline = time.monotonic() + timeout
        while not self._probe():
            if self._proc.poll() is not None:
                return False
            if time.monotonic() > deadline:
                self.stop()
                raise JackError(f"jackd '{self.name}' did not accept clients within {timeout} s")
            time.sleep(0.02)
        return True

    @classmethod
    def attach(cls, name=None):
        """Attach to a running server (None: the default server); raise JackError if there is none."""
        self = cls.__new__(cls)
        self.name = name
        self._proc = None
        self._log = None
        if not self._probe():
            raise JackError(f"no JACK server '{name or 'default'}' is running")
        return self

    @classmethod
    def running(cls, name=None):
        """True if a server of that name (None: the default server) accepts clients."""
        return bool(_info(name))

    @classmethod
    def ensure(cls, name=None, rate=48000, period=256):
        """Attach to the named server if it runs, else start a private one of that name."""
        if cls.running(name):
            return cls.attach(name)
        return cls(name, rate, period)

    def _probe(self):
        info = _info(self.name)
        if info:
            self.rate, self.period = info[1], info[2]
        return bool(info)

    @property
    def pid(self):
        """Process id of a server started here, None for an attached one."""
        return self._proc.pid if self._proc else None

    @property
    def owned(self):
        """True if this object started the server (and :meth:`stop` stops it)."""
        return self._proc is not None

    def log(self):
        """What a started jackd wrote so far."""
        if not self._log:
            return ""
        self._log.seek(0)
        return self._log.read().decode(errors="replace")

    def stop(self, timeout=5.0):
        """Stop a server started here, by its pid, and reap it. Does nothing for an attached one."""
        p, self._proc = self._proc, None
        if p is None:
            return
        if p.poll() is None:
            p.send_signal(signal.SIGTERM)
            try:
                p.wait(timeout)
                return
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        if p.returncode < 0:
            self._clear_entry()

    def kill(self):
        """Kill a started server at once (SIGKILL), as if it crashed.

        Its entry in JACK's server table is cleared by :meth:`stop` later,
        once the clients of the dead server are closed."""
        p = self._proc
        if p is not None and p.poll() is None:
            p.kill()
            p.wait()

    def _clear_entry(self):
        # A jackd that died by a signal leaves its entry in JACK's
        # machine-wide server table, which has room for only a few servers;
        # a clean start and stop of a server of the same name removes it.
        try:
            JackServer(self.name, busy_timeout=0).stop()
        except JackError:
            pass

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()

    def __del__(self):
        try:
            self.stop()
        except Exception:
            pass

    def __repr__(self):
        how = f"pid {self.pid}" if self.owned else "attached"
        return f"<JackServer '{self.name}' {getattr(self, 'rate', '?')} Hz, period {getattr(self, 'period', '?')}, {how}>"


def _info(name):
    """(client name, rate, period) seen by a probe client, or None when no server answers."""
    c = servercontrol.create(None, "vesk-probe", name)
    info = servercontrol.get_jack_info(c)
    return info if info[0] is not None else None
