"""Watchdog for tests that hang.

It runs as a process of its own beside the test process, because a test
can hang in a libjack call that holds the interpreter lock (a client that
closes holds it), where no thread of the test process could act. The test
process tells it, through a pipe, when each test starts and ends.

A test that runs longer than ``LIMIT`` seconds (``$VESK_TEST_WATCHDOG``,
default 300) gets a report, appended to ``build/test-hangs.log``: the
Python stacks of the test process (faulthandler, on SIGUSR1), the
processes involved with what each thread waits on, and the native stacks
of the test process, its push subprocesses and its jackd servers (gdb,
when installed). ``./run tests`` prints that file at its end, where a log
read from its tail shows it.

Then the hang is broken, a step every ``GRACE`` seconds while the test has
not ended: the push subprocesses are killed (their Python stacks go into
the test's failure), then the jackd servers the test process started
(libjack calls waiting on them return), and last the test process itself,
so that a run never waits for ever.
"""

import faulthandler
import os
import shutil
import signal
import subprocess
import sys
import time

try:
    from .lines import Lines
except ImportError:                   # run as a script
    from lines import Lines

LIMIT = float(os.environ.get("VESK_TEST_WATCHDOG", "300"))
GRACE = 60.0
LOG = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "build",
                                    "test-hangs.log"))


# ---------------------------------------------------------------- in the test process

class Client:
    """The test process's end: starts the watchdog and tells it about tests."""

    def __init__(self):
        os.makedirs(os.path.dirname(LOG), exist_ok=True)
        # Python stacks on request, written by faulthandler's signal handler,
        # which needs no interpreter lock.
        self._log = open(LOG, "a")
        faulthandler.register(signal.SIGUSR1, file=self._log, all_threads=True)
        self._proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), str(os.getpid())],
                                      stdin=subprocess.PIPE, text=True)

    def started(self, nodeid):
        self._send(f"start {nodeid}")

    def ended(self):
        self._send("end")

    def _send(self, line):
        try:
            self._proc.stdin.write(line + "\n")
            self._proc.stdin.flush()
        except (OSError, ValueError):
            pass

    def close(self):
        try:
            self._proc.stdin.close()
        except OSError:
            pass
        try:
            self._proc.wait(10)
        except subprocess.TimeoutExpired:
            pass                      # busy with a report; it ends at the end of the pipe
        faulthandler.unregister(signal.SIGUSR1)
        self._log.close()


# ---------------------------------------------------------------- the watchdog process

def _children(parent):
    """(pid, command line) of the children of ``parent``."""
    out = []
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                ppid = int(f.read().rsplit(b")", 1)[1].split()[1])
            if ppid != parent:
                continue
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                cmd = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
        except (OSError, IndexError, ValueError):
            continue
        out.append((int(pid), cmd))
    return out


def _run(args, timeout=60):
    try:
        r = subprocess.run(args, capture_output=True, text=True, timeout=timeout)
        return r.stdout + r.stderr
    except (OSError, subprocess.TimeoutExpired) as e:
        return f"({args[0]}: {e})\n"


def _native_stacks(pid):
    if not shutil.which("gdb"):
        return "(no gdb: native stacks not shown)\n"
    return _run(["gdb", "-p", str(pid), "-batch", "-nx", "-iex", "set auto-load off",
                 "-ex", "set pagination off", "-ex", "thread apply all bt 30"], timeout=120)


def _report(test_pid, nodeid, write):
    write(f"\n===== {nodeid} has run for {LIMIT:.0f} s: a hang? =====\n")
    write("--- Python stacks of the test process:\n")
    try:
        os.kill(test_pid, signal.SIGUSR1)
        time.sleep(1.0)
    except OSError as e:
        write(f"({e})\n")
    kids = _children(test_pid)
    pids = [test_pid] + [p for p, _ in kids]
    write("--- processes and their threads (wchan: what each waits on):\n")
    write(_run(["ps", "-L", "-o", "pid,tid,cls,rtprio,stat,wchan:28,etime,comm", "-p",
                ",".join(map(str, pids))]))
    for p, cmd in kids:
        write(f"    child {p}: {cmd}\n")
    for pid in pids:
        write(f"--- native stacks of {pid}:\n")
        write(_native_stacks(pid))


def _kill(pids, first=None):
    for p in pids:
        try:
            if first is not None:
                os.kill(p, first)
                time.sleep(1.0)
            os.kill(p, signal.SIGKILL)
        except OSError:
            pass


def _watch(test_pid):
    lines = Lines(sys.stdin.fileno())
    current, since = None, 0.0
    while True:
        wait = None if current is None else max(0.0, since + LIMIT - time.monotonic())
        line = lines.readline(wait)
        if line is not None:
            if not line:
                return                        # the test process has ended
            if line.startswith("start "):
                current, since = line[6:].strip(), time.monotonic()
            else:
                current = None
            continue
        if _break_hang(test_pid, current, lines):
            current = None
        else:
            return


def _break_hang(test_pid, nodeid, lines):
    """Report the hang and break it; True once the test has ended."""
    with open(LOG, "a") as log:
        def write(text):
            log.write(text)
            log.flush()

        try:
            _report(test_pid, nodeid, write)
        except Exception as e:                # the report must not stop the breaking
            write(f"(report failed: {e!r})\n")
        sys.stderr.write(f"\n{nodeid} has run for {LIMIT:.0f} s: a hang? Report in {LOG}\n")
        sys.stderr.flush()
        steps = [("its push subprocesses", lambda: [p for p, c in _children(test_pid) if "jackio.py" in c],
                  signal.SIGUSR1),
                 ("the jackd servers it started", lambda: [p for p, c in _children(test_pid)
                                                           if c.startswith("jackd ")], None)]
        for what, find, first in steps:
            if lines.wait(0):
                return True
            found = find()
            if found:
                write(f"--- the test still runs: killing {what} {found}\n")
                _kill(found, first)
            if lines.wait(GRACE):
                write("--- the test ended\n")
                return True
        write(f"--- the test does not end: killing the test process {test_pid}\n")
        sys.stderr.write(f"{nodeid} does not end: the test process is killed\n")
        sys.stderr.flush()
        _kill([test_pid])
        return False


if __name__ == "__main__":
    # The terminal's interrupt is meant for the test process, which ends us.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    _watch(int(sys.argv[1]))
