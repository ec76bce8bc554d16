"""Pictures of a simulation: the electrodogram, input and output spectrograms, the bands.

Each function draws into the axes given (or a new figure's) and returns what it drew; none
shows a window, so they work in batch runs with matplotlib's Agg back end. matplotlib is
imported when a picture is drawn, so that `import cihear` does not need it.
"""

import numpy as np

# Height of the tallest stimulation line, in rows: lines never reach the next row.
ROW_FILL = 0.75
# Said on every channel or electrode axis: manufacturers number electrodes in opposite
# directions.
CHANNEL_ORDER = "channel 1 = most apical (lowest band)"
ELECTRODE_ORDER = "1 = apical (lowest band)"
# The label of a switched-off electrode's (empty) row.
OFF_LABEL = "off"
# The band edges on the spectrograms: dashed cyan, which no colour of the map resembles.
EDGE_STYLE = {"colors": "cyan", "linewidths": 0.8, "linestyles": (0, (5, 3)), "alpha": 0.8}
# The depth of the spectrograms' colour range, in dB.
DB_RANGE = 80


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


def summary(analysis):
    """The simulation in a clinician's words: '12 electrodes, 8 stimulated per cycle, 1800
    pulses/s each' (with '22 electrodes, 12 inserted, ...' when not all are inserted)."""
    p = analysis.parameters
    electrodes = int(p["n_chan_ci"])
    count = analysis.electrode_count
    inserted = f", {count} inserted" if count != electrodes else ""
    off = analysis.off
    off = f", {len(off)} switched off" if off else ""
    return (f"{electrodes} electrodes{inserted}{off}, {int(p['n_on'])} stimulated per cycle, "
            f"{p['rate']:g} pulses/s each")


def _side_axes(ax):
    """A narrow axes just right of `ax`, as tall as it: for a colour bar or the level scale.
    Constrained layout makes room for it."""
    return ax.inset_axes([1.01, 0.0, 0.012, 1.0])


def channel_labels(bands):
    """'1 · 300 Hz'-style labels: the channel number (1 = lowest) and its centre frequency."""
    return [f"{i + 1} · {c:.0f} Hz" for i, c in enumerate(bands.center)]


def electrode_labels(analysis):
    """One label per electrode, 1 (the most apical) first: '4 · 455 Hz', the electrode's number
    and its channel's centre frequency, or '3 · off' for an electrode switched off."""
    labels = [f"{e} · {OFF_LABEL}" for e in range(1, analysis.electrode_count + 1)]
    for c, e in enumerate(analysis.electrodes):
        labels[e - 1] = f"{e} · {analysis.bands.center[c]:.0f} Hz"
    return labels


def electrodogram(analysis, ax=None, time_range=None):
    """The electrodogram of an Analysis: one row per electrode, electrode 1 (the most apical, the
    lowest band) at the bottom, labelled with its number and its channel's centre frequency; a
    switched-off electrode is an empty row labelled "off".

    Each selected (channel, frame) is a vertical line from its electrode row's baseline at the
    frame's start, its height proportional to its level; the largest level in the picture
    (over all channels) fills ROW_FILL of a row. time_range=(start, stop) in seconds limits the frames drawn to
    those starting in [start, stop). Beside the axes, a level scale (the axes' only child axes)
    shows the tallest line's height in dB re full scale. Returns the LineCollection (one
    segment per line).
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
    row = np.asarray(analysis.electrodes, dtype=np.float64)[channel] - 1
    segments = np.stack([np.column_stack([x, row]), np.column_stack([x, row + heights])], axis=1)
    lines = LineCollection(segments, colors="black", linewidths=0.6)
    ax.add_collection(lines)
    rows = analysis.electrode_count
    ax.set_xlim(start * scale, stop * scale)
    ax.set_ylim(-0.5, rows - 0.5 + ROW_FILL / 2)
    ax.set_yticks(np.arange(rows))
    ax.set_yticklabels(electrode_labels(analysis))
    for e in analysis.off:
        ax.get_yticklabels()[e - 1].set_color("0.45")
        ax.axhspan(e - 1.5 + ROW_FILL / 2, e - 0.5 + ROW_FILL / 2, color="0.93", zorder=0)
    ax.set_xlabel(f"time ({unit})")
    ax.set_ylabel(f"electrode · centre frequency\n{ELECTRODE_ORDER}")
    ax.set_title("electrodogram: one line per stimulation, its height the level")
    _level_scale(ax, rows - 1, peak)
    return lines


def _level_scale(ax, row, peak):
    """Beside `row` of an electrodogram, a bar as tall as its tallest line (level `peak`),
    marked with that level in dB re full scale."""
    side = _side_axes(ax)
    side.set_ylim(ax.get_ylim())
    side.set_xlim(0, 1)
    side.set_xticks([])
    for spine in side.spines.values():
        spine.set_visible(False)
    side.yaxis.tick_right()
    side.tick_params(axis="y", length=0)
    if peak > 0:
        side.vlines(0.5, row, row + ROW_FILL, colors="black", linewidths=3)
        side.set_yticks([row + ROW_FILL], [f"{20 * np.log10(peak):.0f} dB"], fontsize="small")
        note = "tallest line\nin view, dB\nre full scale;\nheight ∝ level"
    else:
        side.set_yticks([])
        note = "no stimulation\nin view"
    side.text(0.0, row - 0.25, note, fontsize="small", ha="left", va="top",
              transform=side.get_yaxis_transform())


def _mono(signal):
    x = np.asarray(signal)
    scale = 32768.0 if x.dtype == np.int16 else 1.0
    x = x.astype(np.float64) / scale
    if x.ndim == 2:
        x = x.mean(axis=1 if x.shape[1] == 2 else 0)
    return x


def _hz_ticks(axis, bottom, top):
    """Octave ticks labelled in plain Hz on a logarithmic frequency axis."""
    from matplotlib.ticker import NullLocator

    ticks = [f for f in (125, 250, 500, 1000, 2000, 4000, 8000, 16000) if bottom <= f <= top]
    axis.set_ticks(ticks, [str(f) for f in ticks])
    axis.set_minor_locator(NullLocator())


def spectrogram_window(span_s):
    """The spectrograms' window length in seconds for a view span_s seconds long: a tenth
    of the span, from 2 ms to 25 ms, so that a view of tens of milliseconds shows single
    periods and pulses rather than a few blocks."""
    return min(0.025, max(0.002, span_s / 10))


def _colour_top(x):
    """The top of the spectrograms' colour range, in dB re full scale: the input's peak sample
    rounded up to 10 dB (0 dB for a file peaking near full scale), the same for every view of
    it, so that a zoom keeps the colours and a quiet recording does not look empty."""
    peak = float(np.max(np.abs(x))) if len(x) else 0.0
    return 10.0 * np.ceil(2 * np.log10(peak)) if peak > 0 else 0.0


def _spectrogram(ax, x, fs, view, scale, top, colour_top):
    """The spectrogram of x (at fs Hz, full scale 1) over view=(start, stop) s, in dB re full
    scale: a full-scale tone's peak is 0 dB whatever the window. Returns the mesh."""
    from matplotlib import mlab

    start, stop = view
    nfft = max(16, int(round(fs * spectrogram_window(stop - start))))
    pad_to = max(nfft, 1 << int(np.ceil(np.log2(fs / 40))))  # bins of 40 Hz or finer
    first = max(0, int(start * fs) - nfft // 2)
    piece = x[first:int(np.ceil(stop * fs)) + nfft // 2]
    if len(piece) < nfft:
        piece = np.pad(piece, (0, nfft - len(piece)))
    # About 1500 columns whatever the span (so zooms stay smooth), the windows overlapping by at
    # least half (so every sample is seen, and long files stay at a few million cells).
    hop = int(np.clip(len(piece) // 1500, 1, max(1, nfft // 2)))
    pxx, freqs, t = mlab.specgram(piece, NFFT=nfft, Fs=fs, noverlap=nfft - hop, pad_to=pad_to)
    # The one-sided density specgram gives a unit tone at a bin's frequency, under its Hann window.
    w = mlab.window_hanning(np.ones(nfft))
    full_scale = w.sum() ** 2 / (2 * fs * (w ** 2).sum())
    keep = (freqs > 0) & (freqs <= top)
    db = 10 * np.log10(pxx[keep] / full_scale + 1e-20)
    return ax.pcolormesh((t + first / fs) * scale, freqs[keep], db, shading="auto",
                         cmap="magma", vmin=colour_top - DB_RANGE, vmax=colour_top,
                         rasterized=True)


def spectrograms(signal, sample_rate, analysis, ax=None, time_range=None):
    """The input's and the output's spectrograms on the same frequency axis, band edges marked.

    ax: a pair of axes (input, output), or None for a new figure with the two side by side.
    The input's panel marks the analysis band edges, the output's the synthesis band edges;
    both show, on a logarithmic axis, from below the lowest band edge to the Nyquist frequency
    of the output's rate. Both have the same colour scale in dB re full scale (a full-scale
    tone's peak is 0 dB), DB_RANGE dB deep from the input's peak rounded up to 10 dB, with a
    colour bar beside each. The windows follow
    the view's span (spectrogram_window). Returns {"input": mesh, "output": mesh,
    "colorbars": [input's, output's], "edges": [the edge lines], "window_s": seconds}.
    """
    axes = _axes(ax, 2, figsize=(14, 4.5), sharey=True)
    ax_in, ax_out = axes
    x = _mono(signal)
    start, stop = _range(time_range, len(x) / float(sample_rate))
    unit, scale = time_unit(stop - start)
    top = analysis.sample_rate / 2
    bottom = 0.7 * min(analysis.bands.low.min(), analysis.synthesis_bands.low.min(), 100.0)
    view = (start, stop)
    colour_top = _colour_top(x)
    mesh_in = _spectrogram(ax_in, x, float(sample_rate), view, scale, top, colour_top)
    mesh_out = _spectrogram(ax_out, np.asarray(analysis.output, dtype=np.float64),
                            float(analysis.sample_rate), view, scale, top, colour_top)
    window = spectrogram_window(stop - start)
    drawn = {"input": mesh_in, "output": mesh_out, "colorbars": [], "edges": [],
             "window_s": window}
    panels = ((ax_in, mesh_in, analysis.bands, "input", "analysis"),
              (ax_out, mesh_out, analysis.synthesis_bands, "output", "synthesis"))
    for a, mesh, bands, sound, kind in panels:
        marks = np.unique(np.concatenate([bands.low, bands.high]))
        drawn["edges"].append(a.hlines(marks, start * scale, stop * scale, **EDGE_STYLE))
        bar = a.figure.colorbar(mesh, cax=_side_axes(a))
        bar.set_label("dB re full scale", fontsize="small")
        drawn["colorbars"].append(bar)
        a.set_xlim(start * scale, stop * scale)
        a.set_yscale("log")
        a.set_ylim(bottom, top)
        _hz_ticks(a.yaxis, bottom, top)
        a.set_xlabel(f"time ({unit})")
        a.set_title(f"{sound}: spectrogram ({window * 1000:.3g} ms windows), "
                    f"{kind} band edges dashed")
    ax_in.set_ylabel("frequency (Hz)")
    return drawn


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
    _hz_ticks(ax.xaxis, *ax.get_xlim())
    ax.set_xlabel("frequency (Hz)")
    ax.set_ylabel(CHANNEL_ORDER)
    ax.set_yticks([r["channel"] for r in report["analysis"]["bands"]])
    ax.legend(loc="upper left", fontsize="small")
    ax.set_title("analysis and synthesis bands")
    return drawn
