"""Every client class runs under RealtimeSanitizer (tests/rtcheck): no
allocation, lock or blocking call on JACK's process thread."""

import os
import subprocess

import pytest

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RTCHECK = os.environ.get("VESK_RTCHECK", os.path.join(TOP, "build", "rtcheck", "vesk_rtcheck"))


def _cases():
    if not os.path.exists(RTCHECK):
        return []
    return subprocess.run([RTCHECK, "--list"], capture_output=True, text=True, check=True).stdout.split()


def pytest_generate_tests(metafunc):
    if "case" in metafunc.fixturenames:
        cases = _cases()
        metafunc.parametrize("case", cases or [pytest.param(None, marks=pytest.mark.skip(
            reason=f"{RTCHECK} not built (the test command builds it)"))])


def test_realtime_safe(server, case):
    # An attached server (PipeWire's) has no name of its own: "default".
    r = subprocess.run([RTCHECK, server.name or "default", case], capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stdout + r.stderr
    assert f"rtcheck {case}: clean" in r.stdout
