"""Touchstone 1.0 files of one and two ports, read and written natively: the
fast path for batch work (`orvane-cal apply`). Values agree with what
`hidden.readSnP` and `hidden.writeSnP` read and write; a malformed file
raises `TouchstoneError` (a ValueError) naming the file and the line."""
from __future__ import annotations

import os

import numpy as np

from .. import _native

TouchstoneError = _native.TouchstoneError

__all__ = ["read", "write", "TouchstoneError"]


def read(path) -> tuple[np.ndarray, np.ndarray, float]:
    """(f in Hz [n], S complex [n, p, p], reference impedance) of a .s1p or .s2p file."""
    return _native.read_touchstone(os.fspath(path))


def write(path, f, s, *, z0: float = 50.0, unit: str = "Hz", comment: str = "") -> None:
    """Writes S [n, p, p] (p = 1 or 2) at f (Hz) as real/imaginary pairs, exactly;
    the file appears whole or not at all."""
    _native.write_touchstone(os.fspath(path), np.asarray(f, float), np.asarray(s, complex), z0, unit, comment)
