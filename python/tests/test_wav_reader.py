"""One reader for RIFF/WAVE files: the executable, simulate_file and the batch runner take the
same crafted files and refuse the same ones with the same words."""
import csv
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import cihear
from cihear import _core

CORPUS = Path(__file__).resolve().parents[2] / "fuzz" / "corpus" / "read"
FILES = sorted(p.name for p in CORPUS.glob("*.wav"))


def program(exe, source, target):
    """(None, the output's bytes) or (the executable's message, None)."""
    done = subprocess.run([exe, "-i", str(source), "-o", str(target)], capture_output=True, text=True)
    if done.returncode == 0:
        return None, target.read_bytes()
    assert done.returncode == 255 and done.stderr.startswith("error: "), done.stderr
    return done.stderr[len("error: "):].strip(), None


@pytest.fixture(scope="module")
def batch_log(tmp_path_factory):
    """The batch runner's record of every corpus file: {name: (status, reason)}."""
    work = tmp_path_factory.mktemp("batch")
    shutil.copytree(CORPUS, work / "in")
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    subprocess.run(
        [sys.executable, "-m", "cihear", "batch", str(work / "in"), str(work / "out"), "--quiet",
         "--jobs", "1"],
        capture_output=True, env=env, timeout=600,
    )
    with open(work / "out" / "cihear-batch.csv", newline="") as f:
        rows = {row["input"]: (row["status"], row["reason"]) for row in csv.DictReader(f)}
    return work / "in", rows


def other_encoding(source):
    """Whether the program reads the file's header but none of its samples (not 16-bit PCM)."""
    try:
        return _core.read_wav(os.fsencode(source)) is None
    except ValueError:
        return False


@pytest.mark.parametrize("name", FILES)
def test_every_surface_takes_or_refuses_a_file_alike(name, exe, tmp_path, batch_log):
    source = CORPUS / name
    message, expected = program(exe, source, tmp_path / "cli.wav")
    folder, rows = batch_log
    status, reason = rows[name]
    if message == "could not read samples from file" and other_encoding(source):
        return  # samples that are not 16-bit PCM: the program reads none, libsndfile may
    if message is None:
        cihear.simulate_file(source, tmp_path / "py.wav")
        assert (tmp_path / "py.wav").read_bytes() == expected
        assert (status, reason) == ("done", "")
        return
    with pytest.raises(ValueError) as refused:
        cihear.simulate_file(source, tmp_path / "py.wav")
    # Files that are no RIFF form at all go to libsndfile, which says why after the words.
    said = f"{source}: {message}"
    assert str(refused.value) == said or str(refused.value).startswith(said + ": ")
    assert status == "failed"
    assert reason == f"{folder / name}: {message}" or reason.startswith(f"{folder / name}: {message}: ")
    assert not (tmp_path / "py.wav").exists()


def small_wav(path):
    cihear.write_wav16(path, (np.sin(np.arange(4000) / 3) * 9000).astype(np.int16))
    return path


@pytest.mark.parametrize(
    "call",
    [
        lambda d: cihear.write_wav16(str(d / "victim.wav") + "\0.new", np.zeros(4, np.int16)),
        lambda d: cihear.write_wav16(os.fsencode(d / "victim.wav") + b"\0", np.zeros(4, np.int16)),
        lambda d: cihear.simulate_file(d / "in.wav", str(d / "victim.wav") + "\0b.wav"),
        lambda d: cihear.simulate_file(str(d / "in.wav") + "\0x", d / "out.wav"),
        lambda d: cihear._io.read_signal(str(d / "in.wav") + "\0"),
    ],
)
def test_a_nul_in_any_path_is_the_error_open_gives(call, tmp_path):
    small_wav(tmp_path / "in.wav")
    (tmp_path / "victim.wav").write_bytes(b"kept")
    with pytest.raises(ValueError, match="embedded null byte"):
        call(tmp_path)
    assert (tmp_path / "victim.wav").read_bytes() == b"kept"
    assert sorted(p.name for p in tmp_path.iterdir()) == ["in.wav", "victim.wav"]


def test_names_that_are_not_utf8_are_written_and_read(tmp_path):
    source = small_wav(os.fsencode(tmp_path) + b"/in-\xff.wav")
    expected = tmp_path / "plain.wav"
    cihear.simulate_file(small_wav(tmp_path / "ascii.wav"), expected)
    for output in (os.fsencode(tmp_path) + b"/out-\xfe.wav", str(tmp_path) + "/out-\udcfd.wav"):
        cihear.simulate_file(source, output)
        assert Path(os.fsdecode(output)).read_bytes() == expected.read_bytes()


def test_a_name_too_long_is_said_to_be(tmp_path):
    with pytest.raises(OSError, match="the name is too long \\(256 bytes; at most 255\\)") as e:
        cihear.write_wav16(tmp_path / ("n" * 252 + ".wav"), np.zeros(4, np.int16))
    assert "could not open file to write" in str(e.value)
    cihear.write_wav16(tmp_path / ("n" * 251 + ".wav"), np.zeros(4, np.int16))  # 255 bytes


@pytest.mark.parametrize("kind", ["fifo", "folder"])
def test_what_is_not_a_regular_file_is_refused_at_once(kind, tmp_path):
    path = tmp_path / "in.wav"
    os.mkfifo(path) if kind == "fifo" else path.mkdir()
    said = "a FIFO" if kind == "fifo" else "a folder"
    # In a child process: a reader that waited in open() for a writer would never return.
    code = (
        "import cihear, sys\n"
        "try:\n"
        f"    cihear.simulate_file({str(path)!r}, {str(tmp_path / 'out.wav')!r})\n"
        "except ValueError as e:\n"
        "    print(e)\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path))
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env,
                          timeout=60)
    assert done.stdout.strip() == f"{path}: could not open file: it is {said}"


@pytest.mark.parametrize("peak", [1e38, 1e-38, 2.0**-100])
def test_a_float_file_at_an_extreme_level_gives_the_output_at_a_normal_level(peak, tmp_path):
    import soundfile

    x = np.sin(np.arange(20000) * 0.07) * np.sin(np.arange(20000) * 0.0011)
    x = (x / np.max(np.abs(x))).astype(np.float32)
    soundfile.write(tmp_path / "normal.wav", x, 20000, subtype="FLOAT")
    soundfile.write(tmp_path / "extreme.wav", x * np.float32(peak), 20000, subtype="FLOAT")
    cihear.simulate_file(tmp_path / "normal.wav", tmp_path / "a.wav")
    cihear.simulate_file(tmp_path / "extreme.wav", tmp_path / "b.wav")
    assert (tmp_path / "a.wav").read_bytes() == (tmp_path / "b.wav").read_bytes()
