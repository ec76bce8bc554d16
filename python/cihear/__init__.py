"""cihear: what a cochlear-implant user would roughly hear of a sound."""
from ._core import __version__, OUTPUT_RATE, MAX_SEED, PARAMETERS, CascadeWarning, to_pcm16

__all__ = ["__version__", "OUTPUT_RATE", "MAX_SEED", "PARAMETERS", "CascadeWarning", "to_pcm16"]
