"""python3 -m cihear report [options] [--json]: the methods-section report of a set of options.

Also the pieces every subcommand shares: the simulation options, made from cihear.PARAMETERS
with the command line's names, and one-line errors.
"""

import argparse
import json
import os
import sys
import warnings

from . import PARAMETERS
from ._params import real_from_text, whole_from_text
from ._report import parameter_table

SWITCH_WORDS = {"0": 0, "1": 1, "false": 0, "true": 1}


class Parser(argparse.ArgumentParser):
    """An ArgumentParser whose usage errors are one line on standard error (status 2)."""

    def error(self, message):
        self.exit(2, f"{self.prog}: error: {message}\n")


def _argument(parse):
    """`parse` as an argparse type: its ValueError becomes the option's usage error."""

    def parse_argument(text):
        try:
            return parse(text)
        except ValueError as e:
            raise argparse.ArgumentTypeError(str(e)) from None

    return parse_argument


def _switch(text):
    try:
        return SWITCH_WORDS[text.lower()]
    except KeyError:
        raise argparse.ArgumentTypeError(f"'{text}' is not 0, 1, true or false") from None


def _text_value(name):
    """An argparse type reading a choice's name or a list of numbers as the command line writes
    them (3,7), with the library's refusal as the option's usage error."""
    from . import _core

    def parse(text):
        try:
            return _core.parse_value(name, text)
        except ValueError as e:
            raise argparse.ArgumentTypeError(str(e)) from None

    return parse


def _help(p):
    if p["kind"] == "choice":
        return f"{p['summary']} (default {p['default']}; {p['accepted']})"
    if p["kind"] == "list":
        return f"{p['summary']} (default none; {p['accepted']})"
    if p["kind"] == "switch":
        accepted = "0 or 1"
    else:
        accepted = f"{p['min']:g} to {p['max']:g}" + (f", {p['bound']}" if p["bound"] else "")
    unit = f" {p['unit']}" if p["unit"] else ""
    return f"{p['summary']} (default {p['default']:g}{unit}; {accepted})"


def add_simulation_options(parser):
    """The parameters as --name options (with the command line's letters) and --seed: the coding
    strategy's, then the implant models' (a choice's name, a list as 3,7)."""
    group = parser.add_argument_group("simulation options")
    for name, p in parameter_table(PARAMETERS).items():
        if p["kind"] == "choice":
            metavar, parse = "|".join(p["choices"]), _text_value(name)
        elif p["kind"] == "list":
            metavar, parse = "V1,V2,...", _text_value(name)
        elif p["kind"] == "switch":
            metavar, parse = "0|1", _switch
        else:
            metavar, parse = "X", _argument(real_from_text)
        flags = [f"--{name}"] + ([f"-{p['letter']}"] if p["letter"] else [])
        group.add_argument(*flags, dest=name, default=None, metavar=metavar, type=parse,
                           help=_help(p))
    group.add_argument("--seed", type=_argument(whole_from_text), default=None,
                       help="seed of the carrier noise (default: the program's own sequence)")


def simulation_options(args):
    """The parameters given on the command line, as keyword arguments, and the seed."""
    given = {name: getattr(args, name) for name in parameter_table(PARAMETERS)
             if getattr(args, name) is not None}
    return given, args.seed


def run(prog, body):
    """Runs body() and returns its status; an error is one line on standard error, status 1.

    Parameter cascades are reported as 'warning:' lines.
    """
    try:
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            status = body()
        for w in caught:
            print(f"{prog}: warning: {w.message}", file=sys.stderr)
        return status
    except BrokenPipeError:
        # The reader went away (`report | head`): nothing to say, and nothing more to write, not
        # even what is still buffered for standard output when the interpreter ends.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except (ValueError, TypeError, OSError, RuntimeError) as e:
        if isinstance(e, OSError) and e.filename is not None:
            e = f"{e.filename}: {e.strerror}"
        text = str(e).strip().splitlines()
        print(f"{prog}: error: {text[0] if text else type(e).__name__}", file=sys.stderr)
        return 1


def main(argv=None):
    parser = Parser(prog="python3 -m cihear report",
                    description="Print everything a methods section needs about a simulation "
                    "with these options: effective parameters, channel bands (nominal and "
                    "measured), filters, selection, current spread, carrier and output.")
    add_simulation_options(parser)
    parser.add_argument("--json", action="store_true", help="print the report as JSON")
    args = parser.parse_args(argv)
    parameters, seed = simulation_options(args)

    def body():
        from ._report import render, report

        r = report(seed=seed, **parameters)
        print(json.dumps(r, indent=2) if args.json else render(r))
        return 0

    return run(parser.prog, body)


if __name__ == "__main__":
    sys.exit(main())
