"""The package gives the command line's output, sample for sample, for every parameter."""
import warnings

import numpy as np
import pytest

import cihear
from conftest import speech_like, tone, wav_samples

# Together these set every parameter away from its default, and reach the cascades.
OPTION_SETS = [
    {},
    {"rate": 900, "n_chan_ci": 16, "n_inserted_ch": 14, "n_on": 6},
    {"f_min": 200.0, "f_max": 6000.0, "length_ci": 22.5, "interact_decay": 0.5,
     "envelope_detection": 1},
    {"synchronization": 0.3, "eas": True, "cutoff_freq": 700.0, "freq_shift": True},
    {"n_chan_ci": 8, "n_on": 10, "cutoff_freq": 4000.0, "f_max": 3000.0, "eas": True},
    {"rate": 2500.5, "synchronization": 0.0, "n_inserted_ch": 9, "envelope_detection": 1,
     "freq_shift": True},
    # The implant models: a device map with electrodes switched off, a layout with the tone
    # carrier, and edges of one's own under freq_shift.
    {"map": "nucleus22", "off": [3, 7], "n_on": 8},
    {"bands": "greenwood", "carrier": "sine", "sine_phase": "zero", "off": 12},
    {"band_edges": [250.0, 500.0, 1000.5, 2000.0, 4000.0, 7000.0], "carrier": "sine",
     "freq_shift": True, "envelope_detection": 1},
]

INPUTS = {
    "tone-8000": (tone(8000, 0.4, 700.0), 8000),
    "speech-16000-stereo": (speech_like(16000, 0.5, 1, channels=2), 16000),
    "speech-20000": (speech_like(20000, 0.5, 2), 20000),
    "tone-44100": (tone(44100, 0.3, 3000.0), 44100),
}


def test_table_covers_every_parameter():
    touched = set().union(*OPTION_SETS)
    assert touched == {p["name"] for p in cihear.PARAMETERS}


@pytest.mark.parametrize("options", OPTION_SETS, ids=lambda o: ",".join(o) or "defaults")
@pytest.mark.parametrize("name", list(INPUTS))
def test_same_samples_as_command_line(run_cli, name, options):
    x, fs = INPUTS[name]
    expected = wav_samples(run_cli(x, fs, options))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", cihear.CascadeWarning)
        y = cihear.simulate(x, fs, **options)
    assert y.dtype == np.float64 and y.ndim == 1
    got = cihear.to_pcm16(y)
    assert got.dtype == np.int16
    np.testing.assert_array_equal(got, expected)


def test_inputs_of_other_lengths_and_rates(run_cli):
    # Odd lengths, a very short signal and an unusual rate go through the same resampling.
    for x, fs in [(speech_like(11025, 0.37, 3), 11025), (tone(20000, 0.001), 20000),
                  (tone(96000, 0.05, 5000.0), 96000)]:
        expected = wav_samples(run_cli(x, fs, {"n_on": 4}))
        np.testing.assert_array_equal(cihear.to_pcm16(cihear.simulate(x, fs, n_on=4)), expected)
