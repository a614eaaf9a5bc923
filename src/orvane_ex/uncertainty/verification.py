"""Verification of a calibration against a reference: a verification
standard (an airline, a Beatty line, an attenuator with a certificate)
measured and corrected, compared with its reference value through the
normalised error

    E_n = |x - x_ref| / sqrt(U_x^2 + U_ref^2)

per point and S-parameter, with expanded (k) uncertainties taken along the
deviation x - x_ref in the complex plane (the direction in which the two
disagree); the verification passes where E_n <= 1 everywhere. Also a drift
check: standards measured again, corrected and compared with the values the
calibration assumed.
"""
from __future__ import annotations

import dataclasses
import math

import numpy as np

from .result import UncertainS

__all__ = ["Verification", "Drift", "verify", "reference_covariance", "drift"]


@dataclasses.dataclass
class Verification:
    """The comparison of a corrected measurement with its reference.

    Attributes
    ----------
    name : str
        What was verified (the standard, or its file).
    measured : UncertainS
        The corrected measurement with its covariance.
    reference : numpy.ndarray
        The reference values, shaped as ``measured.s``, in its convention.
    reference_cov : numpy.ndarray
        Their covariance [n, 2p^2, 2p^2], as `UncertainS.cov`.
    k : float
        The coverage factor of the expanded uncertainties.
    """

    name: str
    measured: UncertainS
    reference: np.ndarray
    reference_cov: np.ndarray
    k: float = 2.0

    @property
    def frequency(self) -> np.ndarray:
        """The grid (Hz)."""
        return self.measured.f

    @property
    def deviation(self) -> np.ndarray:
        """x - x_ref, shaped as the S-parameters."""
        return self.measured.s - self.reference

    def _along(self, cov: np.ndarray) -> np.ndarray:
        """Standard uncertainty along the deviation of each entry [n, p*p];
        where the two agree exactly, the larger of the entry's two."""
        d = self.deviation.reshape(len(self.frequency), -1)
        out = np.empty(d.shape)
        for i in range(d.shape[1]):
            c = cov[:, 2 * i:2 * i + 2, 2 * i:2 * i + 2]
            size = np.abs(d[:, i])
            unit = np.where(size > 0, d[:, i] / np.where(size > 0, size, 1), 1.0)
            u = np.stack([unit.real, unit.imag], -1)
            along = np.einsum("nx,nxy,ny->n", u, c, u)
            out[:, i] = np.sqrt(np.maximum(np.where(size > 0, along, np.linalg.eigvalsh(c)[:, 1]), 0))
        return out

    @property
    def expanded(self) -> tuple[np.ndarray, np.ndarray]:
        """(U_x, U_ref): the expanded uncertainties along the deviation,
        shaped as the S-parameters."""
        shape = self.measured.s.shape
        return (self.k * self._along(self.measured.cov)).reshape(shape), \
            (self.k * self._along(self.reference_cov)).reshape(shape)

    @property
    def en(self) -> np.ndarray:
        """E_n per point and S-parameter (inf where both uncertainties are
        zero and the values differ, 0 where they agree exactly)."""
        ux, ur = self.expanded
        total = np.hypot(ux, ur)
        d = np.abs(self.deviation)
        with np.errstate(divide="ignore", invalid="ignore"):
            return np.where(d == 0, 0.0, d / total)

    @property
    def passed(self) -> bool:
        """E_n <= 1 at every point and S-parameter."""
        return bool(np.all(self.en <= 1))

    def table(self) -> list[dict]:
        """Per S-parameter: the largest E_n, where, the deviation and the
        combined expanded uncertainty there, and the share of points that
        pass."""
        en = self.en.reshape(len(self.frequency), -1)
        d = np.abs(self.deviation).reshape(en.shape)
        ux, ur = (x.reshape(en.shape) for x in self.expanded)
        p = self.measured.ports
        rows = []
        for i in range(en.shape[1]):
            worst = int(np.argmax(en[:, i]))
            rows.append({"parameter": f"S{i // p + 1}{i % p + 1}", "worst_en": float(en[worst, i]),
                         "at": float(self.frequency[worst]), "deviation": float(d[worst, i]),
                         "expanded": float(np.hypot(ux[worst, i], ur[worst, i])),
                         "passing": float(np.mean(en[:, i] <= 1))})
        return rows

    def summary(self) -> str:
        """A few lines an engineer reads: pass or fail, and each
        S-parameter's worst point."""
        lines = [f"{self.name}: {'PASS' if self.passed else 'FAIL'} (E_n <= 1 with k = {self.k:g} expanded "
                 f"uncertainties, {len(self.frequency)} points)"]
        for row in self.table():
            lines.append(f"  {row['parameter']}: worst E_n {row['worst_en']:.3g} at {row['at'] / 1e9:.6g} GHz "
                         f"(|x - x_ref| {row['deviation']:.3g}, U {row['expanded']:.3g}); "
                         f"{100 * row['passing']:.1f}% of points pass")
        en = self.en
        over = int(np.sum(~(en <= 1)))
        if over:
            chance = math.erfc(self.k / math.sqrt(2))
            lines.append(f"  E_n > 1 at {over} of {en.size} values ({100 * over / en.size:.1f}%); with k = {self.k:g}, "
                         f"about {100 * chance:.1f}% of independent values would by chance alone")
        return "\n".join(lines)


def reference_covariance(reference: np.ndarray, uncertainty) -> np.ndarray:
    """The covariance [n, 2p^2, 2p^2] of reference values [n, p, p] (or [n])
    from `uncertainty`: None (exact), a number (an expanded k=2 uncertainty
    of every entry, the same in every direction of the complex plane), an
    array of such numbers shaped as the reference, or a covariance already."""
    ref = np.asarray(reference)
    n, m = len(ref), ref[0].size
    size = 2 * m
    if uncertainty is None:
        return np.zeros((n, size, size))
    u = np.asarray(uncertainty, float)
    if u.shape == (n, size, size):
        return u
    if not np.isfinite(u).all() or np.any(u < 0):
        raise ValueError("the reference's uncertainty must be finite and not negative")
    u = np.broadcast_to(u, ref.shape).reshape(n, m) / 2          # standard, from k = 2
    cov = np.zeros((n, size, size))
    for i in range(m):
        cov[:, 2 * i, 2 * i] = cov[:, 2 * i + 1, 2 * i + 1] = u[:, i] ** 2 / 2
    return cov


def verify(measured: UncertainS, reference, *, reference_uncertainty=None, k: float = 2.0,
           name: str = "verification") -> Verification:
    """Compares a corrected measurement with its reference value.

    Parameters
    ----------
    measured : UncertainS
        The corrected verification standard (``cal.apply(Sm, budget=...)``).
    reference : numpy.ndarray or UncertainS
        Its reference values, shaped as ``measured.s`` and in its phase
        convention (an UncertainS carries its own covariance and convention).
    reference_uncertainty : float, numpy.ndarray or None
        See `reference_covariance`; ignored for an UncertainS reference.
    k : float
        Coverage factor of the expanded uncertainties (2: about 95%).
    name : str
        What is verified, for the summary.

    Returns
    -------
    Verification
    """
    if not isinstance(measured, UncertainS):
        raise TypeError("measured must be an UncertainS (cal.apply(Sm, budget=...))")
    if not (np.isfinite(k) and k > 0):
        raise ValueError(f"k must be a positive number, not {k}")
    if isinstance(reference, UncertainS):
        ref = reference.in_convention(measured.convention)
        if len(ref.f) != len(measured.f) or not np.allclose(ref.f, measured.f, rtol=1e-12, atol=0):
            raise ValueError("the reference and the measurement are on different grids")
        values, cov = ref.s, ref.cov
    else:
        values = np.asarray(reference, complex)
        cov = None
    if values.shape != measured.s.shape:
        if measured.s.ndim == 1 and values.shape == (len(measured.f), 1, 1):
            values = values[:, 0, 0]
        else:
            raise ValueError(f"the reference has shape {values.shape}, the measurement {measured.s.shape}")
    if not np.isfinite(values).all():
        raise ValueError("the reference holds values that are not finite")
    if cov is None:
        cov = reference_covariance(values, reference_uncertainty)
    return Verification(name, measured, values, cov, float(k))


@dataclasses.dataclass
class Drift:
    """Standards measured again after a calibration, corrected by it and
    compared with the values it assumed for them.

    Attributes
    ----------
    f : numpy.ndarray
        The grid (Hz).
    change : dict
        {standard: |corrected - assumed| [n, ...]} per standard.
    limit : float or None
        The largest change accepted (linear), if one was given.
    """

    f: np.ndarray
    change: dict
    limit: float | None = None

    @property
    def worst(self) -> dict:
        """{standard: (largest change, at Hz)}."""
        out = {}
        for name, c in self.change.items():
            flat = c.reshape(len(self.f), -1).max(axis=1)
            at = int(np.argmax(flat))
            out[name] = (float(flat[at]), float(self.f[at]))
        return out

    @property
    def passed(self) -> bool:
        return self.limit is None or all(v <= self.limit for v, _ in self.worst.values())

    def summary(self) -> str:
        head = "drift" if self.limit is None else f"drift (limit {self.limit:.3g}): {'PASS' if self.passed else 'FAIL'}"
        lines = [head]
        for name, (value, at) in self.worst.items():
            db = 20 * np.log10(value) if value > 0 else -np.inf
            lines.append(f"  {name}: largest change {value:.3g} ({db:.1f} dB) at {at / 1e9:.6g} GHz")
        return "\n".join(lines)


def drift(cal, remeasured: dict, *, limit: float | None = None) -> Drift:
    """The drift check: `remeasured` {standard name: raw measurement, as
    `cal.standards_for` names them} corrected by `cal` and compared with the
    values `cal` assumed (the kit's actual values it keeps); reflections on
    their port, the thru as a two-port."""
    kept = cal.standards
    f, n = cal.f, len(cal.f)
    change = {}
    for name, raw in remeasured.items():
        raw = np.asarray(raw, complex)
        assumed = _assumed(cal, name, kept)
        if assumed is None:
            # no value assumed (TRL's lines, an unknown thru): the same standard as first measured, corrected alike
            first = kept.get(name, kept.get(_RAW.get(name, ""), None))
            if first is None or np.shape(first) != raw.shape:
                raise ValueError(f"{name}: not a standard this {cal.method} calibration keeps "
                                 f"({', '.join(k for k in kept if k not in ('G1', 'G2', 'T'))})")
            assumed = (0, np.asarray(cal.apply(np.asarray(first, complex)))) if raw.ndim == 3 else None
            if assumed is None:
                raise ValueError(f"{name}: shape {raw.shape}; a two-port standard on {n} points is [{n}, 2, 2]")
        port, value = assumed
        if raw.shape in ((n,), (n, 1, 1)) and port:
            change[name] = np.abs(_reflection(cal, port, raw.reshape(n)) - value)
        elif raw.shape == (n, 2, 2) and not port:
            change[name] = np.abs(np.asarray(cal.apply(raw)) - value)
        else:
            raise ValueError(f"{name}: shape {raw.shape} on a {n}-point calibration")
    return Drift(f, change, limit)


_REFLECT = {"open": 0, "short": 1, "load": 2}


def _reflection(cal, port: int, raw: np.ndarray) -> np.ndarray:
    """A reflection measured alone on `port`, corrected by that port's
    one-port terms (the other port's do not enter)."""
    t = cal.terms
    if "e" in t:
        e00, e11, delta = np.asarray(t["e"]).T
        return (raw - e00) / (raw * e11 - delta)
    if "H" in t:
        return raw / np.asarray(t["H"])[:, port - 1, port - 1]
    if "fwd" in t:
        e00, e11, track = np.asarray(t["fwd" if port == 1 else "rev"])[:, :3].T
    else:
        box = cal.error_boxes()[f"port{port}"]
        # port 1's box runs from the analyser (0) to the device (1); port 2's the other way
        outer, inner = (0, 1) if port == 1 else (1, 0)
        e00, e11 = box[:, outer, outer], box[:, inner, inner]
        track = box[:, 0, 1] * box[:, 1, 0]
    return (raw - e00) / (track + e11 * (raw - e00))


# the raw readings a calibration keeps under another name than its standard's
_RAW = {"thru": "Tm"}


def _assumed(cal, name: str, kept: dict):
    """(port or 0 for the thru, the value the calibration assumed)."""
    base, port = name.rstrip("12"), name[len(name.rstrip("12")):]
    if name == "thru" and "T" in kept:
        return 0, np.asarray(kept["T"])
    if base in _REFLECT and port in ("1", "2"):
        key = "G1" if port == "1" else "G2"
        if key in kept:
            values = np.asarray(kept[key])
            if values.ndim == 2:
                return int(port), values[:, _REFLECT[base]]
            return int(port), values
    return None
