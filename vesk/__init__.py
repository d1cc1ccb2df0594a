"""vesk: real-time audio processors that run as JACK clients, driven from Python.

Every tool is one JACK client. The extension modules (``vesk.gaincontrol``,
``vesk.clientops``, ...) offer the raw capsule interface; the classes here
wrap them with properties, numpy arrays and context managers.
"""

from .server import JackServer, JackError, server_in_use
from ._tool import Tool, State, PortOp
from .control import ServerControl
from .gain import GainControl
from .filters import Equaliser
from .filters import Crossover
from .filters import ButterworthFilter
from .filters import BandFilter
from .filters import plot_response
from .noise import NoiseSource
from .playrec import SignalIO
from .limiter import PeakLimiter
from .matrix import GainDelayMatrix
from .meters import LevelMeter
from .meters import NoiseMeter
from .meters import Weighting
from .meters import Detector
from .convolver import Convolver
from .convolver import ConvolverError
from .offline import FastPlayback
from .offline import FastCapture
from .offline import render
from .offline import RenderResult
from .binaural import BinauralRenderer
from .player import FilePlayer
from .ambisonics import AmbiPanner
from .ambisonics import AmbiRotator
from .matconv import MatrixConvolver
from .server import jack_library, on_pipewire
