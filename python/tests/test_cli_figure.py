"""python3 -m cihear report / inspect: statuses, one-line errors, the figure and the CSV."""
import json
import os
import struct
import subprocess
import sys

import numpy as np
import pytest
import soundfile

import cihear
from cihear import cli_figure, plot
from conftest import cli_options, speech_like


def cihear_m(*args):
    return subprocess.run([sys.executable, "-m", "cihear", *map(str, args)], capture_output=True,
                          text=True, env=dict(os.environ), timeout=120)


@pytest.fixture(scope="module")
def wav(tmp_path_factory):
    path = tmp_path_factory.mktemp("in") / "speech.wav"
    soundfile.write(path, speech_like(16000, 0.5, seed=9), 16000, subtype="PCM_16")
    return path


def png_size(path):
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    return struct.unpack(">II", data[16:24])


def test_inspect_figure_and_csv(wav, tmp_path):
    fig, csv = tmp_path / "f.png", tmp_path / "e.csv"
    done = cihear_m("inspect", "-i", wav, "-o", fig, "--csv", csv, "--size", "900x700",
                    "--n_on", 3, "--rate", 1000, "--seed", 2, "--from", 0.1, "--to", 0.3)
    assert done.returncode == 0, done.stderr
    assert png_size(fig) == (900, 700)
    x, fs = soundfile.read(wav, dtype="int16")
    a = cihear.analyze(x, fs, n_on=3, rate=1000, seed=2)
    keep = (a.frame_times >= 0.1) & (a.frame_times < 0.3)
    table = np.loadtxt(csv, delimiter=",", skiprows=1, ndmin=2)
    assert table.shape == (keep.sum(), a.channels + 1)
    np.testing.assert_array_equal(table[:, 0], a.frame_times[keep])
    np.testing.assert_array_equal(table[:, 1:], a.electrodogram[:, keep].T)
    header = csv.read_text().splitlines()[0].split(",")
    assert header[0] == "time_s" and header[1] == f"channel_1_{a.bands.center[0]:.0f}Hz"


@pytest.mark.parametrize("parameters", [{}, {"n_on": 4, "rate": 900, "n_inserted_ch": 9}])
def test_inspect_audio_is_the_command_lines(exe, wav, tmp_path, parameters):
    audio, cli = tmp_path / "out.wav", tmp_path / "cli.wav"
    done = cihear_m("inspect", "-i", wav, "-o", tmp_path / "f.png", "--size", "400x300",
                    "--audio", audio, *cli_options(parameters))
    assert done.returncode == 0, done.stderr
    ran = subprocess.run([exe, "-i", wav, "-o", cli, *cli_options(parameters)],
                         capture_output=True, timeout=120)
    assert ran.returncode == 0
    assert audio.read_bytes() == cli.read_bytes()


def test_figure_title_caption_and_panels(wav):
    x, fs = soundfile.read(wav, dtype="int16")
    a = cihear.analyze(x, fs, n_on=5, eas=True, seed=4)
    fig = cli_figure.figure(x, fs, a, "speech.wav", (0.1, 0.15), (800, 600))
    assert fig._suptitle.get_text() == plot.summary(a)
    caption = " ".join(fig._supxlabel.get_text().split())
    assert caption.startswith("speech.wav") and "seed 4" in caption and "EAS" in caption
    top, middle, bottom = [ax for ax in fig.axes if ax.get_subplotspec() is not None]
    assert all(len(ax.child_axes) == 1 for ax in (top, middle, bottom))  # colour bars, scale
    assert "electrodogram" in middle.get_title() and "(5 ms windows)" in top.get_title()
    assert top.get_xlim() == middle.get_xlim() == bottom.get_xlim() == (100, 150)


@pytest.mark.parametrize("args,status,words", [
    (["inspect", "-i", "missing.wav", "-o", "f.png"], 1, "missing.wav"),
    (["inspect", "-i", "{wav}", "-o", "f.png", "--n_on", "0"], 1, "n_on = 0"),
    (["inspect", "-i", "{wav}", "-o", "f.png", "--from", "0.3", "--to", "0.2"], 1, "--from"),
    (["inspect", "-i", "{wav}", "-o", "f.png", "--from", "1_0"], 2, "--from"),
    (["inspect", "-i", "{wav}", "-o", "f.png", "--eas", "maybe"], 2, "--eas"),
    (["inspect", "-i", "{wav}", "-o", "f.png", "--size", "big"], 1, "--size"),
    (["inspect", "-i", "{py}", "-o", "f.png"], 1, "could not read"),
    (["inspect", "-o", "f.png"], 2, "--input"),
    (["inspect", "-i", "{wav}", "-o", "f.png", "--audio", "{wav}"], 1, "same file"),
    (["report", "--rate", "20000"], 1, "rate = 20000"),
    (["report", "--bogus"], 2, "--bogus"),
])
def test_errors_are_one_line(wav, tmp_path, args, status, words):
    args = [a.format(wav=wav, py=__file__) for a in args]
    done = subprocess.run([sys.executable, "-m", "cihear", *args], capture_output=True,
                          text=True, cwd=tmp_path, timeout=120)
    assert done.returncode == status
    assert len(done.stderr.strip().splitlines()) == 1 and words in done.stderr
    assert "Traceback" not in done.stderr and not (tmp_path / "f.png").exists()


@pytest.mark.parametrize("extra", [[], ["--json"]])
def test_report_into_a_closed_pipe_says_nothing(tmp_path, extra):
    # `report | head`: the reader has gone before the report is written.
    read, write = os.pipe()
    os.close(read)
    done = subprocess.run([sys.executable, "-m", "cihear", "report", *extra], stdout=write,
                          stderr=subprocess.PIPE, text=True, cwd=tmp_path, timeout=120)
    os.close(write)
    assert done.returncode == 1 and done.stderr == ""


def test_report_text_and_json():
    text = cihear_m("report", "--n_on", 4, "-r", 900, "--freq_shift", "true", "--seed", 3)
    assert text.returncode == 0 and text.stdout == cihear.report_text(
        n_on=4, rate=900, freq_shift=1, seed=3) + "\n"
    js = cihear_m("report", "--n_chan_ci", 8, "--json")
    assert js.returncode == 0 and json.loads(js.stdout) == json.loads(json.dumps(
        cihear.report(n_chan_ci=8)))
    assert "n_on changed to n_chan_ci = 8" in json.loads(js.stdout)["warnings"]
