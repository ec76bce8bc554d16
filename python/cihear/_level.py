"""Output levels for stimulus sets: the simulation's output, rescaled after the fact."""
import math
import numbers

import numpy as np

LEVEL_DOC = """level : "peak", "rms" or float, default "peak"
        "peak": the output as the command line writes it (peak-normalised to 0.9999). "rms":
        the output scaled so that its RMS equals the input's (the mono mix that is simulated),
        to keep a stimulus set at the level of its recordings. A number: the output scaled to
        that RMS in dB relative to full scale (0 dBFS is an RMS of 1.0, so a full-scale sine is
        at -3 dBFS), the usual way to give every stimulus of a set the same level.
        Headroom: a vocoder's output has a higher crest factor (peak to RMS) than the speech it
        comes from, about 20 to 27 dB against 19 dB for examples/speech.wav, so matching the
        input's RMS usually clips, and so does any level above about -20 dBFS. -25 dBFS suits
        speech at most settings, -30 dBFS nearly all.
    clip_ok : bool, default False
        Whether a scaled output may hold samples that 16 bits cannot (above 32767.5 / 32768,
        which cihear.to_pcm16 would wrap to -32768, or below about -1.00005, which it would
        wrap to 32767). Without it such a level
        is a ValueError that says how far over it is; with it, simulate returns the samples as
        they are and simulate_file saturates them at the 16-bit limits."""


def _rms(x):
    return math.sqrt(float(np.mean(np.square(x)))) if len(x) else 0.0


def target_rms(level, mono_input):
    """The RMS the output is scaled to, or None for the unscaled ("peak") output."""
    if isinstance(level, str):
        if level == "peak":
            return None
        if level == "rms":
            return _rms(mono_input)
        raise ValueError(f'level = {level!r} is not accepted: "peak", "rms" or a number of dBFS')
    if isinstance(level, bool) or not isinstance(level, numbers.Real):
        raise TypeError(f'level must be "peak", "rms" or a number of dBFS, not {type(level).__name__}')
    if not math.isfinite(level):
        raise ValueError(f"level = {level} dBFS is not a finite number")
    return 10.0 ** (float(level) / 20.0)


def check_clip_ok(clip_ok):
    """TypeError unless `clip_ok` is a bool (a string such as "no" would read as true)."""
    if not isinstance(clip_ok, (bool, np.bool_)):
        raise TypeError(f"clip_ok must be True or False, not {type(clip_ok).__name__} {clip_ok!r}")


def _beyond_16_bits(scaled):
    """The sample of `scaled` that the 16-bit rounding (to_pcm16) cannot hold, or None.

    The rounding is asked itself: a sample it wraps (above about 32767.5 / 32768 to -32768,
    below about -32769.5 / 32768 to 32767) lands far from 32768 times its value, while every
    sample it holds lands within 1.5 of it. The rounding only wraps beyond the extremes, so
    the largest and the smallest sample decide (the one further from 0 is named first).
    """
    from ._core import to_pcm16

    extremes = sorted([float(np.max(scaled)), float(np.min(scaled))], key=abs, reverse=True)
    pcm = to_pcm16(np.array(extremes)).astype(np.float64)
    for value, rounded in zip(extremes, pcm):
        if abs(rounded - value * 32768.0) >= 2.0:
            return value
    return None


def apply_level(output, target, clip_ok, describe):
    """`output` scaled to RMS `target` (None: unchanged); `describe()` names the level in errors."""
    check_clip_ok(clip_ok)
    if target is None or len(output) == 0:
        return output
    current = _rms(output)
    if current == 0.0:
        if target == 0.0:
            return output
        raise ValueError(f"the output is silent: it cannot be scaled to {describe()}")
    scaled = output * (target / current)
    beyond = None if clip_ok else _beyond_16_bits(scaled)
    if beyond is not None:
        raise ValueError(
            f"{describe()} would clip: the scaled output reaches {beyond:.6g} "
            f"({20 * math.log10(abs(beyond)):+.2f} dBFS), more than 16 bits hold "
            "(cihear.to_pcm16 would wrap it); choose a lower level or pass clip_ok=True"
        )
    return scaled


def level_name(level, target):
    if level == "rms":
        return f"the input's RMS ({20 * math.log10(target) if target else -math.inf:.2f} dBFS)"
    return f"level = {level} dBFS"


def saturate(output):
    """Scaled output limited to what 16 bits hold, so that a file saturates instead of wrapping.

    The limits are values the rounding takes to 32767 and -32768 (it moves negative halves
    toward zero, so -1.0 itself gives -32767)."""
    return np.clip(output, -32768.5 / 32768, 32767 / 32768)
