"""Quantities written with units, as kit and budget files give them: a
number in SI units, or a string "number unit" with an SI prefix."""
from __future__ import annotations

import math
import re
from typing import Any

PREFIX = {"f": 1e-15, "p": 1e-12, "n": 1e-9, "u": 1e-6, "µ": 1e-6, "m": 1e-3, "c": 1e-2, "": 1.0, "k": 1e3,
          "M": 1e6, "G": 1e9, "T": 1e12}
NUMBER = r"[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?"


class UnitError(ValueError):
    """A value that is not the quantity asked for."""


def quantity(value: Any, base: str, what: str, *, prefixes: bool = True, extra: dict | None = None) -> float:
    """`value` in units of `base`: a number (already in them), or a string
    '29.24 ps'. `extra` maps further unit names to their scale ('deg':
    pi/180, ...). Raises UnitError saying what was expected."""
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        raise UnitError(f"expected {what} ({base}), got {value!r}")
    if isinstance(value, str):
        m = re.fullmatch(rf"\s*({NUMBER})\s*(\S*)\s*", value)
        if not m:
            raise UnitError(f"'{value}' is not a number with a unit")
        number, unit = float(m.group(1)), m.group(2).replace("Ω", "ohm").replace("Ohm", "ohm")
        if unit == "":
            scale = 1.0
        elif extra and unit in extra:
            scale = extra[unit]
        elif unit.endswith(base) and (unit[: -len(base)] in PREFIX if prefixes else unit == base):
            scale = PREFIX[unit[: -len(base)]]
        else:
            raise UnitError(f"'{value}' is not {what} (expected {base}"
                            + (", with an SI prefix or none" if prefixes else "") + ")")
        value = number * scale
    value = float(value)
    if not math.isfinite(value):
        raise UnitError(f"{value} is not finite")
    return value
