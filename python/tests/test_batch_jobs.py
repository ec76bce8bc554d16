"""The jobs of a batch: grid expansion, naming, mirrored folders, manifests, shards, the log."""

import os
from pathlib import Path

import pytest

import cihear
from cihear import _joblog, _jobs


@pytest.fixture
def settings():
    return _jobs.Settings(cihear.PARAMETERS, max_seed=cihear.MAX_SEED)


def touch(path, data=b"x"):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)
    return path


def test_grid_times_inputs_named_by_condition_in_mirrored_tree(tmp_path, settings):
    corpus, out = tmp_path / "corpus", tmp_path / "out"
    touch(corpus / "sentences" / "s001.wav")
    touch(corpus / "sentences" / "deep" / "s002.FLAC")
    touch(corpus / "top.wav")
    touch(corpus / "notes.txt")                 # not audio
    touch(corpus / ".hidden.wav")               # hidden file
    touch(corpus / ".cache" / "x.wav")          # hidden folder
    grid = _jobs.check_grid(settings, {"n_on": ["4", "8"], "rate": [900, "1800"]})
    fixed = _jobs.check_fixed(settings, {"eas": "true", "seed": "7"}, grid)
    jobs = _jobs.grid_jobs(settings, corpus, out, grid, fixed)

    assert len(jobs) == 3 * 4
    names = [j.output.relative_to(out).as_posix() for j in jobs]
    # the grid's values, then the fixed ones other than the defaults, and the seed
    assert "sentences/s001__n_on-8__rate-900__eas-1__seed-7.wav" in names
    assert "sentences/deep/s002__n_on-4__rate-1800__eas-1__seed-7.wav" in names
    assert "top__n_on-4__rate-900__eas-1__seed-7.wav" in names
    assert len(set(names)) == len(names)
    # the order is fixed: inputs sorted, then the grid's combinations in order
    assert [n.replace("__eas-1__seed-7", "") for n in names[:4]] == [
        "sentences/deep/s002__n_on-4__rate-900.wav", "sentences/deep/s002__n_on-4__rate-1800.wav",
        "sentences/deep/s002__n_on-8__rate-900.wav", "sentences/deep/s002__n_on-8__rate-1800.wav"]
    job = next(j for j in jobs if j.output.name == "s001__n_on-8__rate-900__eas-1__seed-7.wav")
    assert job.source == "sentences/s001.wav"
    assert job.requested == {"eas": 1, "n_on": 8, "rate": 900}
    assert job.seed == 7
    assert job.parameters["n_on"] == 8 and job.parameters["eas"] == 1
    assert job.parameters["f_min"] == 300  # a default filled in
    assert set(job.parameters) == {p["name"] for p in cihear.PARAMETERS}


def test_without_grid_outputs_keep_the_names_and_output_inside_input_is_not_searched(
        tmp_path, settings):
    corpus = tmp_path / "corpus"
    touch(corpus / "a" / "x.wav")
    touch(corpus / "out" / "a" / "x.wav")  # an earlier run's output inside the input folder
    jobs = _jobs.grid_jobs(settings, corpus, corpus / "out")
    assert [(j.source, j.output) for j in jobs] == [("a/x.wav", corpus / "out" / "a" / "x.wav")]
    assert jobs[0].requested == {} and jobs[0].seed is None


def test_outputs_that_would_overwrite_each_other_or_an_input_are_refused(tmp_path, settings):
    touch(tmp_path / "in" / "s1.wav")
    touch(tmp_path / "in" / "s1.flac")
    touch(tmp_path / "in" / "s2.wav")
    # in a corpus, only the pair that collides is refused
    jobs = _jobs.grid_jobs(settings, tmp_path / "in", tmp_path / "out")
    why = (f"s1.flac and s1.wav would both be written to {tmp_path / 'out' / 's1.wav'}: "
           "not run (rename one of them)")
    assert [(j.source, j.refused) for j in jobs] == [("s1.flac", why), ("s1.wav", why),
                                                     ("s2.wav", None)]
    (tmp_path / "in" / "s1.flac").unlink()
    with pytest.raises(ValueError, match="output folder is the input folder"):
        _jobs.grid_jobs(settings, tmp_path / "in", tmp_path / "in/../in")
    manifest = touch(tmp_path / "in" / "jobs.csv", b"input,output\ns1.wav,./s1.wav\n")
    with pytest.raises(ValueError, match="s1.wav would be overwritten by the output of s1.wav"):
        _jobs.manifest_jobs(settings, manifest)


@pytest.mark.parametrize("grid, fixed, message", [
    ({"n_on": ["4", "99"]}, {}, "n_on=99 is outside its range 1 to 50"),
    ({"n_on": ["4.5"]}, {}, "whole number"),
    ({"eas": ["2"]}, {}, "0 or 1"),
    ({"rate": ["fast"]}, {}, "not a number"),
    ({"channels": ["4"]}, {}, "unknown parameter 'channels'"),
    ({"n_on": ["4", "4.0"]}, {}, "repeats a value"),
    ({"n_on": []}, {}, "no value"),
    ({"n_on": ["4"]}, {"n_on": "8"}, "both in the grid"),
    ({}, {"seed": "-1"}, "seed=-1 is outside"),
    ({}, {"seed": "1.5"}, "not a whole number"),
    ({"n_on": ["1_2"]}, {}, "n_on='1_2' is not a number"),  # not 12
    ({}, {"seed": "1_0"}, "seed='1_0' is not a whole number"),
    ({"rate": ["0x10"]}, {}, "not a number"),
])
def test_bad_grid_and_set_values_are_refused_with_the_reason(settings, grid, fixed, message):
    with pytest.raises(ValueError, match=message):
        checked = _jobs.check_grid(settings, grid)
        _jobs.check_fixed(settings, fixed, checked)


def test_command_line_assignments(settings):
    assert _jobs.split_grid(["n_on=4,8", "rate = 900"]) == {"n_on": ["4", "8"], "rate": ["900"]}
    assert _jobs.split_fixed(["eas=1"]) == {"eas": "1"}
    for bad in (["n_on"], ["=4"], ["n_on="]):
        with pytest.raises(ValueError, match="NAME=VALUE"):
            _jobs.split_grid(bad)
    with pytest.raises(ValueError, match="twice"):
        _jobs.split_grid(["n_on=4", "n_on=8"])
    assert [_jobs.format_value(v) for v in (8, 900.0, 0.5, 1e-4, None)] == \
        ["8", "900", "0.5", "0.0001", ""]


def test_manifest(tmp_path, settings):
    folder = tmp_path / "study"
    manifest = touch(folder / "jobs.csv", (
        "input,output,n_on,rate,seed\n"
        "in/a.wav,out/a4.wav,4,,\n"
        "/abs/b.wav,out/b.wav,,900,12\n"
        ",,,,\n").encode())
    jobs = _jobs.manifest_jobs(settings, manifest)
    assert [(j.input, j.output, j.requested, j.seed) for j in jobs] == [
        (folder / "in/a.wav", folder / "out/a4.wav", {"n_on": 4}, None),
        (Path("/abs/b.wav"), folder / "out/b.wav", {"rate": 900}, 12),
    ]
    assert jobs[0].source == "in/a.wav"

    def refused(text, message):
        touch(manifest, text.encode())
        with pytest.raises(ValueError, match=message):
            _jobs.manifest_jobs(settings, manifest)

    refused("input,n_on\na.wav,4\n", "no 'output' column")
    refused("input,output,channels\na.wav,b.wav,4\n", "unknown column 'channels'")
    refused("input,output,n_on\na.wav,b.wav,4\nc.wav,d.wav,0\n", "jobs.csv line 3: n_on=0")
    refused("input,output\na.wav,\n", "line 2: input and output must both be given")
    refused("input,output\na.wav,b.wav,extra\n", "line 2: more cells than columns")
    refused("input,output\na.wav,x.wav\nb.wav,./x.wav\n", "would both be written")


def test_shards_cover_every_job_once(settings):
    jobs = list(range(11))
    parts = [_jobs.shard(jobs, i, 4) for i in range(1, 5)]
    assert sorted(sum(parts, [])) == jobs
    assert parts[0] == [0, 4, 8]
    assert _jobs.parse_shard("3/10") == (3, 10)
    for bad in ("0/4", "5/4", "3", "a/b", "1/0"):
        with pytest.raises(ValueError, match="shard"):
            _jobs.parse_shard(bad)


def test_job_key_follows_input_parameters_seed_and_version(tmp_path, settings):
    wav = touch(tmp_path / "a.wav", b"abc")
    job = settings.job(wav, tmp_path / "o.wav", "a.wav", {"n_on": 4})
    ident = _jobs.input_identity(wav)
    key = _jobs.job_key(job, ident, "1.0")
    assert key == _jobs.job_key(settings.job(wav, tmp_path / "o.wav", "a.wav", {"n_on": 4}),
                                ident, "1.0")
    others = [
        _jobs.job_key(settings.job(wav, tmp_path / "o.wav", "a.wav", {"n_on": 5}), ident, "1.0"),
        _jobs.job_key(settings.job(wav, tmp_path / "o.wav", "a.wav", {"n_on": 4, "seed": 1}),
                      ident, "1.0"),
        _jobs.job_key(job, ident, "1.1"),
        _jobs.job_key(job, {"size": 4, "mtime_ns": ident["mtime_ns"]}, "1.0"),
    ]
    assert key not in others and len(set(others)) == len(others)
    content = _jobs.input_identity(wav, content=True)
    os.utime(wav, ns=(1, 1))
    assert _jobs.input_identity(wav, content=True) == content
    assert _jobs.input_identity(wav) != ident


def test_log_ignores_a_line_cut_short_and_keeps_every_output_s_history(tmp_path):
    names = _joblog.columns(["n_on"])
    log = tmp_path / "log.csv"
    with _joblog.Writer(log, names) as w:
        w.append({"input": "a", "output": "a.wav", "status": "failed", "key": "k1"})
        w.append({"input": "b", "output": "b.wav", "status": "done", "key": "k2"})
        w.append({"input": "a", "output": "a.wav", "status": "done", "key": "k3"})
    rows = _joblog.read(log)
    # in the order of the outputs, each output's lines in the order they were written
    assert [(r["output"], r["key"]) for r in rows] == [("a.wav", "k1"), ("a.wav", "k3"),
                                                       ("b.wav", "k2")]
    assert [(r["output"], r["key"]) for r in _joblog.latest(rows).values()] == [
        ("a.wav", "k3"), ("b.wav", "k2")]
    with open(log, "a") as f:
        f.write("c,c.wav,4,,1.0,done,,0.1,now,10,20,30,k")  # killed while writing the key
    assert [r["output"] for r in _joblog.read(log)] == ["a.wav", "a.wav", "b.wav"]
    with _joblog.Writer(log, names) as w:  # appending after the cut line starts a fresh line
        w.append({"input": "d", "output": "d.wav", "status": "done", "key": "k4"})
    assert [r["output"] for r in _joblog.read(log)] == ["a.wav", "a.wav", "b.wav", "d.wav"]
    shard = _joblog.shard_path(log, 2, 3)
    assert shard.name == "log.shard-2-of-3.csv"
    shard.write_text("")
    assert _joblog.related_logs(log) == [log, shard]


@pytest.mark.parametrize("args, message", [
    (["only-one-folder"], "give INPUT_DIR and OUTPUT_DIR, or --manifest"),
    (["{in}", "{out}", "--grid", "n_on=4,99"], "n_on=99 is outside its range 1 to 50"),
    (["{in}", "{out}", "--jobs", "0"], "--jobs 0"),
    (["{in}", "{out}", "--shard", "4/3"], "shard number must be from 1 to 3"),
    (["{in}", "{out}", "--bogus"], "unrecognized arguments: --bogus"),
    (["--manifest", "{in}/missing.csv"], "missing.csv"),
    (["{in}/nowhere", "{out}"], "is not a folder"),
    (["{in}", "{out}"], "no recordings under"),
])
def test_refused_command_lines_are_one_line_and_status_2(tmp_path, capsys, args, message):
    from cihear.cli_batch import main

    (tmp_path / "in").mkdir()
    args = [a.format(**{"in": tmp_path / "in", "out": tmp_path / "out"}) for a in args]
    assert main(args) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and err.startswith("cihear batch: error: ") and message in err
    assert not (tmp_path / "out").exists()
