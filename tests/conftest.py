"""Fixtures shared by all tests: private JACK servers with the dummy backend.

``server`` runs at 48000 Hz with periods of 256 frames, ``server1024`` at
44100 Hz with periods of 1024 frames, for cases that depend on rate or
period. Both are started once per test session and stopped by pid at its end.
Tools are created with ``server=server.name``; ``harness.push`` pushes arrays
through them.
"""

import os

import pytest

import vesk


@pytest.fixture(scope="session")
def server():
    with vesk.JackServer(f"vesk-test-{os.getpid()}", rate=48000, period=256) as s:
        yield s


@pytest.fixture(scope="session")
def server1024():
    with vesk.JackServer(f"vesk-test1024-{os.getpid()}", rate=44100, period=1024) as s:
        yield s


@pytest.fixture
def own_server():
    """A server of the test's own, for tests that kill or stop it."""
    s = vesk.JackServer(rate=48000, period=256)
    yield s
    s.stop()
