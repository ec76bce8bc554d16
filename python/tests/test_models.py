"""The implant models from Python: keywords of every accepted form, refusals in the library's
words, effective settings as names and lists, the report's allocation, electrodes and carrier,
its warnings, the electrodogram's rows per electrode, the batch runner's lists and the live
program's options."""
import json
import os
import subprocess
import sys
import warnings
from pathlib import Path

import matplotlib

matplotlib.use("Agg")

import numpy as np  # noqa: E402
import pytest  # noqa: E402

import cihear  # noqa: E402
from cihear import _core, _jobs, _models, plot  # noqa: E402
from conftest import speech_like  # noqa: E402

X = speech_like(20000, 0.3, seed=4)
NUCLEUS22 = [188, 313, 438, 563, 688, 813, 938, 1063, 1188, 1313, 1563, 1813, 2063, 2313, 2688,
             3063, 3563, 4063, 4688, 5313, 6063, 6938, 7938]
AB16 = [250, 416, 494, 587, 697, 828, 983, 1168, 1387, 1648, 1958, 2326, 2762, 3281, 3898, 4630,
        8700]


def quiet(f, *args, **kwargs):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", cihear.CascadeWarning)
        return f(*args, **kwargs)


def test_signature_defaults_and_maps():
    import inspect

    p = inspect.signature(cihear.simulate).parameters
    assert [p[n].default for n in ("bands", "band_edges", "map", "off", "carrier", "sine_phase")] \
        == ["log", None, "none", None, "pulse-noise", "random"]
    assert "map : str, default 'none'" in cihear.simulate.__doc__
    assert _core.MAPS["nucleus22"]["edges"] == NUCLEUS22 and _core.MAPS["ab16"]["edges"] == AB16
    assert "approximation" in _core.MAPS["medel12"]["source"]
    assert set(_core.MAPS) == {"nucleus22", "ab16", "medel12"}


@pytest.mark.parametrize("forms", [
    [{"off": 3}, {"off": [3]}, {"off": (3.0,)}, {"off": np.array([3])}, {"off": np.int64(3)}],
    [{"band_edges": [300, 900, 2700, 8100]}, {"band_edges": np.array([300.0, 900, 2700, 8100])},
     {"band_edges": (300, 900.0, 2700, 8100)}],
    [{}, {"off": None}, {"off": []}, {"band_edges": None}, {"map": "none", "bands": "log"}],
])
def test_every_form_of_a_value_gives_the_same_output(forms):
    outputs = [quiet(cihear.simulate, X, 20000, **f) for f in forms]
    for y in outputs[1:]:
        np.testing.assert_array_equal(y, outputs[0])


@pytest.mark.parametrize("parameters, error, words", [
    ({"map": "nucleus24"}, ValueError, "map = 'nucleus24' is unknown; accepted: one of none, "),
    ({"bands": "Log"}, ValueError, "bands = 'Log' is unknown"),
    ({"bands": 1}, TypeError, "bands must be a name (one of log, greenwood, linear, erb)"),
    ({"carrier": True}, TypeError, "carrier must be a name"),
    ({"off": "3,7"}, TypeError, "off must be a number or a sequence of numbers"),
    ({"off": [3, True]}, TypeError, "item 1 of off must be a number, not a bool"),
    ({"off": [[3, 7]]}, TypeError, "item 0 of off must be a number"),
    ({"off": np.zeros((2, 2))}, TypeError, "not an array of 2 dimensions"),
    ({"off": 13}, ValueError, "off = 13 is not an inserted electrode"),
    ({"off": [2.5]}, ValueError, "off = 2.5 is not an electrode number"),
    ({"off": [4, 4]}, ValueError, "off lists electrode 4 twice"),
    ({"off": list(range(1, 13))}, ValueError, "off switches off every electrode"),
    ({"band_edges": [300, 200, 400]}, ValueError, "band_edges must increase: 200 follows 300"),
    ({"band_edges": [300, float("nan")]}, ValueError, "band_edges = [300,nan]"),
    ({"map": "ab16", "band_edges": [300, 900]}, ValueError, "give map or band_edges, not both"),
])
def test_bad_values_are_one_clear_error(parameters, error, words):
    for call in (lambda: cihear.simulate(X, 20000, **parameters),
                 lambda: cihear.report(**parameters), lambda: cihear.Stream(**parameters)):
        with pytest.raises(error) as caught:
            call()
        assert words in str(caught.value) and "\n" not in str(caught.value)


def test_effective_settings_are_names_and_lists():
    r = quiet(cihear.report, map="nucleus22", off=[7, 3], carrier="sine")
    values = {k: v["value"] for k, v in r["parameters"].items()}
    assert values["map"] == "nucleus22" and values["band_edges"] == NUCLEUS22
    assert values["off"] == [7, 3] and values["carrier"] == "sine" and values["bands"] == "log"
    json.dumps(r, allow_nan=False)  # no NaN for a list, no index for a name
    stream = quiet(cihear.Stream, map="ab16", sine_phase="zero")
    assert stream.settings["map"] == "ab16" and stream.settings["band_edges"] == AB16
    assert stream.settings["sine_phase"] == "zero"
    a = quiet(cihear.analyze, X, 20000, map="nucleus22", off=[7, 3])
    assert a.electrodes == [e for e in range(1, 23) if e not in (3, 7)] and a.off == [3, 7]
    assert a.channels == 20 and a.electrode_count == 22


def test_stream_with_models_is_the_live_simulation():
    parameters = {"bands": "erb", "off": [2], "carrier": "sine", "n_on": 6}
    stream = cihear.Stream(seed=5, **parameters)
    x = _core.mono(X)
    y = np.concatenate([stream.process(x[:1234]), stream.process(x[1234:]), stream.flush()])
    np.testing.assert_array_equal(y, cihear.simulate(X, 20000, seed=5, live=True, **parameters))


@pytest.mark.parametrize("edges", [[250.0, 500, 1000.5, 2000, 4000, 7000], [100.0, 8000],
                                   list(np.geomspace(150, 9000, 23))])
def test_band_edges_round_trip_through_the_report(edges):
    r = quiet(cihear.report, band_edges=edges)
    assert r["analysis"]["edges_hz"] == edges
    assert r["parameters"]["band_edges"]["value"] == edges
    assert r["analysis"]["layout"] == "band_edges"
    # ... and through the report's JSON and command line, written as the command line takes it.
    text = ",".join(repr(e) for e in json.loads(json.dumps(r))["parameters"]["band_edges"]["value"])
    done = subprocess.run([sys.executable, "-m", "cihear", "report", "--band_edges", text,
                           "--json"], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout)["analysis"]["edges_hz"] == edges


def test_report_names_the_map_the_electrodes_and_the_carrier():
    r = quiet(cihear.report, map="nucleus22", off=[3, 7], carrier="sine", seed=9)
    assert r["analysis"]["map"] == "nucleus22"
    assert r["analysis"]["map_source"] == _core.MAPS["nucleus22"]["source"]
    assert r["electrodes"]["off"] == [3, 7] and len(r["electrodes"]["active"]) == 20
    assert [b["electrode"] for b in r["analysis"]["bands"]][:4] == [1, 2, 4, 5]
    # The spacing between electrodes counts the switched-off ones: they keep their places.
    assert r["current_spread"]["electrode_spacing_mm"] == pytest.approx(30 / 21)
    tones = r["carrier"]["tones_hz"]
    synthesis = r["synthesis"]["bands"]
    np.testing.assert_allclose(tones, [np.sqrt(b["low"] * b["high"]) for b in synthesis])
    text = quiet(cihear.report_text, map="nucleus22", off=[3, 7], carrier="sine", seed=9)
    flat = " ".join(text.split())
    for words in ("the band edges of the nucleus22 map (22 channels), the default frequency "
                  "allocation table of 22-electrode Nucleus implants",
                  "electrodes 3 and 7 switched off",
                  "Channel 1 is the lowest band, on the most apical electrode",
                  "The nominal band edges were 188, 324,", "the bands measured at -3 dB",
                  "a sine tone per channel at the geometric centre", "from seed 9",
                  "Electrodes 3 and 7 are switched off and have no channel"):
        assert words in flat, words
    zero = quiet(cihear.report, carrier="sine", sine_phase="zero")["carrier"]["start_phases"]
    assert zero == "zero for every channel"
    def header(text):
        return next(line for line in text.splitlines() if line.startswith("channel"))

    assert header(text).split()[:2] == ["channel", "electrode"]
    assert "electrode" not in header(cihear.report_text())  # no column when none is off


def widths(side):
    return np.array([[b["high"] - b["low"], b["measured_high"] - b["measured_low"]]
                     for b in side["bands"]])


@pytest.mark.parametrize("parameters", [{}, {"map": "nucleus22"}, {"bands": "linear"},
                                        {"freq_shift": True, "n_inserted_ch": 8, "n_on": 8},
                                        {"envelope_detection": 1, "map": "medel12"}])
def test_unresolved_bands_are_those_measured_half_as_wide_again(parameters):
    r = quiet(cihear.report, **parameters)
    said = [w for w in r["warnings"] if "narrower than the 100-tap filters" in w]
    expected = {}
    for side in ("analysis", "synthesis"):
        w = widths(r[side])
        wide = np.flatnonzero(w[:, 1] > _models.UNRESOLVED_FACTOR * w[:, 0]) + 1
        iir = side == "analysis" and r["analysis"]["filter"]["type"].startswith("IIR")
        expected[side] = [] if iir else list(wide)
    sides = [s for s in expected if expected[s]]
    assert len(said) == (0 if not sides else 1 if expected["analysis"] == expected["synthesis"]
                         or len(sides) == 1 else 2)
    for text in said:
        listed = [int(part.split(":")[0].split()[-1]) for part in text.split("(channel ")[1]
                  .split(");")[0].split("; ")]
        assert listed in expected.values()
    if parameters == {"bands": "linear"}:
        assert not said  # 683 Hz wide bands are resolved
    if parameters.get("map") == "medel12":
        assert any(w.startswith("map medel12 is an approximation") for w in r["warnings"])


def test_compared_maps_at_different_channel_counts():
    settings = [quiet(_core.describe, **p)["settings"] for p in
                ({"map": "nucleus22"}, {"map": "ab16"}, {"map": "none"}, {"map": "medel12"})]
    text = _models.compared_maps(settings[:2])
    assert "nucleus22 22 channels, ab16 16 channels" in text
    assert _models.compared_maps(settings[2:]) is None  # 12 and 12
    assert _models.compared_maps(settings[:1]) is None
    # Conditions that differ in other ways too are not a comparison of maps.
    other = quiet(_core.describe, map="ab16", rate=900)["settings"]
    assert _models.compared_maps([settings[0], other]) is None


def test_electrodogram_rows_are_electrodes_with_empty_rows_off(tmp_path):
    a = quiet(cihear.analyze, X, 20000, map="ab16", off=[3, 7], n_on=6)
    lines = plot.electrodogram(a)
    labels = [t.get_text() for t in lines.axes.get_yticklabels()]
    assert len(labels) == 16 and labels[2] == "3 · off" and labels[6] == "7 · off"
    assert labels[3] == f"4 · {a.bands.center[2]:.0f} Hz"
    rows = {s[0][1] for s in lines.get_segments()}
    assert 2 not in rows and 6 not in rows and rows <= set(range(16)) - {2, 6}
    # Each line stands on its channel's electrode row.
    channel, frame = np.nonzero(a.selected)
    np.testing.assert_array_equal([s[0][1] for s in lines.get_segments()],
                                  np.array(a.electrodes)[channel] - 1)
    assert "1 = apical (lowest band)" in lines.axes.get_ylabel()
    from cihear.cli_figure import write_csv

    write_csv(tmp_path / "e.csv", a, (0, 1))
    header = (tmp_path / "e.csv").read_text().splitlines()[0].split(",")
    assert header[3] == f"channel_3_electrode_4_{a.bands.center[2]:.0f}Hz" and len(header) == 15
    assert plot.summary(a).startswith("16 electrodes, 2 switched off, 6 stimulated per cycle")


def test_batch_lists_and_names(tmp_path):
    settings = _jobs.Settings(cihear.PARAMETERS)
    grid = _jobs.split_grid(["off=3,7;5;", "map=nucleus22,ab16", "n_on=4;8"], settings.lists)
    assert grid == {"off": ["3,7", "5", ""], "map": ["nucleus22", "ab16"], "n_on": ["4", "8"]}
    checked = _jobs.check_grid(settings, grid)
    assert checked["off"] == [(3.0, 7.0), (5.0,), ()] and checked["map"] == ["nucleus22", "ab16"]
    assert [_jobs.name_value(v) for v in checked["off"]] == ["3+7", "5", "none"]
    assert _jobs.format_value((3.0, 7.0)) == "3,7" and _jobs.format_value(()) == ""
    assert _jobs.check_grid(settings, {"off": [[3, 7], 5]})["off"] == [(3.0, 7.0), (5.0,)]
    for bad, words in ((["map=nucleus24"], "map = 'nucleus24' is unknown"),
                       (["off=3;3.0"], "repeats a value"), (["off=3,x"], "not a list")):
        with pytest.raises(ValueError, match=words):
            _jobs.check_grid(settings, _jobs.split_grid(bad, settings.lists))
    with pytest.raises(ValueError, match="not a list of numbers"):
        settings.parse("off", [3, "7"])


def test_batch_runs_models_and_logs_names_and_lists(tmp_path):
    source = tmp_path / "in"
    source.mkdir()
    import soundfile

    soundfile.write(source / "s.wav", X, 20000, subtype="PCM_16")
    done = subprocess.run([sys.executable, "-m", "cihear", "batch", str(source),
                           str(tmp_path / "out"), "--grid", "map=nucleus22,ab16", "--grid",
                           "off=3,7;", "--set", "carrier=sine", "--quiet", "--jobs", "1"],
                          capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    assert "different channel counts (nucleus22 20 channels, ab16 14 channels)" in done.stderr
    names = sorted(p.name for p in (tmp_path / "out").glob("*.wav"))
    assert names == ["s__map-ab16__off-3+7__carrier-sine.wav", "s__map-ab16__off-none__carrier-sine.wav",
                     "s__map-nucleus22__off-3+7__carrier-sine.wav",
                     "s__map-nucleus22__off-none__carrier-sine.wav"]
    import csv

    rows = {r["output"]: r for r in csv.DictReader(open(tmp_path / "out" / "cihear-batch.csv"))}
    row = rows["s__map-nucleus22__off-3+7__carrier-sine.wav"]
    assert row["map"] == "nucleus22" and row["off"] == "3,7" and row["carrier"] == "sine"
    assert row["band_edges"] == ",".join(map(str, NUCLEUS22)) and row["n_inserted_ch"] == "22"
    # The output is the simulation with those settings, and a manifest reads the log's cells.
    expected = cihear.to_pcm16(quiet(cihear.simulate, X, 20000, map="nucleus22", off=[3, 7],
                                     carrier="sine"))
    got, _ = soundfile.read(tmp_path / "out" / row["output"], dtype="int16")
    np.testing.assert_array_equal(got, expected)
    manifest = tmp_path / "jobs.csv"
    manifest.write_text('input,output,map,off,carrier\nin/s.wav,m.wav,nucleus22,"3,7",sine\n')
    assert subprocess.run([sys.executable, "-m", "cihear", "batch", "--manifest", str(manifest),
                           "--quiet", "--jobs", "1"], capture_output=True).returncode == 0
    np.testing.assert_array_equal(soundfile.read(tmp_path / "m.wav", dtype="int16")[0], expected)
    bad = subprocess.run([sys.executable, "-m", "cihear", "batch", str(source),
                          str(tmp_path / "bad"), "--grid", "off=3;13", "--quiet"],
                         capture_output=True, text=True)
    assert bad.returncode == 2 and bad.stderr.count("\n") == 1
    assert "the settings off=13 cannot be simulated: off = 13 is not an inserted" in bad.stderr


@pytest.mark.parametrize("args, words", [
    (["--map", "nucleus24"], "map = 'nucleus24' is unknown"),
    (["--off", "3,x"], "off = '3,x' is not a list of numbers"),
    (["--off", "13"], "off = 13 is not an inserted electrode"),
])
def test_command_lines_refuse_bad_model_values_in_one_line(args, words):
    commands = [[sys.executable, "-m", "cihear", "report"]]
    live = Path(os.environ.get("CIHEAR_BUILD_DIR", "/nonexistent")) / "cihear-live"
    if live.exists():
        commands.append([str(live)])
    for command in commands:
        done = subprocess.run(command + args, capture_output=True, text=True,
                              env=dict(os.environ, JACK_DEFAULT_SERVER="cihear-none"))
        assert done.returncode in (1, 2) and words in done.stderr, (command, done.stderr)
        assert done.stderr.count("\n") == 1


def test_live_program_takes_the_model_options():
    live = Path(os.environ.get("CIHEAR_BUILD_DIR", "/nonexistent")) / "cihear-live"
    if not live.exists():
        pytest.skip("cihear-live is not built")
    # Accepted options get as far as the audio server, which this name does not reach.
    done = subprocess.run([str(live), "--jack", "--map", "nucleus22", "--off", "3,7", "--carrier",
                           "sine", "--bands", "erb"], capture_output=True, text=True,
                          env=dict(os.environ, JACK_DEFAULT_SERVER=f"cihear-none-{os.getpid()}"))
    assert done.returncode == 1 and "no JACK server is running" in done.stderr, done.stderr
    assert "set to 22 by map nucleus22" in done.stderr


def test_job_keys_at_the_models_defaults_are_those_of_earlier_logs():
    settings = _jobs.Settings(cihear.PARAMETERS)
    job = settings.job("in.wav", "out.wav", "in.wav", {"n_on": 4})
    strategy = {k: v for k, v in job.parameters.items() if k not in _jobs._model_defaults()}
    earlier = json.dumps({"input": "in.wav", "identity": {"size": 1}, "parameters":
                          {k: _jobs.format_value(v) for k, v in strategy.items()},
                          "seed": None, "version": "0.3.0"}, sort_keys=True)
    import hashlib

    assert _jobs.job_key(job, {"size": 1}, "0.3.0") == hashlib.sha256(
        earlier.encode()).hexdigest()[:32]
    off = settings.job("in.wav", "out.wav", "in.wav", {"n_on": 4, "off": (3.0,)})
    sine = settings.job("in.wav", "out.wav", "in.wav", {"n_on": 4, "carrier": "sine"})
    keys = {_jobs.job_key(j, {"size": 1}, "0.3.0") for j in (job, off, sine)}
    assert len(keys) == 3
