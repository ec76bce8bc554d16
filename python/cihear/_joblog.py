"""The batch log: one CSV line per job run, what a methods section and a data archive need.

Each line is appended and synced to disk as its job ends, so a killed batch leaves a log that
says exactly which outputs are complete; a line that cannot be written whole (a full disk) is
cut back off, so that the log always ends with a whole line. A line cut short by a kill, or
damaged by hand, is skipped when the log is read, and costs only that line. The log keeps the
history: every line of every output, the latest of which says how the file on disk was made.
At the start and the end of a run the log is rewritten (to a temporary file renamed into place)
in the order of the outputs' names, each output's lines in the order they were written.

Lines with the status "temporary" name a folder of partial outputs that a run makes beside its
outputs (written before the folder is made); the run removes the folder when it ends, and the
next run with that log removes it if a kill left it behind.

One batch at a time writes a log: it holds an advisory lock (see Lock) until it ends.
"""

import csv
import datetime
import errno
import fcntl
import io
import os
import shutil
import socket
from pathlib import Path

# The columns around the parameters' (which come in the parameter table's order).
HEAD = ["input", "output"]
TAIL = ["seed", "version", "status", "reason", "seconds", "finished", "input_size",
        "output_size", "output_mtime_ns", "key"]

# The columns without which a log says nothing the batch can use.
REQUIRED = ("output", "status", "key", "output_size", "output_mtime_ns")

# The most physical lines one record may span (a file name holding line breaks).
MAX_LINES_PER_RECORD = 8

# File names are taken as bytes where they are not valid UTF-8 (the log then holds those bytes
# as they are, and reads them back unchanged).
ENCODING = dict(encoding="utf-8", errors="surrogateescape")


class Unreadable(Exception):
    """A log the batch cannot read at all (no header with the columns it needs, not text)."""


class WriteFailed(OSError):
    """The log could not be written (a full disk, a file size limit, an I/O error)."""


class Busy(RuntimeError):
    """Another batch holds the log's lock."""


def columns(parameter_names):
    return HEAD + list(parameter_names) + TAIL


def shard_path(path, index, count):
    """The log of one shard: out/cihear-batch.csv -> out/cihear-batch.shard-3-of-10.csv."""
    path = Path(path)
    return path.with_name(f"{path.stem}.shard-{index}-of-{count}{path.suffix}")


def lock_path(path):
    """The file whose lock says that a batch is writing the log: out/.cihear-batch.csv.lock."""
    path = Path(path)
    return path.with_name(f".{path.name}.lock")


def related_logs(path):
    """The log and those of its shards, whichever exist."""
    path = Path(path)
    main = path.with_name(path.name.split(".shard-")[0] + path.suffix) if ".shard-" in \
        path.name else path
    found = sorted(main.parent.glob(f"{main.stem}.shard-*-of-*{main.suffix}"))
    return ([main] if main.exists() else []) + found


def _record(chunk):
    """The fields of one CSV record, None for a record that continues on the next line, or
    False for a damaged one."""
    try:
        rows = list(csv.reader(io.StringIO(chunk + "\n", newline=""), strict=True))
    except csv.Error as e:
        return None if "unexpected end of data" in str(e) else False
    return rows[0] if len(rows) == 1 else False


def scan(path):
    """(the whole records of a log as dicts in order, the number of damaged lines skipped); a
    missing log has none. Raises Unreadable for a log without a usable header."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except FileNotFoundError:
        return [], 0
    if b"\0" in data:
        raise Unreadable("it is not a text file")
    lines = data.decode(**ENCODING).split("\n")[:-1]  # what follows the last break was cut
    header = _record(lines[0]) if lines else False
    if not header or any(name not in header for name in REQUIRED):
        raise Unreadable("its first line is not a header naming the columns "
                         + ", ".join(REQUIRED))
    rows, damaged, i = [], 0, 1
    while i < len(lines):
        fields = None
        for end in range(i + 1, min(i + MAX_LINES_PER_RECORD, len(lines)) + 1):
            fields = _record("\n".join(lines[i:end]))
            if fields is not None:
                break
        if fields and len(fields) == len(header) and fields[header.index("output")]:
            rows.append(dict(zip(header, fields)))
            i = end
        elif not fields and lines[i] in ("", "\r"):
            i += 1  # a blank line
        else:
            damaged += 1
            i += 1
    return rows, damaged


def read(path):
    """The whole records of a log as dicts, in order; a missing log has none."""
    return scan(path)[0]


def latest(rows):
    """The last line for each output, keyed by the output as the log names it, in the order of
    those lines."""
    result = {}
    for row in rows:
        result.pop(row["output"], None)
        result[row["output"]] = row
    return result


def _finished(row):
    try:
        return datetime.datetime.fromisoformat(row.get("finished") or "").timestamp()
    except (ValueError, OverflowError):
        return float("-inf")


def _mtime(row):
    try:
        return int(row.get("output_mtime_ns") or 0)
    except ValueError:
        return 0


def combined(logs):
    """Each output's latest record among several logs (the main log and its shards'): the one
    that finished last, whichever log holds it. Within one second (the time's resolution) the
    output made last wins, then the later log given."""
    best = {}
    for rank, rows in enumerate(logs):
        for row in latest(rows).values():
            order = (_finished(row), _mtime(row), rank)
            if row["output"] not in best or order >= best[row["output"]][0]:
                best[row["output"]] = (order, row)
    return {output: row for output, (_, row) in best.items()}


def _text(rows, names, header=True):
    buffer = io.StringIO(newline="")
    writer = csv.DictWriter(buffer, fieldnames=names, extrasaction="ignore", restval="")
    if header:
        writer.writeheader()
    writer.writerows(rows)
    return buffer.getvalue().encode(**ENCODING)


def _failed(path, error):
    return WriteFailed(error.errno or errno.EIO,
                       f"could not write the log {path}: {error.strerror or error}")


def rewrite(path, rows, names):
    """Writes the log anew with `rows` in the order of their outputs, atomically; on failure the
    log is left as it was."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    temporary = path.with_name("." + path.name + ".part")
    ordered = sorted(rows, key=lambda row: row["output"])
    try:
        with open(temporary, "wb") as f:
            f.write(_text(ordered, names))
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, path)
    except OSError as e:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise _failed(path, e) from None


class Writer:
    """Appends one line per job, each whole on disk before the next job is reported."""

    def __init__(self, path, names, rows=None):
        """rows: the records to start from (default: the log's own)."""
        self.path = Path(path)
        self.names = list(names)
        self.rows = list(read(self.path) if rows is None else rows)
        rewrite(self.path, self.rows, self.names)
        self.fd = os.open(self.path, os.O_WRONLY | os.O_APPEND | os.O_CLOEXEC)

    def append(self, row):
        """Writes one line and syncs it; a line that cannot be written whole is cut back off and
        WriteFailed raised."""
        data = _text([row], self.names, header=False)
        size = os.fstat(self.fd).st_size
        try:
            view = memoryview(data)
            while view:  # a short write is followed by the one that says why
                view = view[os.write(self.fd, view):]
            os.fsync(self.fd)
        except OSError as e:
            try:
                os.ftruncate(self.fd, size)
                os.fsync(self.fd)
            except OSError:
                pass
            raise _failed(self.path, e) from None
        self.rows.append(row)

    def close(self, drop=()):
        """Closes the log and rewrites it in order, without the lines in `drop` (rows)."""
        if self.fd is None:
            return
        os.close(self.fd)
        self.fd = None
        dropped = {id(row) for row in drop}
        rewrite(self.path, [r for r in self.rows if id(r) not in dropped], self.names)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        try:
            self.close()
        except WriteFailed:
            if exc[0] is None:
                raise  # otherwise the error under way says more


class Lock:
    """An advisory lock on a log, held while a batch writes it; a second batch that asks for it
    gets Busy, saying which process holds it. The lock file (.LOG.lock beside the log) says who
    holds it and is removed on release."""

    def __init__(self, log):
        self.log = Path(log)
        self.path = lock_path(log)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self.fd = None
        while True:
            try:
                fd = os.open(self.path, os.O_RDWR | os.O_CREAT | os.O_CLOEXEC, 0o644)
            except OSError as e:
                if e.errno in (errno.EACCES, errno.EPERM, errno.EROFS) and \
                        not os.access(self.path.parent, os.W_OK):
                    return  # a folder this process cannot write: it writes no log there either
                if e.errno in (errno.ENOSPC, errno.EDQUOT):
                    raise _failed(self.path, e) from None
                raise
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
            except BlockingIOError:
                holder = os.pread(fd, 1000, 0).decode(errors="replace").strip()
                os.close(fd)
                raise Busy(f"another batch is writing the log {self.log} ({holder or 'a process'}"
                           f"): wait for it to end, or give another output folder or log") \
                    from None
            if self._still_named(fd):
                break
            os.close(fd)  # the holder removed it as it let go: take the new one
        self.fd = fd
        stamp = datetime.datetime.now().astimezone().isoformat(timespec="seconds")
        try:  # who holds it, for the message of a second batch (the lock holds without it)
            os.ftruncate(fd, 0)
            os.pwrite(fd, f"pid {os.getpid()} on {socket.gethostname()}, started {stamp}\n"
                      .encode(), 0)
        except OSError:
            pass

    def _still_named(self, fd):
        try:
            st = os.stat(self.path)
        except FileNotFoundError:
            return False
        own = os.fstat(fd)
        return (st.st_dev, st.st_ino) == (own.st_dev, own.st_ino)

    def release(self):
        if self.fd is None:
            return
        try:
            os.unlink(self.path)
        except OSError:
            pass
        os.close(self.fd)
        self.fd = None

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.release()


def set_aside(path, why, copy=False):
    """Renames a log the batch cannot use to LOG.WHY-TIME.csv (never deleting it), or copies it
    there (for a log about to be rewritten in place), and returns the new path."""
    path = Path(path)
    stamp = datetime.datetime.now().strftime("%Y%m%dT%H%M%S")
    target = path.with_name(f"{path.stem}.{why}-{stamp}{path.suffix}")
    n = 1
    while target.exists():
        n += 1
        target = path.with_name(f"{path.stem}.{why}-{stamp}-{n}{path.suffix}")
    if copy:
        shutil.copyfile(path, target)
    else:
        os.rename(path, target)
    return target


def relative(path, folder):
    """A path as the log names it: relative to the log's folder."""
    return Path(os.path.relpath(os.path.abspath(path), os.path.abspath(folder))).as_posix()
