"""cihear.simulate: a signal in memory through the simulation."""
from typing import Optional, Union

import numpy as np

from . import _core
from ._level import LEVEL_DOC, apply_level, level_name, target_rms
from ._params import parameters_doc

# Arguments of _core.simulate that are not simulation parameters.
_OPTIONS = ("seed", "inspect", "envelopes", "stacklevel", "live")


def run(signal, sample_rate, parameters, seed, level, clip_ok, stacklevel, live=False):
    """The simulation of `signal` at `level`. `stacklevel` is where cascade warnings point,
    counted from this function's caller (1) upward."""
    for name in parameters:
        if name in _OPTIONS:
            raise TypeError(f"unexpected keyword argument '{name}'")
    x = _core.mono(signal)
    target = target_rms(level, x)
    y = _core.simulate(x, sample_rate, seed=seed, stacklevel=stacklevel + 1, live=live, **parameters)
    return apply_level(y, target, clip_ok, lambda: level_name(level, target))


def simulate(
    signal: np.ndarray,
    sample_rate: Union[int, float],
    *,
    rate: float = 1800.0,
    f_min: float = 300.0,
    f_max: float = 8500.0,
    length_ci: float = 30.0,
    n_chan_ci: int = 12,
    n_inserted_ch: int = 12,
    n_on: int = 12,
    interact_decay: float = 2.0,
    envelope_detection: int = 0,
    synchronization: float = 1.0,
    eas: bool = False,
    cutoff_freq: float = 2000.0,
    freq_shift: bool = False,
    seed: Optional[int] = None,
    level: Union[str, float] = "peak",
    clip_ok: bool = False,
    live: bool = False,
) -> np.ndarray:
    arguments = locals()
    parameters = {info["name"]: arguments[info["name"]] for info in _core.PARAMETERS}
    return run(signal, sample_rate, parameters, seed, level, clip_ok, stacklevel=2, live=live)


simulate.__doc__ = f"""What a cochlear-implant user would roughly hear of `signal`.

Parameters
----------
signal : numpy.ndarray
    Mono, shape (frames,), or stereo, shape (frames, 2) as soundfile reads it or (2, frames).
    int16 samples are taken as the command line takes a 16-bit file (stereo: the pair summed,
    halved and truncated toward zero; then v / 32768); float32 and float64 samples as they
    are (stereo: (left + right) / 2). NaN and infinity are refused.
sample_rate : int
    The signal's sample rate, a whole number of Hz (1 and up). There is no default.
{parameters_doc(indent="")}
seed : int or None, default None
    The carrier noise's seed. None: the sequence the command line draws, so the output
    equals the command line's. 0 to {_core.MAX_SEED}: another sequence, the same for the same
    seed.
{LEVEL_DOC.replace(chr(10) + "    ", chr(10))}
live : bool, default False
    Run cihear.Stream (at its default gains) over the whole signal instead: the result is
    Stream(...).process(x) followed by flush(), the input's duration plus the stream's latency,
    sample for sample what a live front end records for the same input at OUTPUT_RATE Hz.

Returns
-------
numpy.ndarray
    float64, 1-D, at cihear.OUTPUT_RATE ({_core.OUTPUT_RATE}) Hz, the input's duration.
    cihear.to_pcm16 gives the samples the command line writes to its 16-bit file.

Raises
------
ValueError
    A parameter out of range (every such value is named, with its accepted range), a bad
    signal shape, NaN or infinity in the signal, a bad sample rate or level, or a sample
    rate too low for the signal's length.
TypeError
    A signal of another dtype, or a parameter, seed or level that is not a number.

Warns
-----
cihear.CascadeWarning
    When one parameter's value changed another's (e.g. n_on capped at n_chan_ci).
"""
