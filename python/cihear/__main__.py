"""python3 -m cihear SUBCOMMAND ...: runs the module cihear.cli_SUBCOMMAND's main(argv)."""
import importlib
import pkgutil
import sys

import cihear


def _subcommands():
    return sorted(m.name[4:] for m in pkgutil.iter_modules(cihear.__path__) if m.name.startswith("cli_"))


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    known = ", ".join(_subcommands()) or "none installed"
    if not argv or argv[0] in ("-h", "--help"):
        print(f"usage: python3 -m cihear SUBCOMMAND [ARGS...]  (subcommands: {known})")
        return 0 if argv else 2
    name = argv[0]
    module_name = f"cihear.cli_{name}"
    try:
        module = importlib.import_module(module_name) if name.isidentifier() else None
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
