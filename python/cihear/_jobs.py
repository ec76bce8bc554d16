"""The jobs of a batch: from a manifest, or from a folder of recordings times a grid of settings.

A job is one input file, one output file, the simulation parameters (every one of them, the
defaults filled in) and the noise seed (None: the sequence the command line draws). Nothing here
simulates or writes anything; batch.py runs the jobs.
"""

import csv
import dataclasses
import hashlib
import itertools
import json
import os
import re
from pathlib import Path

# Extensions of the recordings a folder search picks up (what soundfile reads), lower case.
AUDIO_EXTENSIONS = frozenset(
    ".wav .wave .flac .ogg .oga .opus .mp3 .aif .aiff .aifc .au .snd .caf .w64 .rf64".split())

# The largest seed the engine takes.
MAX_SEED = 2147483643


@dataclasses.dataclass(frozen=True)
class Rule:
    """How one parameter is written and which values it takes."""
    name: str
    kind: str  # "real", "count", "switch", "choice" (a name) or "list" (numbers)
    default: object  # a number, a choice's name, or None (an empty list)
    min: float
    max: float
    choices: tuple = ()


@dataclasses.dataclass(frozen=True)
class Job:
    input: Path        # the file to read
    output: Path       # the file to write
    source: str        # the input as the log names it (relative to the folder or as in the manifest)
    parameters: dict   # every parameter's value, defaults filled in
    requested: dict    # the values the grid, --set or the manifest gave
    seed: object       # int, or None for the command line's sequence
    partial: Path = None  # the run's folder of partial outputs beside the output, if any
    refused: str = None   # why the job is not run (its output would also be another's)

    @property
    def temporary(self):
        """Where the worker writes the output before renaming it into place: a name of the
        batch's own in its folder of partial outputs (None: written in place, for an output
        that is a link, which the program's writer follows)."""
        if self.partial is None:
            return None
        digest = hashlib.sha256(os.fsencode(self.output)).hexdigest()[:16]
        return self.partial / f"{digest}.wav"


def rules(table):
    """The rules of a parameter table such as cihear.PARAMETERS, in its order."""
    result = []
    for entry in table:
        get = entry.get if isinstance(entry, dict) else (lambda k, e=entry: getattr(e, k))
        kind = str(get("kind")).lower()
        kind = next((k for k in ("count", "switch", "choice", "list") if k in kind), "real")
        default = get("default")
        if kind not in ("choice", "list"):
            default = float(default)
        choices = tuple(get("choices")) if kind == "choice" else ()
        result.append(Rule(get("name"), kind, default, float(get("min")), float(get("max")),
                           choices))
    return result


# A number as a manifest or a command line writes it: no digit separators (Python would read
# 1_2 as 12), no hexadecimal, no inf or nan.
NUMBER = re.compile(r"[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?")
WHOLE = re.compile(r"[+-]?\d+")


def _model_value(rule, value):
    """A choice's name, or a list's numbers as a tuple (from text written as the command line
    writes it, 3,7, or from a sequence of numbers), read and checked by the library."""
    from . import _core

    if rule.kind == "list" and value is None:
        return ()
    if rule.kind == "list" and not isinstance(value, str):
        numbers = value if isinstance(value, (list, tuple)) else [value]
        if any(isinstance(v, (bool, str)) or not isinstance(v, (int, float)) for v in numbers):
            raise ValueError(f"{rule.name}={value!r} is not a list of numbers")
        value = ",".join(format_value(float(v)) for v in numbers)
    try:
        parsed = _core.parse_value(rule.name, str(value).strip())
    except ValueError as e:
        raise ValueError(str(e)) from None
    return tuple(parsed) if rule.kind == "list" else parsed


def parse_value(rule, text):
    """The value of a parameter written as text, checked against its range: a number, a
    choice's name, or a list's numbers as a tuple."""
    if rule.kind in ("choice", "list"):
        return _model_value(rule, text)
    text = str(text).strip()
    if rule.kind == "switch" and text.lower() in ("true", "false"):
        return int(text.lower() == "true")
    if not NUMBER.fullmatch(text):
        raise ValueError(f"{rule.name}={text!r} is not a number")
    value = float(text)
    if rule.kind == "switch" and value not in (0, 1):
        raise ValueError(f"{rule.name}={text} must be 0 or 1 (or true/false)")
    if rule.kind == "count" and value != int(value):
        raise ValueError(f"{rule.name}={text} must be a whole number")
    if not rule.min <= value <= rule.max:
        raise ValueError(
            f"{rule.name}={text} is outside its range {format_value(rule.min)} to "
            f"{format_value(rule.max)}")
    return int(value) if rule.kind != "real" else value


def parse_seed(text, maximum=MAX_SEED):
    text = str(text).strip()
    if not WHOLE.fullmatch(text):
        raise ValueError(f"seed={text!r} is not a whole number")
    seed = int(text)
    if not 0 <= seed <= maximum:
        raise ValueError(f"seed={text} is outside its range 0 to {maximum}")
    return seed


def format_value(value):
    """A value as it appears in the log and a manifest: 8, 0.5, 1800, nucleus22, 3,7 (a list's
    numbers with commas between them, as the command line writes it; "" for none)."""
    if value is None:
        return ""
    if isinstance(value, (list, tuple)):
        return ",".join(format_value(v) for v in value)
    if isinstance(value, float) and value.is_integer() and abs(value) < 1e15:
        return str(int(value))
    return repr(value) if isinstance(value, float) else str(value)


class Settings:
    """Parses names and values against a parameter table; 'seed' is taken as well."""

    def __init__(self, table, max_seed=MAX_SEED):
        self.rules = {rule.name: rule for rule in rules(table)}
        self.defaults = {name: parse_value(rule, rule.default) for name, rule in self.rules.items()}
        self.lists = frozenset(name for name, rule in self.rules.items() if rule.kind == "list")
        self.max_seed = max_seed

    def parse(self, name, text):
        name = name.strip()
        if name == "seed":
            return parse_seed(text, self.max_seed)
        if name not in self.rules:
            raise ValueError(f"unknown parameter {name!r}; the parameters are "
                             + ", ".join(list(self.rules) + ["seed"]))
        return parse_value(self.rules[name], text)

    def complete(self, requested):
        """Every parameter's value: the requested ones, else the defaults."""
        return {name: requested.get(name, default) for name, default in self.defaults.items()}

    def job(self, input, output, source, requested):
        requested = dict(requested)
        seed = requested.pop("seed", None)
        # absolute, so that workers elsewhere (a Dask cluster) find the same files
        return Job(Path(os.path.abspath(input)), Path(os.path.abspath(output)), source,
                   self.complete(requested), requested, seed)


def parse_assignment(text, what):
    """'name=value' -> (name, value text)."""
    name, sep, value = text.partition("=")
    if not sep or not name.strip() or not value.strip():
        raise ValueError(f"{what} {text!r} is not NAME=VALUE")
    return name.strip(), value.strip()


def formatted(values):
    """{name: value} with each value as format_value writes it."""
    return {name: format_value(value) for name, value in values.items()}


def name_value(value):
    """A value as it appears in output file names: as format_value writes it, but a list's
    numbers joined by + (off-3+7), and an empty list as none."""
    if isinstance(value, (list, tuple)):
        return "+".join(format_value(v) for v in value) or "none"
    return format_value(value)


def split_grid(assignments, lists=()):
    """['n_on=4,8', 'rate=900'] -> {'n_on': ['4', '8'], 'rate': ['900']}.

    Values are separated by commas or semicolons; for the parameters named in `lists`, whose
    values are lists of numbers, by semicolons only, the commas separating a list's numbers:
    'off=3,7;5;' -> {'off': ['3,7', '5', '']} (the last: no electrode off)."""
    grid = {}
    for text in assignments:
        name, values = parse_assignment(text, "--grid")
        if name in grid:
            raise ValueError(f"--grid gives {name} twice")
        grid[name] = values.split(";") if name in lists else re.split(r"[,;]", values)
    return grid


def split_fixed(assignments):
    """['eas=1'] -> {'eas': '1'}."""
    fixed = {}
    for text in assignments:
        name, value = parse_assignment(text, "--set")
        if name in fixed:
            raise ValueError(f"--set gives {name} twice")
        fixed[name] = value
    return fixed


def check_grid(settings, grid):
    """{'n_on': ['4', 8]} -> {'n_on': [4, 8]}, every value checked."""
    checked = {}
    for name, values in (grid or {}).items():
        values = [values] if isinstance(values, (str, int, float)) else list(values)
        if not values:
            raise ValueError(f"the grid gives no value for {name}")
        parsed = [settings.parse(name, v) for v in values]
        if len(set(parsed)) != len(parsed):
            raise ValueError(f"the grid repeats a value of {name}: "
                             + ",".join(format_value(v) for v in parsed))
        checked[name] = parsed
    return checked


def check_fixed(settings, fixed, grid=()):
    """{'eas': '1'} -> {'eas': 1}, checked; a name may not also be in the grid."""
    checked = {}
    for name, value in (fixed or {}).items():
        if name in grid:
            raise ValueError(f"{name} is both in the grid and set to one value")
        checked[name] = settings.parse(name, value)
    return checked


def _first_visit(path, visited):
    """Whether a folder is reached for the first time (not again through a link, or a loop)."""
    try:
        st = os.stat(path)
    except OSError:
        return False
    if (st.st_dev, st.st_ino) in visited:
        return False
    visited.add((st.st_dev, st.st_ino))
    return True


def find_inputs(folder, exclude=None):
    """The recordings under folder, recursively, in a fixed order; hidden files and folders and
    everything under exclude (an output folder inside the input folder) are left out. Links to
    folders are followed, each folder taken once (a link back up is not a loop)."""
    folder = Path(folder)
    if not folder.is_dir():
        raise ValueError(f"input folder {str(folder)!r} is not a folder")
    exclude = Path(exclude).resolve() if exclude is not None else None
    found, visited = [], set()
    _first_visit(folder, visited)
    for root, dirs, files in os.walk(folder, followlinks=True):
        dirs[:] = sorted(d for d in sorted(dirs) if not d.startswith(".")
                         and (exclude is None or (Path(root) / d).resolve() != exclude)
                         and _first_visit(Path(root) / d, visited))
        found.extend(Path(root) / f for f in sorted(files)
                     if not f.startswith(".") and Path(f).suffix.lower() in AUDIO_EXTENSIONS)
    return sorted(found, key=lambda path: path.relative_to(folder).parts)


def condition_name(conditions):
    """'__n_on-8__rate-900' for the grid's values of one job ('' without a grid)."""
    return "".join(f"__{name}-{name_value(value)}" for name, value in conditions.items())


def fixed_conditions(settings, fixed):
    """The fixed values that belong in the outputs' names, so that two conditions never share
    one: those other than the default, in the parameter table's order, and the seed."""
    named = {name: fixed[name] for name, default in settings.defaults.items()
             if name in fixed and fixed[name] != default}
    if "seed" in fixed:
        named["seed"] = fixed["seed"]
    return named


def grid_jobs(settings, input_folder, output_folder, grid=None, fixed=None, written=()):
    """Every recording under input_folder times every combination of the grid, the outputs
    named from the input's relative path and the condition (the grid's values, then the fixed
    values other than the defaults and the seed), in a tree mirroring the input's.
    `written`: the other files the batch writes, as check_outputs takes them."""
    grid, fixed = grid or {}, fixed or {}
    output_folder = Path(output_folder)
    if output_folder.resolve() == Path(input_folder).resolve():
        raise ValueError("the output folder is the input folder: the outputs would be taken "
                         "for inputs by the next run (give another folder, or one inside it)")
    inputs = find_inputs(input_folder, exclude=output_folder)
    combos = [dict(zip(grid, values)) for values in itertools.product(*grid.values())]
    fixed_name = condition_name(fixed_conditions(settings, fixed))
    jobs = []
    for path in inputs:
        relative = path.relative_to(input_folder)
        for conditions in combos:
            name = relative.stem + condition_name(conditions) + fixed_name + ".wav"
            jobs.append(settings.job(path, output_folder / relative.parent / name,
                                     relative.as_posix(), {**fixed, **conditions}))
    return check_outputs(jobs, written=written, refuse_pairs=True)


def manifest_jobs(settings, manifest, written=()):
    """The jobs of a CSV manifest: columns input and output (relative paths are taken from the
    manifest's folder), then any parameter columns and seed; an empty cell takes the default.
    `written`: the other files the batch writes, as check_outputs takes them."""
    manifest = Path(manifest)
    base = manifest.parent
    jobs = []
    with open(manifest, newline="", encoding="utf-8-sig") as f:
        reader = csv.DictReader(f)
        columns = [c.strip() for c in reader.fieldnames or []]
        for required in ("input", "output"):
            if required not in columns:
                raise ValueError(f"{manifest}: no {required!r} column (the columns are "
                                 f"{', '.join(columns) or 'missing'})")
        for column in columns:
            if column not in ("input", "output", "seed") and column not in settings.rules:
                raise ValueError(f"{manifest}: unknown column {column!r}; the parameters "
                                 f"are {', '.join(list(settings.rules) + ['seed'])}")
        for row in reader:
            where = f"{manifest} line {reader.line_num}"
            if None in row:
                raise ValueError(f"{where}: more cells than columns")
            row = {k.strip(): (v or "").strip() for k, v in row.items()}
            if not row.get("input") or not row.get("output"):
                if not any(row.values()):
                    continue  # blank line
                raise ValueError(f"{where}: input and output must both be given")
            try:
                requested = {k: settings.parse(k, v) for k, v in row.items()
                             if k not in ("input", "output") and v != ""}
            except ValueError as e:
                raise ValueError(f"{where}: {e}") from None
            jobs.append(settings.job(base / row["input"], base / row["output"], row["input"],
                                     requested))
    return check_outputs(jobs, [(manifest, f"the manifest {manifest}")], written)


def identities(path, folders=None):
    """What names the file a path leads to: its resolved path (links followed, whether or not
    the file exists) and, for a file that exists, its device and inode (which also catch hard
    links and folders reached through links). folders: {folder: resolved}, to resolve each
    folder once for many files."""
    folder, name = os.path.split(os.fspath(path))
    if folders is None:
        folders = {}
    if folder not in folders:
        folders[folder] = os.path.realpath(folder or ".")
    resolved = os.path.join(folders[folder], name)
    if os.path.islink(resolved) or name in ("", ".", ".."):
        resolved = os.path.realpath(resolved)
    found = {("path", resolved)}
    try:
        st = os.stat(path)
    except (OSError, ValueError):
        return found
    found.add(("inode", st.st_dev, st.st_ino))
    return found


def check_outputs(jobs, protected=(), written=(), refuse_pairs=False):
    """Refuses two jobs writing one file, which would silently keep only one of them, and an
    output written over an input or over a `protected` file ((path, what it is) pairs: the
    manifest); `written` are the other files the batch writes ((path, what), the log), which
    may not be an input, a protected file or an output either. Files are compared by what they
    resolve to, so that a link to an input, an input given through a link, or a hard link, is
    caught as well. With refuse_pairs, two jobs writing one file are not run (their `refused`
    says why) and the others are, rather than the whole list refused."""
    memo, folders = {}, {}

    def named(path):
        if path not in memo:
            memo[path] = identities(path, folders)
        return memo[path]

    reserved = {}
    for path, what in protected:
        reserved.update(dict.fromkeys(named(path), what))
    for job in jobs:
        reserved.update(dict.fromkeys(named(job.input), job.source))
    for path, what in written:
        clash = next((reserved[i] for i in named(path) if i in reserved), None)
        if clash is not None:
            raise ValueError(f"{clash} would be overwritten by {what}")
    for path, what in written:
        reserved.update(dict.fromkeys(named(path), what))
    seen, clashes = {}, {}
    for job in jobs:
        found = named(job.output)
        clash = next((reserved[i] for i in found if i in reserved), None)
        if clash is not None:
            raise ValueError(f"{clash} would be overwritten by the output of {job.source}")
        other = next((seen[i] for i in found if i in seen), None)
        if other is not None:
            why = f"{other.source} and {job.source} would both be written to {job.output}"
            if not refuse_pairs:
                raise ValueError(why)
            clashes.setdefault(id(other), (other, why))
            clashes[id(job)] = (job, why)
        seen.update(dict.fromkeys(found, job))
    why = {key: f"{text}: not run (rename one of them)" for key, (_, text) in clashes.items()}
    return [dataclasses.replace(job, refused=why[id(job)]) if id(job) in why else job
            for job in jobs]


def shard(jobs, index, count):
    """Every count-th job from the index-th (1 to count), so count shards cover every job once."""
    if not 1 <= index <= count:
        raise ValueError(f"shard {index}/{count}: the shard number must be from 1 to {count}")
    return jobs[index - 1::count]


def parse_shard(text):
    """'3/10' -> (3, 10)."""
    index, sep, count = str(text).partition("/")
    try:
        index, count = int(index), int(count)
    except ValueError:
        raise ValueError(f"--shard {text!r} is not I/N (for example 3/10)") from None
    if not sep or count < 1:
        raise ValueError(f"--shard {text!r} is not I/N (for example 3/10)")
    if not 1 <= index <= count:
        raise ValueError(f"--shard {text}: the shard number must be from 1 to {count}")
    return index, count


def input_identity(path, content=False):
    """What identifies an input's version: its size and modification time, or its content."""
    if content:
        digest = hashlib.sha256()
        with open(path, "rb") as f:
            for block in iter(lambda: f.read(1 << 20), b""):
                digest.update(block)
        return {"sha256": digest.hexdigest()}
    st = os.stat(path)
    return {"size": st.st_size, "mtime_ns": st.st_mtime_ns}


def _model_defaults():
    """The implant models' parameters (names and lists) and their defaults as format_value
    writes them."""
    from . import _core

    return {p["name"]: format_value(p["default"]) for p in _core.PARAMETERS
            if p["kind"] in ("choice", "list")}


def job_key(job, identity, version):
    """A digest of everything an output depends on: the input's name and version, every
    parameter's value (as asked for, the defaults filled in), the seed and the package
    version. The implant models' parameters count only away from their defaults, where the
    output is what it was before they existed: a job keeps the key it had then, and a rerun
    over a log written before them skips what is complete."""
    models = _model_defaults()
    parameters = {k: format_value(v) for k, v in job.parameters.items()}
    parameters = {k: v for k, v in parameters.items() if k not in models or v != models[k]}
    text = json.dumps({"input": job.source, "identity": identity, "parameters": parameters,
                       "seed": job.seed, "version": version}, sort_keys=True)
    return hashlib.sha256(text.encode()).hexdigest()[:32]
