"""What a worker does for one job: simulate the input into its output through the package's
output writer, so that an output either is complete or does not exist."""

import contextlib
import dataclasses
import os
import re
import signal
import stat
import time
import warnings
from pathlib import Path

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


def _end_with_parent(parent):
    """Asks the system to kill this process when the process that started it dies (a runner
    killed with SIGKILL cannot end its workers itself); if it is already gone, ends now."""
    import ctypes

    PR_SET_PDEATHSIG = 1
    with contextlib.suppress(OSError, AttributeError):
        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)
    if os.getppid() != parent:
        os._exit(1)


def initialize(parent=None):
    """A local worker: one thread per simulation, Ctrl-C left to the batch, which ends the
    workers itself, and an end with the batch's process (`parent`, its pid) when it dies."""
    os.environ[THREADS_VARIABLE] = "1"
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    if parent is not None:
        _end_with_parent(parent)


def reason(error):
    """An exception as one line a researcher can act on."""
    if isinstance(error, MemoryError):
        return "out of memory"
    text = " ".join(str(error).split())
    text = re.sub(r"<_io\.\w+ name=('[^']*')>", r"\1", text)  # a file object: its name
    return text or type(error).__name__


# The folders of partial outputs a run makes beside its outputs: a name of the batch's own.
PARTIAL_PREFIX = ".cihear-batch-partial-"
PARTIAL_NAME = re.compile(re.escape(PARTIAL_PREFIX) + r"[0-9a-f]{12}")


def partial_folder(output_folder, token):
    return Path(output_folder) / f"{PARTIAL_PREFIX}{token}"


def remove_partial(folder):
    """Removes a folder of partial outputs that a run made (its name must be the batch's own),
    with the files in it; returns whether it is gone. Anything else in it (a folder) keeps
    it."""
    folder = Path(folder)
    if not PARTIAL_NAME.fullmatch(folder.name):
        return False
    try:
        entries = list(os.scandir(folder))
    except FileNotFoundError:
        return True
    except OSError:
        return False
    for entry in entries:
        if entry.is_file(follow_symlinks=False) or entry.is_symlink():
            with contextlib.suppress(OSError):
                os.unlink(entry.path)
    try:
        os.rmdir(folder)
    except FileNotFoundError:
        pass
    except OSError:
        return False
    return True


def remove_temporaries(jobs):
    """Removes what the writers of these jobs left in their folders of partial outputs (a
    killed worker's file, and the temporary of the program's writer beside it)."""
    for job in jobs:
        temporary = job.temporary
        if temporary is None:
            continue
        try:
            entries = list(os.scandir(temporary.parent))
        except OSError:
            continue
        for entry in entries:
            if entry.name.startswith(temporary.name):
                with contextlib.suppress(OSError):
                    os.unlink(entry.path)


def _not_regular(path):
    """Why a path cannot be read as a recording without opening it (None: a regular file)."""
    st = os.stat(path)
    if stat.S_ISREG(st.st_mode):
        return None
    kinds = [(stat.S_ISDIR, "a folder"), (stat.S_ISFIFO, "a FIFO"), (stat.S_ISSOCK, "a socket"),
             (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device")]
    kind = next((name for test, name in kinds if test(st.st_mode)), "not a regular file")
    return f"not a regular file ({kind}): refused without opening it"


def refusal(job):
    """Why a job's input is refused at once (None: it is read)."""
    try:
        return _not_regular(job.input)
    except OSError as e:
        return reason(e)


def _install(temporary, output):
    """Puts the finished temporary in place of the output, keeping an existing output's
    permissions, and syncs the folder so that the rename survives a crash."""
    try:
        os.chmod(temporary, stat.S_IMODE(os.stat(output).st_mode))
    except FileNotFoundError:
        pass
    os.replace(temporary, output)
    fd = os.open(output.parent, os.O_RDONLY | os.O_DIRECTORY)
    try:
        os.fsync(fd)
    finally:
        os.close(fd)


@contextlib.contextmanager
def _utf8_name(path):
    """A name for `path` that the reader and the output writer take: the path itself, or, where
    it is not valid UTF-8, the same file through an open descriptor of its folder."""
    try:
        os.fspath(path).encode("utf-8")
    except UnicodeEncodeError:
        if os.path.isdir("/proc/self/fd"):
            fd = os.open(path.parent, os.O_RDONLY | os.O_DIRECTORY | os.O_CLOEXEC)
            try:
                yield f"/proc/self/fd/{fd}/{path.name}"
            finally:
                os.close(fd)
            return
    yield os.fspath(path)


def _plain_or_absent(path):
    """Whether an output may be made beside and renamed over: a regular file or nothing. A link
    (followed by the program's writer), a device (written directly), a FIFO or a folder (refused
    by it with its message) are left to the program's writer."""
    try:
        return stat.S_ISREG(os.lstat(path).st_mode)
    except FileNotFoundError:
        return True


def _write(job):
    import cihear

    with warnings.catch_warnings():
        warnings.simplefilter("ignore", cihear.CascadeWarning)  # the log has the values
        if job.temporary is None or not _plain_or_absent(job.output):
            cihear.simulate_file(job.input, job.output, seed=job.seed, **job.requested)
            return
        job.partial.mkdir(exist_ok=True)
        try:
            with _utf8_name(job.input) as source, _utf8_name(job.temporary) as target:
                try:
                    cihear.simulate_file(source, target, seed=job.seed, **job.requested)
                except Exception as e:  # the files the researcher knows, not the temporary
                    why = reason(e).replace(target, str(job.output))
                    raise RuntimeError(why.replace(source, str(job.input))) from None
            _install(job.temporary, job.output)
        finally:
            remove_temporaries([job])


def run_job(job):
    start = time.perf_counter()
    try:
        why = refusal(job)
        if why is not None:
            return Outcome.failure(why)
        job.output.parent.mkdir(parents=True, exist_ok=True)
        _write(job)
        st = os.stat(job.output)
        return Outcome("done", "", time.perf_counter() - start, st.st_size, st.st_mtime_ns)
    except Exception as e:
        return Outcome.failure(reason(e), time.perf_counter() - start)
