"""The batch log: one CSV line per job run, what a methods section and a data archive need.

Each line is appended and flushed to disk as its job ends, so a killed batch leaves a log that
says exactly which outputs are complete. A line cut short by a kill is ignored when the log is
read. At the start and the end of a run the log is rewritten (to a temporary file renamed into
place) with only the latest line for each output, in the order of the outputs' names.
"""

import csv
import io
import os
from pathlib import Path

# The columns around the parameters' (which come in the parameter table's order).
HEAD = ["input", "output"]
TAIL = ["seed", "version", "status", "reason", "seconds", "finished", "input_size",
        "output_size", "output_mtime_ns", "key"]


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
    found = sorted(path.parent.glob(f"{path.stem}.shard-*-of-*{path.suffix}"))
    return ([path] if path.exists() else []) + found


def read(path):
    """The complete lines of a log as dicts, in order; a missing log has none."""
    try:
        with open(path, newline="", encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        return []
    if not text.endswith("\n"):
        text = text[:text.rfind("\n") + 1]  # the last line was cut short
    rows = csv.DictReader(io.StringIO(text, newline=""))
    return [row for row in rows if None not in row.values() and None not in row]


def latest(rows):
    """The last line for each output, keyed by the output as the log names it, in the order of
    those lines."""
    result = {}
    for row in rows:
        result.pop(row["output"], None)
        result[row["output"]] = row
    return result


def rewrite(path, rows, names):
    """Writes the log anew with only the latest line per output, atomically."""
    path = Path(path)
    path.parent.mkdir(parents=True, exist_ok=True)
    temporary = path.with_name("." + path.name + ".part")
    with open(temporary, "w", newline="", encoding="utf-8") as f:
        writer = csv.DictWriter(f, fieldnames=names, extrasaction="ignore", restval="")
        writer.writeheader()
        writer.writerows(sorted(latest(rows).values(), key=lambda row: row["output"]))
        f.flush()
        os.fsync(f.fileno())
    os.replace(temporary, path)


class Writer:
    """Appends one line per job, each on disk before the next job is reported."""

    def __init__(self, path, names):
        self.path = Path(path)
        self.names = list(names)
        rewrite(self.path, read(self.path), self.names)
        self.file = open(self.path, "a", newline="", encoding="utf-8")
        self.writer = csv.DictWriter(self.file, fieldnames=self.names, extrasaction="ignore",
                                     restval="")

    def append(self, row):
        self.writer.writerow(row)
        self.file.flush()
        os.fsync(self.file.fileno())

    def close(self):
        """Closes the log and leaves only the latest line per output in it."""
        if not self.file.closed:
            self.file.close()
            rewrite(self.path, read(self.path), self.names)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def relative(path, folder):
    """A path as the log names it: relative to the log's folder."""
    return Path(os.path.relpath(os.path.abspath(path), os.path.abspath(folder))).as_posix()
