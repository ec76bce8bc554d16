"""Hostile manifests and corpora: a batch never writes over what it reads, and refuses at once,
in one line, what it cannot do safely."""

import os

import pytest

from cihear.cli_batch import main
from test_batch_run import write_speechlike


def snapshot(folder):
    """{path: bytes} of every file under folder, links followed."""
    return {p: p.read_bytes() for p in sorted(folder.rglob("*")) if p.is_file()}


def _link(path, target):
    path.parent.mkdir(parents=True, exist_ok=True)
    os.symlink(target, path)


def output_is_a_link_to_the_input(d):
    _link(d / "out" / "a.wav", d / "in" / "a.wav")
    return "input,output\nin/a.wav,out/a.wav\n"


def input_through_a_link_onto_itself(d):
    _link(d / "via", d / "in")
    return "input,output\nvia/a.wav,in/a.wav\n"


def output_is_a_hard_link_to_the_input(d):
    os.link(d / "in" / "a.wav", d / "hard.wav")
    return "input,output\nin/a.wav,hard.wav\n"


def output_is_a_dangling_link_to_another_input(d):
    _link(d / "out" / "b.wav", d / "in" / "b.wav")  # b.wav is made only after the link
    write_speechlike(d / "in" / "b.wav")
    return "input,output\nin/a.wav,out/b.wav\nin/b.wav,out/c.wav\n"


def output_named_like_the_manifest(d):
    return "input,output\nin/a.wav,jobs.csv\n"


def output_named_like_the_log(d):
    return "input,output\nin/a.wav,jobs-log.csv\n"


def output_a_link_to_the_log(d):
    _link(d / "out" / "x.wav", d / "jobs-log.csv")  # the log does not exist yet
    return "input,output\nin/a.wav,out/x.wav\n"


def two_outputs_one_file_through_a_link(d):
    _link(d / "alias", d / "out")
    (d / "out").mkdir()
    return "input,output\nin/a.wav,out/x.wav\nin/a.wav,alias/x.wav\n"


@pytest.mark.parametrize("make, message", [
    (output_is_a_link_to_the_input, "in/a.wav would be overwritten by the output of in/a.wav"),
    (input_through_a_link_onto_itself, "via/a.wav would be overwritten by the output of"),
    (output_is_a_hard_link_to_the_input, "in/a.wav would be overwritten by the output of"),
    (output_is_a_dangling_link_to_another_input, "in/b.wav would be overwritten by the output "
                                                 "of in/a.wav"),
    (output_named_like_the_manifest, "the manifest"),
    (output_named_like_the_log, "jobs-log.csv would be overwritten by the output of in/a.wav"),
    (output_a_link_to_the_log, "jobs-log.csv would be overwritten by the output of in/a.wav"),
    (two_outputs_one_file_through_a_link, "would both be written to"),
])
def test_a_manifest_that_would_write_over_what_the_batch_reads_is_refused_before_anything_runs(
        tmp_path, capsys, make, message):
    write_speechlike(tmp_path / "in" / "a.wav")
    manifest = tmp_path / "jobs.csv"
    manifest.write_text(make(tmp_path))
    before = snapshot(tmp_path)
    assert main(["--manifest", str(manifest), "--quiet"]) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and err.startswith("cihear batch: error: "), err
    assert message in err
    assert snapshot(tmp_path) == before
    assert not (tmp_path / "jobs-log.csv").exists()


@pytest.mark.parametrize("log", ["in/a.wav", "jobs.csv"])
def test_a_log_given_over_an_input_or_the_manifest_is_refused(tmp_path, capsys, log):
    write_speechlike(tmp_path / "in" / "a.wav")
    manifest = tmp_path / "jobs.csv"
    manifest.write_text("input,output\nin/a.wav,out/a.wav\n")
    before = snapshot(tmp_path)
    assert main(["--manifest", str(manifest), "--log", str(tmp_path / log), "--quiet"]) == 2
    assert "would be overwritten by the log" in capsys.readouterr().err
    assert snapshot(tmp_path) == before
