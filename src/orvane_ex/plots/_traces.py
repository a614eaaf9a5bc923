"""Traces to draw: arrays or scikit-rf Networks, one or several, with labels."""
from __future__ import annotations

from dataclasses import dataclass

import numpy as np

from .._common.network import is_network, take


@dataclass
class Trace:
    f: np.ndarray        # Hz
    s: np.ndarray        # [n, p, p] complex, e^{jwt}
    label: str | None


def _as_list(traces):
    if traces is None:
        return []
    if is_network(traces) or (isinstance(traces, np.ndarray) and traces.dtype != object):
        return [traces]
    return list(traces)


def traces(f, items=None, labels=None, *, convention: str = "engineering") -> list[Trace]:
    """Networks, or arrays [n] / [n,p,p] on the grid f, as [n,p,p] traces.

    `f` may itself be a Network or a list of Networks when `items` is None."""
    if items is None and (is_network(f) or (isinstance(f, (list, tuple)) and f and all(is_network(x) for x in f))):
        f, items = None, f
    items = _as_list(items)
    if not items:
        raise ValueError("nothing to draw: give one or more S-parameter arrays or Networks")
    if labels is not None:
        labels = [labels] if isinstance(labels, str) else list(labels)
        if len(labels) != len(items):
            raise ValueError(f"{len(labels)} labels for {len(items)} traces")
    out = []
    for i, item in enumerate(items):
        name = f"trace {i + 1}"
        if is_network(item):
            data = take(item)
            label = labels[i] if labels is not None else (item.name or None)
        else:
            if f is None:
                raise ValueError(f"{name} is an array: give the frequencies f (Hz) too")
            data = take(f, item, convention=convention, name=name, min_points=1)
            label = labels[i] if labels is not None else None
        s = data.s.reshape(len(data.f), 1, 1) if data.s.ndim == 1 else data.s
        out.append(Trace(data.f, s, label))
    ports = {t.s.shape[1] for t in out}
    if len(ports) > 1:
        raise ValueError(f"the traces have different numbers of ports ({sorted(ports)}); draw them separately")
    return out


def parameters(nports: int, chosen=None) -> list[tuple[int, int]]:
    """(i, j) pairs to draw: all of them (S11, S21, S12, S22 for a two-port)
    unless chosen, as pairs or names like 'S21' (ports counted from 1)."""
    if chosen is None:
        return [(i, j) for j in range(nports) for i in range(nports)]
    pairs = []
    for c in [chosen] if isinstance(chosen, str) else chosen:
        if isinstance(c, str):
            name = c.upper().removeprefix("S")
            if len(name) != 2 or not name.isdigit():
                raise ValueError(f"parameter {c!r}: name it like 'S21', or as a pair (1, 0) counted from 0")
            c = (int(name[0]) - 1, int(name[1]) - 1)
        i, j = c
        if not (0 <= i < nports and 0 <= j < nports):
            raise ValueError(f"parameter {c!r} is not one of a {nports}-port's")
        pairs.append((int(i), int(j)))
    return pairs


def name(i: int, j: int) -> str:
    return f"S{i + 1}{j + 1}" if i < 9 and j < 9 else f"S{i + 1},{j + 1}"


def frequency_scale(f: np.ndarray) -> tuple[float, str]:
    """A unit for a frequency axis: (divisor, 'GHz')."""
    top = float(np.max(np.abs(f))) if len(f) else 1.0
    for div, unit in ((1e12, "THz"), (1e9, "GHz"), (1e6, "MHz"), (1e3, "kHz")):
        if top >= div:
            return div, unit
    return 1.0, "Hz"


def to_db(x: np.ndarray, floor_db: float = -300.0) -> np.ndarray:
    with np.errstate(divide="ignore"):
        return np.maximum(20 * np.log10(np.abs(x)), floor_db)
