"""What a simulation did: its output together with the bands, frames and electrodogram it used.

    a = cihear.analyze(signal, 44100, n_on=4)
    a.electrodogram[:, a.selected.any(axis=0)]   # the levels of the frames that stimulated

Every value comes from the simulation itself (the engine records it while it runs), never from
a second computation here.
"""

from dataclasses import dataclass
from typing import NamedTuple, Optional

import numpy as np

from . import _core
from ._level import apply_level, level_name, target_rms


class Bands(NamedTuple):
    """One frequency band per channel, in Hz: four float64 arrays of the channel count."""

    low: np.ndarray
    high: np.ndarray
    center: np.ndarray
    bandwidth: np.ndarray

    @classmethod
    def from_dict(cls, d):
        return cls(*(np.asarray(d[k], dtype=np.float64) for k in cls._fields))

    def rows(self):
        """The bands as a list of {low, high, center, bandwidth} dicts of floats, one per channel."""
        return [dict(zip(self._fields, map(float, row))) for row in zip(*self)]


@dataclass(frozen=True)
class Analysis:
    """A simulation's output and the values behind it.

    output: the simulated signal at `sample_rate` Hz, identical to `cihear.simulate`'s.
    parameters: the effective parameter values (after the cascades).
    bands, synthesis_bands: the nominal analysis and synthesis band of each channel.
    measured_bands, measured_synthesis_bands: the -3 dB bands of the filters actually used.
    frame_starts: the first sample of each stimulation frame (int64, at `sample_rate`);
    frame_lengths: its length in samples; frame_times: its start in seconds.
    electrodogram: (channels, frames) float64, the level each channel holds over each frame
    right after the N-of-M selection, 0 where the channel was not selected; selected: the same
    shape, bool. There is one channel per active electrode: channel c (0 the lowest band) is
    electrode electrodes[c] (1 the most apical); the electrodes in `off` have none.
    interaction_factor: the weight of an adjacent channel in the current spread.
    envelopes: (channels, samples) float64, the envelopes the synthesis modulates, or None
    unless asked for with envelopes=True.
    design: the simulation's full design as the engine describes it (filter coefficients
    included), as `cihear._core.describe` returns it.
    """

    output: np.ndarray
    sample_rate: int
    parameters: dict
    seed: Optional[int]
    bands: Bands
    synthesis_bands: Bands
    measured_bands: Bands
    measured_synthesis_bands: Bands
    frame_starts: np.ndarray
    frame_lengths: np.ndarray
    frame_times: np.ndarray
    electrodogram: np.ndarray
    selected: np.ndarray
    interaction_factor: float
    envelopes: Optional[np.ndarray]
    design: dict

    @property
    def channels(self):
        """The simulated channels: one per active electrode."""
        return self.electrodogram.shape[0]

    @property
    def electrode_count(self):
        """The inserted electrodes, switched-off ones included."""
        return int(self.design["electrode_count"])

    @property
    def electrodes(self):
        """Each channel's electrode (1 = the most apical): channel c is electrode
        electrodes[c]."""
        return [int(e) for e in self.design["electrodes"]]

    @property
    def off(self):
        """The electrodes switched off, which have no channel."""
        return [int(e) for e in self.design["off"]]

    @property
    def frames(self):
        return self.electrodogram.shape[1]


def analyze(signal, sample_rate, *, seed=None, envelopes=False, level="peak", clip_ok=False,
            **parameters):
    """Simulates `signal` at `sample_rate` Hz as `cihear.simulate` does and returns an Analysis.

    Takes the same arguments as `simulate` (parameters, seed, level, clip_ok); the Analysis's
    output is the array `simulate` returns. envelopes=True also keeps every channel's envelope,
    channels x samples doubles (large for long signals).
    """
    for name in parameters:
        if name in ("inspect", "stacklevel"):
            raise TypeError(f"unexpected keyword argument '{name}'")
    x = _core.mono(signal)
    target = target_rms(level, x)
    output, inspection = _core.simulate(
        x, sample_rate, seed=seed, inspect=True, envelopes=bool(envelopes), stacklevel=2,
        **parameters
    )
    output = apply_level(output, target, clip_ok, lambda: level_name(level, target))
    return from_inspection(output, inspection, seed)


def from_inspection(output, inspection, seed=None):
    """An Analysis from the binding's output array and inspection dict."""
    design = inspection["design"]
    rate = _core.OUTPUT_RATE
    starts = np.asarray(inspection["frame_starts"], dtype=np.int64)
    kept = inspection.get("envelopes")
    return Analysis(
        output=np.asarray(output),
        sample_rate=rate,
        parameters=dict(design["settings"]),
        seed=seed,
        bands=Bands.from_dict(design["bands"]),
        synthesis_bands=Bands.from_dict(design["synthesis_bands"]),
        measured_bands=Bands.from_dict(design["measured_bands"]),
        measured_synthesis_bands=Bands.from_dict(design["measured_synthesis_bands"]),
        frame_starts=starts,
        frame_lengths=np.asarray(inspection["frame_lengths"], dtype=np.int64),
        frame_times=starts / float(rate),
        electrodogram=np.asarray(inspection["electrodogram"], dtype=np.float64),
        selected=np.asarray(inspection["selected"], dtype=bool),
        interaction_factor=float(design["interaction_factor"]),
        envelopes=None if kept is None else np.asarray(kept, dtype=np.float64),
        design=design,
    )
