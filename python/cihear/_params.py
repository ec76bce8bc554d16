"""The parameters' documentation, written from the library's parameter table, and numbers
read from text."""
import inspect
import re
from typing import Optional, Sequence, Union

from ._core import PARAMETERS

_TYPES = {"real": "float", "count": "int", "switch": "bool", "choice": "str",
          "list": "sequence of numbers or None"}
_ANNOTATIONS = {"real": float, "count": int, "switch": bool, "choice": str,
                "list": Optional[Union[Sequence[float], float]]}


def _number(value):
    return f"{value:g}"


def default(info):
    """A parameter's default as the Python value its keyword takes: a number, a choice's name,
    or None (an empty list)."""
    if info["kind"] in ("choice", "list"):
        return info["default"]
    if info["kind"] == "switch":
        return bool(info["default"])
    if info["kind"] == "count":
        return int(info["default"])
    return float(info["default"])


def keywords():
    """The simulation parameters as keyword-only parameters of a signature, in the table's
    order, each with its default and type."""
    return [inspect.Parameter(info["name"], inspect.Parameter.KEYWORD_ONLY, default=default(info),
                              annotation=_ANNOTATIONS[info["kind"]]) for info in PARAMETERS]


def accepted(info):
    """The accepted values of a parameter, with its unit."""
    if info["kind"] == "choice":
        return ", ".join(repr(name) for name in info["choices"])
    if info["kind"] == "list":
        return (f"one number or a sequence of numbers (None for none), each "
                f"{_number(info['min'])} to {_number(info['max'])}"
                + (f", {info['bound']}" if info["bound"] else "")
                + (f" ({info['unit']})" if info["unit"] else ""))
    if info["kind"] == "switch":
        text = "False or True (0 or 1)"
    else:
        text = f"{_number(info['min'])} to {_number(info['max'])}"
        if info["kind"] == "count":
            text += ", whole"
    if info["bound"]:
        text += f", {info['bound']}"
    if info["unit"]:
        text += f" ({info['unit']})"
    return text


def parameters_doc(indent="    "):
    """One numpydoc entry per simulation parameter: type, default, unit, range and meaning."""
    entries = []
    for info in PARAMETERS:
        unit = f" {info['unit']}" if info["unit"] else ""
        value = default(info)
        if isinstance(value, (bool, str)) or value is None:
            shown = repr(value)
        else:
            shown = _number(value) + unit
        summary = info["summary"][0].upper() + info["summary"][1:]
        entries.append(
            f"{indent}{info['name']} : {_TYPES[info['kind']]}, default {shown}\n"
            f"{indent}    {summary}. Accepted: {accepted(info)}."
        )
    return "\n".join(entries)


# Python's float() and int() also read "1_2" as 12, digits of other scripts and surrounding
# spaces; a number written for the program has none of them.
_REAL = re.compile(r"[+-]?(?:(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?|nan|inf|infinity)",
                   re.IGNORECASE)
_WHOLE = re.compile(r"[+-]?[0-9]+")


def real_from_text(text):
    """The float a text writes in decimal (optionally with an exponent), or ValueError."""
    if not _REAL.fullmatch(text):
        raise ValueError(f"{text!r} is not a number (decimal digits, a point and an exponent)")
    return float(text)


def whole_from_text(text):
    """The int a text writes in decimal digits, or ValueError."""
    if not _WHOLE.fullmatch(text):
        raise ValueError(f"{text!r} is not a whole number (decimal digits)")
    return int(text)
