"""report(): the band tables from the analysis, measured edges, warnings, JSON and text."""
import json
import re
import subprocess
import sys

import numpy as np
import pytest

import cihear
from cihear import _core
from conftest import speech_like

FS = cihear.OUTPUT_RATE
SETTINGS = [{}, {"n_inserted_ch": 8, "n_on": 8, "freq_shift": True, "f_max": 7000},
            {"envelope_detection": 1, "eas": True, "cutoff_freq": 1000, "n_on": 4}]


@pytest.mark.parametrize("parameters", SETTINGS)
def test_band_tables_are_the_analysis_bands(parameters):
    r = cihear.report(**parameters)
    a = cihear.analyze(speech_like(20000, 0.05, seed=1), 20000, **parameters)
    for side, bands, measured in (("analysis", a.bands, a.measured_bands),
                                  ("synthesis", a.synthesis_bands, a.measured_synthesis_bands)):
        rows = r[side]["bands"]
        assert [row["channel"] for row in rows] == list(range(1, a.channels + 1))
        for k in ("low", "high", "center", "bandwidth"):
            np.testing.assert_array_equal([row[k] for row in rows], getattr(bands, k))
            np.testing.assert_array_equal([row["measured_" + k] for row in rows],
                                          getattr(measured, k))
    assert {k: v["value"] for k, v in r["parameters"].items()} == a.parameters


def fft_band(f, n=1 << 17):
    """-3 dB edges around the peak of |B/A| from zero-padded FFTs (resolution fs / n)."""
    h = np.abs(np.fft.rfft(f["b"], n))
    if len(f["a"]):
        a = np.array(f["a"], dtype=float)
        a[0] = 1.0
        h = h / np.abs(np.fft.rfft(a, n))
    peak = np.argmax(h)
    inside = h >= h[peak] / np.sqrt(2)
    low = peak
    while low > 0 and inside[low - 1]:
        low -= 1
    high = peak
    while high < len(h) - 1 and inside[high + 1]:
        high += 1
    return low * FS / n, high * FS / n


@pytest.mark.parametrize("parameters", [{}, {"envelope_detection": 1, "n_inserted_ch": 5, "n_on": 5},
                                        {"freq_shift": True, "n_chan_ci": 20, "n_inserted_ch": 16}])
def test_measured_edges_match_an_fft_of_the_coefficients(parameters):
    d = _core.describe(**parameters)
    r = cihear.report(**parameters)
    step = FS / (1 << 17)
    for key, side in (("analysis_filters", "analysis"), ("synthesis_filters", "synthesis")):
        for f, row in zip(d[key], r[side]["bands"]):
            low, high = fft_band(f)
            assert abs(row["measured_low"] - low) <= step
            assert abs(row["measured_high"] - high) <= step
    # The 100-tap filters pass far more than the narrow low bands.
    first = r["analysis"]["bands"][0]
    if parameters == {}:
        assert first["measured_low"] < 0.8 * first["low"] and first["measured_high"] > 1.1 * first["high"]


@pytest.mark.parametrize("rate", [900, 1800, 5000])
def test_low_pass_cutoffs_are_measured(rate):
    r = cihear.report(rate=rate, envelope_detection=1, eas=True, cutoff_freq=1500)
    assert r["envelope"]["smoothing"]["cutoff_hz"] == pytest.approx(rate / 2.4, abs=0.5)
    assert r["eas"]["acoustic_low_pass"]["cutoff_hz"] == pytest.approx(1500, abs=0.5)
    assert r["envelope"]["detector_low_pass"]["order"] == 2
    assert r["selection"]["frame_length_ms"] == pytest.approx(1000 / rate)


def test_warnings():
    # At the defaults the only warning is that the 100-tap filters pass the three lowest bands
    # (96 to 168 Hz wide) at about 260 Hz (see test_models for the criterion).
    (default,) = cihear.report()["warnings"]
    assert default.startswith("3 analysis and synthesis bands are narrower than the 100-tap")
    nyquist = cihear.report(f_max=10000)["warnings"]
    assert any("channel 12" in w and "Nyquist" in w for w in nyquist)
    shifted = cihear.report(freq_shift=True, n_inserted_ch=6)["warnings"]
    assert any("more than an octave" in w for w in shifted)
    assert not any("octave" in w for w in cihear.report(freq_shift=True)["warnings"])
    capped = cihear.report(n_chan_ci=8)["warnings"]
    assert "n_on changed to n_chan_ci = 8" in capped
    assert "n_inserted_ch changed to n_chan_ci = 8" in capped
    # A band reaching the Nyquist frequency is filtered by a high-pass, never by NaN coefficients.
    top = cihear.report(f_max=10000, envelope_detection=1)
    assert not any("not finite" in w for w in top["warnings"])


def test_json_and_text():
    r = cihear.report(seed=42, n_on=6, interact_decay=1.5)
    back = json.loads(json.dumps(r))
    names = [p["name"] for p in cihear.PARAMETERS]
    assert list(back["parameters"]) == names
    assert [back["parameters"][p["name"]]["unit"] for p in cihear.PARAMETERS] == \
        [p["unit"] for p in cihear.PARAMETERS]
    assert back["seed"] == 42 and back["software"]["version"] == cihear.__version__
    spread = back["current_spread"]
    assert spread["factor_per_electrode_distance"] == pytest.approx(
        np.exp(-spread["electrode_spacing_mm"] / 1.5))
    text = cihear.report_text(seed=42, n_on=6, interact_decay=1.5)
    assert "6 of 12" in text and "seed 42" in text
    table = [line for line in text.splitlines() if re.match(r"\s+\d+\s+\d+-\d+\s", line)]
    assert len(table) == 12


def range_ends():
    for p in cihear.PARAMETERS:
        if p["kind"] in ("choice", "list"):
            continue  # names and lists: test_models
        for end in ("min", "max"):
            value = {"switch": bool, "count": int, "real": float}[p["kind"]](p[end])
            yield pytest.param(p["name"], value, id=f"{p['name']}={value:g}")


@pytest.mark.parametrize("name, value", range_ends())
def test_a_report_for_each_parameter_at_each_end_of_its_range(name, value):
    r = cihear.report(**{name: value})
    json.dumps(r, allow_nan=False)  # every number finite
    assert r["parameters"][name]["value"] == value or r["warnings"]  # taken, or a cascade said
    spread = r["current_spread"]
    if r["channels"]["inserted"] > 1:
        # The spacing and attenuation agree with the engine's factor wherever it is
        # representable, and stay finite where it underflows to 0.
        decay = r["parameters"]["interact_decay"]["value"]
        factor = spread["factor_per_electrode_distance"]
        assert factor == pytest.approx(np.exp(-spread["electrode_spacing_mm"] / decay),
                                       rel=1e-12, abs=1e-300)
        db_per_neighbour = spread["attenuation_db_per_mm"] * spread["electrode_spacing_mm"]
        if factor > 0:
            assert db_per_neighbour == pytest.approx(20 * np.log10(factor), rel=1e-9)
        else:  # below the smallest double
            assert db_per_neighbour < 20 * np.log10(np.nextafter(0, 1))
    text = cihear.report_text(**{name: value})
    assert ("Current spread" in text) == (r["channels"]["inserted"] > 1)


def test_report_command_at_a_short_length_constant():
    done = subprocess.run([sys.executable, "-m", "cihear", "report", "--interact_decay", "0.001"],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert "Current spread was negligible" in done.stdout
    assert f"{-20 * np.log10(np.e) / 0.001:.4g} dB/mm" in done.stdout  # 20 log10(e^(-1/d))
