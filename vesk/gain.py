"""Friendly class of the gain control."""

from . import gaincontrol
from ._tool import Tool


class GainControl(Tool):
    """Multichannel gain stage with master gain and mute, and a gain and mute per channel.

    Input ``in_i`` feeds output ``out_i`` multiplied by master gain x channel
    gain. Gain changes run as linear ramps over 10 ms steps, at most 6.02 dB
    per step (0 dB to -40 dB takes seven steps); mute and unmute fade within
    one step. Below -120 dB a gain is silence. All outputs are silent until
    the master gain is first set::

        with vesk.GainControl(2, name="gain") as g:
            g.gain = -6.0          # master, dB
            g.set_gain(-3.0, 1)    # channel 1
            g.set_mute(True, 0)    # channel 0

    ``nchan`` is clamped to 0..100. ``server`` None means the default server.
    """

    _module = gaincontrol

    def __init__(self, nchan, name="gaincontrol", server=None):
        self._open(name, server, int(nchan))
        self._nchan = max(0, min(100, int(nchan)))
        self._ninp = self._nout = self._nchan if self.name else 0
        self._gain = None
        self._mute = False

    @property
    def nchan(self):
        """Number of channels (input/output port pairs)."""
        return self._nchan

    def set_gain(self, db, channel=-1):
        """Set the gain in dB of ``channel`` (-1: the master). Indices past the last channel are ignored.

        NaN and +infinity are refused with ValueError; -infinity is silence.
        """
        gaincontrol.set_gain(self.capsule, int(channel), float(db))
        if channel < 0:
            self._gain = float(db)

    def set_mute(self, on, channel=-1):
        """Mute or unmute ``channel`` (-1: the master)."""
        gaincontrol.set_mute(self.capsule, int(channel), 1 if on else 0)
        if channel < 0:
            self._mute = bool(on)

    @property
    def gain(self):
        """Master gain in dB as last set (None before the first set: silent)."""
        return self._gain

    @gain.setter
    def gain(self, db):
        self.set_gain(db)

    @property
    def mute(self):
        """Master mute as last set."""
        return self._mute

    @mute.setter
    def mute(self, on):
        self.set_mute(on)
