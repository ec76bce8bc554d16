"""The methods-section report of a simulation: every effective value, read from the engine's design.

    cihear.report(n_on=4)          # a JSON-serialisable dict
    print(cihear.report_text(n_on=4))

Filter orders and cut-offs are read from the coefficients the engine uses, and each band is
given twice: nominal, and its -3 dB edges measured from the filter's frequency response.
"""

import math
import warnings

import numpy as np

from . import _core, _models
from ._analysis import Bands

# How the program writes its output; the binding returns the samples before this step.
OUTPUT_BIT_DEPTH = 16
OUTPUT_PEAK = 0.9999


def report(*, seed=None, **parameters):
    """Everything a methods section needs about a simulation with these parameters, as a dict.

    Takes the parameters of `cihear.simulate` and its `seed`. Settings that make a stimulus
    questionable are listed under "warnings" (and the parameter cascades are not issued as
    Python warnings here, but listed there too).
    """
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        design = _core.describe(**parameters)
    cascades = [str(w.message) for w in caught]
    return build(design, seed, cascades)


def build(design, seed=None, cascades=()):
    """The report of a design dict as `cihear._core.describe` returns it."""
    from . import PARAMETERS, __version__

    fs = float(_core.OUTPUT_RATE)
    s = dict(design["settings"])
    bands = Bands.from_dict(design["bands"])
    synthesis = Bands.from_dict(design["synthesis_bands"])
    measured = Bands.from_dict(design["measured_bands"])
    measured_synthesis = Bands.from_dict(design["measured_synthesis_bands"])
    n = len(bands.low)
    hilbert = s["envelope_detection"] == 0
    analysis_filter = design["analysis_filters"][0] if n else {"b": [], "a": []}
    factor = float(design["interaction_factor"])
    electrodes = {"count": int(design["electrode_count"]),
                  "active": [int(e) for e in design["electrodes"]],
                  "off": [int(e) for e in design["off"]], "numbering": _models.NUMBERING}
    allocation = _models.allocation(s, electrodes)
    # The engine's factor is exp(-spacing / interact_decay), the spacing being the array's
    # length over the gaps between the inserted electrodes (switched-off ones included: the
    # others keep their places). The spacing and the attenuation are taken from that
    # definition rather than from the factor, which is 0 (it underflows) for short length
    # constants.
    count = electrodes["count"]
    spacing = s["length_ci"] / (count - 1) if count > 1 and n > 1 else None
    synthesis_filter = design["synthesis_filters"][0] if n else {"b": [], "a": []}

    return {
        "software": {"name": "cihear", "version": __version__},
        "seed": seed,
        "parameters": {
            name: {"value": s[name], "unit": info["unit"], "meaning": info["summary"]}
            for name, info in parameter_table(PARAMETERS).items()
        },
        "processing_rate_hz": fs,
        "channels": {"implant": s["n_chan_ci"], "inserted": count, "active": n,
                     "selected_per_frame": s["n_on"]},
        "electrodes": electrodes,
        "analysis": {
            "filter": _filter_kind(analysis_filter),
            "spacing": allocation["description"],
            "layout": allocation["layout"],
            "map": allocation["map"],
            "map_source": allocation["source"],
            "low_hz": float(bands.low[0]) if n else None,
            "high_hz": float(bands.high[-1]) if n else None,
            "edges_hz": [float(e) for e in bands.low] + [float(bands.high[-1])] if n else [],
            "bands": band_table(bands, measured, electrodes["active"]),
        },
        "envelope": {
            "method": (
                "the magnitude of the analytic signal from the band's quadrature FIR pair "
                "(Hilbert)"
                if hilbert
                else "the full-wave rectified band, low-passed"
            ),
            "detector_low_pass": _low_pass(design["detector_low_pass"], fs),
            "smoothing": dict(
                _low_pass(design["smoothing"], fs),
                applied="before and after the selection",
            ),
            "compression": None,
        },
        "selection": {
            "strategy": "N of M",
            "n": s["n_on"],
            "m": n,
            "rate_pps_per_electrode": s["rate"],
            "frame_length_samples": fs / s["rate"],
            "frame_length_ms": 1000.0 / s["rate"],
            "level": "each channel's smoothed envelope at the frame's first sample, held",
        },
        "current_spread": {
            "factor_per_electrode_distance": factor,
            "length_constant_mm": s["interact_decay"],
            "electrode_spacing_mm": spacing,
            "attenuation_db_per_mm": (
                -20 / (math.log(10) * s["interact_decay"]) if spacing else None
            ),
            "weights": [float(w) for w in design["interaction_weights"]],
        },
        "carrier": _models.carrier(s, design, seed) or {
            "synchronization": s["synchronization"],
            "type": "Gaussian noise weighted 1 - synchronization plus a pulse train on the "
            "envelope's local maxima, at the noise's energy, weighted synchronization",
            "noise": "a new token for each channel, drawn in turn from one random sequence"
            + (f" seeded with {seed}" if seed is not None else " (the program's own)"),
        },
        "synthesis": {
            "filter": _filter_kind(synthesis_filter),
            "applied": "once, after the modulation",
            "frequency_shift": bool(s["freq_shift"]),
            "bands": band_table(synthesis, measured_synthesis, electrodes["active"]),
        },
        "eas": {
            "enabled": bool(s["eas"]),
            "crossover_hz": s["cutoff_freq"] if s["eas"] else None,
            "acoustic_low_pass": _low_pass(design["acoustic_low_pass"], fs),
        },
        "output": {
            "sample_rate_hz": fs,
            "bit_depth": OUTPUT_BIT_DEPTH,
            "normalisation": f"peak at {OUTPUT_PEAK} of full scale"
            + (", again after adding the acoustic part" if s["eas"] else ""),
        },
        "warnings": list(cascades) + questionable(bands, synthesis, measured,
                                                  measured_synthesis, s, fs)
        + broken_filters(design)
        + model_warnings(s, (bands, measured, analysis_filter),
                         (synthesis, measured_synthesis, synthesis_filter)),
    }


def parameter_table(parameters):
    """`cihear.PARAMETERS` as a dict by name, in its order (it may be a list of dicts)."""
    if isinstance(parameters, dict):
        return parameters
    return {p["name"]: p for p in parameters}


def band_table(nominal, measured, electrodes=None):
    """One row per channel (1 = lowest frequency): its electrode (1 = most apical; the channel
    number when `electrodes` is not given), the nominal band and the measured -3 dB one."""
    return [
        {
            "channel": i + 1,
            "electrode": electrodes[i] if electrodes else i + 1,
            **{k: float(v) for k, v in zip(nominal._fields, (a[i] for a in nominal))},
            **{"measured_" + k: float(v) for k, v in zip(measured._fields, (a[i] for a in measured))},
        }
        for i in range(len(nominal.low))
    ]


def questionable(bands, synthesis, measured, measured_synthesis, s, fs):
    """Sentences about settings that make a stimulus questionable."""
    found = []
    nyquist = fs / 2
    for name, nominal, actual in (("analysis", bands, measured),
                                  ("synthesis", synthesis, measured_synthesis)):
        reach = [i for i in range(len(nominal.high))
                 if nominal.high[i] >= nyquist or actual.high[i] >= nyquist]
        if reach:
            i = reach[-1]
            found.append(
                f"the {name} band of channel {i + 1} reaches the Nyquist frequency of the "
                f"{fs:g} Hz processing rate (nominal upper edge {nominal.high[i]:.0f} Hz, "
                f"measured {actual.high[i]:.0f} Hz): its upper part is aliased or cut off"
            )
    if s["freq_shift"]:
        octaves = np.log2(synthesis.center / bands.center)
        far = np.flatnonzero(np.abs(octaves) > 1)
        if far.size:
            i = far[np.argmax(np.abs(octaves[far]))]
            found.append(
                f"freq_shift moves {far.size} of {len(octaves)} bands by more than an octave "
                f"(channel {i + 1}: {bands.center[i]:.0f} Hz synthesised at "
                f"{synthesis.center[i]:.0f} Hz, {octaves[i]:+.2f} octaves)"
            )
    return found


def model_warnings(s, analysis, synthesis):
    """Sentences about the frequency allocation: bands narrower than the FIR filters resolve (on
    the analysis and the synthesis side, each given as (nominal, measured, first filter); said
    once when both sides have the same bands), and a map that only approximates a device's."""
    sides = [(what, nominal, measured, f) for what, (nominal, measured, f)
             in (("analysis", analysis), ("synthesis", synthesis))
             if len(f["b"]) and not len(f["a"])]  # an IIR band-pass passes its nominal band
    if len(sides) == 2 and all(np.array_equal(x, y) for x, y in zip(sides[0][1:3], sides[1][1:3])):
        sides = [("analysis and synthesis", *sides[0][1:])]
    found = [_models.unresolved(nominal, measured, len(f["b"]), what)
             for what, nominal, measured, f in sides]
    found.append(_models.approximation(s))
    return [text for text in found if text]


def broken_filters(design):
    """Sentences about filters whose coefficients are not finite numbers."""
    found = []
    for key, what in (("analysis_filters", "analysis"), ("synthesis_filters", "synthesis")):
        bad = [i + 1 for i, f in enumerate(design[key])
               if not (np.isfinite(f["b"]).all() and np.isfinite(f["a"]).all())]
        if bad:
            found.append(f"the {what} filter of channel(s) {', '.join(map(str, bad))} has "
                         "coefficients that are not finite numbers (an IIR band edge at the "
                         "Nyquist frequency): the output is not usable")
    for key, what in (("detector_low_pass", "envelope low-pass"), ("smoothing", "smoothing"),
                      ("acoustic_low_pass", "acoustic low-pass")):
        if not (np.isfinite(design[key]["b"]).all() and np.isfinite(design[key]["a"]).all()):
            found.append(f"the {what} filter has coefficients that are not finite numbers: the "
                         "output is not usable")
    return found


def _filter_kind(f, what="band-pass"):
    b, a = np.asarray(f["b"]), np.asarray(f["a"])
    if len(a) == 0:
        return {"type": f"FIR {what}", "design": "Hamming-windowed carrier at the band centre",
                "taps": len(b), "order": len(b) - 1, "phase": "linear, causal, not zero-phase"}
    return {"type": f"IIR Butterworth {what}", "order": len(a) - 1,
            "phase": "causal, not zero-phase"}


def _low_pass(f, fs):
    if len(f["a"]) == 0:
        return None
    return {"type": "IIR Butterworth low-pass", "order": len(f["a"]) - 1,
            "cutoff_hz": lowpass_cutoff(f, fs)}


def report_text(*, seed=None, **parameters):
    """The report as a paragraph, a channel table and any warnings, ready to paste."""
    return render(report(seed=seed, **parameters))


def response(f, freqs, fs):
    """|H| of the filter dict {b, a} at `freqs` Hz, for a sample rate of `fs` Hz."""
    z = np.exp(-2j * np.pi * np.asarray(freqs, dtype=float) / fs)
    h = np.polyval(np.asarray(f["b"], dtype=float)[::-1], z)
    a = np.asarray(f["a"], dtype=float)
    if len(a):
        a = a.copy()
        a[0] = 1.0
        h = h / np.polyval(a[::-1], z)
    return np.abs(h)


def lowpass_cutoff(f, fs):
    """The frequency (Hz) where a low-pass's response falls 3 dB below its value at 0 Hz."""
    level = response(f, [0.0], fs)[0] / math.sqrt(2)
    grid = np.linspace(0.0, fs / 2, 20001)
    below = np.flatnonzero(response(f, grid, fs) < level)
    if not below.size:
        return fs / 2
    lo, hi = grid[below[0] - 1], grid[below[0]]
    for _ in range(40):
        mid = (lo + hi) / 2
        lo, hi = (mid, hi) if response(f, [mid], fs)[0] >= level else (lo, mid)
    return lo


def render(r):
    """The text of a report dict: a paragraph, the channel table, the warnings."""
    return "\n".join([_paragraph(r), "", _table(r)] + (
        ["", "Warnings:"] + [f"- {w}" for w in r["warnings"]] if r["warnings"] else []))


def _hz(v):
    return f"{v:.0f} Hz"


def _paragraph(r):
    p = {k: v["value"] for k, v in r["parameters"].items()}
    a, e, sel, cs = r["analysis"], r["envelope"], r["selection"], r["current_spread"]
    syn, eas, out = r["synthesis"], r["eas"], r["output"]
    af = a["filter"]
    seed = "its default random sequence" if r["seed"] is None else f"seed {r['seed']}"
    electrodes = r["electrodes"]
    per = "electrode" if not electrodes["off"] else "active electrode"
    text = [
        f"Stimuli were processed with cihear {r['software']['version']} ({seed}) at "
        f"{r['processing_rate_hz']:g} Hz.",
        f"The implant had {r['channels']['implant']} electrodes on a {p['length_ci']:g} mm "
        f"array, {r['channels']['inserted']} of them inserted, one analysis channel per {per}; "
        f"the channels covered {_hz(a['low_hz'])} to {_hz(a['high_hz'])} with {a['spacing']}"
        + (f" (the range below {_hz(eas['crossover_hz'])} went to the hearing aid)"
           if eas["enabled"] else "") + ".",
        f"{_models.NUMBERING[0].upper()}{_models.NUMBERING[1:]}"
        + (f" (channel 1 on electrode {electrodes['active'][0]})"
           if electrodes["active"] and electrodes["active"][0] != 1 else "") + ".",
        f"The nominal band edges were {_models.numbers([round(e) for e in a['edges_hz']], 'Hz')}"
        "; the bands measured at -3 dB from the analysis filters' responses were "
        + ", ".join(f"{b['measured_low']:.0f}-{b['measured_high']:.0f}" for b in a["bands"])
        + " Hz.",
    ]
    if "taps" in af:
        text.append(f"Each band was filtered by a {af['taps']}-tap {af['type']} "
                    f"({af['design']}; {af['phase']}).")
    else:
        text.append(f"Each band was filtered by an order-{af['order']} {af['type']} "
                    f"({af['phase']}).")
    text.append(f"The envelope was {e['method']}" + (
        f" (order {e['detector_low_pass']['order']}, -3 dB at "
        f"{_hz(e['detector_low_pass']['cutoff_hz'])})" if e["detector_low_pass"] else "")
        + f", smoothed {e['smoothing']['applied']} by an order-{e['smoothing']['order']} "
        f"Butterworth low-pass at {_hz(e['smoothing']['cutoff_hz'])}; no compression, "
        "quantisation or threshold.")
    text.append(
        f"In each stimulation frame of {sel['frame_length_ms']:.3g} ms ({sel['rate_pps_per_electrode']:g} "
        f"pulses per second per electrode) the {sel['n']} largest of the {sel['m']} channel "
        f"envelopes were kept (N of M: {sel['n']} of {sel['m']}), the others set to zero, and "
        "each level held over the frame.")
    if cs["electrode_spacing_mm"] and not cs["factor_per_electrode_distance"]:
        text.append(
            f"Current spread was negligible: with a length constant of "
            f"{cs['length_constant_mm']:g} mm and an electrode spacing of "
            f"{cs['electrode_spacing_mm']:.3g} mm ({cs['attenuation_db_per_mm']:.4g} dB/mm), "
            "the weight of a neighbouring channel is below the smallest number the simulation "
            "represents, so each channel kept its own envelope alone.")
    elif cs["electrode_spacing_mm"]:
        text.append(
            f"Current spread mixed every channel with its neighbours, weighted by "
            f"{cs['factor_per_electrode_distance']:.4g} per electrode distance "
            f"(electrode spacing {cs['electrode_spacing_mm']:.3g} mm, length constant "
            f"{cs['length_constant_mm']:g} mm, {cs['attenuation_db_per_mm']:.2f} dB/mm).")
    c = r["carrier"]
    if "tones_hz" in c:
        carrier = (f"Each envelope modulated a carrier: {c['type']}, at "
                   f"{_models.numbers([round(f) for f in c['tones_hz']], 'Hz')}; the start "
                   f"phases were {c['start_phases']}.")
    else:
        carrier = (f"Each envelope modulated a carrier: {c['type']} (synchronization "
                   f"{c['synchronization']:g}); the noise was {c['noise']}.")
    text.append(
        carrier + f" Each modulated carrier was "
        f"filtered by the {syn['filter']['taps']}-tap FIR band-pass of its synthesis band ("
        + ("the band at its electrode's place frequency, frequency shift"
           if syn["frequency_shift"] else "equal to its analysis band")
        + f"), {syn['applied']}; the channels were then summed.")
    if eas["enabled"]:
        lp = eas["acoustic_low_pass"]
        text.append(f"Electro-acoustic stimulation: the input low-passed by an order-"
                    f"{lp['order']} Butterworth filter (-3 dB at {_hz(lp['cutoff_hz'])}) was "
                    "added to the implant part.")
    text.append(f"The output was {out['bit_depth']}-bit at {out['sample_rate_hz']:g} Hz, "
                f"{out['normalisation']}.")
    return _wrap(" ".join(text))


def _wrap(text, width=96):
    import textwrap

    return textwrap.fill(text, width)


def _table(r):
    numbered = bool(r["electrodes"]["off"])  # the electrodes differ from the channels
    rows = [("channel",) + (("electrode",) if numbered else ()) + (
        "analysis (Hz)", "analysis -3 dB (Hz)", "synthesis (Hz)", "synthesis -3 dB (Hz)")]
    for a, s in zip(r["analysis"]["bands"], r["synthesis"]["bands"]):
        rows.append((str(a["channel"]),) + ((str(a["electrode"]),) if numbered else ()) + (
            f"{a['low']:.0f}-{a['high']:.0f}", f"{a['measured_low']:.0f}-{a['measured_high']:.0f}",
            f"{s['low']:.0f}-{s['high']:.0f}", f"{s['measured_low']:.0f}-{s['measured_high']:.0f}",
        ))
    widths = [max(len(row[k]) for row in rows) for k in range(len(rows[0]))]
    lines = ["  ".join(c.rjust(w) for c, w in zip(row, widths)) for row in rows]
    off = r["electrodes"]["off"]
    note = (f"{_models.NUMBERING[0].upper()}{_models.NUMBERING[1:]}."
            + (f" Electrode{'s' * (len(off) > 1)} {_models.numbers(off)} "
               f"{'are' if len(off) > 1 else 'is'} switched off and "
               f"{'have' if len(off) > 1 else 'has'} no channel." if off else "")
            + "\nThe -3 dB edges are measured from the frequency responses of the filters used.")
    return "\n".join(lines + [note])
