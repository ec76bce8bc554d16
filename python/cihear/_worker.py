"""What a worker does for one job: simulate the input into its output through the package's
output writer, so that an output either is complete or does not exist."""

import contextlib
import dataclasses
import os
import re
import signal
import time
import warnings

# The engine's thread count; each worker simulates on one thread.
THREADS_VARIABLE = "CIHEAR_THREADS"


@dataclasses.dataclass(frozen=True)
class Outcome:
    status: str  # "done" or "failed"
    reason: str = ""
    seconds: float = 0.0
    output_size: int = 0
    output_mtime_ns: int = 0

    @classmethod
    def failure(cls, reason, seconds=0.0):
        return cls("failed", reason, seconds)


def initialize():
    """A local worker: one thread per simulation, and Ctrl-C left to the batch, which ends the
    workers itself."""
    os.environ[THREADS_VARIABLE] = "1"
    signal.signal(signal.SIGINT, signal.SIG_IGN)


def reason(error):
    """An exception as one line a researcher can act on."""
    if isinstance(error, MemoryError):
        return "out of memory"
    text = " ".join(str(error).split())
    text = re.sub(r"<_io\.\w+ name=('[^']*')>", r"\1", text)  # a file object: its name
    return text or type(error).__name__


def remove_temporaries(jobs):
    """Removes the temporary files that killed workers' writers left beside the outputs, one
    listing per folder."""
    by_folder = {}
    for job in jobs:
        by_folder.setdefault(job.output.parent, []).append(job)
    for folder, folder_jobs in by_folder.items():
        try:
            entries = list(os.scandir(folder))
        except OSError:
            continue
        outputs = {job.output.name: job for job in folder_jobs}
        for entry in entries:
            job = outputs.get(entry.name.rpartition(".")[0])
            if job is not None and job.is_temporary(entry.name):
                with contextlib.suppress(OSError):
                    os.unlink(entry.path)


def run_job(job):
    import cihear

    start = time.perf_counter()
    try:
        job.output.parent.mkdir(parents=True, exist_ok=True)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", cihear.CascadeWarning)  # the log has the values
            cihear.simulate_file(job.input, job.output, seed=job.seed, **job.requested)
        st = os.stat(job.output)
        return Outcome("done", "", time.perf_counter() - start, st.st_size, st.st_mtime_ns)
    except Exception as e:
        return Outcome.failure(reason(e), time.perf_counter() - start)
