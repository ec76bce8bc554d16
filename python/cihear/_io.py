"""cihear.simulate_file: a sound file through the simulation to a 16-bit WAV file."""
import numpy as np

from . import _core
from ._atomic import write_wav16
from ._level import LEVEL_DOC, saturate
from ._simulate import run


def read_signal(path):
    """The samples of a sound file libsndfile reads, and its sample rate: 16-bit PCM as int16
    (taken exactly as the command line takes it), every other encoding as float64."""
    import soundfile  # only files need it

    with open(path, "rb") as f:
        info = soundfile.info(f)
        if info.channels not in (1, 2):
            raise ValueError(
                f"{path}: unsupported number of channels ({info.channels}); "
                "only mono and stereo are supported"
            )
        f.seek(0)
        dtype = "int16" if info.subtype == "PCM_16" else "float64"
        samples, sample_rate = soundfile.read(f, dtype=dtype, always_2d=False)
    return samples, sample_rate


def simulate_file(input_path, output_path, *, level="peak", clip_ok=False, **parameters):
    signal, sample_rate = read_signal(input_path)
    seed = parameters.pop("seed", None)
    output = run(signal, sample_rate, parameters, seed, level, clip_ok, stacklevel=2)
    if not (isinstance(level, str) and level == "peak"):
        output = saturate(output)
    write_wav16(output_path, _core.to_pcm16(output))


simulate_file.__doc__ = f"""Simulates a sound file and writes the 16-bit mono {_core.OUTPUT_RATE} Hz WAV file.

The input is anything libsndfile reads (WAV, FLAC, OGG, ...), mono or stereo: 16-bit PCM is
taken exactly as the command line takes it, so for a 16-bit WAV file the output file's bytes
equal those `cihear -i input_path -o output_path` writes with the same parameters; other
encodings are read as float64. An existing output file is replaced only by a complete one,
and left as it was when anything fails.

Parameters
----------
input_path, output_path : str or os.PathLike
{LEVEL_DOC}
**parameters
    The simulation parameters and seed, as cihear.simulate takes them (see its help).
"""
