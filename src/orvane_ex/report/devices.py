"""Devices for a report: raw measurements given as arrays, scikit-rf Networks
or Touchstone files, read and checked, each with a name."""
from __future__ import annotations

import dataclasses
import os
from collections.abc import Mapping

import numpy as np

from .._common.convention import in_convention
from .._common.network import is_network


@dataclasses.dataclass
class Device:
    name: str
    f: np.ndarray            # Hz
    raw: np.ndarray          # [n, p, p], in the calibration's convention
    path: str | None = None  # the file it was read from


def _one(name, value, cal, index: int) -> Device:
    if isinstance(value, (str, os.PathLike)):
        from ..files import touchstone

        path = os.fspath(value)
        f, s, _ = touchstone.read(path, convention=cal.convention)
        return Device(name or os.path.basename(path), f, s, path)
    if is_network(value):
        s = in_convention(np.asarray(value.s, complex), cal.convention)
        return Device(name or value.name or "device", np.asarray(value.f, float), s)
    name = name or f"device {index + 1}"
    s = np.asarray(value)
    if s.dtype == object or not np.issubdtype(s.dtype, np.number):
        raise TypeError(f"device {name!r}: give an array of S-parameters, a scikit-rf Network or a Touchstone "
                        f"file, not {type(value).__name__}")
    s = s.astype(complex)
    if s.ndim == 1:
        s = s[:, None, None]
    if s.ndim != 3 or s.shape[1] != s.shape[2] or s.shape[0] != len(cal.f):
        raise ValueError(f"device {name!r}: shape {s.shape}; an array is on the calibration's grid of "
                         f"{len(cal.f)} points, [{len(cal.f)}, p, p]")
    if not np.isfinite(s).all():
        raise ValueError(f"device {name!r}: holds values that are not finite")
    return Device(name, np.asarray(cal.f, float), s)


def devices(given, cal) -> list[Device]:
    """The devices of `given`: a mapping of names to measurements, a
    sequence of Networks or Touchstone files (named by their names or file
    names), or one of them. Arrays are in the calibration's convention and on
    its grid; Networks and files hold the e^{jwt} convention."""
    if given is None:
        return []
    if isinstance(given, Mapping):
        items = [(str(k), v) for k, v in given.items()]
    elif isinstance(given, (str, os.PathLike)) or is_network(given) or isinstance(given, np.ndarray):
        items = [(None, given)]
    else:
        items = [(None, v) for v in given]
    out = [_one(name, v, cal, k) for k, (name, v) in enumerate(items)]
    for d in out:
        if d.raw.shape[1] != cal.ports:
            where = d.path or d.name
            raise ValueError(f"{where}: a {d.raw.shape[1]}-port measurement; a {cal.method} calibration corrects "
                             f"{cal.ports}-port measurements")
    return out


def on_grid(cal, device: Device, interpolate: str | None):
    """The calibration on the device's grid (interpolated if asked), or
    ValueError naming the device."""
    f = device.f
    if len(f) == len(cal.f) and np.allclose(f, cal.f, rtol=1e-12, atol=0):
        return cal
    if interpolate is None:
        raise ValueError(f"{device.path or device.name}: {len(f)} points from {f[0] / 1e9:.6g} to "
                         f"{f[-1] / 1e9:.6g} GHz, the calibration has {len(cal.f)} from {cal.f[0] / 1e9:.6g} to "
                         f"{cal.f[-1] / 1e9:.6g} GHz; give interpolate='cubic' (orvane-cal report --interpolate) "
                         "to correct it with the terms interpolated onto its grid")
    try:
        return cal.interpolate(f, kind=interpolate)
    except ValueError as e:
        raise ValueError(f"{device.path or device.name}: {e}") from None


def corrected(cal, device: Device, budget=None, *, kept: bool = False):
    """The corrected device [n, p, p] and, with a budget (or `kept`: the
    uncertainty of the calibration's terms alone), its UncertainS."""
    raw = device.raw if cal.ports == 2 else device.raw[:, 0, 0]
    try:
        if budget is None and not kept:
            return np.asarray(cal.apply(raw)).reshape(device.raw.shape), None
        u = cal.apply(raw, budget=budget) if budget is not None else cal._apply_uncertain(raw, None)
    except ValueError as e:
        raise ValueError(f"{device.path or device.name}: {e}") from None
    return np.asarray(u.s).reshape(device.raw.shape), u
