"""Pictures of a simulation: the electrodogram, input and output spectrograms, the bands.

Each function draws into the axes given (or a new figure's) and returns what it drew; none
shows a window, so they work in batch runs with matplotlib's Agg back end. matplotlib is
imported when a picture is drawn, so that `import cihear` does not need it.
"""

import numpy as np

# Height of the tallest stimulation line, in rows: lines never reach the next row.
ROW_FILL = 0.75


def time_unit(span_s):
    """("ms", 1000) for spans up to half a second, else ("s", 1): the scale of a time axis."""
    return ("ms", 1000.0) if span_s <= 0.5 else ("s", 1.0)


def _axes(ax, count=1, figsize=None, **shared):
    """`ax` itself, or the axes of a new Figure (not registered with pyplot, so nothing is kept
    between calls; save it with ax.figure.savefig)."""
    if ax is not None:
        return ax
    from matplotlib.figure import Figure

    return Figure(figsize=figsize, layout="constrained").subplots(1, count, **shared)


def _range(time_range, duration):
    start, stop = (0.0, duration) if time_range is None else map(float, time_range)
    if not stop > start:
        raise ValueError(f"time_range ({start:g}, {stop:g}) s is empty: the end must come "
                         "after the start")
    return start, stop


def channel_labels(bands):
    """'1 · 300 Hz'-style labels: the channel number (1 = lowest) and its centre frequency."""
    return [f"{i + 1} · {c:.0f} Hz" for i, c in enumerate(bands.center)]


def electrodogram(analysis, ax=None, time_range=None):
    """The electrodogram of an Analysis: one row per channel, lowest frequency at the bottom.

    Each selected (channel, frame) is a vertical line from the row's baseline at the frame's
    start, its height proportional to its level; the largest level in the picture (over all
    channels) fills ROW_FILL of a row. time_range=(start, stop) in seconds limits the frames drawn to
    those starting in [start, stop). Returns the LineCollection (one segment per line).
    """
    from matplotlib.collections import LineCollection

    ax = _axes(ax)
    duration = len(analysis.output) / analysis.sample_rate
    start, stop = _range(time_range, duration)
    unit, scale = time_unit(stop - start)
    times = analysis.frame_times
    in_range = (times >= start) & (times < stop)
    channel, frame = np.nonzero(analysis.selected & in_range[np.newaxis, :])
    levels = analysis.electrodogram[channel, frame]
    peak = np.abs(levels).max() if levels.size else 0.0
    heights = levels / peak * ROW_FILL if peak > 0 else np.zeros_like(levels)
    x = times[frame] * scale
    segments = np.stack([np.column_stack([x, channel]), np.column_stack([x, channel + heights])],
                        axis=1)
    lines = LineCollection(segments, colors="black", linewidths=0.6)
    ax.add_collection(lines)
    ax.set_xlim(start * scale, stop * scale)
    ax.set_ylim(-0.5, analysis.channels - 0.5 + ROW_FILL / 2)
    ax.set_yticks(np.arange(analysis.channels))
    ax.set_yticklabels(channel_labels(analysis.bands))
    ax.set_xlabel(f"time ({unit})")
    ax.set_ylabel("channel · centre frequency")
    ax.set_title("electrodogram: selected channels and their levels in each frame")
    return lines


def _mono(signal):
    x = np.asarray(signal)
    scale = 32768.0 if x.dtype == np.int16 else 1.0
    x = x.astype(np.float64) / scale
    if x.ndim == 2:
        x = x.mean(axis=1 if x.shape[1] == 2 else 0)
    return x


def _spectrogram(ax, x, fs, scale, top, vmax):
    from matplotlib import mlab

    nfft = 1 << max(6, int(round(np.log2(fs * 0.025))))  # about 25 ms
    if len(x) < nfft:
        x = np.pad(x, (0, nfft - len(x)))
    pxx, freqs, t = mlab.specgram(x, NFFT=nfft, Fs=fs, noverlap=nfft * 3 // 4)
    db = 10 * np.log10(pxx + 1e-20)
    keep = (freqs > 0) & (freqs <= top)
    vmax = db.max() if vmax is None else vmax
    mesh = ax.pcolormesh(t * scale, freqs[keep], db[keep], shading="auto", cmap="magma",
                         vmin=vmax - 80, vmax=vmax, rasterized=True)
    return mesh, vmax


def spectrograms(signal, sample_rate, analysis, ax=None, time_range=None):
    """The input's and the output's spectrograms on the same frequency axis, band edges marked.

    ax: a pair of axes (input, output), or None for a new figure with the two side by side.
    The input's panel marks the analysis band edges, the output's the synthesis band edges;
    both show, on a logarithmic axis, from below the lowest band edge to the Nyquist frequency
    of the output's rate, with the same colour scale (80 dB below the input's peak). Returns {"input": mesh, "output": mesh,
    "edges": [the edge lines]}.
    """
    axes = _axes(ax, 2, figsize=(11, 4), sharey=True)
    ax_in, ax_out = axes
    x = _mono(signal)
    start, stop = _range(time_range, len(x) / float(sample_rate))
    unit, scale = time_unit(stop - start)
    top = analysis.sample_rate / 2
    bottom = 0.7 * min(analysis.bands.low.min(), analysis.synthesis_bands.low.min(), 100.0)
    mesh_in, vmax = _spectrogram(ax_in, x, float(sample_rate), scale, top, None)
    mesh_out, _ = _spectrogram(ax_out, np.asarray(analysis.output, dtype=np.float64),
                               float(analysis.sample_rate), scale, top, vmax)
    edges = []
    for a, bands, title in ((ax_in, analysis.bands, "input, analysis bands"),
                            (ax_out, analysis.synthesis_bands, "output, synthesis bands")):
        marks = np.unique(np.concatenate([bands.low, bands.high]))
        edges.append(a.hlines(marks, start * scale, stop * scale, colors="white",
                              linewidths=0.5, alpha=0.6))
        a.set_xlim(start * scale, stop * scale)
        a.set_yscale("log")
        a.set_ylim(bottom, top)
        ticks = [f for f in (125, 250, 500, 1000, 2000, 4000, 8000) if bottom <= f <= top]
        a.set_yticks(ticks, [str(f) for f in ticks])
        a.minorticks_off()
        a.set_xlabel(f"time ({unit})")
        a.set_title(title)
    ax_in.set_ylabel("frequency (Hz)")
    return {"input": mesh_in, "output": mesh_out, "edges": edges}


def bands(report, ax=None):
    """Analysis against synthesis bands of a `cihear.report` dict: one row per channel.

    Each band is a bar over its nominal edges with a thin line over its measured -3 dB edges;
    a line joins each channel's analysis and synthesis centres, which shows a frequency shift.
    Returns {"analysis": bars, "synthesis": bars, "measured": [lines], "shift": lines}.
    """
    ax = _axes(ax, figsize=(8, 5))
    drawn = {"measured": []}
    offsets = {"analysis": -0.18, "synthesis": 0.18}
    colours = {"analysis": "tab:blue", "synthesis": "tab:orange"}
    centres = {}
    for side in ("analysis", "synthesis"):
        rows = report[side]["bands"]
        y = np.array([r["channel"] for r in rows]) + offsets[side]
        low = np.array([r["low"] for r in rows])
        high = np.array([r["high"] for r in rows])
        drawn[side] = ax.barh(y, high - low, left=low, height=0.3, color=colours[side],
                              alpha=0.7, label=f"{side} band (nominal)")
        drawn["measured"].append(ax.hlines(
            y, [r["measured_low"] for r in rows], [r["measured_high"] for r in rows],
            colors=colours[side], linewidths=1, label=f"{side} band (-3 dB, measured)"))
        centres[side] = (np.sqrt(low * high), y)
    (xa, ya), (xs, ys) = centres["analysis"], centres["synthesis"]
    drawn["shift"] = ax.plot(np.vstack([xa, xs]), np.vstack([ya, ys]), color="black",
                             linewidth=0.8)
    ax.set_xscale("log")
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel("channel (1 = lowest frequency)")
    ax.set_yticks([r["channel"] for r in report["analysis"]["bands"]])
    ax.legend(loc="upper left", fontsize="small")
    ax.set_title("analysis and synthesis bands")
    return drawn
