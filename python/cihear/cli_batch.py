"""python3 -m cihear batch: a corpus under a grid of settings, or the jobs of a manifest.

Exit status: 0 every job done (or skipped as complete), 1 some job failed, 2 the command line,
the manifest or a folder was refused, or another batch is writing the same log, 3 the log could
not be written (a full disk: the batch stops, the log whole up to its last line), 130
interrupted (Ctrl-C, or terminated)."""

import argparse
import signal
import sys

USAGE = """python3 -m cihear batch INPUT_DIR OUTPUT_DIR [--grid NAME=V1,V2,...]... [--set NAME=VALUE]... [options]
       python3 -m cihear batch --manifest JOBS.csv [options]"""

DESCRIPTION = """\
Simulates every recording under INPUT_DIR (searched recursively) under every combination of the
--grid values, into OUTPUT_DIR with the same tree of folders: sentences/s001.wav becomes
OUTPUT_DIR/sentences/s001__n_on-8__rate-900.wav. Parameters take the command line's option names
(n_on, rate, f_min, ...) and 'seed'; those in no --grid take --set values or their defaults.
The names carry every --grid value, and every --set value other than the default and the seed
(s001__n_on-8__eas-1__seed-3.wav), so that two conditions never share a name.
A choice takes its names (--grid map=nucleus22,ab16). A list is written with commas as the
command line writes it (--set off=3,7); in a --grid, semicolons separate a list parameter's
values (--grid "off=3,7;5;" is three conditions: 3 and 7 off, 5 off, none off), and a name
joins a list's numbers with + (s001__off-3+7.wav, s001__off-none.wav). Semicolons may also
separate the values of the other parameters.
A manifest is a CSV file with the columns input and output (relative paths start at the
manifest's folder), then any parameter columns and seed; an empty cell takes the default.

A log (OUTPUT_DIR/cihear-batch.csv, or JOBS-log.csv beside a manifest) gets one line per job
with every effective parameter, the seed, the package version, the status and the seconds.
A rerun skips the jobs whose output is complete and made from the same input and settings;
it refuses to replace an output the log records with other parameters unless --overwrite."""


class _Parser(argparse.ArgumentParser):
    def error(self, message):  # one line, no usage block
        raise _UsageError(message)


class _UsageError(Exception):
    pass


def parser():
    p = _Parser(prog="python3 -m cihear batch", usage=USAGE, description=DESCRIPTION,
                formatter_class=argparse.RawDescriptionHelpFormatter)
    p.add_argument("folders", nargs="*", metavar="INPUT_DIR OUTPUT_DIR", help=argparse.SUPPRESS)
    p.add_argument("--manifest", metavar="JOBS.csv", help="run the jobs of a CSV manifest")
    p.add_argument("--grid", action="append", default=[], metavar="NAME=V1,V2,...",
                   help="a parameter's values, every combination with the other grids")
    p.add_argument("--set", action="append", default=[], metavar="NAME=VALUE",
                   help="a parameter's value for every job")
    p.add_argument("--jobs", type=int, metavar="N",
                   help="worker processes (default: every core available; at most 4 per core)")
    p.add_argument("--shard", metavar="I/N",
                   help="run every N-th job from the I-th (1 to N), logged on its own; "
                        "N tasks with I = 1..N cover every job once")
    p.add_argument("--scheduler", metavar="ADDRESS",
                   help="run on the Dask cluster of this scheduler (tcp://host:8786); the "
                        "workers must see the files under the same paths")
    p.add_argument("--log", metavar="PATH", help="the log's path")
    p.add_argument("--content-hash", action="store_true",
                   help="recognise unchanged inputs by their content, not size and time")
    p.add_argument("--overwrite", action="store_true",
                   help="replace outputs the log records as made with other parameters")
    p.add_argument("--quiet", action="store_true", help="no progress, only failures and summary")
    return p


def _say(text, stream):
    """Prints a line; a file name that is not valid UTF-8 is shown with its bytes escaped."""
    try:
        print(text, file=stream)
    except UnicodeEncodeError:
        print(text.encode("utf-8", "backslashreplace").decode("utf-8"), file=stream)


def _terminated(signum, frame):
    raise KeyboardInterrupt  # a cluster's kill: stop the workers and leave a usable log


def main(argv=None):
    from . import PARAMETERS, _jobs
    from ._batch import Busy, Interrupted, LogFailed, batch

    try:
        args = parser().parse_args(argv)
        if args.jobs is not None and args.jobs < 1:
            raise _UsageError(f"--jobs {args.jobs}: give at least 1")
        if args.manifest is None and len(args.folders) != 2:
            raise _UsageError("give INPUT_DIR and OUTPUT_DIR, or --manifest JOBS.csv")
        if args.manifest is not None and args.folders:
            raise _UsageError("give either INPUT_DIR and OUTPUT_DIR or --manifest, not both")
        folders = args.folders or [None, None]
        grid = _jobs.split_grid(args.grid, {p["name"] for p in PARAMETERS if p["kind"] == "list"})
        fixed = _jobs.split_fixed(args.set)
        if args.manifest is not None and (grid or fixed):
            raise _UsageError("--grid and --set are for folders; a manifest gives the parameters")
    except (_UsageError, ValueError) as e:
        _say(f"cihear batch: error: {e}", sys.stderr)
        return 2

    previous = signal.signal(signal.SIGTERM, _terminated)
    try:
        summary = batch(folders[0], folders[1], manifest=args.manifest, grid=grid,
                        parameters=fixed, jobs=args.jobs, scheduler=args.scheduler,
                        shard=args.shard, log=args.log, content_hash=args.content_hash,
                        progress=not args.quiet, stream=sys.stderr, overwrite=args.overwrite)
    except Interrupted as e:
        _say(f"cihear batch: {e.summary}", sys.stderr)
        return 130
    except KeyboardInterrupt:  # before any job ran
        print("cihear batch: interrupted", file=sys.stderr)
        return 130
    except LogFailed as e:
        done = getattr(e, "summary", None)
        _say(f"cihear batch: error: {e.strerror}; stopped" + (f": {done}" if done else ""),
             sys.stderr)
        return 3
    except (ValueError, OSError, Busy) as e:
        _say(f"cihear batch: error: {e}", sys.stderr)
        return 2
    finally:
        signal.signal(signal.SIGTERM, previous)
    if args.quiet:
        for source, output, reason in summary.failures:
            _say(f"failed: {source} -> {output}: {reason}", sys.stderr)
    _say(f"cihear batch: {summary}", sys.stdout)
    return 0 if summary.ok else 1


if __name__ == "__main__":
    sys.exit(main())
