"""Shared signals and the command line, run on the same samples as the package."""
import os
import subprocess

import numpy as np
import pytest
import soundfile


def speech_like(fs, seconds, seed, channels=1):
    """Voiced harmonics with a moving pitch, syllable-rate amplitude and a little noise, int16."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(fs * seconds)) / fs
    f0 = 120 + 30 * np.sin(2 * np.pi * 1.3 * t)
    phase = 2 * np.pi * np.cumsum(f0) / fs
    voiced = sum(np.sin(k * phase) / k for k in range(1, 25) if k * 150 < fs / 2)
    envelope = 0.5 + 0.5 * np.sin(2 * np.pi * 4 * t) ** 2
    out = []
    for _ in range(channels):
        x = envelope * voiced + 0.05 * rng.standard_normal(len(t))
        out.append(np.round(x / np.max(np.abs(x)) * 20000))
    return np.stack(out, axis=1).astype(np.int16) if channels > 1 else out[0].astype(np.int16)


def tone(fs, seconds, hz=1000.0, amplitude=12000):
    t = np.arange(int(fs * seconds)) / fs
    return np.round(amplitude * np.sin(2 * np.pi * hz * t)).astype(np.int16)


def cli_options(parameters):
    args = []
    for name, value in parameters.items():
        if isinstance(value, (list, tuple)):
            text = ",".join(map(str, value))  # a list as the command line writes it: 3,7
        else:
            text = str(int(value)) if isinstance(value, bool) else str(value)
        args += [f"--{name}", text]
    return args


@pytest.fixture(scope="session")
def exe():
    path = os.environ.get("CIHEAR_EXE")
    if not path or not os.path.exists(path):
        pytest.skip("CIHEAR_EXE does not name the built cihear executable")
    return path


@pytest.fixture
def run_cli(exe, tmp_path):
    """run_cli(x_int16, fs, parameters) -> the bytes of the file the command line writes."""

    def run(x, fs, parameters, name="in.wav"):
        source = tmp_path / name
        soundfile.write(source, x, fs, subtype="PCM_16")
        target = tmp_path / ("cli-" + name)
        done = subprocess.run(
            [exe, "-i", str(source), "-o", str(target)] + cli_options(parameters),
            capture_output=True, text=True,
        )
        assert done.returncode == 0, done.stderr
        return target.read_bytes()

    return run


def wav_samples(data):
    """The samples of a canonical 44-byte-header 16-bit WAV file's bytes."""
    assert data[:4] == b"RIFF" and data[8:16] == b"WAVEfmt " and data[36:40] == b"data"
    return np.frombuffer(data[44:], dtype="<i2")
