"""analyze(): the electrodogram against the envelopes of the same run, frames, and the output."""
import numpy as np
import pytest

import cihear
from conftest import speech_like

FS = cihear.OUTPUT_RATE


def engine_iir(b, a, x):
    """The engine's difference equation on rows of x: the first len(b) outputs are 0."""
    y = np.zeros_like(x)
    n = len(b)
    for i in range(n, x.shape[1]):
        acc = b[0] * x[:, i]
        for k in range(1, n):
            acc = (b[k] * x[:, i - k] - a[k] * y[:, i - k]) + acc
        y[:, i] = acc
    return y


@pytest.mark.parametrize("rate,n_on,extra", [(1800, 4, {}), (2500, 12, {}),
                                             (700, 3, {"envelope_detection": 1}),
                                             (1234.5, 2, {"n_inserted_ch": 6})])
def test_electrodogram_is_what_the_synthesis_modulates(rate, n_on, extra):
    x = speech_like(16000, 0.25, seed=2)
    a = cihear.analyze(x, 16000, rate=rate, n_on=n_on, seed=5, envelopes=True, **extra)
    e, sel = a.electrodogram, a.selected
    assert e.shape == sel.shape == (a.channels, len(a.frame_starts))
    assert a.envelopes.shape == (a.channels, len(a.output))
    assert np.all(e[~sel] == 0)
    assert sel.sum(axis=0).max() <= n_on and sel.sum() > 0
    assert np.any(e[sel] > 0)

    # Frame c (c >= 1) starts at floor((c - 1) fs / rate); the frames are contiguous.
    c = np.arange(1, a.frames + 1)
    np.testing.assert_array_equal(a.frame_starts, np.floor((c - 1) * FS / rate).astype(np.int64))
    np.testing.assert_array_equal(a.frame_starts[1:], a.frame_starts[:-1] + a.frame_lengths[:-1])
    np.testing.assert_array_equal(a.frame_times, a.frame_starts / FS)

    # Each level held over its frame, smoothed and spread as the design says, gives the
    # envelopes the synthesis modulated (up to the end of the last frame).
    end = a.frame_starts[-1] + a.frame_lengths[-1]
    held = np.repeat(e, a.frame_lengths, axis=1)
    assert held.shape[1] == end
    smoothing = a.design["smoothing"]
    smoothed = engine_iir(smoothing["b"], smoothing["a"], held)
    w = np.asarray(a.design["interaction_weights"])
    distance = np.abs(np.subtract.outer(np.arange(a.channels), np.arange(a.channels)))
    mixed = w[distance] @ smoothed
    np.testing.assert_allclose(mixed, a.envelopes[:, :end], rtol=1e-9,
                               atol=1e-12 * np.abs(a.envelopes).max())


@pytest.mark.parametrize("seed,parameters", [(None, {}), (7, {"n_on": 5, "synchronization": 0.3}),
                                             (3, {"eas": True, "cutoff_freq": 900})])
def test_output_is_simulates(seed, parameters):
    x = speech_like(22050, 0.3, seed=4, channels=2)
    a = cihear.analyze(x, 22050, seed=seed, **parameters)
    np.testing.assert_array_equal(a.output, cihear.simulate(x, 22050, seed=seed, **parameters))
    assert a.envelopes is None
    assert a.parameters["n_on"] == parameters.get("n_on", 12)
    b = cihear.analyze(x, 22050, seed=3, level=-30)
    np.testing.assert_array_equal(b.output, cihear.simulate(x, 22050, seed=3, level=-30))


def test_refusals_name_the_problem():
    x = speech_like(16000, 0.1, seed=1)
    with pytest.raises(ValueError, match="n_on"):
        cihear.analyze(x, 16000, n_on=0)
    with pytest.raises(TypeError, match="inspect"):
        cihear.analyze(x, 16000, inspect=False)
    with pytest.warns(cihear.CascadeWarning, match="n_on changed"):
        cihear.analyze(x, 16000, n_chan_ci=4, n_on=8, n_inserted_ch=4)
