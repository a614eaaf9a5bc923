"""Calibrations from coaxial standards: one-port, frequency response,
eight-term SOLT with a known or an unknown thru, and twelve-term, each
built and applied with `orvane_ex.hidden`'s own model functions.

Each is built from its measured standards and a calibration kit's model of
them (`from_standards`, `from_folder`), or from the arrays the model
functions take (`build`).

References
----------
D. Rytting, "Network analyzer error models and calibration methods", RF &
Microwave Measurements for Wireless Applications (ARFTG/NIST short course),
1996.
A. Ferrero, U. Pisani, "Two-port network analyzer calibration using an
unknown 'thru'", IEEE Microwave and Guided Wave Letters 2(12), 1992.
"""
from __future__ import annotations

import dataclasses
import os
import re
import warnings
from typing import ClassVar

import numpy as np

from .._common.convention import Convention
from . import least_squares, thru_root
from .base import Calibration, EightTermModel, bands, error_box, hidden, register
from .standards import Option, Standard, one_port, two_port

__all__ = ["OnePortCal", "ResponseCal", "EightTermCal", "UnknownThruCal", "TwelveTermCal", "TWELVE_TERMS",
           "UnknownThruWarning"]


class UnknownThruWarning(UserWarning):
    """Frequency points where the unknown thru leaves the model's sign uncertain."""


def _reflections(port: int) -> tuple[Standard, ...]:
    return tuple(Standard(f"{name}{port}", 1, f"the {name} measured at port {port}") for name in ("open", "short", "load"))


THRU = Standard("thru", 2, "the thru")
EXTRA = Option("extra", "one-port, eight-term, unknown-thru, twelve-term: extra known reflection standards, each "
               "NAME=FILE.s1p (its actual values; NAME ends in its port, 1 or 2, and NAME.s1p in --standards is "
               "its measurement): the port's terms are then fitted by weighted least squares, each standard's "
               "misfit kept", type=str, nargs="+", metavar="NAME=FILE")


def _actual(f, kit, ideal: bool, convention: Convention):
    """The standards' actual values: Open/Short/Load [n,3] and thru [n,2,2],
    ideal or from the kit (a CalKit, a kit file, or None for the shipped
    example kit); and the kit's definition to store."""
    if ideal:
        if kit is not None:
            raise ValueError("give a kit or ideal=True, not both")
        G, T = hidden().getIdealSparams(len(f))
        return G, T, None
    from .kit import CalKit, example_kit

    if kit is None:
        kit = example_kit()
    elif isinstance(kit, (str, os.PathLike)):
        kit = CalKit.load(kit)
    elif not isinstance(kit, CalKit):
        raise TypeError(f"kit must be a CalKit or the path of a kit file, not {type(kit).__name__}")
    return kit.reflect(f, convention=convention), kit.thru(f, convention=convention), kit.to_dict()


def _measured(measured, standards, n: int, convention: Convention) -> dict:
    """Each standard's measurement, checked, in `convention` (Networks are
    e^{jwt} and converted)."""
    from .._common.convention import in_convention
    from .._common.network import is_network

    missing = [s.name for s in standards if s.name not in measured and not s.optional]
    if missing:
        raise ValueError(f"missing measured standards: {', '.join(missing)}")
    unknown = sorted(set(measured) - {s.name for s in standards})
    if unknown:
        raise ValueError(f"unknown standards {', '.join(unknown)}; this method takes "
                         + ", ".join(s.name for s in standards))
    out = {}
    for s in standards:
        if s.name not in measured:
            continue
        value = measured[s.name]
        if is_network(value):
            value = in_convention(np.asarray(value.s, complex), convention)
        out[s.name] = one_port(value, n, s.name) if s.ports == 1 else two_port(value, n, s.name)
    return out


def _c(x, n: int | None = None) -> np.ndarray:
    """The standards' actual values as kept: complex, on every point."""
    x = np.asarray(x, complex)
    return np.broadcast_to(x, (n,)).copy() if n is not None and x.ndim == 0 else x


def _grid(f) -> np.ndarray:
    f = np.asarray(f, dtype=float)
    if f.ndim != 1 or not len(f) or not np.isfinite(f).all() or (np.diff(f) <= 0).any():
        raise ValueError("f must be an increasing one-dimensional grid of finite frequencies (Hz)")
    return f


def _osl(m: dict, port: int) -> np.ndarray:
    return np.stack([m[f"{name}{port}"] for name in ("open", "short", "load")], 1)


# Misfits of least-squares fits with extra standards, per port: [n, m] each.
FIT_TERMS = {f"{kind}{port}": None for port in (1, 2) for kind in ("misfit", "standardised")}
_NAME = re.compile(r"[A-Za-z0-9_-]{1,50}")


def _extra_actual(name: str, value, f, convention: Convention, z0: float) -> np.ndarray:
    """An extra standard's actual reflection [n] in `convention`: a number or
    [n] array (in `convention`), a kit standard (Open, Short, Load, e^{jwt}),
    or a one-port Touchstone file of its values (e^{jwt}, interpolated)."""
    from .._common.convention import in_convention
    from .kit import DataStandard

    if isinstance(value, (str, os.PathLike)):
        value = DataStandard.read(value, 1, z0, f"extra standard {name}")
    if hasattr(value, "gamma"):
        return in_convention(np.asarray(value.gamma(f, z0), complex), convention)
    x = np.asarray(value)
    if x.dtype.kind not in "biufc" or x.shape not in ((), (len(f),)):
        raise ValueError(f"extra standard {name}: its actual value must be a number, [{len(f)}] values, a kit "
                         f"standard or a .s1p file, not {type(value).__name__} {x.shape}")
    x = np.broadcast_to(x.astype(complex), (len(f),)).copy()
    if not np.isfinite(x).all():
        raise ValueError(f"extra standard {name}: its actual value is not finite")
    return x


def _extras(extra) -> dict:
    """{name: value} of the extra standards, from a mapping or NAME=FILE texts."""
    if not extra:
        return {}
    if isinstance(extra, dict):
        items = dict(extra)
    else:
        items = {}
        for text in extra:
            name, sep, path = str(text).partition("=")
            if not sep or not path:
                raise ValueError(f"extra standard {text!r}: give NAME=FILE.s1p (its actual values)")
            items[name] = path
    for name in items:
        if not _NAME.fullmatch(name) or name[-1] not in "12":
            raise ValueError(f"extra standard {name!r}: a name of letters, digits, '_' or '-' ending in the port "
                             "it is measured at (1 or 2), as offset_short1")
        if name[:-1] in ("open", "short", "load"):
            raise ValueError(f"extra standard {name!r}: the name of a kit standard; call it otherwise")
    return items


class _KitMethod:
    """What the coaxial methods share: standards whose actual values come from
    a calibration kit (or are ideal), and any number of extra known reflection
    standards per port, fitted by weighted least squares (`least_squares`)."""

    uses_kit: ClassVar[bool] = True

    @classmethod
    def from_standards(cls, f, measured, *, kit=None, ideal: bool = False, convention: Convention = "board",
                       notes: str = "", **options):
        """The calibration from measured standards and the kit's model of them.

        Parameters
        ----------
        f : array_like, shape (n,)
            Increasing frequencies (Hz).
        measured : mapping of str to array_like or skrf.Network
            Each standard of `STANDARDS` by name (``open1``, ``short1``,
            ``load1``, ... ``thru``, ``isolation``): one-ports [n] or
            [n,1,1], two-ports [n,2,2]; optional standards may be left out.
        kit : CalKit or path, optional
            The calibration kit whose model gives the standards' actual
            values; the shipped example kit if neither `kit` nor `ideal`.
        ideal : bool, optional
            Ideal standards (Open 1, Short -1, Load 0, a flush thru) instead.
        convention : {'board', 'engineering'}, optional
            The phase convention of the arrays given (scikit-rf Networks are
            e^{jwt}, 'engineering', and converted); the kit's values and the
            calibration follow it.
        notes : str, optional
            Stored with the calibration.
        extra : mapping of str to value, optional
            Extra known reflection standards: name (ending in its port, 1 or
            2, as ``offset_short1``) to its actual value (a number, [n]
            values in `convention`, a kit standard such as ``Short(...)``, or
            a .s1p file of its values); `measured` holds each one's reading
            under its name. A port with extras is fitted by weighted least
            squares, and `residuals` keeps each standard's misfit.
        weights : mapping of str to float, optional
            Each fitted standard's weight, 1 / u^2 for its standard
            uncertainty u (1 by default).
        **options
            The method's own (`OPTIONS`).

        Returns
        -------
        Calibration
            Of this class. It keeps the measured standards and their actual
            values, which uncertainty propagation needs (`with_uncertainty`).
        """
        f = _grid(f)
        extra, weights = _extras(options.pop("extra", None)), options.pop("weights", None)
        m = _measured(measured, cls.standards_for(extra=extra, **options), len(f), convention)
        G, T, kit_dict = _actual(f, kit, ideal, convention)
        z0 = 50.0
        if kit_dict:
            from .kit import CalKit

            z0 = CalKit.models_of(kit_dict)[0]
        actual = {name: _extra_actual(name, value, f, convention, z0) for name, value in extra.items()}
        fits = _fit(m, G, actual, weights)
        cal = cls._from_actual(f, m, G, T, kit=kit_dict, notes=notes, convention=convention, **options)
        return _with_fits(cal, fits) if fits else cal

    @classmethod
    def standards_for(cls, *, extra=None, **options) -> tuple:
        """The standards: the method's own, then the extra ones (`extra`)."""
        extra = _extras(extra)
        if not extra:
            return cls.STANDARDS
        if not any(s.name == "open1" for s in cls.STANDARDS):
            raise ValueError(f"a {cls.method} calibration takes no extra reflection standards")
        if cls.ports == 1 and any(name.endswith("2") for name in extra):
            raise ValueError("a one-port calibration takes extra standards at port 1 only (names ending in 1)")
        return cls.STANDARDS + tuple(Standard(name, 1, f"the extra standard {name} (port {name[-1]})")
                                     for name in extra)

    @property
    def residuals(self) -> dict:
        """Each fitted standard's misfit: {name: {"misfit": [n] complex
        (Gm_model - Gm), "standardised": [n]}}; empty without extra
        standards (three standards fit exactly)."""
        out = {}
        for port, names in (self.parameters.get("fitted") or {}).items():
            misfit, std = self.terms[f"misfit{port}"], self.terms[f"standardised{port}"]
            for k, name in enumerate(names):
                out[name] = {"misfit": np.asarray(misfit)[:, k], "standardised": np.asarray(std)[:, k].real}
        return out

    def describe(self) -> str:
        text = super().describe()
        for port, names in (self.parameters.get("fitted") or {}).items():
            lines = least_squares.summary(names, self.terms[f"misfit{port}"],
                                          np.asarray(self.terms[f"standardised{port}"]).real)
            text += f"\nport {port}, {len(names)} standards by weighted least squares:\n  " + "\n  ".join(lines)
        return text

    def term_factors(self, budget, left=None) -> dict:
        from . import uncertain

        if self.parameters.get("fitted"):
            raise NotImplementedError("uncertainty propagation through a least-squares fit of more than three "
                                      "standards per port is not available yet")
        return uncertain.solt_term_factors(self, budget, left)


def _fit(m: dict, G: np.ndarray, actual: dict, weights) -> dict:
    """Fits each port with extra standards; replaces that port's open, short
    and load readings in `m` by those of the fitted model (so the model
    functions, solving exactly, give the fitted terms); returns what to keep."""
    fits = {}
    weights = dict(weights or {})
    for port in (1, 2):
        extra = [name for name in actual if name.endswith(str(port))]
        if not extra:
            continue
        names = [f"{k}{port}" for k in ("open", "short", "load")] + extra
        Gp = np.concatenate([G[:, :3], np.stack([actual[name] for name in extra], 1)], 1)
        raw = np.stack([m[name] for name in names], 1)
        unknown = set(weights) - set(actual) - {f"{k}{p}" for k in ("open", "short", "load") for p in (1, 2)}
        if unknown:
            raise ValueError(f"weights given for {', '.join(sorted(unknown))}, which are not standards of this "
                             "calibration")
        u = [float(weights.get(name, 1.0)) for name in names]
        if not all(np.isfinite(x) and x > 0 for x in u):
            raise ValueError("weights must be positive and finite")
        result = least_squares.one_port(Gp, raw, u)
        predicted = least_squares.reading(result["e"], G[:, :3])
        for k, name in enumerate(names[:3]):
            m[name] = predicted[:, k]
        fits[port] = (names, raw, Gp[:, 3:], result, u)
    return fits


def _with_fits(cal, fits: dict):
    """The calibration keeping its fits: each fitted standard's raw reading
    (measured_NAME) and the extras' actual values (actual_NAME), the misfits
    as terms, the names and weights among the parameters."""
    terms, standards, parameters = dict(cal.terms), dict(cal.standards), dict(cal.parameters)
    fitted, weights = {}, {}
    for port, (names, raw, extra_actual, result, u) in fits.items():
        for k, name in enumerate(names):
            standards[f"measured_{name}"] = raw[:, k]
            weights[name] = u[k]
        for k, name in enumerate(names[3:]):
            standards[f"actual_{name}"] = extra_actual[:, k]
        terms[f"misfit{port}"] = result["misfit"]
        terms[f"standardised{port}"] = result["standardised"]
        fitted[str(port)] = names
    parameters["fitted"] = fitted
    parameters["weights"] = weights
    return dataclasses.replace(cal, terms=terms, standards=standards, parameters=parameters)


@register
@dataclasses.dataclass
class OnePortCal(_KitMethod, Calibration):
    """One-port calibration from an Open, a Short and a Load: the error terms
    e = [e00, e11, delta_e] [n,3] of `get1PortModel`."""

    method: ClassVar[str] = "one-port"
    ports: ClassVar[int] = 1
    TERMS: ClassVar[dict] = {"e": (3,)}
    OPTIONAL_TERMS: ClassVar[dict] = {k: v for k, v in FIT_TERMS.items() if k.endswith("1")}
    OPTIONS: ClassVar[tuple] = (EXTRA,)
    STANDARDS: ClassVar[tuple] = _reflections(1)
    SENSITIVITY_MODEL: ClassVar[str] = "one-port"

    @classmethod
    def build(cls, f, G, Gm, **kw) -> "OnePortCal":
        """The one-port model from three known reflection standards.

        Parameters
        ----------
        f : array_like, shape (n,)
            Increasing frequencies (Hz).
        G, Gm : array_like, shape (n, 3)
            The actual and the measured reflections of the Open, Short and
            Load, in the calibration's `convention`.
        **kw
            Further fields of the calibration (`kit`, `notes`, `convention`).

        Returns
        -------
        OnePortCal
            Its terms: `e` [n, 3], e00, e11 and delta_e as `get1PortModel`
            gives them.
        """
        return cls(f, {"e": hidden().get1PortModel(G, Gm)}, {"Gm": np.asarray(Gm), "G1": _c(G)}, **kw)

    def term_vector(self) -> np.ndarray:
        """e00 e11 delta_e [n, 3]."""
        return np.asarray(self.terms["e"], complex)

    @classmethod
    def _from_actual(cls, f, m, G, T, **kw):
        return cls.build(f, G, _osl(m, 1), **kw)

    def correct(self, Sm):
        if Sm.ndim == 3:
            return self.correct(Sm[:, 0, 0])[:, None, None]
        return hidden().correct1Port(Sm, self.terms["e"])

    def error_boxes(self):
        e00, e11, delta = np.asarray(self.terms["e"]).T
        return {"port1": error_box(e00, e11, e00 * e11 - delta)}


@register
@dataclasses.dataclass
class ResponseCal(_KitMethod, Calibration):
    """Frequency-response calibration from a Short at each port and a thru:
    H [n,2,2] of `get2PortResponseModel` (each S-parameter's own factor)."""

    method: ClassVar[str] = "response"
    TERMS: ClassVar[dict] = {"H": (2, 2)}
    SENSITIVITY_MODEL: ClassVar[str] = "response"
    STANDARDS: ClassVar[tuple] = (Standard("short1", 1, "the short measured at port 1"),
                                  Standard("short2", 1, "the short measured at port 2"), THRU)

    @classmethod
    def build(cls, f, G1, G1m, G2, G2m, T, Tm, **kw) -> "ResponseCal":
        """The frequency-response model from one reflection standard per port
        and a thru.

        Parameters
        ----------
        f : array_like, shape (n,)
            Increasing frequencies (Hz).
        G1, G1m, G2, G2m : array_like, shape (n,)
            The actual and the measured reflection of each port's standard.
        T, Tm : array_like, shape (n, 2, 2)
            The actual and the measured thru.
        **kw
            Further fields of the calibration (`kit`, `notes`, `convention`).

        Returns
        -------
        ResponseCal
            Its terms: `H` [n, 2, 2], each S-parameter's tracking, as
            `get2PortResponseModel` gives it.
        """
        H = hidden().get2PortResponseModel(G1, G1m, G2, G2m, T, Tm)
        return cls(f, {"H": H}, {"G1m": np.asarray(G1m), "G2m": np.asarray(G2m), "Tm": np.asarray(Tm),
                                 "G1": _c(G1, len(f)), "G2": _c(G2, len(f)), "T": _c(T)}, **kw)

    def term_vector(self) -> np.ndarray:
        """H11 H12 H21 H22 [n, 4]."""
        return np.asarray(self.terms["H"], complex).reshape(len(self.f), 4)

    @classmethod
    def _from_actual(cls, f, m, G, T, **kw):
        return cls.build(f, G[:, 1], m["short1"], G[:, 1], m["short2"], T, m["thru"], **kw)

    def correct(self, Sm):
        return hidden().correctResponse(Sm, self.terms["H"])

    def error_boxes(self):
        return {"response": np.asarray(self.terms["H"], complex)}


@register
@dataclasses.dataclass
class EightTermCal(_KitMethod, EightTermModel):
    """Eight-term SOLT calibration with a known thru: A, B [n,2,2] and q [n]
    of `get8TermModel`."""

    method: ClassVar[str] = "eight-term"
    OPTIONAL_TERMS: ClassVar[dict] = {**EightTermModel.OPTIONAL_TERMS, **FIT_TERMS}
    OPTIONS: ClassVar[tuple] = (EXTRA,)
    STANDARDS: ClassVar[tuple] = _reflections(1) + _reflections(2) + (THRU,)

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, T, Tm, **kw) -> "EightTermCal":
        """The eight-term model from Open, Short, Load on both ports and a
        known thru.

        Parameters
        ----------
        f : array_like, shape (n,)
            Increasing frequencies (Hz).
        G1, Gm1, G2, Gm2 : array_like, shape (n, 3)
            The actual and the measured Open, Short and Load of each port.
        T, Tm : array_like, shape (n, 2, 2)
            The actual and the measured thru.
        **kw
            Further fields of the calibration (`kit`, `notes`, `convention`).

        Returns
        -------
        EightTermCal
            Its terms: the adapters `A`, `B` [n, 2, 2] and `q` [n] of
            `get8TermModel`.
        """
        A, B, q = hidden().get8TermModel(G1, Gm1, G2, Gm2, T, Tm)
        return cls(f, {"A": A, "B": B, "q": q}, {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2),
                                                  "Tm": np.asarray(Tm), "G1": _c(G1), "G2": _c(G2), "T": _c(T)},
                   **kw)

    @classmethod
    def _from_actual(cls, f, m, G, T, **kw):
        return cls.build(f, G, _osl(m, 1), G, _osl(m, 2), T, m["thru"], **kw)


@register
@dataclasses.dataclass
class UnknownThruCal(_KitMethod, EightTermModel):
    """Eight-term calibration from the reflection standards of both ports and
    a thru of unknown S-parameters (reciprocal only)."""

    method: ClassVar[str] = "unknown-thru"
    STANDARDS: ClassVar[tuple] = _reflections(1) + _reflections(2) + (Standard("thru", 2, "the (unknown) thru"),)
    OPTIONAL_TERMS: ClassVar[dict] = {**EightTermModel.OPTIONAL_TERMS, **FIT_TERMS}
    OPTIONS: ClassVar[tuple] = (EXTRA, Option("phys_length", "unknown-thru: the thru's approximate length in metres, "
                                       "a hint where the data cannot decide (at get8TermModelUThru's velocity "
                                       "factor 0.695)", metavar="M"),)

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
                                                  "Tm": np.asarray(Tm), "G1": _c(G1), "G2": _c(G2)},
                   parameters=parameters, **kw)

    @classmethod
    def _from_actual(cls, f, m, G, T, *, phys_length=None, **kw):
        return cls.build(f, G, _osl(m, 1), G, _osl(m, 2), m["thru"], phys_length, **kw)


TWELVE_TERMS = ("directivity", "source_match", "reflection_tracking", "transmission_tracking", "load_match",
                "isolation")


@register
@dataclasses.dataclass
class TwelveTermCal(_KitMethod, Calibration):
    """Twelve-term calibration: fwd, rev [n,6] of `get12TermModel`
    (directivity, source match, reflection tracking, transmission tracking,
    load match, isolation, forward then reverse)."""

    method: ClassVar[str] = "twelve-term"
    TERMS: ClassVar[dict] = {"fwd": (6,), "rev": (6,)}
    OPTIONAL_TERMS: ClassVar[dict] = dict(FIT_TERMS)
    OPTIONS: ClassVar[tuple] = (EXTRA,)
    SENSITIVITY_MODEL: ClassVar[str] = "twelve-term"

    def term_vector(self) -> np.ndarray:
        """fwd then rev [n, 12], as get12TermModel orders them."""
        return np.concatenate([np.asarray(self.terms["fwd"], complex), np.asarray(self.terms["rev"], complex)], 1)
    STANDARDS: ClassVar[tuple] = _reflections(1) + _reflections(2) + (
        THRU, Standard("isolation", 2, "the isolation (loads on both ports)", optional=True))

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, T, Tm, Im=None, **kw) -> "TwelveTermCal":
        """The twelve-term model from Open, Short, Load on both ports, a known
        thru and optionally the isolation.

        Parameters
        ----------
        f : array_like, shape (n,)
            Increasing frequencies (Hz).
        G1, Gm1, G2, Gm2 : array_like, shape (n, 3)
            The actual and the measured Open, Short and Load of each port.
        T, Tm : array_like, shape (n, 2, 2)
            The actual and the measured thru.
        Im : array_like, shape (n, 2, 2), optional
            Loads on both ports, measured: its S21 and S12 are the
            crosstalk terms (zero without).
        **kw
            Further fields of the calibration (`kit`, `notes`, `convention`).

        Returns
        -------
        TwelveTermCal
            Its terms: `fwd` and `rev` [n, 6] in `get12TermModel`'s order.
        """
        fwd, rev = hidden().get12TermModel(G1, Gm1, G2, Gm2, T, Tm, Im)
        standards = {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2), "Tm": np.asarray(Tm), "G1": _c(G1),
                     "G2": _c(G2), "T": _c(T)}
        if Im is not None:
            standards["Im"] = np.asarray(Im)
        return cls(f, {"fwd": fwd, "rev": rev}, standards, **kw)

    @classmethod
    def _from_actual(cls, f, m, G, T, **kw):
        return cls.build(f, G, _osl(m, 1), G, _osl(m, 2), T, m["thru"], m.get("isolation"), **kw)

    def correct(self, Sm):
        return hidden().correct12Term(Sm, self.terms["fwd"], self.terms["rev"])

    def error_boxes(self):
        out = {}
        for direction in ("fwd", "rev"):
            terms = np.asarray(self.terms[direction], complex)
            for j, name in enumerate(TWELVE_TERMS):
                out[f"{'forward' if direction == 'fwd' else 'reverse'}_{name}"] = terms[:, j, None, None]
        return out
