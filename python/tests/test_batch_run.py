"""Running batches: outputs equal to the command line's, failures recorded, resumption, the same
bytes whatever the number of workers or on a Dask cluster, and interruptions."""

import csv
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest
import soundfile as sf

import cihear
from cihear import batch
from cihear.cli_batch import main


def write_speechlike(path, seconds=0.3, rate=16000, seed=0):
    """A short 16-bit recording: a few harmonics under a syllable-rate envelope, and noise."""
    rng = np.random.default_rng(seed)
    t = np.arange(int(seconds * rate)) / rate
    f0 = 110 + 40 * seed
    x = sum(np.sin(2 * np.pi * f0 * k * t) / k for k in range(1, 8))
    x = x * (0.5 + 0.5 * np.sin(2 * np.pi * 4 * t)) + 0.05 * rng.standard_normal(t.size)
    path.parent.mkdir(parents=True, exist_ok=True)
    sf.write(path, 0.2 * x, rate, subtype="PCM_16")
    return path


def make_corpus(folder, count=3, **kwargs):
    names = ["s001.wav", "sentences/s002.wav", "sentences/deep/s003.wav", "s004.wav"][:count]
    return [write_speechlike(folder / name, seed=i, **kwargs) for i, name in enumerate(names)]


def log_rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def outputs(folder):
    """{relative path: bytes} of every output WAV under folder, temporary files included."""
    return {p.relative_to(folder).as_posix(): p.read_bytes()
            for p in sorted(folder.rglob("*")) if p.is_file() and not p.name.endswith(".csv")}


def stamps(folder):
    return {p: p.stat().st_mtime_ns for p in folder.rglob("*.wav")}


def test_outputs_equal_the_command_line_and_the_log_says_how_they_were_made(tmp_path, capsys):
    make_corpus(tmp_path / "in")
    status = main([str(tmp_path / "in"), str(tmp_path / "out"), "--grid", "n_on=4,8",
                   "--set", "rate=900", "--set", "n_chan_ci=6", "--jobs", "2"])
    assert status == 0
    assert "6 done, 0 failed, 0 skipped (of 6 jobs)" in capsys.readouterr().out
    rows = log_rows(tmp_path / "out" / "cihear-batch.csv")
    assert len(rows) == 6 and {r["status"] for r in rows} == {"done"}
    # the --set values other than the defaults are in the names too
    row = next(r for r in rows
               if r["output"] == "sentences/s002__n_on-8__rate-900__n_chan_ci-6.wav")
    assert row["input"] == "sentences/s002.wav"
    # effective values: n_on 8 is capped at n_chan_ci 6, as the engine does
    assert (row["rate"], row["n_chan_ci"], row["n_on"], row["f_min"]) == ("900", "6", "6", "300")
    assert row["version"] == cihear.__version__ and row["seed"] == ""
    assert int(row["output_size"]) == (tmp_path / "out" / row["output"]).stat().st_size

    exe = os.environ.get("CIHEAR_EXE")
    if not exe:
        pytest.skip("CIHEAR_EXE is not set: no executable to compare with")
    for row in rows[::2]:
        expected = tmp_path / "exe.wav"
        n_on = row["output"].split("__n_on-")[1].split("__")[0]
        subprocess.run([exe, "-i", str(tmp_path / "in" / row["input"]), "-o", str(expected),
                        "--rate", "900", "--n_chan_ci", "6", "--n_on", n_on],
                       check=True, capture_output=True)
        assert (tmp_path / "out" / row["output"]).read_bytes() == expected.read_bytes(), row


def test_broken_files_are_recorded_with_reasons_and_the_others_made(tmp_path, capsys):
    make_corpus(tmp_path / "in")
    (tmp_path / "in" / "empty.wav").write_bytes(b"")
    (tmp_path / "in" / "sentences" / "notes.wav").write_text("not a recording\n")
    status = main([str(tmp_path / "in"), str(tmp_path / "out"), "--jobs", "2", "--quiet"])
    out, err = capsys.readouterr()
    assert status == 1
    assert "3 done, 2 failed, 0 skipped (of 5 jobs)" in out
    assert err.count("failed: ") == 2 and "Traceback" not in err
    rows = {r["input"]: r for r in log_rows(tmp_path / "out" / "cihear-batch.csv")}
    for broken in ("empty.wav", "sentences/notes.wav"):
        assert rows[broken]["status"] == "failed" and rows[broken]["reason"]
        assert not (tmp_path / "out" / broken).exists()
    assert sorted(outputs(tmp_path / "out")) == [
        "s001.wav", "sentences/deep/s003.wav", "sentences/s002.wav"]

    # a rerun tries the failed jobs again, and only those
    (tmp_path / "in" / "empty.wav").unlink()
    write_speechlike(tmp_path / "in" / "empty.wav")
    summary = batch(tmp_path / "in", tmp_path / "out", jobs=1, progress=False)
    assert (summary.done, summary.failed, summary.skipped) == (1, 1, 3)


def test_rerun_redoes_only_the_jobs_a_change_touches(tmp_path):
    inputs = make_corpus(tmp_path / "in")
    out = tmp_path / "out"

    def run(**kwargs):
        kwargs.setdefault("grid", {"n_on": [4, 8]})
        s = batch(tmp_path / "in", out, jobs=2, progress=False, **kwargs)
        assert s.failed == 0
        return s

    assert run().done == 6
    first = stamps(out)
    s = run()
    assert (s.done, s.skipped) == (0, 6) and stamps(out) == first

    s = run(grid={"n_on": [4, 6]})  # a new grid value: only its jobs
    assert (s.done, s.skipped) == (3, 3)
    assert all(stamps(out)[p] == first[p] for p in first)  # n_on 8's outputs are kept

    s = run(parameters={"n_chan_ci": 12})  # the default given explicitly changes nothing
    assert (s.done, s.skipped) == (0, 6)

    s = run(parameters={"seed": 3})  # a changed setting: all its jobs, under other names
    assert (s.done, s.skipped) == (6, 0)
    seeded = {p: t for p, t in stamps(out).items() if "seed-3" in p.name}
    assert len(seeded) == 6 and all(stamps(out)[p] == first[p] for p in first)

    os.utime(inputs[1], ns=(1, 1))  # a changed input: its jobs only
    (out / "s001__n_on-4__seed-3.wav").unlink()  # a lost output
    with open(out / "sentences/deep/s003__n_on-8__seed-3.wav", "r+b") as f:
        f.truncate(100)  # a cut output
    s = run(parameters={"seed": 3})
    assert (s.done, s.skipped) == (4, 2)
    now = stamps(out)
    assert [p.name for p in seeded if now[p] == seeded[p]] == ["s001__n_on-8__seed-3.wav",
                                                               "s003__n_on-4__seed-3.wav"]


def test_the_same_bytes_whatever_the_workers_and_on_a_dask_cluster(tmp_path):
    distributed = pytest.importorskip("distributed")
    make_corpus(tmp_path / "in", count=2)
    grid = {"seed": [1, 2], "synchronization": [0, 1]}
    batch(tmp_path / "in", tmp_path / "one", grid=grid, jobs=1, progress=False)
    batch(tmp_path / "in", tmp_path / "two", grid=grid, jobs=2, progress=False)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster:
        # by address, as --scheduler gives it
        summary = batch(tmp_path / "in", tmp_path / "dask", grid=grid,
                        scheduler=cluster.scheduler_address, progress=False)
    assert summary.done == 8
    one = outputs(tmp_path / "one")
    assert len(one) == 8 and one == outputs(tmp_path / "two") == outputs(tmp_path / "dask")
    assert len(set(one.values())) == 8  # the seeds and settings all differ


def children(pid):
    found = []
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except (OSError, IndexError):
            continue
        if entry.isdigit() and int(fields[1]) == pid:
            found.append(int(entry))
    return found


def command(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().decode(errors="replace")
    except OSError:
        return ""


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def start_batch(tmp_path, *args):
    env = dict(os.environ, PYTHONDONTWRITEBYTECODE="1")
    return subprocess.Popen([sys.executable, "-m", "cihear.cli_batch", str(tmp_path / "in"),
                             str(tmp_path / "out"), "--jobs", "2", *args],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=env,
                            start_new_session=True)


def wait_for_done(log, count, process, timeout=60):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline and process.poll() is None:
        if log.exists() and sum(r["status"] == "done" for r in log_rows(log)) >= count:
            return
        time.sleep(0.05)
    pytest.fail(f"the batch did not make {count} outputs in time")


def leftovers(tmp_path):
    """Files in the output folder that are neither an output nor the log."""
    return [p for p in (tmp_path / "out").rglob("*")
            if p.is_file() and p.suffix not in (".wav", ".csv")]


def check_complete_or_absent(tmp_path, samples=3 * 20000):
    """Every output that exists is complete (an output may be made in the instant before its log
    line is written); the log's outputs are those on disk. Returns the logged outputs."""
    rows = {r["output"]: r for r in log_rows(tmp_path / "out" / "cihear-batch.csv")
            if r["status"] == "done"}
    for path in (tmp_path / "out").rglob("*.wav"):
        assert path.stat().st_size == 44 + 2 * samples, path
        assert sf.info(path).frames == samples
        row = rows.get(path.relative_to(tmp_path / "out").as_posix())
        assert row is None or int(row["output_size"]) == path.stat().st_size
    assert all((tmp_path / "out" / name).exists() for name in rows)
    return rows


def test_interruptions_leave_no_partial_output_and_the_batch_resumes(tmp_path):
    make_corpus(tmp_path / "in", count=3, seconds=3, rate=44100)
    log = tmp_path / "out" / "cihear-batch.csv"
    grid = ["--grid", "n_on=4,8,12"]

    # Ctrl-C: the workers stop at once and take their unfinished files with them
    process = start_batch(tmp_path, *grid)
    wait_for_done(log, 1, process)
    workers = children(process.pid)
    started = time.monotonic()
    os.killpg(process.pid, signal.SIGINT)
    _, err = process.communicate(timeout=30)
    assert process.returncode == 130 and time.monotonic() - started < 10, err
    assert "interrupted: " in err and "Traceback" not in err
    deadline = time.monotonic() + 5
    while [w for w in workers if alive(w)] and time.monotonic() < deadline:
        time.sleep(0.05)
    assert not [w for w in workers if alive(w)]
    done = check_complete_or_absent(tmp_path)
    assert len(done) < 9 and not leftovers(tmp_path)

    # a worker killed (as the system does when memory runs out): its jobs are run again
    process = start_batch(tmp_path, *grid)
    wait_for_done(log, len(done) + 1, process)
    worker = max(pid for pid in children(process.pid) if "spawn_main" in command(pid))
    os.kill(worker, signal.SIGKILL)
    out, err = process.communicate(timeout=120)
    assert process.returncode == 0, err
    assert f"{9 - len(done)} done, 0 failed, {len(done)} skipped" in out
    assert len(check_complete_or_absent(tmp_path)) == 9

    # the whole batch killed, as a cluster ends a job that overran: a rerun completes it
    process = start_batch(tmp_path, "--grid", "n_on=5,6")
    wait_for_done(log, 10, process)
    os.killpg(process.pid, signal.SIGKILL)
    process.communicate()
    check_complete_or_absent(tmp_path)
    summary = batch(tmp_path / "in", tmp_path / "out", grid={"n_on": [5, 6]}, progress=False)
    assert summary.done + summary.skipped == 6 and summary.done >= 1
    assert not leftovers(tmp_path)
