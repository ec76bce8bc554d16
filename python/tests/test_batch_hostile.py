"""Hostile manifests and corpora: a batch never writes over what it reads, and refuses at once,
in one line, what it cannot do safely."""

import io
import os
import signal
import stat
import subprocess
import sys
import time
from pathlib import Path

import pytest

from cihear import _batch, batch
from cihear._batch import NOT_UTF8
from cihear.cli_batch import main
from test_batch_run import (alive, children, command, make_corpus, start_batch, wait_for_done,
                            write_speechlike)


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


def _run_or_kill(args, timeout=120):
    """Runs a batch; one that hangs is killed with its workers, and fails the test."""
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"),
                               start_new_session=True)
    try:
        stdout, stderr = process.communicate(timeout=timeout)
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        process.communicate()
        pytest.fail(f"the batch still ran after {timeout} s")
    return subprocess.CompletedProcess(args, process.returncode, stdout, stderr)


def test_a_hostile_corpus_costs_only_the_files_that_cannot_be_made(tmp_path):
    corpus, out = tmp_path / "in", tmp_path / "out"
    write_speechlike(corpus / "s001.wav")
    latin1 = os.fsdecode(bytes(corpus / "caf") + b"\xe9.wav")  # not valid UTF-8
    os.rename(write_speechlike(corpus / "x.wav", seed=1), latin1)
    os.mkfifo(corpus / "pipe.wav")  # would block whoever opens it for reading
    write_speechlike(corpus / "a.wav")
    write_speechlike(corpus / "a.flac")
    write_speechlike(tmp_path / "elsewhere" / "e.wav", seed=2)
    os.symlink(tmp_path / "elsewhere", corpus / "linked")  # a folder through a link: followed
    os.symlink(corpus, corpus / "linked-back")  # a loop: taken once
    args = [sys.executable, "-m", "cihear.cli_batch", str(corpus), str(out), "--jobs", "2",
            "--quiet"]
    first = _run_or_kill(args)
    err = first.stderr.decode(errors="replace")
    assert first.returncode == 1 and "Traceback" not in err, err
    assert b"3 done, 3 failed, 0 skipped (of 6 jobs)" in first.stdout
    assert "failed: pipe.wav -> pipe.wav: not a regular file (a FIFO)" in err
    assert err.count("a.flac and a.wav would both be written to") == 2
    made = sorted(p.relative_to(out) for p in out.rglob("*.wav"))
    assert made == sorted(Path(p) for p in [os.path.basename(latin1), "linked/e.wav",
                                            "s001.wav"])
    log = (out / "cihear-batch.csv").read_bytes()
    assert b"caf\xe9.wav" in log and NOT_UTF8.encode() in log  # the name's bytes, and a note
    again = _run_or_kill(args)
    assert b"0 done, 3 failed, 3 skipped" in again.stdout, again.stderr


def test_workers_end_when_the_batch_is_killed(tmp_path):
    make_corpus(tmp_path / "in", count=3, seconds=3, rate=44100)
    process = start_batch(tmp_path, "--grid", "n_on=4,8,12")
    wait_for_done(tmp_path / "out" / "cihear-batch.csv", 1, process)
    workers = [pid for pid in children(process.pid) if "spawn_main" in command(pid)]
    assert workers
    os.kill(process.pid, signal.SIGKILL)  # the runner only, as the system's OOM killer does
    process.wait()  # (its output pipes stay open while a worker lives)
    process.stdout.close()
    process.stderr.close()
    deadline = time.monotonic() + 10
    while [w for w in workers if alive(w)] and time.monotonic() < deadline:
        time.sleep(0.05)
    left = [w for w in workers if alive(w)]
    for pid in left:  # not to leave them behind when the test fails
        os.kill(pid, signal.SIGKILL)
    assert not left
    summary = batch(tmp_path / "in", tmp_path / "out", grid={"n_on": [4, 8, 12]},
                    progress=False)
    assert summary.done + summary.skipped == 9 and not summary.failed
    assert not list((tmp_path / "out").rglob(".cihear-batch-partial-*"))


def test_jobs_beyond_four_per_core_are_capped_with_a_warning(monkeypatch):
    monkeypatch.setattr(_batch, "available_cores", lambda: 2)
    notes, stream = [], io.StringIO()
    assert _batch._workers(1000, [None] * 100, stream, notes) == 8
    assert stream.getvalue() == ("cihear batch: warning: --jobs 1000 is more than 4 worker "
                                 "processes per core this process may use (2): running 8\n")
    assert _batch._workers(8, [None] * 100, stream, []) == 8
    assert _batch._workers(None, [None] * 100, stream, []) == 2
    assert _batch._workers(None, [None], stream, []) == 1


def test_an_output_folder_named_in_another_encoding_is_written_and_reported(tmp_path):
    write_speechlike(tmp_path / "in" / "s001.wav")
    out = os.fsdecode(bytes(tmp_path) + b"/r\xe9sultats")  # Latin-1, not valid UTF-8
    done = subprocess.run([sys.executable, "-m", "cihear.cli_batch", str(tmp_path / "in"), out,
                           "--jobs", "1", "--quiet"], capture_output=True,
                          env=dict(os.environ, LC_ALL="C.UTF-8", PYTHONDONTWRITEBYTECODE="1"))
    assert done.returncode == 0 and not done.stderr, done.stderr
    assert done.stdout.count(b"\n") == 1 and b"1 done, 0 failed" in done.stdout
    assert os.path.getsize(os.path.join(out, "s001.wav")) > 44


def test_special_outputs_are_left_to_the_program_s_writer(tmp_path):
    write_speechlike(tmp_path / "in" / "a.wav")
    os.mkfifo(tmp_path / "fifo.wav")
    (tmp_path / "folder.wav").mkdir()
    try:  # a null device of the test's own, never the system's /dev/null
        os.mknod(tmp_path / "null", stat.S_IFCHR | 0o666, os.makedev(1, 3))
    except OSError:
        pytest.skip("no permission to make a device node")
    manifest = tmp_path / "jobs.csv"
    manifest.write_text("input,output\nin/a.wav,fifo.wav\nin/a.wav,folder.wav\n"
                        "in/a.wav,null\n")
    summary = batch(manifest=manifest, jobs=1, progress=False)
    assert summary.done == 1 and [f[1] for f in summary.failures] == ["fifo.wav", "folder.wav"]
    assert all(f[2].startswith("could not open file to write") for f in summary.failures)
    assert stat.S_ISFIFO(os.lstat(tmp_path / "fifo.wav").st_mode)  # not replaced by a file
    assert (tmp_path / "folder.wav").is_dir()
    assert stat.S_ISCHR(os.lstat(tmp_path / "null").st_mode)
