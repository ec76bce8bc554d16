"""python3 -m cihear inspect -i INPUT -o FIGURE.png [options] [--csv FILE] [--audio FILE.wav]
[--from S --to S]

Simulates INPUT and draws one page: the input's spectrogram, the electrodogram, the output's
spectrogram and a line of the key parameters; --csv also writes the electrodogram, one row per
frame (its start time in seconds, then one level per channel, 0 where not selected); --audio
the simulated sound, the file the command line writes for the same input and settings.
"""

import os
import sys
import textwrap

import numpy as np

from ._params import real_from_text
from .cli_report import Parser, _argument, add_simulation_options, run, simulation_options


def _carrier(synchronization, parameters=None):
    if parameters is not None and parameters.get("carrier") == "sine":
        return ("sine carrier (zero start phases)" if parameters["sine_phase"] == "zero"
                else "sine carrier (random start phases)")
    if synchronization == 0:
        return "noise carrier"
    if synchronization == 1:
        return "pulse-train carrier"
    return f"carrier {1 - synchronization:g} noise + {synchronization:g} pulses"


def key_parameters(analysis, name):
    """One line: the input's name and the other settings a reader needs to read the figure
    (plot.summary gives the counts and the rate)."""
    from . import __version__

    from ._models import numbers

    p = analysis.parameters
    seed = "default seed" if analysis.seed is None else f"seed {analysis.seed}"
    if p["map"] != "none":
        layout = f"map {p['map']}, "
    elif p["band_edges"]:
        layout = "band edges given, "
    else:
        layout = "" if p["bands"] == "log" else f"{p['bands']} "
    off = analysis.off
    return (f"{name} · {layout}bands {analysis.bands.low[0]:.0f}–{analysis.bands.high[-1]:.0f} Hz"
            + (f" · electrode{'s' * (len(off) > 1)} {numbers(off)} off" if off else "")
            + f" · envelope {'Hilbert' if p['envelope_detection'] == 0 else 'rectified + low-pass'}"
            f" · current spread {p['interact_decay']:g} mm · {_carrier(p['synchronization'], p)}"
            + (f" · acoustic hearing (EAS) below {p['cutoff_freq']:g} Hz" if p["eas"] else "")
            + (" · frequency shift to the electrodes' places" if p["freq_shift"] else "")
            + f" · {seed} · cihear {__version__}")


def figure(signal, sample_rate, analysis, name, time_range, size_px, dpi=100):
    """The one-page figure (a matplotlib Figure, not registered with pyplot): plot.summary as
    its title, the other settings as its caption."""
    from matplotlib.figure import Figure

    from . import plot

    fig = Figure(figsize=(size_px[0] / dpi, size_px[1] / dpi), dpi=dpi, layout="constrained")
    top, middle, bottom = fig.subplots(3, 1, gridspec_kw={"height_ratios": [1, 1.4, 1]})
    plot.spectrograms(signal, sample_rate, analysis, ax=(top, bottom), time_range=time_range)
    plot.electrodogram(analysis, ax=middle, time_range=time_range)
    fig.suptitle(plot.summary(analysis), fontsize="x-large")
    caption = textwrap.fill(key_parameters(analysis, name), width=max(40, size_px[0] // 7))
    fig.supxlabel(caption, fontsize="medium")
    return fig


def write_csv(path, analysis, time_range):
    """The electrodogram's frames starting in time_range: time (s), then a level per channel
    (channel_1_300Hz; with electrodes switched off, channel_3_electrode_4_455Hz)."""
    start, stop = time_range
    keep = (analysis.frame_times >= start) & (analysis.frame_times < stop)
    numbered = bool(analysis.off)
    header = ",".join(["time_s"] + [
        f"channel_{i + 1}_" + (f"electrode_{e}_" if numbered else "") + f"{c:.0f}Hz"
        for i, (c, e) in enumerate(zip(analysis.bands.center, analysis.electrodes))])
    table = np.column_stack([analysis.frame_times[keep], analysis.electrodogram[:, keep].T])
    np.savetxt(path, table, delimiter=",", header=header, comments="",
               fmt=["%.10g"] + ["%.17g"] * analysis.channels)


def _size(text):
    try:
        w, h = (int(v) for v in text.lower().split("x"))
    except ValueError:
        raise ValueError(f"--size '{text}' is not WIDTHxHEIGHT in pixels") from None
    if not (200 <= w <= 10000 and 200 <= h <= 10000):
        raise ValueError(f"--size {text}: each side must be 200 to 10000 pixels")
    return w, h


def _distinct(paths):
    """Refuses two of the files named (option -> path) that are one file: writing the sound over
    the input or the figure over the sound would lose one of them."""
    seen = {}
    for option, path in paths.items():
        if path is None:
            continue
        real = os.path.realpath(path)
        if real in seen:
            raise ValueError(f"{option} {path} is the same file as {seen[real]}: "
                             "name another file")
        seen[real] = f"{option} {path}"


def main(argv=None):
    parser = Parser(prog="python3 -m cihear inspect",
                    description="Simulate INPUT and draw its spectrograms (input and output) "
                    "and its electrodogram on one page.")
    parser.add_argument("-i", "--input", required=True, help="input sound file (WAV, FLAC, ...; mono or stereo)")
    parser.add_argument("-o", "--output", required=True, help="figure file (PNG, PDF, SVG)")
    parser.add_argument("--csv", help="also write the electrodogram to this CSV file")
    parser.add_argument("--audio", metavar="FILE.wav",
                        help="also write the simulated sound to this WAV file (the bytes the "
                        "command line writes for the same input and settings)")
    parser.add_argument("--from", dest="start", type=_argument(real_from_text), default=None, metavar="S",
                        help="start of the time range shown, in seconds (default 0)")
    parser.add_argument("--to", dest="stop", type=_argument(real_from_text), default=None, metavar="S",
                        help="end of the time range shown, in seconds (default: the end)")
    parser.add_argument("--size", default="1400x1000",
                        help="figure size in pixels, WIDTHxHEIGHT (default 1400x1000)")
    add_simulation_options(parser)
    args = parser.parse_args(argv)
    parameters, seed = simulation_options(args)

    def body():
        from pathlib import Path

        from . import to_pcm16, write_wav16
        from ._analysis import analyze
        from ._io import read_signal

        size = _size(args.size)
        _distinct({"-i": args.input, "-o": args.output, "--csv": args.csv,
                   "--audio": args.audio})
        try:
            signal, rate = read_signal(args.input)
        except RuntimeError as e:  # libsndfile's refusal
            raise ValueError(f"could not read {args.input}: {str(e).split(': ')[-1]}") from None
        duration = len(signal) / rate
        start = 0.0 if args.start is None else args.start
        stop = duration if args.stop is None else args.stop
        if not (0 <= start < stop) or start >= duration:
            raise ValueError(f"--from {start:g} --to {stop:g}: the range must start at 0 s or "
                             f"later, before its end and before the input's end ({duration:g} s)")
        analysis = analyze(signal, rate, seed=seed, **parameters)
        fig = figure(signal, rate, analysis, Path(args.input).name, (start, stop), size)
        fig.savefig(args.output, dpi=100)
        if args.csv:
            write_csv(args.csv, analysis, (start, stop))
        if args.audio:
            # As simulate_file writes the command line's (peak-normalised) output.
            write_wav16(args.audio, to_pcm16(analysis.output))
        return 0

    return run(parser.prog, body)


if __name__ == "__main__":
    sys.exit(main())
