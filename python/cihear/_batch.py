"""Batch processing of a corpus: many recordings under a grid of settings, in parallel, resumable,
with a log of what was made.

    import cihear
    summary = cihear.batch("corpus", "out", grid={"n_on": [4, 8], "rate": [900, 1800]})
    print(summary)          # 398 done, 2 failed, 0 skipped (of 400 jobs) ...
    summary.failures        # [(input, output, reason), ...]

The outputs mirror the input folder's tree and are named from the input and the condition:
the grid's values, then the fixed values other than the defaults and the seed
(sentences/s001.wav -> out/sentences/s001__n_on-8__rate-900__seed-3.wav). A log,
out/cihear-batch.csv, gets one line per job run (and keeps them all): input, output, every
effective parameter, seed, package version, status, reason of a failure, seconds. A rerun skips
the jobs whose output is complete and was made from the same input (size and modification time,
or content with content_hash=True), the same parameter values (the defaults filled in) and seed
by the same version, and refuses to replace an output the log records as made with other
values unless overwrite=True. One batch at a time writes a log (a lock beside it).
"""

import dataclasses
import datetime
import itertools
import os
import secrets
import sys
import time
import warnings
from pathlib import Path

from . import _jobs, _joblog, _worker
from ._progress import Progress

LOG_NAME = "cihear-batch.csv"

# Raised by batch: another batch holds the log; the log cannot be written (a full disk).
Busy = _joblog.Busy
LogFailed = _joblog.WriteFailed

# The status of a log line that names a run's folder of partial outputs.
TEMPORARY = "temporary"

# The note beside a file name that is not valid UTF-8 (written as the bytes it is).
NOT_UTF8 = "the file name is not valid UTF-8: the log holds its bytes as they are"

# The most worker processes per core that --jobs starts (more only cost memory and time).
JOBS_PER_CORE = 4


@dataclasses.dataclass
class Summary:
    total: int = 0  # the jobs of this run (of this shard, with one)
    done: int = 0
    failed: int = 0
    skipped: int = 0  # complete from an earlier run
    seconds: float = 0.0
    log: Path = None
    failures: list = dataclasses.field(default_factory=list)  # (input, output, reason)
    interrupted: bool = False
    notes: list = dataclasses.field(default_factory=list)  # warnings printed on the way

    @property
    def ok(self):
        return not self.failed and not self.interrupted

    def __str__(self):
        text = (f"{self.done} done, {self.failed} failed, {self.skipped} skipped (of {self.total} "
                f"jobs) in {self.seconds:.1f} s; log: {self.log}")
        return ("interrupted: " + text) if self.interrupted else text


class Interrupted(KeyboardInterrupt):
    """Ctrl-C (or a termination) stopped the batch; .summary says what was done by then."""

    def __init__(self, summary):
        super().__init__(str(summary))
        self.summary = summary


def available_cores():
    """The cores this process may use (a cluster job's allocation, not the whole node's)."""
    try:
        return len(os.sched_getaffinity(0))
    except AttributeError:
        return os.cpu_count() or 1


def plan(input_dir=None, output_dir=None, *, manifest=None, grid=None, parameters=None,
         shard=None, log=None):
    """The jobs of a batch and the path of its log, without running anything."""
    import cihear

    settings = _jobs.Settings(cihear.PARAMETERS, max_seed=cihear.MAX_SEED)
    if isinstance(shard, str):
        shard = _jobs.parse_shard(shard)
    if manifest is not None:
        if input_dir is not None or output_dir is not None or grid or parameters:
            raise ValueError("a manifest gives every job's input, output and parameters: "
                             "give no folders, grid or fixed parameters with it")
        default_log = Path(manifest).with_name(Path(manifest).stem + "-log.csv")
    else:
        if input_dir is None or output_dir is None:
            raise ValueError("give an input folder and an output folder, or a manifest")
        default_log = Path(output_dir) / LOG_NAME
    main_log = Path(log) if log is not None else default_log
    log = main_log if shard is None else _joblog.shard_path(main_log, *shard)
    written = [(path, f"the log {path}") for path in dict.fromkeys([main_log, log])]
    written.append((_joblog.lock_path(log), f"the lock of the log {log}"))
    if manifest is not None:
        jobs = _jobs.manifest_jobs(settings, manifest, written)
    else:
        grid = _jobs.check_grid(settings, grid)
        fixed = _jobs.check_fixed(settings, parameters, grid)
        jobs = _jobs.grid_jobs(settings, input_dir, output_dir, grid, fixed, written)
    if not jobs:
        raise ValueError(f"the manifest {manifest} lists no jobs" if manifest is not None else
                         f"no recordings under {input_dir} (looked for "
                         f"{', '.join(sorted(_jobs.AUDIO_EXTENSIONS))})")
    if shard is not None:
        jobs = _jobs.shard(jobs, *shard)
    return jobs, log


def _effective(jobs):
    """{id(job): the parameters the simulation uses}, after the adjustments between them
    (n_chan_ci=8 makes n_on 8, a map sets the channel count), for the log; the engine works
    them out once per setting. Settings the engine refuses (an electrode switched off that is
    not inserted) are a ValueError naming them."""
    from . import CascadeWarning, _core

    by_setting, result = {}, {}
    for job in jobs:
        requested = tuple(sorted(job.requested.items()))
        if requested not in by_setting:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", CascadeWarning)
                try:
                    settings = _core.describe(**job.requested)["settings"]
                except (ValueError, TypeError) as e:
                    raise ValueError(f"the settings {_describe(_jobs.formatted(job.requested))}"
                                     f" cannot be simulated: {e}") from None
            by_setting[requested] = {name: int(value) if isinstance(value, bool) else value
                                     for name, value in settings.items()}
        result[id(job)] = by_setting[requested]
    return result


def _compared_maps(effective, stream, notes):
    """Warns when the conditions compare frequency maps at different channel counts."""
    from . import _models

    settings = {tuple((k, tuple(v) if isinstance(v, list) else v) for k, v in s.items()): s
                for s in effective.values()}
    text = _models.compared_maps(settings.values())
    if text:
        _warn(stream, notes, text)


def _complete(job, record, key):
    """Whether an earlier run made this job's output from the same input and settings, and the
    file is still the one it wrote."""
    if record is None or not key or record["status"] != "done" or record["key"] != key:
        return False
    try:
        st = os.stat(job.output)
    except OSError:
        return False
    return (str(st.st_size) == record["output_size"]
            and str(st.st_mtime_ns) == record["output_mtime_ns"])


def _warn(stream, notes, text):
    notes.append(text)
    print(f"cihear batch: warning: {text}", file=stream, flush=True)


def _own_rows(log, names, stream, notes):
    """The records of the log this run writes. A log that cannot be read is set aside (renamed,
    never deleted) and a new one started; one with damaged lines is kept under another name and
    started again from its readable lines."""
    try:
        rows, damaged = _joblog.scan(log)
    except _joblog.Unreadable as e:
        kept = _joblog.set_aside(log, "unreadable")
        _warn(stream, notes, f"the log {log} cannot be read ({e}); it is kept as {kept.name} "
                             f"and a new log started, so every job is done again")
        return []
    if damaged:
        kept = _joblog.set_aside(log, "damaged", copy=True)
        _joblog.rewrite(log, rows, names)
        _warn(stream, notes, f"{damaged} damaged line{'s' * (damaged > 1)} of the log {log} "
                             f"skipped (the log as it was is kept as {kept.name}); their jobs "
                             f"are done again")
    return rows


def _other_logs(log, stream, notes):
    """The records of the main log and the shard logs beside this run's log."""
    found = []
    for path in _joblog.related_logs(log):
        if path == log:
            continue
        try:
            found.append(_joblog.read(path))
        except _joblog.Unreadable as e:
            _warn(stream, notes, f"the log {path} cannot be read ({e}); its records are not used")
    return found


def _remove_partials(rows, folder):
    """Removes the folders of partial outputs that the rows list; returns the rows of those
    that are gone."""
    return [row for row in rows if row["status"] == TEMPORARY
            and _worker.remove_partial(Path(folder) / row["output"])]


def _describe(values):
    return ", ".join(f"{name}={value or 'none'}" for name, value in values.items())



def _check_replacements(planned, effective, records, log):
    """Refuses a batch that would replace outputs the log records as made with other parameter
    values or another seed (another condition under the same name)."""
    clashes = []
    for job in planned:
        record = records.get(_joblog.relative(job.output, log.parent))
        if record is None or record["status"] != "done" or not os.path.lexists(job.output):
            continue
        now = {name: _jobs.format_value(value) for name, value in effective[id(job)].items()}
        now["seed"] = _jobs.format_value(job.seed)
        differ = [name for name in now if name in record and record[name] != now[name]]
        if differ:
            clashes.append((job, {n: record[n] for n in differ}, {n: now[n] for n in differ}))
    if clashes:
        job, was, new = clashes[0]
        more = f" (and {len(clashes) - 1} more outputs)" if len(clashes) > 1 else ""
        raise ValueError(f"{job.output} was made with {_describe(was)} (the log {log}); this "
                         f"batch would replace it with {_describe(new)}{more}: give --overwrite "
                         f"to replace them, or other output names")


def _sort(planned, records, log, version, content_hash):
    """(the jobs to run, the jobs refused at once with their reasons, {id(job): (key, input
    size)}, the number skipped as complete)."""
    pending, refused, facts, skipped = [], [], {}, 0
    identities = {}  # an input's identity, worked out once however many jobs read it
    for job in planned:
        if job.refused is not None:
            refused.append((job, _worker.Outcome.failure(job.refused)))
            facts[id(job)] = ("", "")
            continue
        if job.input not in identities:
            why = _worker.refusal(job)
            try:
                identities[job.input] = (why, None, "") if why else (
                    None, _jobs.input_identity(job.input, content_hash),
                    os.stat(job.input).st_size)
            except OSError:
                identities[job.input] = (None, None, "")  # the job runs and fails with the reason
        why, identity, size = identities[job.input]
        key = _jobs.job_key(job, identity, version) if identity is not None else ""
        if why is not None:
            refused.append((job, _worker.Outcome.failure(why)))
        elif _complete(job, records.get(_joblog.relative(job.output, log.parent)), key):
            skipped += 1
            continue
        else:
            pending.append(job)
        facts[id(job)] = (key, size)
    return pending, refused, facts, skipped


def _workers(jobs, pending, stream, notes):
    cores = available_cores()
    count = jobs or cores
    cap = JOBS_PER_CORE * cores
    if count > cap:
        _warn(stream, notes, f"--jobs {count} is more than {JOBS_PER_CORE} worker processes per "
                             f"core this process may use ({cores}): running {cap}")
        count = cap
    return max(1, min(count, len(pending)))


def batch(input_dir=None, output_dir=None, *, manifest=None, grid=None, parameters=None,
          jobs=None, scheduler=None, shard=None, log=None, content_hash=False, progress=True,
          stream=None, overwrite=False):
    """Runs a batch and returns its Summary; jobs that fail are recorded, the others go on.

    input_dir, output_dir: every recording under input_dir (searched recursively) times every
        combination of `grid` ({name: [values]}), with `parameters` ({name: value}) for all;
        or manifest: a CSV file with columns input, output, then any parameters and seed.
        'seed' may be in the grid, the parameters or the manifest (none: the command line's).
    jobs: worker processes (default: every core this process may use; at most 4 per core);
        scheduler: the address of a Dask scheduler (or a distributed.Client) to run the jobs on
        instead.
    shard: (i, n) or "i/n", to run every n-th job from the i-th (1 to n), with its own log.
    log: the log's path (default output_dir/cihear-batch.csv, or JOBS-log.csv beside the
        manifest). content_hash: recognise an unchanged input by its content rather than its
        size and modification time.
    progress: a bar on a terminal, else a line every 15 s, on `stream` (standard error).
    overwrite: replace outputs that the log records as made with other parameter values or
        another seed; without it such a batch is refused (ValueError) before anything runs.

    Ctrl-C stops the workers and raises Interrupted (a KeyboardInterrupt) with the summary.
    Another batch writing the same log: Busy, before anything runs. A log that cannot be
    written (a full disk): LogFailed with the summary, the log whole up to its last line."""
    import cihear

    started = time.monotonic()
    stream = stream if stream is not None else sys.stderr
    if jobs is not None and (isinstance(jobs, bool) or int(jobs) != jobs or jobs < 1):
        raise ValueError(f"jobs = {jobs!r}: give a whole number of worker processes, at least 1")
    planned, log = plan(input_dir, output_dir, manifest=manifest, grid=grid,
                        parameters=parameters, shard=shard, log=log)
    version = cihear.__version__
    names = _columns()
    with _joblog.Lock(log):
        notes = []
        rows = _own_rows(log, names, stream, notes)
        gone = {id(row) for row in _remove_partials(rows, log.parent)}
        rows = [row for row in rows if id(row) not in gone]
        records = _joblog.combined(_other_logs(log, stream, notes) + [rows])
        pending, refused, facts, skipped = _sort(planned, records, log, version, content_hash)
        # (a job skipped as complete has the values its record has: they make its key)
        effective = _effective(pending + [job for job, _ in refused if job.refused is None])
        if not overwrite:
            _check_replacements(pending, effective, records, log)
        _compared_maps(_effective(planned), stream, notes)
        summary = Summary(total=len(planned), skipped=skipped, log=log, notes=notes)
        try:
            if pending or refused:
                workers = None if scheduler is not None else _workers(jobs, pending, stream,
                                                                      notes)
                _run(summary, pending, refused, facts, effective, rows, log, version, scheduler,
                     workers, progress, stream)
            elif gone:
                _joblog.rewrite(log, rows, names)
        except LogFailed as e:
            summary.seconds = time.monotonic() - started
            e.summary = summary
            raise
    summary.seconds = time.monotonic() - started
    if summary.interrupted:
        raise Interrupted(summary)
    return summary


def _run(summary, pending, refused, facts, effective, rows, log, version, scheduler, workers,
         progress, stream):
    """Runs the pending jobs and records every outcome (the refused jobs' first)."""
    from . import _runners  # process pools and clusters: only when a batch runs

    token = secrets.token_hex(6)
    given, pending = pending, [
        dataclasses.replace(job, partial=_worker.partial_folder(job.output.parent, token))
        for job in pending]
    facts.update({id(new): facts[id(old)] for new, old in zip(pending, given)})
    effective.update({id(new): effective[id(old)] for new, old in zip(pending, given)})
    partials = list(dict.fromkeys(job.partial for job in pending))
    bar = Progress(len(pending) + len(refused), stream=stream) if progress else None
    writer = _joblog.Writer(log, _columns(), rows)
    runner, listed = None, []
    try:
        listed = [_partial_row(folder, log.parent) for folder in partials]
        for row in listed:  # in the log before the workers make them
            writer.append(row)
        runner = (_runners.dask(pending, scheduler) if scheduler is not None
                  else _runners.local(pending, workers))
        for job, outcome in itertools.chain(refused, runner):
            writer.append(_row(job, effective.get(id(job), job.parameters), outcome,
                               *facts[id(job)], version, log.parent))
            _count(summary, job, outcome, log, bar)
    except KeyboardInterrupt:
        summary.interrupted = True
    finally:
        if runner is not None:
            runner.close()
        if bar is not None:
            bar.close()
        removed = [row for row in listed if _worker.remove_partial(log.parent / row["output"])]
        try:
            writer.close(drop=removed)
        except _joblog.WriteFailed as e:
            print(f"cihear batch: warning: {e} (putting it in order at the end; its lines are "
                  f"whole)", file=stream)


def _columns():
    import cihear

    return _joblog.columns(p["name"] for p in cihear.PARAMETERS)


def _count(summary, job, outcome, log, bar):
    if outcome.status == "done":
        summary.done += 1
    else:
        summary.failed += 1
        output = _joblog.relative(job.output, log.parent)
        summary.failures.append((job.source, output, outcome.reason))
        if bar is not None:
            bar.note(f"failed: {job.source} -> {output}: {outcome.reason}")
    if bar is not None:
        bar.update(outcome.status)


def _partial_row(folder, log_folder):
    return {"output": _joblog.relative(folder, log_folder), "status": TEMPORARY,
            "reason": "partial outputs of a run, removed when it ends (or by the next run)",
            "finished": _now()}


def _now():
    return datetime.datetime.now().astimezone().isoformat(timespec="seconds")


def _row(job, parameters, outcome, key, input_size, version, folder):
    row = {"input": job.source, "output": _joblog.relative(job.output, folder),
           "seed": _jobs.format_value(job.seed), "version": version, "status": outcome.status,
           "reason": outcome.reason, "seconds": f"{outcome.seconds:.3f}", "finished": _now(),
           "input_size": input_size, "key": key}
    row.update({name: _jobs.format_value(value) for name, value in parameters.items()})
    if outcome.status == "done":
        row.update(output_size=outcome.output_size, output_mtime_ns=outcome.output_mtime_ns)
    if not all(_utf8(row[name]) for name in ("input", "output")):
        row["reason"] = "; ".join(filter(None, [row["reason"], NOT_UTF8]))
    return row


def _utf8(text):
    try:
        text.encode("utf-8")
    except UnicodeEncodeError:
        return False
    return True
