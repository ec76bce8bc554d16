"""python3 -m cihear SUBCOMMAND ...: runs the subcommand module's main(argv)."""
import importlib
import sys

# Each subcommand and the module (in this package) whose main(argv) runs it.
SUBCOMMANDS = {
    "report": "cli_report",
    "inspect": "cli_figure",
    "batch": "cli_batch",
}


def _subcommands():
    return sorted(SUBCOMMANDS)


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    known = ", ".join(_subcommands()) or "none installed"
    if not argv or argv[0] in ("-h", "--help"):
        print(f"usage: python3 -m cihear SUBCOMMAND [ARGS...]  (subcommands: {known})")
        return 0 if argv else 2
    name = argv[0]
    module_name = f"cihear.{SUBCOMMANDS[name]}" if name in SUBCOMMANDS else None
    try:
        module = importlib.import_module(module_name) if module_name else None
    except ModuleNotFoundError as e:
        if e.name != module_name:
            raise
        module = None
    if module is None:
        print(f"cihear: unknown subcommand '{name}' (subcommands: {known})", file=sys.stderr)
        return 2
    return module.main(argv[1:])


if __name__ == "__main__":
    sys.exit(main())
