"""Output levels for stimulus sets: the simulation's output, rescaled after the fact."""
import math
import numbers

import numpy as np

LEVEL_DOC = """level : "peak", "rms" or float, default "peak"
        "peak": the output as the command line writes it (peak-normalised). "rms": the output
        scaled so that its RMS equals the input's (the mono mix that is simulated). A number:
        the output scaled to that RMS in dB relative to full scale (0 dBFS is an RMS of 1.0,
        so a full-scale sine is at -3 dBFS).
    clip_ok : bool, default False
        Whether a scaled output may reach full scale (any |sample| >= 1). Without it such a
        level is a ValueError; with it, simulate returns them as they are and simulate_file
        saturates them at the 16-bit limits."""


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


def apply_level(output, target, clip_ok, describe):
    """`output` scaled to RMS `target` (None: unchanged); `describe()` names the level in errors."""
    if target is None or len(output) == 0:
        return output
    current = _rms(output)
    if current == 0.0:
        if target == 0.0:
            return output
        raise ValueError(f"the output is silent: it cannot be scaled to {describe()}")
    scaled = output * (target / current)
    peak = float(np.max(np.abs(scaled)))
    if peak >= 1.0 and not clip_ok:
        raise ValueError(
            f"{describe()} would clip: the scaled output peaks at {peak:.4g} "
            f"({20 * math.log10(peak):+.2f} dBFS), full scale is 1.0; "
            "choose a lower level or pass clip_ok=True"
        )
    return scaled


def level_name(level, target):
    if level == "rms":
        return f"the input's RMS ({20 * math.log10(target) if target else -math.inf:.2f} dBFS)"
    return f"level = {level} dBFS"


def saturate(output):
    """Scaled output limited to what 16 bits hold, so that a file saturates instead of wrapping."""
    return np.clip(output, -1.0, 32767 / 32768)
