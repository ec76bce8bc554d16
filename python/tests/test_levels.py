"""Output levels at the 16-bit rounding's own limits, and what clip_ok accepts."""
import numpy as np
import pytest
import soundfile

import cihear
from cihear._level import _rms, apply_level
from conftest import speech_like, tone

X = speech_like(16000, 0.3, seed=2)


def holds(x):
    return abs(int(cihear.to_pcm16(np.array([x]))[0]) - x * 32768) < 2


def last_held(held, wrapped):
    """The last double from `held` toward `wrapped` that to_pcm16 rounds without wrapping."""
    while np.nextafter(held, wrapped) != wrapped:
        middle = (held + wrapped) / 2
        held, wrapped = (middle, wrapped) if holds(middle) else (held, middle)
    return held


# The rounding's own limits, found by asking it: the last value of each sign it holds.
TOP = last_held(32767 / 32768, 1.0)
BOTTOM = last_held(-1.0, -1.1)


@pytest.mark.parametrize("limit", [TOP, BOTTOM])
def test_the_guard_stops_exactly_where_the_rounding_wraps(limit):
    beyond = np.nextafter(limit, 2 * limit)  # wrapped by the rounding
    # A target equal to the output's own RMS scales by exactly 1, so the values are judged
    # as they are.
    held = np.array([0.5, limit, -0.25])
    np.testing.assert_array_equal(apply_level(held, _rms(held), False, lambda: "x"), held)
    wrapped = np.array([0.5, beyond, -0.25])
    with pytest.raises(ValueError, match="x would clip: the scaled output reaches"):
        apply_level(wrapped, _rms(wrapped), False, lambda: "x")
    np.testing.assert_array_equal(apply_level(wrapped, _rms(wrapped), True, lambda: "x"), wrapped)


def test_a_peak_just_below_one_is_refused_and_saturates_with_clip_ok(tmp_path):
    # A level whose scaled peak lands at 0.99999: refused, where 1.0 used to be the limit.
    x = tone(16000, 0.3)
    y = cihear.simulate(x, 16000)
    assert np.max(y) > -np.min(y)  # the tone's output peaks on the positive side
    dbfs = 20 * np.log10(_rms(y) * 0.99999 / np.max(y))
    with pytest.raises(ValueError, match="would clip"):
        cihear.simulate(x, 16000, level=dbfs)
    loud = cihear.simulate(x, 16000, level=dbfs, clip_ok=True)
    assert np.max(loud) == pytest.approx(0.99999, abs=1e-9)
    soundfile.write(tmp_path / "in.wav", x, 16000, subtype="PCM_16")
    cihear.simulate_file(tmp_path / "in.wav", tmp_path / "out.wav", level=dbfs, clip_ok=True)
    pcm, _ = soundfile.read(tmp_path / "out.wav", dtype="int16")
    assert pcm[np.argmax(loud)] == 32767  # not a full-scale click at -32768


@pytest.mark.parametrize("clip_ok", ["no", "", 0, 1, None, [False]])
def test_clip_ok_must_be_a_bool(clip_ok, tmp_path):
    with pytest.raises(TypeError, match="clip_ok must be True or False"):
        cihear.simulate(X, 16000, level=-30, clip_ok=clip_ok)
    with pytest.raises(TypeError, match="clip_ok"):
        cihear.analyze(X, 16000, level=-30, clip_ok=clip_ok)
    soundfile.write(tmp_path / "in.wav", X, 16000, subtype="PCM_16")
    with pytest.raises(TypeError, match="clip_ok"):
        cihear.simulate_file(tmp_path / "in.wav", tmp_path / "out.wav", clip_ok=clip_ok)
    assert not (tmp_path / "out.wav").exists()
    # Python's and numpy's bools are taken.
    cihear.simulate(X, 16000, level=-30, clip_ok=np.bool_(True))


def test_a_saturated_file_reaches_both_16_bit_limits(tmp_path):
    soundfile.write(tmp_path / "in.wav", X, 16000, subtype="PCM_16")
    cihear.simulate_file(tmp_path / "in.wav", tmp_path / "out.wav", level=0, clip_ok=True)
    pcm, _ = soundfile.read(tmp_path / "out.wav", dtype="int16")
    loud = cihear.simulate(X, 16000, level=0, clip_ok=True)
    assert np.min(loud) < -1.01 and np.max(loud) > 1.01
    assert pcm.min() == -32768 and pcm.max() == 32767
    inside = (loud > -1) & (loud < 32767 / 32768)
    np.testing.assert_array_equal(pcm[inside], cihear.to_pcm16(loud[inside]))
    np.testing.assert_array_equal(np.sign(pcm[~inside]), np.sign(loud[~inside]))
