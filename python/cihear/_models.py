"""The implant models in words: the band layout or device map and its source, the electrodes
switched off, the carrier; and the warnings about them, for the report and the batch runner.

The values come from the engine (the effective settings, the design, cihear._core.MAPS); only
the wording is here.
"""

import numpy as np

# How each layout divides the range, for a methods section.
LAYOUTS = {
    "log": "contiguous bands of equal width on a logarithmic frequency axis",
    "greenwood": "contiguous bands of equal width in cochlear place by Greenwood's human map, "
                 "F = 165.4 (10^(2.1 x) - 0.88) Hz with x the relative distance from the apex "
                 "(Greenwood 1990)",
    "linear": "contiguous bands of equal width in Hz",
    "erb": "contiguous bands of equal width on the ERB-number scale, 21.4 log10(1 + 0.00437 f) "
           "(Glasberg and Moore 1990)",
}

# Said wherever channels or electrodes are numbered: manufacturers number them both ways.
NUMBERING = "channel 1 is the lowest band, on the most apical electrode; electrodes are " \
            "numbered from 1 at the apex"

# A band is taken as unresolved when its filter's measured -3 dB width exceeds its nominal
# width by more than this factor: its envelope then follows a band half as wide again as the
# table says, overlapping a quarter of each neighbour's.
UNRESOLVED_FACTOR = 1.5


def maps():
    """The device maps the engine knows: {name: {"edges", "channels", "source"}}."""
    from . import _core

    return _core.MAPS


def numbers(values, unit=""):
    """'3 and 7', '1, 2 and 5' (whole numbers without a point), with a unit after the last."""
    words = [f"{v:g}" for v in values]
    text = words[0] if len(words) == 1 else ", ".join(words[:-1]) + " and " + words[-1]
    return text + (f" {unit}" if unit else "")


def allocation(s, electrodes):
    """The frequency allocation of effective settings `s`: what set the edges, its source and a
    sentence describing it. `electrodes` is the design's {"count", "active", "off"}."""
    names = maps()
    if s["map"] != "none":
        m = names[s["map"]]
        layout, source = "map", m["source"]
        text = f"the band edges of the {s['map']} map ({m['channels']} channels), {source}"
    elif s["band_edges"]:
        layout, source = "band_edges", None
        text = "contiguous bands between the band edges given"
    else:
        layout, source = s["bands"], None
        text = LAYOUTS[s["bands"]]
    off = electrodes["off"]
    if off:
        active = len(electrodes["active"])
        text += (f", reallocated over the {active} active electrode{'s' * (active != 1)} "
                 f"with the same layout (electrode{'s' * (len(off) > 1)} {numbers(off)} "
                 "switched off; the others kept their places on the array)")
    return {"layout": layout, "map": None if s["map"] == "none" else s["map"],
            "source": source, "description": text}


def unresolved(nominal, measured, taps, what):
    """A sentence about the bands whose measured -3 dB width is more than UNRESOLVED_FACTOR
    times their nominal width (None when there are none): `taps`-tap filters cannot make a band
    that narrow."""
    width = np.asarray(nominal.high) - np.asarray(nominal.low)
    actual = np.asarray(measured.high) - np.asarray(measured.low)
    wide = np.flatnonzero(actual > UNRESOLVED_FACTOR * width)
    if not wide.size:
        return None
    listed = "; ".join(f"{i + 1}: {width[i]:.0f} Hz nominal, {actual[i]:.0f} Hz measured"
                       for i in wide)
    plural = wide.size > 1
    return (f"{wide.size} {what} band{'s' * plural} {'are' if plural else 'is'} narrower than "
            f"the {taps}-tap filters can resolve: the measured -3 dB width is more than "
            f"{UNRESOLVED_FACTOR:g} times the nominal one (channel {listed}); "
            f"{'their envelopes follow' if plural else 'its envelope follows'} the wider "
            "measured band (see the table)")


def approximation(s):
    """A sentence when the map is only an approximation of a device's table, else None."""
    if s["map"] == "medel12":
        return f"map medel12 is {maps()['medel12']['source']}"
    return None


def carrier(s, design, seed):
    """The carrier as a report gives it: its type, frequencies and phases."""
    if s["carrier"] != "sine":
        return None
    tones = [float(f) for f in design["tones"]]
    if s["sine_phase"] == "zero":
        phases = "zero for every channel"
    else:
        phases = ("drawn per channel, uniformly over [0, 2 pi), from "
                  + (f"seed {seed}" if seed is not None else "the program's default seed")
                  + " and the channel's number")
    return {
        "type": "a sine tone per channel at the geometric centre of its synthesis band (the "
                "middle of the band on the cochlea's logarithmic frequency axis), from a "
                "recurrence oscillator",
        "tones_hz": tones,
        "start_phases": phases,
    }


def active_channels(settings):
    """The channels an effective setting simulates: the inserted electrodes not switched off."""
    return int(settings["n_inserted_ch"]) - len(settings["off"] or [])


def map_label(settings):
    """How a comparison names the frequency allocation of effective settings."""
    if settings["map"] != "none":
        return settings["map"]
    if settings["band_edges"]:
        edges = settings["band_edges"]
        return f"band_edges {edges[0]:g}-{edges[-1]:g} Hz"
    return f"bands {settings['bands']}"


# What a frequency allocation sets: conditions that differ only in these compare allocations.
ALLOCATION = ("map", "band_edges", "bands", "n_chan_ci", "n_inserted_ch", "n_on", "f_min",
              "f_max")


def compared_maps(conditions):
    """A sentence when conditions (effective settings dicts) that differ only in their
    frequency allocation (map, band edges or layout, and what these set) simulate different
    channel counts, so that a difference between them is not the allocation's alone; else
    None."""
    groups = {}
    for s in conditions:
        rest = tuple((k, tuple(v) if isinstance(v, list) else v) for k, v in s.items()
                     if k not in ALLOCATION)
        groups.setdefault(rest, {})[map_label(s)] = active_channels(s)
    for counts in groups.values():
        if len(counts) > 1 and len(set(counts.values())) > 1:
            listed = ", ".join(f"{label} {n} channels" for label, n in counts.items())
            return (f"the frequency maps compared have different channel counts ({listed}): "
                    "a difference between them is that of the channel count as well as of "
                    "the frequency allocation")
    return None
