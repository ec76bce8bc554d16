"""simulate_file: what it reads, the bytes it writes, levels, and the output kept on failure."""
import math
import os

import numpy as np
import pytest
import soundfile

import cihear
from conftest import speech_like, tone

X = speech_like(22050, 0.4, 11, channels=2)
FS = 22050


def rms_dbfs(y):
    return 20 * math.log10(math.sqrt(np.mean(np.square(y.astype(float)))))


def test_16_bit_wav_gives_the_command_lines_bytes(run_cli, tmp_path):
    for options in ({}, {"n_on": 5, "eas": True, "seed": None}):
        cli = run_cli(X, FS, {k: v for k, v in options.items() if k != "seed"}, name="x.wav")
        out = tmp_path / "py.wav"
        cihear.simulate_file(tmp_path / "x.wav", out, **options)
        assert out.read_bytes() == cli
        assert len(cli) == 44 + 2 * round(len(X) * cihear.OUTPUT_RATE / FS)


def test_other_encodings_are_read_as_float(tmp_path):
    f = X / 32768.0
    expected = cihear.to_pcm16(cihear.simulate(f, FS))
    # 24-bit and float files hold these values exactly, a 16-bit FLAC the int16 samples.
    for name, subtype in (("a.wav", "PCM_24"), ("b.wav", "FLOAT"), ("c.flac", "PCM_24")):
        soundfile.write(tmp_path / name, f, FS, subtype=subtype)
        cihear.simulate_file(tmp_path / name, tmp_path / "out.wav")
        y, rate = soundfile.read(tmp_path / "out.wav", dtype="int16")
        assert rate == cihear.OUTPUT_RATE
        np.testing.assert_array_equal(y, expected, err_msg=name)
    soundfile.write(tmp_path / "d.flac", X, FS, subtype="PCM_16")
    cihear.simulate_file(tmp_path / "d.flac", tmp_path / "out.wav")
    y, _ = soundfile.read(tmp_path / "out.wav", dtype="int16")
    np.testing.assert_array_equal(y, cihear.to_pcm16(cihear.simulate(X, FS)))


def test_existing_output_untouched_on_failure(tmp_path):
    source = tmp_path / "in.wav"
    soundfile.write(source, X, FS, subtype="PCM_16")
    out = tmp_path / "out.wav"
    out.write_bytes(b"previous")
    os.chmod(out, 0o640)
    failures = [
        (dict(n_on=0), ValueError),
        (dict(level=-1.0), ValueError),  # would clip
        (dict(inspect=True), TypeError),
    ]
    for kwargs, error in failures:
        with pytest.raises(error):
            cihear.simulate_file(source, out, **kwargs)
    soundfile.write(tmp_path / "four.wav", np.zeros((100, 4)), FS)
    with pytest.raises(ValueError, match="unsupported number of channels"):
        cihear.simulate_file(tmp_path / "four.wav", out)
    with pytest.raises(FileNotFoundError):
        cihear.simulate_file(tmp_path / "missing.wav", out)
    assert out.read_bytes() == b"previous"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["four.wav", "in.wav", "out.wav"]
    # A successful run replaces it and keeps its permissions.
    cihear.simulate_file(source, out)
    assert out.read_bytes()[:4] == b"RIFF" and (os.stat(out).st_mode & 0o777) == 0o640


def test_write_wav16(tmp_path):
    samples = np.array([0, 1, -1, 32767, -32768], dtype=np.int16)
    cihear.write_wav16(tmp_path / "w.wav", samples)
    y, rate = soundfile.read(tmp_path / "w.wav", dtype="int16")
    assert rate == 20000 and soundfile.info(tmp_path / "w.wav").subtype == "PCM_16"
    np.testing.assert_array_equal(y, samples)
    with pytest.raises(TypeError, match="int16"):
        cihear.write_wav16(tmp_path / "w.wav", samples.astype(float))
    with pytest.raises(FileNotFoundError):
        cihear.write_wav16(tmp_path / "no" / "w.wav", samples)
    assert os.listdir(tmp_path) == ["w.wav"]


def test_levels(tmp_path):
    x = tone(16000, 0.5, 440.0, amplitude=3000)
    peak = cihear.simulate(x, 16000)
    assert np.array_equal(cihear.simulate(x, 16000, level="peak"), peak)
    rms = cihear.simulate(x, 16000, level="rms")
    assert rms_dbfs(rms) == pytest.approx(rms_dbfs(x / 32768), abs=1e-9)
    np.testing.assert_allclose(rms, peak * (rms[4000] / peak[4000]), rtol=1e-12)  # only a gain
    assert rms_dbfs(cihear.simulate(x, 16000, level=-26)) == pytest.approx(-26, abs=1e-9)
    with pytest.raises(ValueError, match="would clip"):
        cihear.simulate(x, 16000, level=-1)
    loud = cihear.simulate(x, 16000, level=-1, clip_ok=True)
    assert np.max(np.abs(loud)) > 1
    # The file saturates rather than wrapping.
    soundfile.write(tmp_path / "t.wav", x, 16000, subtype="PCM_16")
    cihear.simulate_file(tmp_path / "t.wav", tmp_path / "o.wav", level=-1, clip_ok=True)
    y, _ = soundfile.read(tmp_path / "o.wav", dtype="int16")
    np.testing.assert_array_equal(np.sign(y[np.abs(loud) > 1]), np.sign(loud[np.abs(loud) > 1]))
    for bad, error in (("loud", ValueError), (True, TypeError), (float("nan"), ValueError)):
        with pytest.raises(error, match="level"):
            cihear.simulate(x, 16000, level=bad)
    # Silence stays silence at the input's RMS, and cannot be raised to a level.
    assert not np.any(cihear.simulate(np.zeros(1000), 16000, level="rms"))
    with pytest.raises(ValueError, match="silent"):
        cihear.simulate(np.zeros(1000), 16000, level=-20)
