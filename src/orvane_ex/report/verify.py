"""A verification standard compared with its reference values: E_n per
S-parameter and frequency, for `orvane-cal report --verify`.

E_n = |S - S_ref| / (k sqrt(u_S^2 + u_ref^2)): the difference between the
corrected measurement and the reference, over the expanded uncertainty of
that difference, where u_S is the standard uncertainty of the corrected value
along the direction of the difference (from the budget) and u_ref the
reference's own (circular). |E_n| <= 1 passes. The result has the fields any
verification result shows in a report: `name`, `frequency`, `en`, `passed`,
`table()`.
"""
from __future__ import annotations

import dataclasses

import numpy as np

from .devices import Device, corrected, on_grid


@dataclasses.dataclass
class Comparison:
    name: str
    frequency: np.ndarray       # Hz
    en: np.ndarray              # [n, p, p]
    k: float = 2.0

    @property
    def passed(self) -> bool:
        return bool(np.all(np.abs(self.en) <= 1))

    def table(self) -> list[dict]:
        """Per S-parameter: the worst |E_n|, where, and the share of points passing."""
        rows = []
        p = self.en.shape[1]
        for j in range(p):
            for i in range(p):
                e = np.abs(self.en[:, i, j])
                worst = int(np.argmax(e))
                rows.append({"parameter": f"S{i + 1}{j + 1}", "worst |E_n|": float(e[worst]),
                             "at (GHz)": float(self.frequency[worst] / 1e9),
                             "points passing": f"{np.count_nonzero(e <= 1)} of {len(e)}"})
        return rows


def compare(cal, measured: Device, reference: Device, budget, *, reference_u: float = 0.0, k: float = 2.0,
            interpolate: str | None = None) -> Comparison:
    """E_n of a verification standard's corrected measurement against its
    reference values, on the measurement's grid."""
    if not (np.isfinite(reference_u) and reference_u >= 0):
        raise ValueError(f"the reference's standard uncertainty must be a number >= 0, not {reference_u!r}")
    if not (np.isfinite(k) and k > 0):
        raise ValueError(f"the coverage factor k must be positive, not {k!r}")
    if reference.raw.shape != measured.raw.shape or not np.allclose(reference.f, measured.f, rtol=1e-12, atol=0):
        raise ValueError(f"{reference.path or reference.name}: the reference is not on the grid of "
                         f"{measured.path or measured.name} ({len(measured.f)} points, {measured.raw.shape[1]} "
                         "ports)")
    S, u = corrected(on_grid(cal, measured, interpolate), measured, budget)
    p = S.shape[1]
    d = (S - reference.raw).reshape(len(S), -1)
    cov = u.cov
    en = np.empty(d.shape)
    for m in range(d.shape[1]):
        block = cov[:, 2 * m:2 * m + 2, 2 * m:2 * m + 2]
        size = np.abs(d[:, m])
        with np.errstate(invalid="ignore", divide="ignore"):
            direction = np.stack([d[:, m].real, d[:, m].imag], -1) / size[:, None]
            direction = np.where(size[:, None] > 0, direction, [1.0, 0.0])
            var = np.einsum("nx,nxy,ny->n", direction, block, direction) + reference_u ** 2
            en[:, m] = np.where(size > 0, size / (k * np.sqrt(var)), 0.0)
    return Comparison(measured.name, measured.f, en.reshape(len(S), p, p), k)
