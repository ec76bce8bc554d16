"""The batch's log and output folder: only its own temporaries removed, one batch per log at a
time, shard logs and the main log combined by the latest record."""

import os
import socket
import subprocess
import sys

import pytest

from cihear import _joblog, batch
from cihear.cli_batch import main
from test_batch_run import log_rows, make_corpus


def run(tmp_path, **kwargs):
    kwargs.setdefault("jobs", 1)
    summary = batch(tmp_path / "in", tmp_path / "out", progress=False, **kwargs)
    assert summary.failed == 0, summary.failures
    return summary


def test_only_the_temporaries_a_run_lists_in_its_log_are_removed(tmp_path):
    make_corpus(tmp_path / "in", count=2)
    out = tmp_path / "out"
    run(tmp_path)
    users = {out / "s001.wav.backup": b"mine", out / "s001.wav.v1-old": b"old take",
             out / "sentences" / "s002.wav.abcdef": b"looks like a temporary",
             out / ".cihear-batch-partial-0123456789ab" / "x.wav": b"not listed in the log"}
    for path, data in users.items():
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    # what a run killed while writing leaves: its folder of partial outputs, listed in the log
    left = out / "sentences" / ".cihear-batch-partial-00000000beef"
    left.mkdir()
    (left / "0011223344556677.wav.Xy12Ab").write_bytes(b"half a file")
    names = list(log_rows(out / "cihear-batch.csv")[0])
    writer = _joblog.Writer(out / "cihear-batch.csv", names)
    writer.append({"output": "sentences/.cihear-batch-partial-00000000beef",
                   "status": "temporary"})
    writer.fd, fd = None, writer.fd
    os.close(fd)  # as a kill leaves it: not put in order

    for grid in (None, {"n_on": [4]}):  # a rerun with nothing to do, then one that runs jobs
        run(tmp_path, grid=grid)
        assert {p: p.read_bytes() for p in users} == users
        assert not left.exists()
        rows = log_rows(out / "cihear-batch.csv")
        assert {r["status"] for r in rows} == {"done"}
    assert not [p for p in out.rglob(".cihear-batch-partial-*") if p.parent != out]


def test_a_second_batch_on_a_log_in_use_is_refused_saying_who_holds_it(tmp_path, capsys):
    make_corpus(tmp_path / "in", count=2)
    out = tmp_path / "out"
    log = out / "cihear-batch.csv"
    args = [str(tmp_path / "in"), str(out), "--jobs", "1", "--quiet"]
    with _joblog.Lock(log):
        assert main(args) == 2
        err = capsys.readouterr().err
        assert err.count("\n") == 1 and "another batch is writing the log" in err
        assert f"pid {os.getpid()} on {socket.gethostname()}, started " in err
        assert not log.exists() and not list(out.rglob("*.wav"))
        # each shard has its own log and lock
        assert main(args + ["--shard", "1/2"]) == 0
        with _joblog.Lock(_joblog.shard_path(log, 2, 2)):
            assert main(args + ["--shard", "2/2"]) == 2
            assert main(args + ["--shard", "1/2"]) == 0
    assert main(args) == 0  # released: the next batch runs
    assert "1 done, 0 failed, 1 skipped" in capsys.readouterr().out
    assert not list(out.glob(".*.lock"))


def test_a_job_s_latest_record_wins_whichever_log_holds_it(tmp_path):
    make_corpus(tmp_path / "in", count=3)
    manifest = tmp_path / "jobs.csv"

    def jobs(n_on, **kwargs):
        rows = "".join(f"in/{name},out/{i}.wav,{n_on}\n" for i, name in enumerate(
            ["s001.wav", "sentences/s002.wav", "sentences/deep/s003.wav"]))
        manifest.write_text("input,output,n_on\n" + rows)
        summary = batch(manifest=manifest, jobs=1, progress=False, **kwargs)
        return summary.done, summary.skipped

    assert jobs(4, shard="1/2") == (2, 0)
    assert jobs(4, shard="2/2") == (1, 0)
    assert jobs(8, overwrite=True) == (3, 0)  # later than the shards' records
    assert jobs(8) == (0, 3)  # (and not taken for a replacement)
    assert jobs(4, shard="1/2", overwrite=True) == (2, 0)  # the shards' are the latest again
    assert jobs(4, overwrite=True) == (1, 2)


@pytest.mark.parametrize("text, kept", [
    ("output,status,key,output_size,output_mtime_ns\r\nb.wav,done,k,1,2\r\n", ["b.wav"]),
    ('output,status,key,output_size,output_mtime_ns\r\n"a\r\nb.wav",done,k,1,2\r\n',
     ["a\r\nb.wav"]),  # a file name with a line break in it
])
def test_records_spanning_lines_are_read_whole(tmp_path, text, kept):
    (tmp_path / "log.csv").write_bytes(text.encode())
    assert [r["output"] for r in _joblog.read(tmp_path / "log.csv")] == kept


def _no_header(text):
    return text.split("\n", 1)[1]


def _no_key_column(text):
    return "\n".join(",".join(line.split(",")[:-1]) for line in text.split("\n"))


def _overwritten_by_a_wav(text):
    return b"RIFF\x24\x00\x00\x00WAVEfmt \x10\x00\x00\x00\x01\x00\x01\x00\xff\xfe"


def _stray_quote_in_the_first_record(text):
    header, first, rest = text.split("\n", 2)
    return "\n".join([header, first.replace(",", ',"', 1), rest])


@pytest.mark.parametrize("damage, kept_as, redone", [
    (_no_header, "unreadable", 3),
    (_no_key_column, "unreadable", 3),
    (_overwritten_by_a_wav, "unreadable", 3),
    (_stray_quote_in_the_first_record, "damaged", 1),  # that line only
])
def test_a_damaged_log_is_set_aside_and_costs_only_what_cannot_be_read(
        tmp_path, capsys, damage, kept_as, redone):
    make_corpus(tmp_path / "in", count=3)
    log = tmp_path / "out" / "cihear-batch.csv"
    run(tmp_path)
    damaged = damage(log.read_text())
    damaged = damaged if isinstance(damaged, bytes) else damaged.encode()
    log.write_bytes(damaged)
    assert main([str(tmp_path / "in"), str(tmp_path / "out"), "--jobs", "1", "--quiet"]) == 0
    out, err = capsys.readouterr()
    assert f"{redone} done, 0 failed, {3 - redone} skipped" in out
    assert err.count("\n") == 1 and "cihear batch: warning: " in err and "Traceback" not in err
    kept = list(log.parent.glob(f"cihear-batch.{kept_as}-*.csv"))
    assert len(kept) == 1 and kept[0].name in err and kept[0].read_bytes() == damaged
    assert len(log_rows(log)) == 3  # the readable lines and those of the jobs done again
    assert main([str(tmp_path / "in"), str(tmp_path / "out"), "--jobs", "1", "--quiet"]) == 0
    assert "0 done, 0 failed, 3 skipped" in capsys.readouterr().out


def test_a_full_disk_stops_the_batch_with_its_own_status_and_the_log_whole(tmp_path):
    make_corpus(tmp_path / "in", count=3)
    log = tmp_path / "out" / "cihear-batch.csv"
    # a file size limit, as a full disk: the outputs cannot be written, then the log either
    limited = ("import resource, signal, sys; signal.signal(signal.SIGXFSZ, signal.SIG_IGN); "
               "resource.setrlimit(resource.RLIMIT_FSIZE, (1500, 1500)); "
               "from cihear.cli_batch import main; sys.exit(main(sys.argv[1:]))")
    args = [str(tmp_path / "in"), str(tmp_path / "out"), "--jobs", "1", "--quiet", "--grid",
            "n_on=4,8"]  # six jobs: more lines than the limit lets the log hold
    done = subprocess.run([sys.executable, "-c", limited, *args], capture_output=True,
                          text=True, env=dict(os.environ, PYTHONDONTWRITEBYTECODE="1"))
    assert done.returncode == 3, done.stderr
    assert done.stderr.count("\n") == 1 and "Traceback" not in done.stderr
    assert f"error: could not write the log {log}: File too large; stopped: " in done.stderr
    data = log.read_bytes()
    assert data.endswith(b"\r\n") and len(data) <= 1500
    assert _joblog.scan(log)[1] == 0 and not list(log.parent.glob("*.damaged-*"))
    failed = [r for r in _joblog.read(log) if r["status"] == "failed"]
    assert failed and all(r["reason"] == "could not write samples to file: "
                          f"{tmp_path / 'out' / r['output']}" for r in failed)  # not a temporary
    assert main(args) == 0  # the rerun makes everything
    assert len(list((tmp_path / "out").rglob("*.wav"))) == 6


def test_conditions_never_share_a_name_and_a_replacement_needs_overwrite(tmp_path, capsys):
    make_corpus(tmp_path / "in", count=2)
    out, log = tmp_path / "out", tmp_path / "out" / "cihear-batch.csv"
    folders = [str(tmp_path / "in"), str(out), "--jobs", "1", "--quiet"]
    assert main(folders) == 0
    first = {p: p.stat().st_mtime_ns for p in out.rglob("*.wav")}
    assert main(folders + ["--set", "seed=3", "--set", "n_chan_ci=12"]) == 0  # 12: the default
    assert sorted(p.name for p in out.rglob("*.wav")) == [
        "s001.wav", "s001__seed-3.wav", "s002.wav", "s002__seed-3.wav"]
    assert {p: p.stat().st_mtime_ns for p in first} == first
    capsys.readouterr()

    # the log says s001.wav was made with n_on 4 (as by a batch that named it otherwise)
    text = log.read_bytes().decode()
    header = text.split("\r\n")[0].split(",")
    rows = [line.split(",") for line in text.split("\r\n")[1:-1]]
    row = next(r for r in rows if r[header.index("output")] == "s001.wav")
    row[header.index("n_on")], row[header.index("key")] = "4", "0" * 32
    log.write_bytes(("\r\n".join(",".join(r) for r in [header] + rows) + "\r\n").encode())
    before = {p: p.read_bytes() for p in out.rglob("*") if p.is_file()}
    assert main(folders) == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and (
        f"error: {out / 's001.wav'} was made with n_on=4 (the log {log}); this batch would "
        f"replace it with n_on=12: give --overwrite") in err
    assert {p: p.read_bytes() for p in out.rglob("*") if p.is_file()} == before
    assert main(folders + ["--overwrite"]) == 0
    assert "1 done, 0 failed, 1 skipped" in capsys.readouterr().out
    history = [(r["output"], r["n_on"]) for r in log_rows(log) if r["output"] == "s001.wav"]
    assert history == [("s001.wav", "4"), ("s001.wav", "12")]  # the log keeps both
    assert main(folders) == 0
