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


def test_spectrograms_and_bands(run, tmp_path):
    x, a = run
    fig = Figure(figsize=(8, 3), dpi=50)
    axes = fig.subplots(1, 2)
    drawn = plot.spectrograms(x, 16000, a, ax=axes)
    assert drawn["input"].axes is axes[0] and drawn["output"].axes is axes[1]
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
