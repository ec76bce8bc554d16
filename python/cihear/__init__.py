"""cihear: what a cochlear-implant user would roughly hear of a sound.

    import cihear, soundfile
    x, fs = soundfile.read("speech.wav", dtype="int16")
    y = cihear.simulate(x, fs, n_on=8)                 # float64 at cihear.OUTPUT_RATE Hz
    cihear.simulate_file("speech.wav", "out.wav", n_on=8, level="rms")

cihear.PARAMETERS describes every simulation parameter (name, unit, default, range).
"""
from ._core import MAX_SEED, OUTPUT_RATE, PARAMETERS, CascadeWarning, __version__, to_pcm16
from ._atomic import write_wav16
from ._io import simulate_file
from ._simulate import simulate
from . import plot
from .analysis import Analysis, analyze
from .report import report, report_text

__all__ = [
    "__version__",
    "OUTPUT_RATE",
    "MAX_SEED",
    "PARAMETERS",
    "CascadeWarning",
    "simulate",
    "simulate_file",
    "to_pcm16",
    "write_wav16",
]
