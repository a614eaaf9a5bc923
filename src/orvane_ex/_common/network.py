"""S-parameters given either as arrays (f in Hz, S [n] or [n,p,p]) or as a
scikit-rf Network, and results handed back in the form they came in."""
from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np

from .convention import CONVENTIONS, in_convention


def is_network(value: Any) -> bool:
    """True for a scikit-rf Network (checked without importing scikit-rf)."""
    return type(value).__name__ == "Network" and hasattr(value, "frequency") and hasattr(value, "s")


@dataclass
class Data:
    """Checked S-parameters in the e^{jwt} convention."""
    f: np.ndarray            # [n] Hz, increasing
    s: np.ndarray            # [n] or [n,p,p] complex
    network: Any = None      # the Network they came from, if any
    convention: str = "engineering"

    def back(self, f: np.ndarray, s: np.ndarray):
        """Frequency-domain results in the caller's form: a Network (a copy of
        the one given, on the grid f) or (f, s) in the caller's convention."""
        if self.network is None:
            return f, in_convention(s, self.convention)
        import skrf

        net = self.network
        if len(f) == len(net.f) and np.array_equal(f, net.f):
            z0 = net.z0
        else:  # a new grid: each port's reference impedance held at its nearest value
            z0 = np.stack([np.interp(f, net.f, net.z0[:, i].real) + 1j * np.interp(f, net.f, net.z0[:, i].imag)
                           for i in range(net.z0.shape[1])], axis=1)
        out = skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=s.reshape(len(f), *net.s.shape[1:]),
                           z0=z0, name=net.name)
        out.frequency.unit = net.frequency.unit
        return out


def given_network(f_or_network, s, convention: str):
    """The Network given in place of (f, s), or None when they are arrays;
    refuses both at once, and a Network in the board's convention."""
    if not is_network(f_or_network):
        return None
    if s is not None:
        raise TypeError("give either a Network or (f, s), not both")
    if convention != "engineering":
        raise ValueError("a Network is in the e^{jwt} (engineering) convention; convention='board' is for arrays")
    return f_or_network


def numbers(s, name: str) -> np.ndarray:
    """`s` as an array of numbers (refusing ragged lists, objects and text)."""
    try:
        s = np.asarray(s)
    except Exception as e:  # ragged lists and the like
        raise ValueError(f"{name} must be an array of S-parameters: {e}") from None
    if s.dtype == object or not (np.issubdtype(s.dtype, np.number) or s.dtype == bool):
        raise ValueError(f"{name} must hold numbers, not {s.dtype}")
    return s


def take(f_or_network, s=None, *, convention: str = "engineering", name: str = "s",
         min_points: int = 2) -> Data:
    """Reads (f, s) arrays or a Network; checks the grid and the values.

    Arrays: f 1-D, finite, strictly increasing, non-negative (Hz); s [n] or
    [n,p,p], finite numbers. A Network is in the e^{jwt} convention by its
    definition, so `convention` must stay 'engineering' with one."""
    if convention not in CONVENTIONS:
        raise ValueError(f"convention must be 'engineering' or 'board', not {convention!r}")
    network = given_network(f_or_network, s, convention)
    if network is not None:
        f, s = network.f, network.s
        if s.shape[1:] == (1, 1):
            s_arr = np.asarray(s, complex)[:, 0, 0]
        else:
            s_arr = np.asarray(s, complex)
    else:
        if s is None:
            raise TypeError(f"{name} is missing: give a Network, or the frequencies f (Hz) and {name}")
        f = f_or_network
        s_arr = numbers(s, name).astype(complex)
    try:
        f = np.asarray(f, dtype=float)
    except (TypeError, ValueError):
        raise ValueError("f must be an array of frequencies in Hz") from None
    if f.ndim != 1 or len(f) < min_points:
        raise ValueError(f"f must be a 1-D grid of at least {min_points} frequencies (Hz), not shape {f.shape}")
    if not np.all(np.isfinite(f)) or np.any(f < 0) or np.any(np.diff(f) <= 0):
        raise ValueError("f must be a strictly increasing grid of finite, non-negative frequencies (Hz)")
    if s_arr.shape[:1] != f.shape or s_arr.ndim not in (1, 3) or (s_arr.ndim == 3 and s_arr.shape[1] != s_arr.shape[2]):
        raise ValueError(f"{name}: shape {s_arr.shape}; the grid has {len(f)} points, so [{len(f)}] or "
                         f"[{len(f)}, p, p] is needed")
    bad = ~np.isfinite(s_arr).reshape(len(f), -1).all(axis=1)
    if bad.any():
        raise ValueError(f"{name}: {np.count_nonzero(bad)} frequency points hold values that are not finite "
                         f"(first at {f[np.argmax(bad)]:g} Hz)")
    return Data(f=f, s=in_convention(s_arr, convention), network=network, convention=convention)


def uniform_step(f: np.ndarray, what: str) -> float:
    """The step of an evenly spaced grid, or ValueError naming `what` needs it."""
    if len(f) < 2:
        raise ValueError(f"{what} needs at least two frequency points")
    step = (f[-1] - f[0]) / (len(f) - 1)
    if np.max(np.abs(np.diff(f) - step)) > 1e-6 * step:
        raise ValueError(f"{what} needs evenly spaced frequencies; interpolate onto a uniform grid first "
                         f"(steps here range from {np.min(np.diff(f)):g} to {np.max(np.diff(f)):g} Hz)")
    return float(step)
