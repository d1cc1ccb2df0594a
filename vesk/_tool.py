"""The base of every friendly tool class: one processing object, one JACK client."""

import enum

from . import clientops
from .server import JackError, check_server


class State(enum.IntEnum):
    """Client states reported by :attr:`Tool.state`."""
    ZOMBIE = -2      # the server shut the client down
    FAILED = -1      # opening the client or creating ports failed
    INITIAL = 0      # no client
    STANDBY = 1
    PASSIVE = 2      # client open, processing idle
    TRIGWAIT = 9
    PROCESS = 10     # processing runs
    STOPWAIT = 11
    PLAYING = 12
    PLAYWAIT = 13
    ENDFILE = 14


# Codes of clientops.port_operation(client, op, index, name).
PORT_CREATE_INP = 0    # create input port [index] named name
PORT_CREATE_OUT = 1    # create output port [index] named name
PORT_DELETE_INP = 2    # delete input port [index]
PORT_DELETE_OUT = 3    # delete output port [index]
PORT_CONNECT_INP = 4   # connect source port name -> input port [index]
PORT_CONNECT_OUT = 5   # connect output port [index] -> destination port name
PORT_DISCONN_INP = 6   # disconnect source port name -> input port [index]
PORT_DISCONN_OUT = 7   # disconnect output port [index] -> destination port name
PORT_DISCALL_INP = 8   # disconnect input port [index] from everything
PORT_DISCALL_OUT = 9   # disconnect output port [index] from everything


class PortOp(enum.IntEnum):
    """Codes of :meth:`Tool.port_operation` (the PORT_* constants, without the prefix)."""
    CREATE_INP = PORT_CREATE_INP
    CREATE_OUT = PORT_CREATE_OUT
    DELETE_INP = PORT_DELETE_INP
    DELETE_OUT = PORT_DELETE_OUT
    CONNECT_INP = PORT_CONNECT_INP
    CONNECT_OUT = PORT_CONNECT_OUT
    DISCONN_INP = PORT_DISCONN_INP
    DISCONN_OUT = PORT_DISCONN_OUT
    DISCALL_INP = PORT_DISCALL_INP
    DISCALL_OUT = PORT_DISCALL_OUT


def _state_name(s):
    try:
        return State(s).name
    except ValueError:
        return str(s)


class Tool:
    """Base class of the vesk tools.

    A tool owns one processing object of an extension module, which is one
    JACK client. Subclasses set ``_module`` and ``_capname``, and call
    :meth:`_open` with the module's ``makecaps`` arguments after the client
    and server names. ``close()`` (or leaving a ``with`` block) destroys the
    object and closes its client; so does dropping the last reference.
    """

    _module = None
    _inp_format = "in_{}"
    _out_format = "out_{}"

    def _open(self, name, server, *args):
        self.server = server
        # One JACK server per process: a client of a second server would be
        # refused (FAILED); say why instead.
        check_server(server, f"{type(self).__name__} '{name}'")
        self._caps, self._client = self._module.makecaps(None, name, server, *args)
        self._ninp = 0
        self._nout = 0

    # Access to the capsules; raises once the tool is closed.
    @property
    def capsule(self):
        """The tool capsule, for the extension module's own functions."""
        caps = getattr(self, "_caps", None)
        if caps is None:
            raise ValueError(f"{type(self).__name__} is closed")
        return caps

    @property
    def client(self):
        """The "Jclient" capsule, for :mod:`vesk.clientops`."""
        self.capsule
        return self._client

    def close(self):
        """Destroy the processing object and close its JACK client (its ports disappear)."""
        self._caps = None
        self._client = None

    @property
    def closed(self):
        return getattr(self, "_caps", None) is None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    @property
    def state(self):
        """The client state, a :class:`State` (or a plain int for an unknown code)."""
        s = clientops.get_state(self.client)
        try:
            return State(s)
        except ValueError:
            return s

    @property
    def jack_info(self):
        """(client name, sample rate, period size) as the server sees them."""
        return clientops.get_jack_info(self.client)

    @property
    def name(self):
        """The client name granted by the server (None without a client)."""
        return self.jack_info[0]

    @property
    def rate(self):
        """Sample rate in Hz."""
        return self.jack_info[1]

    @property
    def period(self):
        """Period size in frames."""
        return self.jack_info[2]

    def _check_open(self):
        s = self.state
        if s in (State.FAILED, State.ZOMBIE, State.INITIAL):
            raise JackError(f"{type(self).__name__}: client is {_state_name(s)}")

    @property
    def inputs(self):
        """Full JACK names of the input ports ("client:in_0", ...)."""
        n = self.name
        return [f"{n}:{self._inp_format.format(i)}" for i in range(self._ninp)] if n else []

    @property
    def outputs(self):
        """Full JACK names of the output ports ("client:out_0", ...)."""
        n = self.name
        return [f"{n}:{self._out_format.format(i)}" for i in range(self._nout)] if n else []

    def port_operation(self, op, index, name=None):
        """Raw ``clientops.port_operation``: returns its int result (0 on success)."""
        return clientops.port_operation(self.client, op, index, name)

    def _port_op(self, op, index, name, what):
        r = self.port_operation(op, index, name)
        if r:
            raise JackError(f"{what} failed ({r})")

    def connect_input(self, index, source):
        """Connect the full port name ``source`` to input ``index``."""
        self._port_op(PORT_CONNECT_INP, index, source, f"connect {source} -> input {index}")

    def connect_output(self, index, destination):
        """Connect output ``index`` to the full port name ``destination``."""
        self._port_op(PORT_CONNECT_OUT, index, destination, f"connect output {index} -> {destination}")

    def disconnect_input(self, index, source=None):
        """Disconnect ``source`` (None: everything) from input ``index``."""
        if source is None:
            self._port_op(PORT_DISCALL_INP, index, None, f"disconnect input {index}")
        else:
            self._port_op(PORT_DISCONN_INP, index, source, f"disconnect {source} -> input {index}")

    def disconnect_output(self, index, destination=None):
        """Disconnect output ``index`` from ``destination`` (None: from everything)."""
        if destination is None:
            self._port_op(PORT_DISCALL_OUT, index, None, f"disconnect output {index}")
        else:
            self._port_op(PORT_DISCONN_OUT, index, destination, f"disconnect output {index} -> {destination}")

    def __repr__(self):
        if self.closed:
            return f"<{type(self).__name__} closed>"
        return f"<{type(self).__name__} '{self.name}' {_state_name(clientops.get_state(self._client))}>"
