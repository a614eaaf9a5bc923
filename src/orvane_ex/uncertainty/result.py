"""Corrected S-parameters with their uncertainty."""
from __future__ import annotations

import dataclasses
import math

import numpy as np

__all__ = ["UncertainS"]

# Below this ratio of |S| to its standard uncertainty a phase is not defined
# well enough for linear propagation: its uncertainty is reported as NaN.
PHASE_DEFINED = 3.0


@dataclasses.dataclass
class UncertainS:
    """S-parameters [n, p, p] (or [n] for one port) on the grid f (Hz), with
    the covariance [n, 2p^2, 2p^2] of their real and imaginary parts
    (ordered Re S11, Im S11, Re S12, Im S12, ..., row by row), and each
    influence's share of it (`contributions`: name -> covariance; they add
    up to `cov`). `convention` is the phase convention of the values (that
    of the calibration that corrected them)."""

    f: np.ndarray
    s: np.ndarray
    cov: np.ndarray
    contributions: dict = dataclasses.field(default_factory=dict)
    convention: str = "engineering"

    def in_convention(self, convention: str) -> "UncertainS":
        """The same values and covariance in another phase convention: the
        conjugate values, the imaginary parts' covariances negated against
        the real parts'."""
        if convention not in ("board", "engineering"):
            raise ValueError(f"convention must be 'board' or 'engineering', not {convention!r}")
        if convention == self.convention:
            return self
        sign = np.tile([1.0, -1.0], self.cov.shape[1] // 2)
        flip = sign[:, None] * sign[None, :]
        return UncertainS(self.f, np.conj(self.s), self.cov * flip,
                          {k: v * flip for k, v in self.contributions.items()}, convention)

    def write(self, path, **touchstone_options) -> str:
        """Writes the values as a Touchstone file at `path` (in e^{jwt}, as
        every Touchstone file) and their covariance beside it in a side-car
        file (`orvane_ex.files.covariance`); returns the side-car's path.
        Extra keywords go to `orvane_ex.files.touchstone.write`."""
        from ..files import covariance, touchstone

        out = self.in_convention("engineering")
        s = out.s if out.s.ndim == 3 else out.s.reshape(-1, 1, 1)
        touchstone.write(path, out.f, s, **touchstone_options)
        target = covariance.sidecar(path)
        covariance.write(target, out.f, out.cov, ports=self.ports)
        return target

    @classmethod
    def read(cls, path) -> "UncertainS":
        """A Touchstone file and its side-car covariance file, in e^{jwt}."""
        from ..files import covariance, touchstone

        f, s, _ = touchstone.read(path)
        target = covariance.sidecar(path)
        fc, cov, ports = covariance.read(target)
        if ports != s.shape[1] or len(fc) != len(f) or not np.allclose(fc, f, rtol=1e-12, atol=0):
            raise covariance.CovarianceFileError(f"{target}: its {ports} ports and {len(fc)} points do not match "
                                                 f"{path}'s {s.shape[1]} ports and {len(f)} points")
        return cls(f, s[:, 0, 0] if ports == 1 else s, cov, {}, "engineering")

    @property
    def ports(self) -> int:
        return 1 if self.s.ndim == 1 else self.s.shape[1]

    def _flat(self) -> np.ndarray:
        return self.s.reshape(len(self.f), -1)

    def _entry(self, cov: np.ndarray, i: int) -> np.ndarray:
        return cov[:, 2 * i:2 * i + 2, 2 * i:2 * i + 2]

    def _shaped(self, x: np.ndarray) -> np.ndarray:
        return x.reshape(self.s.shape)

    def std_re_im(self) -> tuple[np.ndarray, np.ndarray]:
        """Standard uncertainties of the real and imaginary parts."""
        d = np.sqrt(np.diagonal(self.cov, axis1=1, axis2=2))
        return self._shaped(d[:, 0::2]), self._shaped(d[:, 1::2])

    def _along(self, cov: np.ndarray, across: bool) -> np.ndarray:
        flat = self._flat()
        out = np.empty(flat.shape)
        for i in range(flat.shape[1]):
            unit = flat[:, i] / np.abs(flat[:, i])
            direction = np.stack([-unit.imag, unit.real], -1) if across else np.stack([unit.real, unit.imag], -1)
            c = self._entry(cov, i)
            out[:, i] = np.sqrt(np.maximum(np.einsum("nx,nxy,ny->n", direction, c, direction), 0))
        return out

    def std_magnitude(self, *, contribution: str | None = None) -> np.ndarray:
        """Standard uncertainty of |S| (linear)."""
        cov = self.cov if contribution is None else self.contributions[contribution]
        return self._shaped(self._along(cov, across=False))

    def std_db(self, *, contribution: str | None = None) -> np.ndarray:
        """Standard uncertainty of 20 log10 |S| (dB)."""
        return 20 / math.log(10) * self.std_magnitude(contribution=contribution) / np.abs(self.s)

    def std_phase(self, *, contribution: str | None = None) -> np.ndarray:
        """Standard uncertainty of the phase of S (degrees); NaN where |S| is
        within `PHASE_DEFINED` standard uncertainties of 0, where the phase
        is not defined well enough for a linear estimate."""
        cov = self.cov if contribution is None else self.contributions[contribution]
        across = self._along(cov, across=True)
        flat = np.abs(self._flat())
        phase = np.degrees(across / flat)
        phase[flat < PHASE_DEFINED * self._along(self.cov, across=False)] = np.nan
        return self._shaped(phase)

    def expanded(self, k: float = 2.0) -> dict:
        """Expanded uncertainties (coverage factor k) of |S| (linear and dB)
        and of the phase (degrees)."""
        return {"magnitude": k * self.std_magnitude(), "db": k * self.std_db(), "phase": k * self.std_phase()}

    def table(self, bands=None) -> list[dict]:
        """Each influence's share of the standard uncertainty of |S|, per
        frequency band (default: the whole grid in four bands) and
        S-parameter, largest first: rows of band (Hz, Hz), parameter,
        influence, u (linear), share of the variance."""
        f = self.f
        if bands is None:
            edges = np.linspace(f[0], f[-1], 5)
            bands = list(zip(edges[:-1], edges[1:]))
        names = [f"S{i + 1}{j + 1}" for i in range(self.ports) for j in range(self.ports)]
        total = self._along(self.cov, across=False) ** 2
        rows = []
        for lo, hi in bands:
            inside = (f >= lo) & (f <= hi)
            if not inside.any():
                continue
            for p, name in enumerate(names):
                for influence, cov in self.contributions.items():
                    share = self._along(cov, across=False)[inside, p] ** 2
                    rows.append({"band": (float(lo), float(hi)), "parameter": name, "influence": influence,
                                 "u": float(np.sqrt(share.max())),
                                 "share": float(share.sum() / max(total[inside, p].sum(), 1e-300))})
        rows.sort(key=lambda r: (r["band"], r["parameter"], -r["share"]))
        return rows

    def __add__(self, other: "UncertainS") -> "UncertainS":
        """Independent uncertainties of the same values, added."""
        if not np.array_equal(other.s, self.s):
            raise ValueError("only uncertainties of the same values add")
        contributions = dict(self.contributions)
        for k, v in other.contributions.items():
            contributions[k] = contributions.get(k, 0) + v
        if other.convention != self.convention:
            raise ValueError("only uncertainties in the same convention add")
        return UncertainS(self.f, self.s, self.cov + other.cov, contributions, self.convention)
