"""cihear.plot: what each picture draws, headless."""
import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402
import pytest  # noqa: E402
from matplotlib.figure import Figure  # noqa: E402

import cihear  # noqa: E402
from cihear import plot  # noqa: E402
from conftest import speech_like  # noqa: E402


@pytest.fixture(scope="module")
def run():
    x = speech_like(16000, 0.4, seed=3)
    return x, cihear.analyze(x, 16000, n_on=4, rate=900, seed=1)


@pytest.mark.parametrize("time_range", [None, (0.1, 0.13)])
def test_electrodogram_lines(run, time_range):
    _, a = run
    lines = plot.electrodogram(a, time_range=time_range)
    start, stop = time_range or (0, np.inf)
    frames = (a.frame_times >= start) & (a.frame_times < stop)
    segments = lines.get_segments()
    assert len(segments) == a.selected[:, frames].sum() > 0
    bottoms = np.array([s[0] for s in segments])
    tops = np.array([s[1] for s in segments])
    np.testing.assert_array_equal(bottoms[:, 0], tops[:, 0])  # vertical
    rows = bottoms[:, 1]
    assert set(rows) <= set(range(a.channels)) and np.all(rows == np.round(rows))
    heights = tops[:, 1] - rows
    assert heights.max() == pytest.approx(plot.ROW_FILL) and heights.min() >= 0
    # Heights proportional to the levels, row 0 the lowest band.
    channel, frame = np.nonzero(a.selected & frames)
    np.testing.assert_allclose(heights, a.electrodogram[channel, frame]
                               / a.electrodogram[channel, frame].max() * plot.ROW_FILL)
    labels = [t.get_text() for t in lines.axes.get_yticklabels()]
    assert labels[0].startswith("1 ") and f"{a.bands.center[0]:.0f} Hz" in labels[0]
    assert lines.axes.get_xlabel() == "time (ms)"  # spans under half a second
    assert "1 = apical (lowest band)" in lines.axes.get_ylabel()
    # The level scale: a bar beside the top row as tall as the tallest line, marked with the
    # tallest level in view in dB re full scale.
    (side,) = lines.axes.child_axes
    assert side.get_ylim() == lines.axes.get_ylim()
    (bar,) = side.collections
    np.testing.assert_allclose(bar.get_segments()[0][:, 1], [a.channels - 1,
                                                              a.channels - 1 + plot.ROW_FILL])
    peak_db = 20 * np.log10(a.electrodogram[channel, frame].max())
    assert [t.get_text() for t in side.get_yticklabels()] == [f"{peak_db:.0f} dB"]
    assert side.get_yticks()[0] == pytest.approx(a.channels - 1 + plot.ROW_FILL)


def test_level_scale_of_silence():
    a = cihear.analyze(np.zeros(4000, dtype=np.int16), 16000, n_on=4)
    lines = plot.electrodogram(a)
    assert len(lines.get_segments()) == a.selected.sum() > 0  # selected, all at level 0
    (side,) = lines.axes.child_axes
    assert len(side.get_yticks()) == 0 and "no stimulation" in side.texts[0].get_text()


@pytest.mark.parametrize("parameters,words", [
    ({"n_on": 8}, "12 electrodes, 8 stimulated per cycle, 1800 pulses/s each"),
    ({"n_inserted_ch": 6, "n_on": 4, "rate": 900.5},
     "12 electrodes, 6 inserted, 4 stimulated per cycle, 900.5 pulses/s each"),
    ({"n_chan_ci": 8, "n_inserted_ch": 8, "n_on": 8}, "8 electrodes, 8 stimulated per cycle"),
])
def test_summary_in_plain_words(parameters, words):
    x = speech_like(16000, 0.05, seed=1)
    assert plot.summary(cihear.analyze(x, 16000, **parameters)).startswith(words)


def test_spectrograms_and_bands(run, tmp_path):
    x, a = run
    fig = Figure(figsize=(8, 3), dpi=50)
    axes = fig.subplots(1, 2)
    drawn = plot.spectrograms(x, 16000, a, ax=axes)
    assert drawn["input"].axes is axes[0] and drawn["output"].axes is axes[1]
    for panel, mesh, bar in zip(axes, (drawn["input"], drawn["output"]), drawn["colorbars"]):
        assert bar.mappable is mesh and bar.ax in panel.child_axes
        assert bar.ax.get_ylabel() == "dB re full scale" and mesh.get_clim() == (-80, 0)
    assert axes[0].get_ylim()[1] == axes[1].get_ylim()[1] == cihear.OUTPUT_RATE / 2
    marked = np.sort(np.concatenate([s[:1, 1] for s in drawn["edges"][0].get_segments()]))
    np.testing.assert_allclose(marked, np.unique(np.r_[a.bands.low, a.bands.high]))
    r = cihear.report(freq_shift=True, n_inserted_ch=8, n_on=4)
    b = plot.bands(r)
    assert len(b["analysis"]) == len(b["synthesis"]) == 8 and len(b["shift"]) == 8
    fig.savefig(tmp_path / "s.png")
    b["shift"][0].figure.savefig(tmp_path / "b.png")
    assert (tmp_path / "s.png").read_bytes()[:4] == b"\x89PNG"


def test_bad_time_range(run):
    with pytest.raises(ValueError, match="empty"):
        plot.electrodogram(run[1], time_range=(0.2, 0.1))


@pytest.mark.parametrize("time_range,window_ms", [(None, 25), ((0.1, 0.15), 5),
                                                  ((0.2, 0.21), 2)])
def test_spectrogram_windows_follow_the_zoom(run, time_range, window_ms):
    x, a = run
    drawn = plot.spectrograms(x, 16000, a, time_range=time_range)
    start, stop = time_range or (0, len(x) / 16000)
    assert drawn["window_s"] * 1000 == pytest.approx(window_ms)
    unit = 1000  # both spans are under half a second
    for key in ("input", "output"):
        mesh = drawn[key]
        assert f"({window_ms:g} ms windows)" in mesh.axes.get_title()
        x_edges = mesh.get_coordinates()[0, :, 0] / unit
        inside = x_edges[(x_edges >= start) & (x_edges <= stop)]
        # The view is covered from end to end by columns far narrower than the view.
        assert x_edges[0] <= start + drawn["window_s"] and x_edges[-1] >= stop - drawn["window_s"]
        assert len(inside) >= 150


@pytest.mark.parametrize("dbfs", [0, -20])
def test_spectrogram_colours_are_db_re_full_scale(dbfs):
    fs = 16000
    t = np.arange(fs // 2) / fs
    amplitude = 10 ** (dbfs / 20) * 32768 * 0.98  # 0.18 dB below dbfs
    tone = np.round(amplitude * np.sin(2 * np.pi * 1000 * t)).astype(np.int16)
    a = cihear.analyze(tone, fs, n_on=4)
    for time_range in (None, (0.2, 0.25)):  # whatever the window, a tone's peak is its level
        drawn = plot.spectrograms(tone, fs, a, time_range=time_range)
        assert drawn["input"].get_array().max() == pytest.approx(dbfs, abs=0.5)
        # The colours start at the input's peak (here a multiple of 10 dB), in every view.
        assert drawn["input"].get_clim() == drawn["output"].get_clim() == (dbfs - 80, dbfs)
