"""The JACK library in use, and what JackServer does on PipeWire's: no
private servers, attaching to PipeWire's one server 'default'. The PipeWire
cases run in the PipeWire pass of ./run tests (pytest --pipewire)."""

import pytest

import vesk


@pytest.fixture
def pipewire(request):
    if not request.config.getoption("--pipewire"):
        pytest.skip("runs on PipeWire's JACK library only (pytest --pipewire under tools/with-pipewire)")
    return request.getfixturevalue("server")


def test_library_is_named(pytestconfig):
    version, path = vesk.jack_library()
    assert path and "libjack.so" in path
    on_pw = pytestconfig.getoption("--pipewire")
    assert vesk.on_pipewire() == on_pw
    assert ("PipeWire" in version) == on_pw
    assert ("pipewire" in path) == on_pw


def test_private_server_refused_with_the_way_out(pipewire):
    with pytest.raises(vesk.JackError, match=r"PipeWire's JACK library.*JackServer\.attach\(\)"):
        vesk.JackServer("vesk-pw-private")


def test_attach_and_ensure_find_pipewire(pipewire):
    for s in (vesk.JackServer.attach(), vesk.JackServer.ensure(), vesk.JackServer.ensure(rate=44100, period=1024)):
        assert (s.rate, s.period, s.owned, s.pid) == (48000, 256, False, None)
        s.stop()                                  # leaves an attached server alone
    assert vesk.JackServer.running()


def test_other_server_names_are_not_served(pipewire):
    assert not vesk.JackServer.running("vesk-other")
    for how in (vesk.JackServer.attach, vesk.JackServer.ensure):
        with pytest.raises(vesk.JackError, match="PipeWire serves only the server name 'default'"):
            how("vesk-other")
    with vesk.GainControl(1, name="elsewhere", server="vesk-other") as g:
        assert g.state == vesk.State.FAILED
