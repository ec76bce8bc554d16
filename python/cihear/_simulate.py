"""cihear.simulate: a signal in memory through the simulation."""
import inspect
from typing import Optional, Union

import numpy as np

from . import _core
from ._level import LEVEL_DOC, apply_level, check_clip_ok, level_name, target_rms
from ._params import keywords, parameters_doc

# Arguments of _core.simulate that are not simulation parameters.
_OPTIONS = ("seed", "inspect", "envelopes", "stacklevel", "live")


def run(signal, sample_rate, parameters, seed, level, clip_ok, stacklevel, live=False):
    """The simulation of `signal` at `level`. `stacklevel` is where cascade warnings point,
    counted from this function's caller (1) upward."""
    for name in parameters:
        if name in _OPTIONS:
            raise TypeError(f"unexpected keyword argument '{name}'")
    check_clip_ok(clip_ok)
    x = _core.mono(signal)
    target = target_rms(level, x)
    y = _core.simulate(x, sample_rate, seed=seed, stacklevel=stacklevel + 1, live=live, **parameters)
    return apply_level(y, target, clip_ok, lambda: level_name(level, target))


def _option(name, default, annotation):
    return inspect.Parameter(name, inspect.Parameter.KEYWORD_ONLY, default=default,
                             annotation=annotation)


# simulate's signature: the signal, its rate, the parameter table's keywords, and the options.
_SIGNATURE = inspect.Signature(
    [inspect.Parameter("signal", inspect.Parameter.POSITIONAL_OR_KEYWORD, annotation=np.ndarray),
     inspect.Parameter("sample_rate", inspect.Parameter.POSITIONAL_OR_KEYWORD,
                       annotation=Union[int, float])]
    + keywords()
    + [_option("seed", None, Optional[int]), _option("level", "peak", Union[str, float]),
       _option("clip_ok", False, bool), _option("live", False, bool)],
    return_annotation=np.ndarray)


def simulate(signal, sample_rate, **keywords):
    try:
        bound = _SIGNATURE.bind(signal, sample_rate, **keywords)
    except TypeError as error:
        raise TypeError(f"simulate() {error}") from None
    bound.apply_defaults()
    a = bound.arguments
    parameters = {info["name"]: a[info["name"]] for info in _core.PARAMETERS}
    return run(signal, sample_rate, parameters, a["seed"], a["level"], a["clip_ok"],
               stacklevel=2, live=a["live"])


simulate.__signature__ = _SIGNATURE
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
    A signal of another dtype, a parameter, seed or level that is not a number (a bool is a
    number for eas and freq_shift only), a choice (bands, map, carrier, sine_phase) that is
    not a str, a list (band_edges, off) that is neither a number nor a sequence or 1-D array
    of numbers, or a clip_ok that is not a bool.

Warns
-----
cihear.CascadeWarning
    When one parameter's value changed another's (n_on capped at n_chan_ci or at the active
    electrodes; f_max raised to cutoff_freq, whether eas is on or off; a map or band_edges
    setting the channel count, f_min and f_max), and when the implant has more electrodes than
    inserted ones (n_chan_ci above n_inserted_ch left at its default): only the inserted
    electrodes are simulated.

Examples
--------
    x, fs = soundfile.read("examples/speech.wav", dtype="int16")
    y = cihear.simulate(x, fs, n_on=8, rate=900)     # as the command line writes it
    y = cihear.simulate(x, fs, n_on=8, level=-25)    # RMS at -25 dBFS
    y = cihear.simulate(x, fs, map="nucleus22", off=[3, 7], carrier="sine")
"""
