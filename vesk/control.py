"""Friendly class of the server control: transport and connections."""

from . import servercontrol
from .server import JackError, check_server


class ServerControl:
    """Transport and connections of a JACK server, through a portless client.

    ``connect(src, dst)`` and ``disconnect(src, dst)`` take full port names
    and raise :class:`JackError` on failure; ``transport`` is (state, frame)
    with state 0 stopped, 1 rolling, 2 starting or other.
    """

    def __init__(self, name="servercontrol", server=None):
        check_server(server, f"ServerControl '{name}'")
        self._caps = servercontrol.create(None, name, server)
        if servercontrol.get_jack_info(self._caps)[0] is None:
            raise JackError(f"no JACK server '{server or 'default'}' is running")

    def close(self):
        self._caps = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def capsule(self):
        if self._caps is None:
            raise ValueError("ServerControl is closed")
        return self._caps

    @property
    def jack_info(self):
        return servercontrol.get_jack_info(self.capsule)

    @property
    def transport(self):
        """(state, frame) of the transport as of the last period."""
        return servercontrol.get_transport_state(self.capsule)

    def start(self):
        servercontrol.transport_start(self.capsule)

    def stop(self):
        servercontrol.transport_stop(self.capsule)

    def locate(self, frame):
        servercontrol.transport_locate(self.capsule, int(frame))

    def connect(self, src, dst):
        r = servercontrol.connect_ports(self.capsule, src, dst)
        if r:
            raise JackError(f"connect {src} -> {dst} failed ({r})")

    def disconnect(self, src, dst):
        r = servercontrol.disconn_ports(self.capsule, src, dst)
        if r:
            raise JackError(f"disconnect {src} -> {dst} failed ({r})")
