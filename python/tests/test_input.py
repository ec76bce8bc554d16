"""What the package accepts as a signal, a sample rate and parameters, and how it refuses."""
import warnings

import numpy as np
import pytest

import cihear
from conftest import speech_like

STEREO = speech_like(16000, 0.2, 5, channels=2)  # (frames, 2) int16


def test_dtypes_and_layouts():
    frames_first = cihear.simulate(STEREO, 16000)
    # Channels first, and views that are not contiguous, give the same output.
    np.testing.assert_array_equal(cihear.simulate(np.ascontiguousarray(STEREO.T), 16000),
                                  frames_first)
    np.testing.assert_array_equal(cihear.simulate(STEREO.T, 16000), frames_first)
    wide = np.zeros((len(STEREO), 4), dtype=np.int16)
    wide[:, ::2] = STEREO
    np.testing.assert_array_equal(cihear.simulate(wide[:, ::2], 16000), frames_first)
    # int16 stereo is mixed as the command line mixes it: (l + r) / 2 truncated toward zero.
    mono16 = np.trunc((STEREO[:, 0].astype(float) + STEREO[:, 1]) / 2).astype(np.int16)
    np.testing.assert_array_equal(cihear.simulate(mono16, 16000), frames_first)
    # Floats are taken as they are: v / 32768 as float32 or float64 is the int16 signal.
    for dtype in (np.float32, np.float64):
        x = (mono16 / 32768).astype(dtype)
        np.testing.assert_array_equal(cihear.simulate(x, 16000), frames_first)
    # Float stereo is the exact mean of the channels.
    f = STEREO / 32768.0
    np.testing.assert_array_equal(cihear.simulate(f, 16000), cihear.simulate(f.mean(axis=1), 16000))
    # A whole float sample rate is the same rate.
    np.testing.assert_array_equal(cihear.simulate(mono16, 16000.0), frames_first)


def test_empty_input_gives_empty_output():
    for x in (np.zeros(0), np.zeros(0, dtype=np.int16), np.zeros((0, 2)), np.zeros((2, 0))):
        y = cihear.simulate(x, 44100)
        assert y.shape == (0,) and y.dtype == np.float64


@pytest.mark.parametrize(
    "signal, error, words",
    [
        (np.zeros((2, 2)), ValueError, "ambiguous"),
        (np.zeros((100, 3)), ValueError, "(frames, 2) or (2, frames); got shape (100, 3)"),
        (np.zeros((100, 1)), ValueError, "got shape (100, 1)"),
        (np.zeros((4, 4, 4)), ValueError, "got shape"),
        (np.zeros(100, dtype=np.int32), TypeError, "int16"),
        (np.zeros(100, dtype=np.uint8), TypeError, "int16"),
        (np.zeros(100, dtype=np.complex128), TypeError, "float32/float64"),
        (np.array([0.0, np.nan, 0.0]), ValueError, "NaN or an infinity (first at frame 1)"),
        (np.array([[0.0, 0.0], [0.0, 0.0], [0.0, -np.inf]]), ValueError, "frame 2"),
        ("abc", TypeError, "int16"),
    ],
)
def test_bad_signals(signal, error, words):
    with pytest.raises(error) as info:
        cihear.simulate(signal, 16000)
    assert words in str(info.value)


def test_finite_signals_of_any_level_are_simulated():
    x = np.sin(np.arange(8000) * 0.03) * np.sin(np.arange(8000) * 0.001)
    normal = cihear.simulate(x, 16000)
    # The stereo mix of two huge samples overflows their sum, not their mean.
    huge = np.stack([x, x], axis=1) * 1.7e308
    np.testing.assert_array_equal(cihear.simulate(huge, 16000), cihear.simulate(x * 1.7e308, 16000))
    for scale in (2.0**-900, 2.0**-70, 2.0**70, 2.0**900):
        np.testing.assert_array_equal(cihear.simulate(x * scale, 16000), normal, err_msg=scale)
    # At the output rate a single huge spike is no NaN.
    spiked = x.copy()
    spiked[100] = 1e300
    assert np.all(np.isfinite(cihear.simulate(spiked, 20000)))


@pytest.mark.parametrize(
    "rate, error",
    [(0, ValueError), (-8000, ValueError), (44100.5, ValueError), (float("nan"), ValueError),
     (float("inf"), ValueError), (2**32, ValueError), ("44100", TypeError), (True, TypeError),
     (None, TypeError)],
)
def test_bad_sample_rates(rate, error):
    with pytest.raises(error, match="sample_rate"):
        cihear.simulate(np.zeros(10), rate)


def test_rate_too_low_for_length_is_refused_with_the_engine_text():
    with pytest.raises(ValueError, match="sample rate is too low"):
        cihear.simulate(np.zeros(1_000_000, dtype=np.int16), 1)


def test_strict_parameters():
    x = np.zeros(100)
    with pytest.raises(ValueError) as info:
        cihear.simulate(x, 20000, rate=5, n_on=2.5, eas=2)
    text = str(info.value)
    # Every refusal, each naming the parameter, the value and the accepted range.
    assert "rate = 5 is out of range; accepted: 10 to 10000 (pulses/s)" in text
    assert "n_on = 2.5 is not a whole number" in text
    assert "eas = 2 is out of range; accepted: 0 (off) or 1 (on)" in text
    with pytest.raises(ValueError, match="f_max = 600 is below f_min = 900"):
        cihear.simulate(x, 20000, f_min=900, f_max=600)
    for bad in ("12", None, [12], 1j):
        with pytest.raises(TypeError, match="n_on"):
            cihear.simulate(x, 20000, n_on=bad)
    for seed in (-1, cihear.MAX_SEED + 1):
        with pytest.raises(ValueError, match="seed"):
            cihear.simulate(x, 20000, seed=seed)
    for seed in (1.0, "1", True):
        with pytest.raises(TypeError, match="seed"):
            cihear.simulate(x, 20000, seed=seed)
    with pytest.raises(TypeError):
        cihear.simulate(x, 20000, nchan=3)  # not a keyword of simulate
    # numpy numbers and bools are numbers.
    a = cihear.simulate(STEREO, 16000, n_on=np.int64(6), eas=np.bool_(True), rate=np.float32(900))
    np.testing.assert_array_equal(a, cihear.simulate(STEREO, 16000, n_on=6, eas=1, rate=900))


def test_cascade_warnings_point_at_the_caller():
    with pytest.warns(cihear.CascadeWarning) as record:
        cihear.simulate(np.zeros(100), 20000, n_chan_ci=8, n_inserted_ch=10, n_on=10)
    texts = [str(w.message) for w in record]
    assert texts == ["n_inserted_ch changed to n_chan_ci = 8", "n_on changed to n_chan_ci = 8"]
    assert all(w.filename == __file__ for w in record)
    assert issubclass(cihear.CascadeWarning, UserWarning)
    with pytest.warns(cihear.CascadeWarning, match="f_max raised from 3000 to 4000"):
        cihear.simulate(np.zeros(100), 20000, f_max=3000, cutoff_freq=4000, eas=True)
    # Turned into errors, they stop the call.
    with warnings.catch_warnings():
        warnings.simplefilter("error", cihear.CascadeWarning)
        with pytest.raises(cihear.CascadeWarning):
            cihear.simulate(np.zeros(100), 20000, n_inserted_ch=4, n_on=6)
