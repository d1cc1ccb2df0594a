"""Fixtures shared by all tests: private JACK servers with the dummy backend.

``server`` runs at 48000 Hz with periods of 256 frames, ``server1024`` at
44100 Hz with periods of 1024 frames, for cases that depend on rate or
period. Both are started once per test session and stopped by pid at its end.
Tools are created with ``server=server.name``; ``harness.push`` pushes arrays
through them.

One server per process: libjack cannot serve clients of two servers in one
process, so the tests are grouped by the server they use. ``--jack-group``
runs one group only (``server``: the 48000/256 server and tests without one;
``server1024``; ``other``: servers of a test's own), and ``./run tests`` runs
each group in a process of its own. Without it every group runs, one after
the other. Between tests nothing is kept that could hold a client open: a
failed test's traceback is dropped before the next test starts. A test
that hangs is reported and broken off by a watchdog (harness/watchdog.py).

``--pipewire`` runs the tests on PipeWire's JACK instead (the process must
use PipeWire's libjack: ``tools/with-pipewire -p 256 python3 -m pytest
--pipewire ...``): ``server`` attaches to PipeWire's one server, which must
run at 48000 Hz with periods of 256 frames; tests that need a private
jackd (``server1024``, ``own_server``, ``server_private``), that are
marked ``jackd_only`` or that render long signals in freewheel mode (marked
``freewheel``) are skipped, with the reason; other pushes run in real time.
"""

import contextlib
import gc
import importlib
import os
import sys

import pytest

import vesk
from harness import private_server
from harness import watchdog

GROUPS = ("server", "server1024", "other")

NO_PRIVATE = "needs a private jackd server: PipeWire serves only its own server 'default'"
NO_FREEWHEEL = ("needs freewheel mode: PipeWire's freewheel does not keep the clients of a graph in step, "
                "and in real time the render takes too long")


def pytest_addoption(parser):
    parser.addoption("--jack-group", choices=GROUPS, default=None,
                     help="run only the tests of one JACK server group (one server per process)")
    parser.addoption("--pipewire", action="store_true", default=False,
                     help="run on PipeWire's JACK server (under pw-jack); tests that need jackd are skipped")


def pytest_configure(config):
    # The watchdog reports on the real terminal, not into a test's capture.
    capman = config.pluginmanager.getplugin("capturemanager")
    with capman.global_and_fixture_disabled() if capman else contextlib.nullcontext():
        config._vesk_watchdog = watchdog.Client()
    config.addinivalue_line("markers", "jackd_only(reason): the test needs jackd2; skipped on PipeWire")
    config.addinivalue_line("markers", "freewheel: the test needs freewheel mode (a long render); skipped on PipeWire")
    if config.getoption("--pipewire"):
        if not vesk.on_pipewire():
            raise pytest.UsageError("--pipewire: this process does not use PipeWire's JACK library "
                                    f"({vesk.jack_library()[0]}); run it under tools/with-pipewire or pw-jack")
        importlib.import_module("harness.push").FREEWHEEL = False
    elif vesk.on_pipewire():
        raise pytest.UsageError("this process uses PipeWire's JACK library: pass --pipewire "
                                "(the other tests start private jackd servers)")


def _pipewire(config):
    return config.getoption("--pipewire")


def _server_of(item):
    """Name of the server fixture a test uses: a fixture it requests, or one
    named by a parameter (tests that pick their server with getfixturevalue)."""
    names = list(getattr(item, "fixturenames", ()))
    callspec = getattr(item, "callspec", None)
    if callspec is not None:
        names += [v for v in callspec.params.values() if isinstance(v, str)]
    if "own_server" in names:
        return "own_server"
    others = sorted(n for n in names if n.startswith("server") and n != "server")
    return others[0] if others else "server"


def _group_of(item):
    s = _server_of(item)
    return s if s in ("server", "server1024") else "other"


def pytest_collection_modifyitems(config, items):
    want = config.getoption("--jack-group")
    if want:
        keep = [i for i in items if _group_of(i) == want]
        dropped = [i for i in items if _group_of(i) != want]
        if dropped:
            config.hook.pytest_deselected(items=dropped)
        items[:] = keep
    if _pipewire(config):
        for item in items:
            m = item.get_closest_marker("jackd_only")
            if m is not None:
                item.add_marker(pytest.mark.skip(reason=f"jackd only: {m.args[0] if m.args else ''}"))
            elif item.get_closest_marker("freewheel") is not None:
                item.add_marker(pytest.mark.skip(reason=NO_FREEWHEEL))
            elif _server_of(item) != "server":
                item.add_marker(pytest.mark.skip(reason=NO_PRIVATE))
    # Tests of one server run together, the 48000/256 server first.
    order = {g: k for k, g in enumerate(GROUPS)}
    items.sort(key=lambda i: (order[_group_of(i)], _server_of(i)))


def pytest_unconfigure(config):
    dog = getattr(config, "_vesk_watchdog", None)
    if dog is not None:
        dog.close()


@pytest.hookimpl(hookwrapper=True)
def pytest_runtest_protocol(item, nextitem):
    # A test that hangs is reported, then broken off (harness/watchdog.py).
    dog = item.config._vesk_watchdog
    dog.started(item.nodeid)
    try:
        yield
    finally:
        dog.ended()


@pytest.hookimpl(trylast=True)
def pytest_runtest_teardown(item, nextitem):
    # pytest keeps the last failure's traceback for post-mortem debugging;
    # its frames would keep that test's tools (and their JACK clients) alive.
    for name in ("last_type", "last_value", "last_traceback", "last_exc"):
        if hasattr(sys, name):
            setattr(sys, name, None)
    gc.collect()


@pytest.fixture(scope="session")
def server(pytestconfig):
    if _pipewire(pytestconfig):
        s = vesk.JackServer.attach()
        if (s.rate, s.period) != (48000, 256):
            pytest.fail(f"PipeWire runs at {s.rate} Hz with periods of {s.period}; the tests need "
                        f"48000 Hz and 256 (pw-jack -p 256)")
        yield s
        return
    with private_server(f"vesk-test-{os.getpid()}", rate=48000, period=256) as s:
        yield s


@pytest.fixture(scope="session")
def server1024(pytestconfig):
    if _pipewire(pytestconfig):
        pytest.skip(NO_PRIVATE)
    with private_server(f"vesk-test1024-{os.getpid()}", rate=44100, period=1024) as s:
        yield s


@pytest.fixture
def own_server(pytestconfig):
    """A server of the test's own, for tests that kill or stop it."""
    if _pipewire(pytestconfig):
        pytest.skip(NO_PRIVATE)
    s = private_server(rate=48000, period=256)
    yield s
    s.stop()


@pytest.fixture
def server_private(pytestconfig):
    """Starts servers of the test's own: ``server_private(rate=..., period=...)``;
    all are stopped when the test ends."""
    if _pipewire(pytestconfig):
        pytest.skip(NO_PRIVATE)
    started = []

    def start(rate=48000, period=256):
        s = private_server(rate=rate, period=period)
        started.append(s)
        return s

    yield start
    for s in started:
        s.stop()
