"""Touchstone 1.0 files of one and two ports, read and written natively: the
fast path for batch work (`orvane-cal apply`). Values agree with what
`hidden.readSnP` and `hidden.writeSnP` read and write; a malformed file
raises `TouchstoneError` (a ValueError) naming the file and the line."""
from __future__ import annotations

import os

import numpy as np

from .. import _native
from .._common.convention import Convention, in_convention

TouchstoneError = _native.TouchstoneError

__all__ = ["read", "write", "TouchstoneError"]


def read(path, *, convention: Convention = "engineering") -> tuple[np.ndarray, np.ndarray, float]:
    """(f in Hz [n], S complex [n, p, p], reference impedance) of a .s1p or .s2p file.

    Files hold the e^{jwt} convention; `convention="board"` gives the values
    in the QLM-417's own (their conjugates)."""
    f, s, z0 = _native.read_touchstone(os.fspath(path))
    return f, in_convention(s, convention), z0


def write(path, f, s, *, z0: float = 50.0, unit: str = "Hz", comment: str = "",
          convention: Convention = "engineering") -> None:
    """Writes S [n, p, p] (p = 1 or 2) at f (Hz) as real/imaginary pairs, exactly;
    the file appears whole or not at all. The file holds the e^{jwt}
    convention: values in the QLM-417's own say `convention="board"` and are
    converted."""
    s = in_convention(np.asarray(s, complex), convention)
    _native.write_touchstone(os.fspath(path), np.asarray(f, float), s, z0, unit, comment)
