"""cihear: what a cochlear-implant user would roughly hear of a sound.

    import cihear, soundfile
    x, fs = soundfile.read("speech.wav", dtype="int16")
    y = cihear.simulate(x, fs, n_on=8)                 # float64 at cihear.OUTPUT_RATE Hz
    cihear.simulate_file("speech.wav", "out.wav", n_on=8, level="rms")

cihear.PARAMETERS describes every simulation parameter (name, unit, default, range).
"""
import importlib

from ._core import MAX_SEED, OUTPUT_RATE, PARAMETERS, CascadeWarning, __version__, to_pcm16
from ._core import Stream

# The rest is loaded on first use, so that `python3 -m cihear batch` over a finished corpus, or
# a worker process, does not pay for numpy and matplotlib before it needs them.
_LAZY = {
    "write_wav16": "._atomic",
    "simulate_file": "._io",
    "simulate": "._simulate",
    "plot": None,
    "Analysis": "._analysis",
    "analyze": "._analysis",
    "report": "._report",
    "report_text": "._report",
    "batch": "._batch",
}


def __getattr__(name):
    if name not in _LAZY:
        raise AttributeError(f"module 'cihear' has no attribute '{name}'")
    module = importlib.import_module(_LAZY[name] or "." + name, __name__)
    value = module if _LAZY[name] is None else getattr(module, name)
    globals()[name] = value
    return value


def __dir__():
    return sorted(list(globals()) + list(_LAZY))


__all__ = [
    "__version__",
    "OUTPUT_RATE",
    "MAX_SEED",
    "PARAMETERS",
    "CascadeWarning",
    "simulate",
    "simulate_file",
    "Stream",
    "to_pcm16",
    "write_wav16",
    "batch",
    "analyze",
    "Analysis",
    "report",
    "report_text",
    "plot",
]
