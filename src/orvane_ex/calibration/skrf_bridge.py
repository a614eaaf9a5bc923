"""Calibrations to scikit-rf's calibration objects and back.

scikit-rf names the error terms as its `coefs` dictionaries do ('forward
directivity', 'k', ...) and works in the e^{jwt} convention; a calibration in
the board's convention is conjugated on the way."""
from __future__ import annotations

import warnings

import numpy as np

from .._common.convention import in_convention

ONE_PORT = ("directivity", "source match", "reflection tracking")
TWELVE = ("forward directivity", "forward source match", "forward reflection tracking",
          "forward transmission tracking", "forward load match", "forward isolation",
          "reverse directivity", "reverse source match", "reverse reflection tracking",
          "reverse transmission tracking", "reverse load match", "reverse isolation")


def coefs(cal) -> tuple[str, dict]:
    """(scikit-rf class name, coefs in the e^{jwt} convention) of a calibration."""
    from .base import EightTermModel
    from .solt import OnePortCal, TwelveTermCal

    def flip(x):
        return in_convention(np.asarray(x, complex), cal.convention)

    if isinstance(cal, OnePortCal):
        e00, e11, delta = flip(cal.terms["e"]).T
        return "OnePort", dict(zip(ONE_PORT, (e00, e11, e00 * e11 - delta)))
    if isinstance(cal, TwelveTermCal):
        fwd, rev = flip(cal.terms["fwd"]), flip(cal.terms["rev"])
        # ours: fwd e00 e11 e10e01 e10e32 e22 e30, rev ep33 ep22 ep23ep32 ep23ep01 ep11 ep03
        return "TwelveTerm", dict(zip(TWELVE, [*fwd.T, *rev.T]))
    if isinstance(cal, EightTermModel):
        A, B, q = (flip(cal.terms[k]) for k in "ABq")
        e00, e11, e22, e33 = A[:, 0, 1], -A[:, 1, 0], B[:, 0, 1], -B[:, 1, 0]
        e10e01, e23e32 = A[:, 0, 0] + e00 * e11, B[:, 0, 0] + e22 * e33
        out = {"forward directivity": e00, "forward source match": e11, "forward reflection tracking": e10e01,
               "reverse directivity": e33, "reverse source match": e22, "reverse reflection tracking": e23e32,
               "k": q / e23e32, "forward isolation": np.zeros(len(q), complex),
               "reverse isolation": np.zeros(len(q), complex)}
        if "switch_f" in cal.terms:
            out["forward switch term"] = flip(cal.terms["switch_f"])
            out["reverse switch term"] = flip(cal.terms["switch_r"])
        return "EightTerm", out
    raise NotImplementedError(f"scikit-rf has no calibration that holds a {cal.method} model")


def to_skrf(cal):
    """The scikit-rf calibration with this calibration's error terms."""
    import skrf

    name, values = coefs(cal)
    freq = skrf.Frequency.from_f(cal.f, unit="Hz")
    with warnings.catch_warnings():
        # about the placeholder standards scikit-rf builds a calibration from coefs with
        warnings.simplefilter("ignore", UserWarning)
        return getattr(skrf.calibration, name).from_coefs(freq, values)


def from_skrf(skrf_cal, *, notes: str = ""):
    """A calibration of ours holding a scikit-rf calibration's error terms
    (its `coefs`, from a one-port, eight-term or twelve-term model), in the
    e^{jwt} convention."""
    from .solt import EightTermCal, OnePortCal, TwelveTermCal

    f = np.asarray(skrf_cal.frequency.f, float)
    c = {k: np.asarray(v, complex).reshape(len(f)) for k, v in skrf_cal.coefs.items()}
    kw = dict(notes=notes, convention="engineering", parameters={"from": f"scikit-rf {type(skrf_cal).__name__}"})
    if all(k in c for k in ONE_PORT) and "forward directivity" not in c:
        e00, e11, tr = (c[k] for k in ONE_PORT)
        return OnePortCal(f, {"e": np.stack([e00, e11, e00 * e11 - tr], 1)}, **kw)
    if all(k in c for k in TWELVE) and "k" not in c:
        return TwelveTermCal(f, {"fwd": np.stack([c[k] for k in TWELVE[:6]], 1),
                                 "rev": np.stack([c[k] for k in TWELVE[6:]], 1)}, **kw)
    needed = ("forward directivity", "forward source match", "forward reflection tracking", "reverse directivity",
              "reverse source match", "reverse reflection tracking", "k")
    if not all(k in c for k in needed):
        raise ValueError(f"scikit-rf's {type(skrf_cal).__name__} holds none of the models taken here "
                         "(one-port, eight-term, twelve-term)")
    if np.any(c.get("forward isolation", 0) != 0) or np.any(c.get("reverse isolation", 0) != 0):
        raise ValueError("an eight-term model with isolation terms: take it as twelve-term coefs")
    e00, e11, tr1, e33, e22, tr2, k = (c[x] for x in needed)
    n = len(f)
    A, B = np.empty((n, 2, 2), complex), np.empty((n, 2, 2), complex)
    A[:, 0, 0], A[:, 0, 1], A[:, 1, 0], A[:, 1, 1] = tr1 - e00 * e11, e00, -e11, 1
    B[:, 0, 0], B[:, 0, 1], B[:, 1, 0], B[:, 1, 1] = tr2 - e22 * e33, e22, -e33, 1
    terms = {"A": A, "B": B, "q": k * tr2}
    if "forward switch term" in c and np.any(c["forward switch term"] != 0):
        terms["switch_f"], terms["switch_r"] = c["forward switch term"], c["reverse switch term"]
    return EightTermCal(f, terms, **kw)
