"""A calibration's error terms as the field names them, and TRL's own
quantities, whatever the method keeps internally.

Every model is shown through the twelve-term names (directivity, source
match, reflection tracking, load match, transmission tracking, isolation;
forward with port 1 driving, reverse with port 2 driving). An eight-term
model (SOLT with a known or unknown thru, TRL, ...) gives its twelve-term
equivalent (Marks 1997): load match and transmission tracking from the other
port's error box, and, with switch terms, as the raw analyser sees them.
Terms a model does not hold (an eight-term model's isolation) are None.
"""
from __future__ import annotations

import numpy as np

from .._common.constants import SPEED_OF_LIGHT

# the field's names, in the order analysers list them
NAMES = ("directivity", "source match", "reflection tracking", "load match", "transmission tracking", "isolation")
# terms whose size is a match (smaller is better) rather than a gain near 0 dB
MATCHES = ("directivity", "source match", "load match", "isolation")


def error_terms(cal) -> dict[str, dict[str, np.ndarray | None]] | None:
    """{direction: {term name: complex [n] or None}} of a calibration, the
    directions 'forward' and 'reverse' ('port 1' for a one-port model); None
    for a model the names do not fit."""
    from ..calibration.base import EightTermModel
    from ..calibration.solt import TWELVE_TERMS, OnePortCal, ResponseCal, TwelveTermCal

    n = len(cal.f)

    def c(x):
        return np.asarray(x, complex).reshape(n)

    if isinstance(cal, OnePortCal):
        e00, e11, delta = np.asarray(cal.terms["e"], complex).T
        return {"port 1": {"directivity": e00, "source match": e11, "reflection tracking": e00 * e11 - delta}}
    if isinstance(cal, TwelveTermCal):
        out = {}
        for direction, key in (("forward", "fwd"), ("reverse", "rev")):
            values = np.asarray(cal.terms[key], complex)
            named = {TWELVE_TERMS[j].replace("_", " "): values[:, j] for j in range(6)}
            if not np.any(named["isolation"]):
                named["isolation"] = None           # no isolation measured: the model holds none
            out[direction] = {name: named[name] for name in NAMES}
        return out
    if isinstance(cal, ResponseCal):
        H = np.asarray(cal.terms["H"], complex)
        return {"forward": {"reflection tracking": H[:, 0, 0], "transmission tracking": H[:, 1, 0]},
                "reverse": {"reflection tracking": H[:, 1, 1], "transmission tracking": H[:, 0, 1]}}
    if isinstance(cal, EightTermModel):
        A, B, q = (np.asarray(cal.terms[k], complex) for k in "ABq")
        # A = [[-delta_e, e00], [-e11, 1]], B = [[-delta_e', e22], [-e33, 1]], q = e10 e32
        e00, e11, e22, e33 = A[:, 0, 1], -A[:, 1, 0], B[:, 0, 1], -B[:, 1, 0]
        e10e01, e23e32, e10e32 = A[:, 0, 0] + e00 * e11, B[:, 0, 0] + e22 * e33, c(q)
        e23e01 = e10e01 * e23e32 / e10e32
        load_f, track_f, load_r, track_r = e22, e10e32, e11, e23e01
        if "switch_f" in cal.terms:
            # what a switching analyser sees raw: the non-driven port's termination behind the error box
            gf, gr = c(cal.terms["switch_f"]), c(cal.terms["switch_r"])
            load_f = e22 + e23e32 * gf / (1 - e33 * gf)
            track_f = e10e32 / (1 - e33 * gf)
            load_r = e11 + e10e01 * gr / (1 - e00 * gr)
            track_r = e23e01 / (1 - e00 * gr)
        return {"forward": dict(zip(NAMES, (e00, e11, e10e01, load_f, track_f, None))),
                "reverse": dict(zip(NAMES, (e33, e22, e23e32, load_r, track_r, None)))}
    return None


def db(x) -> np.ndarray:
    """20 log10 |x|, -inf at zero without a warning."""
    with np.errstate(divide="ignore"):
        return 20 * np.log10(np.abs(np.asarray(x)))


def summary(f: np.ndarray, terms: dict) -> list[dict]:
    """One row per term and direction: the worst value over the band (the
    largest match, the lowest tracking) in dB and where, and the range."""
    rows = []
    for name in NAMES:
        for direction, named in terms.items():
            value = named.get(name)
            if name not in named:
                continue
            if value is None:
                rows.append({"term": name, "direction": direction, "value": None})
                continue
            level = db(value)
            worst = int(np.argmax(level) if name in MATCHES else np.argmin(level))
            rows.append({"term": name, "direction": direction, "value": level, "worst": float(level[worst]),
                         "at": float(f[worst]), "low": float(np.min(level)), "high": float(np.max(level))})
    return rows


def line_quantities(cal) -> dict[str, np.ndarray] | None:
    """TRL's own results on its grid, None for other methods: `condition`
    (dimensionless), `eps_eff` (real part of -(c gamma / omega)^2),
    `loss_db_per_cm` (dB/cm, from the real part of gamma), `reflect`
    (complex, at the reference planes)."""
    terms = cal.terms
    if "gamma" not in terms and "condition" not in terms:
        return None
    f = np.asarray(cal.f, float)
    out: dict[str, np.ndarray] = {}
    if "condition" in terms:
        out["condition"] = np.asarray(terms["condition"], float).reshape(len(f))
    if "gamma" in terms:
        gamma = np.asarray(terms["gamma"], complex).reshape(len(f))
        eps = terms.get("eps_eff")
        eps = -(SPEED_OF_LIGHT * gamma / (2 * np.pi * f)) ** 2 if eps is None else np.asarray(eps, complex)
        out["eps_eff"] = np.real(eps).reshape(len(f))
        # the line passes e^{-gamma l}: alpha Np/m is 20 log10(e) alpha dB/m
        out["loss_db_per_cm"] = 20 / np.log(10) * np.real(gamma) / 100
    if "reflect" in terms:
        out["reflect"] = np.asarray(terms["reflect"], complex).reshape(len(f))
    return out
