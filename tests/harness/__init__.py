"""Test harness shared by all tool tests: see push.py."""

from .push import Pusher, push, push_while
