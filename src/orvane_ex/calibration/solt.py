"""Calibrations from coaxial standards: one-port, frequency response,
eight-term SOLT with a known or an unknown thru, and twelve-term, each
built and applied with `orvane_ex.hidden`'s own model functions."""
from __future__ import annotations

import dataclasses
import warnings
from typing import ClassVar

import numpy as np

from . import thru_root
from .base import Calibration, EightTermModel, bands, error_box, hidden, register

__all__ = ["OnePortCal", "ResponseCal", "EightTermCal", "UnknownThruCal", "TwelveTermCal", "TWELVE_TERMS",
           "UnknownThruWarning"]


class UnknownThruWarning(UserWarning):
    """Frequency points where the unknown thru leaves the model's sign uncertain."""


@register
@dataclasses.dataclass
class OnePortCal(Calibration):
    """One port: e (e00, e11, delta_e) from `get1PortModel`."""

    method: ClassVar[str] = "one-port"
    ports: ClassVar[int] = 1
    TERMS: ClassVar[dict] = {"e": (3,)}

    @classmethod
    def build(cls, f, G, Gm, **kw) -> "OnePortCal":
        """From the actual (G) and measured (Gm) Open/Short/Load [n,3]."""
        return cls(f, {"e": hidden().get1PortModel(G, Gm)}, {"Gm": np.asarray(Gm)}, **kw)

    def correct(self, Sm):
        if Sm.ndim == 3:
            return self.correct(Sm[:, 0, 0])[:, None, None]
        return hidden().correct1Port(Sm, self.terms["e"])

    def error_boxes(self):
        e00, e11, delta = np.asarray(self.terms["e"]).T
        return {"port1": error_box(e00, e11, e00 * e11 - delta)}


@register
@dataclasses.dataclass
class ResponseCal(Calibration):
    """Frequency response: H [n,2,2] from `get2PortResponseModel`."""

    method: ClassVar[str] = "response"
    TERMS: ClassVar[dict] = {"H": (2, 2)}

    @classmethod
    def build(cls, f, G1, G1m, G2, G2m, T, Tm, **kw) -> "ResponseCal":
        H = hidden().get2PortResponseModel(G1, G1m, G2, G2m, T, Tm)
        return cls(f, {"H": H}, {"G1m": np.asarray(G1m), "G2m": np.asarray(G2m), "Tm": np.asarray(Tm)}, **kw)

    def correct(self, Sm):
        return hidden().correctResponse(Sm, self.terms["H"])

    def error_boxes(self):
        return {"response": np.asarray(self.terms["H"], complex)}


@register
@dataclasses.dataclass
class EightTermCal(EightTermModel):
    """Eight-term model from SOLT with a known thru (`get8TermModel`)."""

    method: ClassVar[str] = "eight-term"

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, T, Tm, **kw) -> "EightTermCal":
        A, B, q = hidden().get8TermModel(G1, Gm1, G2, Gm2, T, Tm)
        return cls(f, {"A": A, "B": B, "q": q}, {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2),
                                                  "Tm": np.asarray(Tm)}, **kw)


@register
@dataclasses.dataclass
class UnknownThruCal(EightTermModel):
    """Eight-term model from the reflection standards of both ports and a
    thru of unknown S-parameters (reciprocal only)."""

    method: ClassVar[str] = "unknown-thru"

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, Tm, phys_length: float | None = None, **kw) -> "UnknownThruCal":
        """The model from the actual (G1, G2) and measured (Gm1, Gm2) Open,
        Short, Load [n,3] of both ports and the measured thru Tm [n,2,2] at
        the frequencies f [n] (Hz).

        The adapters are `get8TermModelUThru`'s. The sign of e10 e32, which
        the thru leaves open, is chosen from the data (see `thru_root`): the
        thru's transmission phase continuous across the band and zero at DC.
        `phys_length` (m, at the velocity factor 0.695 of
        `get8TermModelUThru`) is only a hint, used where the data cannot
        decide. Warns (`UnknownThruWarning`) naming the points where the
        sign is uncertain, as on a grid too coarse for the thru's delay.
        """
        f = np.asarray(f, float)
        A, B, _ = hidden().get8TermModelUThru(G1, Gm1, G2, Gm2, Tm, f)
        q, unsure = thru_root.choose_q(f, A, B, Tm, phys_length)
        if unsure.any():
            warnings.warn(f"unknown thru: the sign of e10 e32 is uncertain at {unsure.sum()} of {len(f)} points "
                          f"({bands(f, unsure)}): the thru's phase turns too far between neighbouring points, "
                          "or its phase at DC is not clear (a finer grid, or phys_length, settles it)",
                          UnknownThruWarning, stacklevel=2)
        parameters = dict(kw.pop("parameters", None) or {})
        if phys_length is not None:
            parameters["phys_length"] = float(phys_length)
        return cls(f, {"A": A, "B": B, "q": q}, {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2),
                                                  "Tm": np.asarray(Tm)}, parameters=parameters, **kw)


TWELVE_TERMS = ("directivity", "source_match", "reflection_tracking", "transmission_tracking", "load_match",
                "isolation")


@register
@dataclasses.dataclass
class TwelveTermCal(Calibration):
    """Twelve-term model (fwd, rev [n,6]) from `get12TermModel`."""

    method: ClassVar[str] = "twelve-term"
    TERMS: ClassVar[dict] = {"fwd": (6,), "rev": (6,)}

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, T, Tm, Im=None, **kw) -> "TwelveTermCal":
        fwd, rev = hidden().get12TermModel(G1, Gm1, G2, Gm2, T, Tm, Im)
        standards = {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2), "Tm": np.asarray(Tm)}
        if Im is not None:
            standards["Im"] = np.asarray(Im)
        return cls(f, {"fwd": fwd, "rev": rev}, standards, **kw)

    def correct(self, Sm):
        return hidden().correct12Term(Sm, self.terms["fwd"], self.terms["rev"])

    def error_boxes(self):
        out = {}
        for direction in ("fwd", "rev"):
            terms = np.asarray(self.terms[direction], complex)
            for j, name in enumerate(TWELVE_TERMS):
                out[f"{'forward' if direction == 'fwd' else 'reverse'}_{name}"] = terms[:, j, None, None]
        return out
