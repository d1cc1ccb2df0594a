"""Test harness shared by all tool tests: see push.py."""

from .push import Pusher, push, push_while


def private_server(name=None, rate=48000, period=256):
    """A private dummy-backend server for tests: it waits for a free slot in
    JACK's server table instead of failing at once."""
    import vesk
    return vesk.JackServer(name, rate=rate, period=period, busy_timeout=600.0)
