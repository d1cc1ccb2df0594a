"""Starting, attaching to and stopping a JACK server."""

import ctypes
import itertools
import os
import queue
import signal
import struct
import subprocess
import sys
import threading
import time

from . import servercontrol

_count = itertools.count()


class JackError(RuntimeError):
    """A JACK server or client operation failed."""


# libjack serves one server per process: the client library records the
# server that this process's open clients use and refuses clients of another
# one. The record lives in libvesk-jclient, loaded with every extension module.
_jclient = ctypes.CDLL("libvesk-jclient.so.1", mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
_jclient.vesk_jclient_server_in_use.argtypes = [ctypes.c_char_p, ctypes.c_int]
_jclient.vesk_jclient_server_in_use.restype = ctypes.c_int
_jclient.vesk_jclient_resolve_server.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_int]
_jclient.vesk_jclient_resolve_server.restype = None


def jack_library():
    """(version, path) of the JACK client library this process uses.

    ``version`` is libjack's version string: "1.9.21" for jackd2's, "3.0.0.0
    (using PipeWire 0.3.65)" for PipeWire's (``pw-jack`` puts PipeWire's
    first on the library path of the command it runs)."""
    lib = ctypes.CDLL("libjack.so.0", mode=os.RTLD_NOLOAD | os.RTLD_LAZY)
    lib.jack_get_version_string.restype = ctypes.c_char_p
    version = (lib.jack_get_version_string() or b"").decode(errors="replace")
    path = None
    try:
        with open("/proc/self/maps") as f:
            for line in f:
                word = line.split()[-1]
                if os.path.basename(word).startswith("libjack.so"):
                    path = word
                    break
    except OSError:
        pass
    return version, path


def on_pipewire():
    """True if the JACK library this process uses is PipeWire's."""
    return "PipeWire" in jack_library()[0]


def server_in_use():
    """(server name, number of open clients) of the JACK server this process uses, or (None, 0)."""
    buf = ctypes.create_string_buffer(1024)
    n = _jclient.vesk_jclient_server_in_use(buf, len(buf))
    return (buf.value.decode(errors="replace"), n) if n else (None, 0)


def resolve_server(name):
    """The server name libjack connects to for ``name`` (None: $JACK_DEFAULT_SERVER, else "default")."""
    buf = ctypes.create_string_buffer(1024)
    _jclient.vesk_jclient_resolve_server(None if name is None else os.fsencode(name), buf, len(buf))
    return buf.value.decode(errors="replace")


def check_server(name, what="a client"):
    """Raise JackError if this process holds clients of a JACK server other than ``name``."""
    used, n = server_in_use()
    want = resolve_server(name)
    if n and used != want:
        raise JackError(
            f"cannot open {what} on JACK server '{want}': this process has {n} client(s) open on "
            f"server '{used}', and libjack serves only one server per process. Close those first, "
            f"or drive the second server from another process.")


def running_servers():
    """[(name, pid, alive)] of the servers in JACK's machine-wide server table.

    ``alive`` False marks the entry of a server that died without cleaning
    up; it holds its slot until a server of the same name starts."""
    # The table: a 24-byte header, then 8 entries of a pid, a 256-byte name
    # "jack-<uid>:<server>:" and padding to 264 bytes.
    head, size, count = 24, 264, 8
    try:
        with open("/dev/shm/jack-shm-registry", "rb") as f:
            data = f.read(head + count * size)
    except OSError:
        return []
    if len(data) < head + count * size or data[:4] != b"KCAJ":
        return []
    out = []
    for i in range(count):
        entry = data[head + size * i: head + size * (i + 1)]
        (pid,) = struct.unpack("<i", entry[:4])
        if not pid:
            continue
        full = entry[4:260].split(b"\0", 1)[0].decode(errors="replace")
        name = full.split(":", 1)[1].rstrip(":") if ":" in full else full
        out.append((name, pid, _pid_alive(pid)))
    return out


def _pid_alive(pid):
    """True if the process runs (a zombie does not)."""
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] != b"Z"
    except (FileNotFoundError, IndexError):
        return False
    except OSError:
        return True


def _set_parent_death_signal(parent):
    # Runs in the child between fork and exec: the server gets SIGTERM (and
    # shuts down cleanly) when the thread that started it ends, and that
    # thread lives as long as this process. If the parent is gone already,
    # give up at once.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGTERM)          # PR_SET_PDEATHSIG
    if os.getppid() != parent:
        os._exit(1)


class _LogTail(threading.Thread):
    """Reads a server's output and keeps only its last ``keep`` bytes.

    A server that fails in a loop can print without end; a file would fill
    the disk."""

    def __init__(self, pipe, keep=65536):
        super().__init__(name="vesk-jackd-log", daemon=True)
        self._pipe = pipe
        self._keep = keep
        self._buf = bytearray()
        self._lock = threading.Lock()
        self.start()

    def run(self):
        try:
            while True:
                chunk = self._pipe.read1(65536)
                if not chunk:
                    break
                with self._lock:
                    self._buf += chunk
                    if len(self._buf) > 2 * self._keep:
                        del self._buf[:-self._keep]
        except (OSError, ValueError):
            pass
        finally:
            try:
                self._pipe.close()
            except OSError:
                pass

    def text(self, wait=0.0):
        # Once the server has ended, wait for its last words (end of file).
        if wait:
            self.join(wait)
        with self._lock:
            return bytes(self._buf[-self._keep:]).decode(errors="replace")


class _Launcher(threading.Thread):
    """Starts servers from one thread that lives as long as the process.

    The parent-death signal follows the thread that forked the child, not
    the process, so servers are never started from a caller's thread, which
    might end before the process does."""

    def __init__(self):
        super().__init__(name="vesk-jackd-launcher", daemon=True)
        self._jobs = queue.Queue()
        self.start()

    def run(self):
        while True:
            args, kw, reply = self._jobs.get()
            try:
                reply.put((subprocess.Popen(args, **kw), None))
            except BaseException as e:
                reply.put((None, e))

    def popen(self, args, **kw):
        reply = queue.Queue()
        self._jobs.put((args, dict(kw, preexec_fn=lambda p=os.getpid(): _set_parent_death_signal(p)), reply))
        try:
            proc, err = reply.get(timeout=30)
        except queue.Empty:
            raise OSError("the launcher thread does not answer") from None
        if err is not None:
            raise err
        return proc


_launcher = None
_launcher_pid = None           # the process that made _launcher (a forked child makes its own)
_launcher_lock = threading.Lock()


def _popen(args, **kw):
    global _launcher, _launcher_pid
    with _launcher_lock:
        if _launcher is None or not _launcher.is_alive() or _launcher_pid != os.getpid():
            _launcher = _Launcher()
            _launcher_pid = os.getpid()
    return _launcher.popen(args, **kw)


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

    A started server ends with the process that started it, however that
    process ends (a crash or SIGKILL included): it gets SIGTERM when its
    parent dies. JACK allows only a few servers per machine; when all are
    taken, the constructor fails at once with a JackError naming them, or,
    with ``busy_timeout`` seconds, waits that long for a free slot (for test
    runners). One process drives one server at a time (see
    :func:`check_server`).

    Under PipeWire's JACK library (``pw-jack``, see :func:`on_pipewire`)
    there is one server, PipeWire itself, named "default": the constructor
    raises JackError, and :meth:`attach` and :meth:`ensure` attach to it.
    """

    def __init__(self, name=None, rate=48000, period=256, *, timeout=10.0, jackd="jackd", extra_args=(),
                 busy_timeout=0.0):
        self.name = name if name is not None else f"vesk-{os.getpid()}-{next(_count)}"
        self._proc = None
        self._log = None
        if on_pipewire():
            version, path = jack_library()
            raise JackError(
                f"cannot start a private JACK server '{self.name}': this process uses PipeWire's JACK "
                f"library ({version}, {path or 'libjack.so.0'}), which talks to PipeWire only and cannot run "
                f"jackd. Attach to PipeWire's server instead: vesk.JackServer.attach() or "
                f"vesk.JackServer.ensure() (PipeWire serves the server name 'default' only), or run "
                f"without pw-jack to use jackd.")
        args = [jackd, "-n", self.name, *extra_args, "-d", "dummy", "-r", str(int(rate)), "-p", str(int(period))]
        env = dict(os.environ, JACK_NO_AUDIO_RESERVATION="1")
        # JACK allows only a few servers per machine: while all are taken,
        # wait up to busy_timeout for one to go.
        busy_until = time.monotonic() + busy_timeout
        cleared = False
        while True:
            try:
                self._proc = _popen(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                    stderr=subprocess.STDOUT, env=env, start_new_session=True)
            except OSError as e:
                raise JackError(f"cannot start {jackd}: {e}") from None
            self._log = _LogTail(self._proc.stdout)
            if self._wait_ready(timeout):
                return
            if "Too many servers" in self.log():
                # Entries of servers that died without cleaning up hold slots
                # for good: clear them, then try again at once.
                if not cleared:
                    cleared = True
                    stale = [n for n, _, alive in running_servers() if not alive]
                    for n in stale:
                        _clear_stale(n)
                    if stale:
                        self._proc = None
                        continue
                if time.monotonic() < busy_until:
                    self._proc = None
                    time.sleep(0.5)
                    continue
                self._proc = None
                listed = ", ".join(f"'{n}' (pid {p}{'' if a else ', dead: stale entry'})"
                                   for n, p, a in running_servers()) or "none readable"
                raise JackError(f"cannot start JACK server '{self.name}': JACK's table of servers on this "
                                f"machine is full. Servers in it: {listed}. Stop one of them, or pass "
                                f"busy_timeout=<seconds> to wait for a free slot.")
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
            if on_pipewire():
                why = ("PipeWire serves only the server name 'default'" if resolve_server(name) != "default"
                       else "PipeWire does not run for this session")
                raise JackError(f"no JACK server '{name or 'default'}' is running: this process uses "
                                f"PipeWire's JACK library, and {why}")
            raise JackError(f"no JACK server '{name or 'default'}' is running")
        return self

    @classmethod
    def running(cls, name=None):
        """True if a server of that name (None: the default server) accepts clients."""
        return bool(_info(name))

    @classmethod
    def ensure(cls, name=None, rate=48000, period=256):
        """Attach to the named server if it runs, else start a private one of that name.

        With PipeWire's JACK library there is nothing to start: it attaches
        to PipeWire, or raises JackError saying why it cannot."""
        if on_pipewire():
            return cls.attach(name)
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
        """What a started jackd wrote so far (its last 64 kB)."""
        if not self._log:
            return ""
        ended = self._proc is None or self._proc.poll() is not None
        return self._log.text(wait=2.0 if ended else 0.0)

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
        _clear_stale(self.name)

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


def _clear_stale(name):
    # A jackd that died by a signal leaves its entry in JACK's machine-wide
    # server table, which has room for only a few servers; a clean start and
    # stop of a server of the same name takes over the entry and removes it.
    # Never while the interpreter shuts down: no thread can start it then.
    if sys.is_finalizing() or name not in [n for n, _, alive in running_servers() if not alive]:
        return
    try:
        JackServer(name).stop()
    except JackError:
        pass


def _info(name):
    """(client name, rate, period) seen by a probe client, or None when no server answers."""
    used, n = server_in_use()
    if n and used != resolve_server(name):
        # A probe client here would be refused (one server per process):
        # ask from a process of its own.
        return _info_elsewhere(name)
    c = servercontrol.create(None, "vesk-probe", name)
    info = servercontrol.get_jack_info(c)
    return info if info[0] is not None else None


def _info_elsewhere(name):
    code = ("import sys; from vesk import servercontrol as s; "
            "i = s.get_jack_info(s.create(None, 'vesk-probe', sys.argv[1] if len(sys.argv) > 1 else None)); "
            "print(*i) if i[0] is not None else None")
    r = subprocess.run([sys.executable, "-c", code, *([name] if name is not None else [])],
                       capture_output=True, text=True, timeout=30)
    words = r.stdout.split()
    if len(words) < 3:
        return None
    return (" ".join(words[:-2]), int(words[-2]), int(words[-1]))
