"""LRM, TRM and LRRM: the self-calibrations of on-wafer work.

Engineers who probe wafers calibrate on an impedance standard substrate: a
short thru, a reflect (or an open and a short) of unknown value and a
trimmed load, the match.

- `lrm`: a thru of known delay (or known S-parameters), a reflect of unknown
  value on both ports (the same on both), a match of known resistance and
  inductance on both ports.
- `trm`: LRM with a zero-length thru (the ports joined directly, as in
  coaxial work where lines of TRL would be too long).
- `lrrm`: a thru, an open and a short of unknown values on both ports, and a
  match on port 1 only, whose inductance is fitted over the band, as the
  published LRRM does: the one value that makes the open (or the short, or
  both) lossless. Its resistance is given (as measured at DC; 50 ohm by
  default).

The reference planes are the thru's ends, the reference impedance `z0`
(50 ohm). Every standard may sit behind an offset (a delay, or a kit
`Offset`): the match's enters its model, the reflects' their root choice
and (LRRM) the lossless condition at their own planes.

Each returns an eight-term calibration (`A`, `B`, `q`, applied with
`correct8Term`) that saves and loads through `calset`, corrects raw
measurements when built with the analyser's switch terms, and carries its
uncertainty (`term_factors`).

References
----------
F. Purroy, L. Pradell, "New theoretical analysis of the LRRM calibration
technique for vector network analyzers", IEEE Trans. Instrum. Meas. 50(5),
2001.
L. Hayden, "An enhanced Line-Reflect-Reflect-Match calibration", 67th ARFTG
Conference, 2006.
H.-J. Eul, B. Schiek, "A generalized theory and new calibration procedures
for network analyzer self-calibration", IEEE Trans. Microwave Theory Tech.
39(4), 1991.
"""
from __future__ import annotations

import dataclasses
import math
import os
import warnings
from typing import ClassVar, Literal

import numpy as np

from .. import _native
from .._common.convention import CONVENTIONS, Convention, in_convention
from .._common.fpenv import holding_traps
from .._common.network import is_network
from .base import EightTermModel, bands, register, unterminate
from .standards import Option, Standard, measured_standards
from .trl import _stack, _switch_file, _vector

__all__ = ["lrm", "trm", "lrrm", "LRMCal", "TRMCal", "LRRMCal", "OnWaferWarning"]


class OnWaferWarning(UserWarning):
    """Frequency points where the on-wafer standards cannot determine the
    error terms well, or where they do not fit their models."""


Reflect = Literal["open", "short"]
Lossless = Literal["open", "short", "both"]

# The reflect's |Gamma| may exceed 1 by this much before it is reported.
REFLECT_MARGIN = 0.05
# Below this root margin (0: both roots as near what the reflect is like; 0.1: a lossless reflect
# about 79 degrees from what it is like) the choice is reported.
MARGIN = 0.1
# LRRM: the lossless reflect's |Gamma| may depart from its value by this much at the fitted inductance.
RESIDUAL = 0.05


# -- offsets and the thru ---------------------------------------------------------

def _offset(value, name: str):
    """An offset as (delay s, loss ohm/s, impedance ohm or None for z0):
    from a delay (a lossless line of the reference impedance, any sign), a
    kit `Offset`, or such a triple (as parameters keep it)."""
    from .kit import Offset

    if isinstance(value, Offset):
        return (float(value.delay), float(value.loss), float(value.z0))
    if isinstance(value, (list, tuple)) and len(value) == 3:
        delay, loss, z = value
        return (float(delay), float(loss), None if z is None else float(z))
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)) \
            or not math.isfinite(value):
        raise ValueError(f"{name} must be a finite delay in seconds or a kit Offset, not {value!r}")
    return (float(value), 0.0, None)


def _offset_s(f, offset, z0: float) -> np.ndarray | None:
    """The offset's S11 and S21 [n, 2] against z0, e^{jwt}; None for none."""
    delay, loss, z = offset
    if delay == 0 and loss == 0:
        return None
    if loss == 0 and (z is None or z == z0):
        out = np.zeros((len(f), 2), complex)
        out[:, 1] = np.exp(-2j * np.pi * f * delay)
        return out
    S = _native.offset_line(f, delay=delay, loss=loss, offset_z0=z0 if z is None else z, z0=z0)
    return np.stack([S[:, 0, 0], S[:, 1, 0]], axis=1)


def _seen(gamma, offset_s) -> np.ndarray:
    """A reflection seen through its offset (S11, S21 [n, 2])."""
    if offset_s is None:
        return gamma
    s11, s21 = offset_s[:, 0], offset_s[:, 1]
    return s11 + s21 ** 2 * gamma / (1 - s11 * gamma)


def _thru(f, delay: float, z0: float) -> tuple[np.ndarray, np.ndarray]:
    """A matched, lossless thru of `delay` seconds and its derivative to the
    delay, [n, 2, 2] each, e^{jwt}."""
    S = np.zeros((len(f), 2, 2), complex)
    S[:, 0, 1] = S[:, 1, 0] = np.exp(-2j * np.pi * f * delay)
    return S, -2j * np.pi * f[:, None, None] * S


def _thru_standard(value, n: int, convention: Convention) -> np.ndarray:
    """The thru's own S-parameters [n, 2, 2] in the e^{jwt} convention, from
    an array (in `convention`), a Network or a Touchstone file (e^{jwt})."""
    if isinstance(value, (str, os.PathLike)):
        from ..files import touchstone

        _, S, _ = touchstone.read(value)
        value, convention = S, "engineering"
    elif is_network(value):
        value, convention = np.asarray(value.s, complex), "engineering"
    S = in_convention(_stack("thru_standard", value, n), convention)
    if not (np.abs(S[:, 0, 0] - S[:, 1, 1]) <= 1e-9 * (1 + np.abs(S[:, 0, 0]))).all():
        raise ValueError("thru_standard: the thru must be symmetric (S11 = S22) at every point: the method "
                         "carries port 2's error box over to port 1 through it")
    if (S[:, 1, 0] == 0).any():
        raise ValueError("thru_standard: a thru without transmission")
    return S


def _finite(name: str, value, *, positive=False) -> float:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, float, np.integer, np.floating)) \
            or not math.isfinite(value) or (positive and not value > 0):
        raise ValueError(f"{name} must be a {'positive' if positive else 'finite'} number, not {value!r}")
    return float(value)


def _grid(f) -> np.ndarray:
    f = np.asarray(f, dtype=float)
    if f.ndim != 1 or not len(f) or not (np.isfinite(f).all() and (f > 0).all()) or (np.diff(f) <= 0).any():
        raise ValueError("f must be an increasing grid of positive frequencies (Hz)")
    return f


def _one_port(name: str, value, n: int) -> np.ndarray:
    value = np.asarray(value)
    if value.shape == (n, 1, 1):
        value = value[:, 0, 0]
    if value.shape == (n, 2, 2):                  # measured with both probes down: port 1's reading
        value = value[:, 0, 0]
    if value.dtype.kind not in "biufc" or value.shape != (n,):
        raise ValueError(f"{name}: shape {value.shape}; the match at port 1 on {n} points is [{n}], [{n}, 1, 1] or "
                         f"[{n}, 2, 2] (its S11 read)")
    value = value.astype(complex)
    if not np.isfinite(value).all():
        raise ValueError(f"{name}: {np.count_nonzero(~np.isfinite(value))} points hold values that are not finite")
    return value


def distance(a, b, scale: float = 1.0) -> np.ndarray:
    """|a - b| / scale: how far apart two standards' reflections are, which
    bounds how much the readings' noise is amplified (the readings of two
    standards closer than this tell the error box little apart)."""
    return np.abs(a - b) / scale


# -- the calibrations --------------------------------------------------------------

_THRU_OPTIONS = (
    Option("thru_delay", "LRM, LRRM: the thru's delay (s; a matched lossless line; default 0)", metavar="S"),
    Option("thru_standard", "LRM, LRRM: the thru's own S-parameters, a two-port file (instead of --thru-delay)",
           type=str, metavar="FILE.s2p"),
)
_MATCH_OPTIONS = (
    Option("resistance", "LRM, LRRM, TRM: the match's resistance (ohm, as measured at DC; default 50)",
           metavar="OHM"),
    Option("inductance", "LRM, TRM: the match's inductance (H, default 0); LRRM: given, it is not fitted",
           metavar="H"),
    Option("match_delay", "LRM, LRRM, TRM: the match's offset delay beyond the reference plane (s, default 0)",
           metavar="S"),
)
_SWITCH = Option("switch_terms", "the analyser's switch terms, a two-port file (S21 gamma_f = a2/b2 with port 1 "
                 "driving, S12 gamma_r = a1/b1 with port 2 driving): the standards are then raw measurements",
                 type=str, metavar="FILE.s2p")
_REFLECT_OPTIONS = (
    Option("reflect_like", "what the reflect is like (LRM, TRM, TRL; default short)", type=str, default="short",
           choices=("open", "short"), flag="--reflect"),
    Option("reflect_delay", "LRM, TRM: the reflect's offset delay beyond the reference plane (s, default 0)",
           metavar="S"),
)


class _OnWafer:
    """What LRM, TRM and LRRM share: measured standards by name, built by
    their function (`lrm`, `trm`, `lrrm`), uncertainty by `lrm_uncertain`."""

    uses_kit: ClassVar[bool] = False
    BUILD: ClassVar[str] = ""

    @classmethod
    def from_standards(cls, f, measured, *, switch_terms=None, convention: Convention = "engineering", **options):
        """The calibration from measured standards: `measured` maps the names
        of `STANDARDS` to arrays or scikit-rf Networks; `switch_terms` as the
        function takes them, or a two-port Touchstone file holding them (S21
        gamma_f, S12 gamma_r); `thru_standard` may be a file too. The other
        options as `lrm`, `trm` and `lrrm` take them."""
        m = measured_standards(cls.method, cls.STANDARDS, measured, convention)
        if isinstance(switch_terms, (str, os.PathLike)):
            switch_terms = _switch_file(switch_terms, f)
        for delay in ("match_delay", "reflect_delay", "short_delay", "open_delay"):
            if delay in options:
                options[delay.replace("_delay", "_offset")] = options.pop(delay)
        build = {"lrm": lrm, "trm": trm, "lrrm": lrrm}[cls.method]
        return build(f, *(m[s.name] for s in cls.STANDARDS), switch_terms=switch_terms, convention=convention,
                     **options)

    def term_factors(self, budget, left=None) -> dict:
        from . import lrm_uncertain

        return lrm_uncertain.term_factors(self, budget, left)

    # -- solving again (uncertainty, Monte Carlo) ---------------------------------

    def solver_inputs(self) -> dict:
        """The native solver's inputs as this calibration was built from them,
        in the e^{jwt} convention: the standards switch-corrected, the
        thru's own S-parameters, the offsets."""
        s, p, f = self.standards, self.parameters, self.f
        switch = (self.terms["switch_f"], self.terms["switch_r"]) if "switch_f" in self.terms else None

        def used(name):
            x = np.asarray(s[name], complex)
            if x.ndim == 3 and switch is not None:
                x = unterminate(x, *switch)
            return in_convention(x, self.convention)

        out = {name: used(name) for name in (st.name for st in self.STANDARDS)}
        out["thru_standard"] = in_convention(np.asarray(s["T"], complex), self.convention)
        z0 = p["z0"]
        out["offsets"] = {k: _offset_s(f, _offset(v, k), z0) for k, v in p["offsets"].items()}
        return out

    def solve(self, inputs: dict, *, resistance=None, inductance=None, thru_delay=None, magnitude=None,
              sensitivities=False) -> dict:
        """The native solver run on `inputs` (as `solver_inputs` gives them,
        possibly perturbed) with this calibration's settings, some replaced."""
        p, f = self.parameters, self.f
        R = p["resistance"] if resistance is None else resistance
        standard = inputs["thru_standard"]
        derivative = None
        if p.get("thru_delay") is not None:
            if thru_delay is not None:
                standard, derivative = _thru(f, thru_delay, p["z0"])
            elif sensitivities:           # the kept thru, a line of that delay: its derivative to it
                derivative = -2j * np.pi * f[:, None, None] * standard
        o = inputs["offsets"]
        if self.method in ("lrm", "trm"):
            sign = 1.0 if p["reflect_like"] == "open" else -1.0
            return _native.lrm(f, inputs["thru"], inputs["reflect"], inputs["match"], standard, resistance=R,
                               inductance=p["inductance"] if inductance is None else inductance, z0=p["z0"],
                               match_offset=o["match"], reflect_estimate=_seen(np.full(len(f), sign + 0j),
                                                                               o["reflect"]),
                               thru_derivative=derivative, sensitivities=sensitivities)
        given = p["inductance"] if not p["fitted"] else None
        return _native.lrrm(f, inputs["thru"], inputs["short"], inputs["open"], inputs["match"], standard,
                            resistance=R, inductance=given if inductance is None else inductance, z0=p["z0"],
                            match_offset=o["match"], short_offset=o["short"], open_offset=o["open"],
                            short_estimate=_seen(-np.ones(len(f), complex), o["short"]),
                            open_estimate=_seen(np.ones(len(f), complex), o["open"]), lossless=p["lossless"],
                            magnitude=p["magnitude"] if magnitude is None else magnitude,
                            inductance_estimate=p["inductance_estimate"], thru_derivative=derivative,
                            sensitivities=sensitivities)


_LRM_TERMS = {"A": (2, 2), "B": (2, 2), "q": (), "reflect": (), "match": (), "condition": ()}


@register
@dataclasses.dataclass
class LRMCal(_OnWafer, EightTermModel):
    """LRM: the eight-term adapters, the reflect's value (`reflect`), the
    match's (`match`, at the reference planes) and `condition`, the
    reflect's distance from the match |G_R - G_M| (1 for an ideal short
    against a perfect match; near 0 the standards cannot calibrate)."""

    method: ClassVar[str] = "lrm"
    TERMS: ClassVar[dict] = _LRM_TERMS
    STANDARDS: ClassVar[tuple] = (Standard("thru", 2, "the thru"),
                                  Standard("reflect", 2, "the reflect, on both ports"),
                                  Standard("match", 2, "the match, on both ports"))
    OPTIONS: ClassVar[tuple] = _THRU_OPTIONS + _MATCH_OPTIONS + _REFLECT_OPTIONS + (_SWITCH,)


@register
@dataclasses.dataclass
class TRMCal(LRMCal):
    """TRM: LRM with a zero-length thru (the ports joined directly)."""

    method: ClassVar[str] = "trm"
    OPTIONS: ClassVar[tuple] = _MATCH_OPTIONS + _REFLECT_OPTIONS + (_SWITCH,)


@register
@dataclasses.dataclass
class LRRMCal(_OnWafer, EightTermModel):
    """LRRM: the eight-term adapters, the short's, open's and match's values
    at the reference planes, `condition` (the open's distance from the
    short, |G_O - G_S| / 2: 1 for ideal ones) and `residual`, the lossless reflect's |Gamma|
    at its own plane less its assumed value, at the fitted inductance
    (kept in `parameters['inductance']`)."""

    method: ClassVar[str] = "lrrm"
    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": (), "short": (), "open": (), "match": (),
                             "condition": (), "residual": ()}
    STANDARDS: ClassVar[tuple] = (Standard("thru", 2, "the thru"),
                                  Standard("short", 2, "the short, on both ports"),
                                  Standard("open", 2, "the open, on both ports"),
                                  Standard("match", 1, "the match at port 1"))
    OPTIONS: ClassVar[tuple] = _THRU_OPTIONS + _MATCH_OPTIONS + (
        Option("short_delay", "LRRM: the short's offset delay beyond the reference plane (s, default 0)",
               metavar="S"),
        Option("open_delay", "LRRM: the open's offset delay beyond the reference plane (s, default 0)", metavar="S"),
        Option("lossless", "LRRM: the reflect(s) taken as lossless to fit the match's inductance (default open)",
               type=str, choices=("open", "short", "both")),
        _SWITCH)


# -- building ------------------------------------------------------------------------

def _prepare(f, standards: dict, switch_terms, convention):
    """The standards checked, as given, and the switch terms checked."""
    if convention not in CONVENTIONS:
        raise ValueError(f"convention must be 'engineering' or 'board', not {convention!r}")
    n = len(f)
    raw = {}
    for name, value in standards.items():
        raw[name] = _one_port(name, value, n) if name == "match" and value is not None and _is_one_port(value, n) \
            else _stack(name, value, n)
    switch = None
    if switch_terms is not None:
        if len(switch_terms) != 2:
            raise ValueError("switch_terms must be (gamma_f, gamma_r)")
        switch = tuple(_vector(name, x, n) for name, x in zip(("switch_terms[0]", "switch_terms[1]"), switch_terms))
    return raw, switch


def _is_one_port(value, n) -> bool:
    return np.shape(value) in ((n,), (n, 1, 1))


def _settings(f, convention, z0, thru_delay, thru_standard, resistance, offsets: dict):
    z0 = _finite("z0", z0, positive=True)
    resistance = _finite("resistance", resistance)
    if thru_standard is not None and thru_delay is not None:
        raise ValueError("give the thru as thru_delay or as thru_standard, not both")
    if thru_standard is not None:
        standard = _thru_standard(thru_standard, len(f), convention)
        delay = None
    else:
        delay = _finite("thru_delay", 0.0 if thru_delay is None else thru_delay)
        standard, _ = _thru(f, delay, z0)
    kept = {k: _offset(v, f"{k}_offset") for k, v in offsets.items()}
    return z0, resistance, standard, delay, kept


def _finish(cls, f, raw, switch, standard, convention, parameters, notes, terms):
    flip = {k: in_convention(v, convention) for k, v in terms.items()}
    if switch is not None:
        flip["switch_f"], flip["switch_r"] = switch
    standards = dict(raw)
    standards["T"] = in_convention(standard, convention)
    return cls(f, flip, standards, parameters=parameters, notes=notes, convention=convention)


@holding_traps
def lrm(f, thru, reflect, match, *, thru_delay: float | None = None, thru_standard=None, resistance: float = 50.0,
        inductance: float = 0.0, match_offset=0.0, reflect_like: Reflect = "short", reflect_offset=0.0,
        z0: float = 50.0, switch_terms=None, convention: Convention = "engineering", warn_below: float = 0.2,
        notes: str = "") -> LRMCal:
    """LRM calibration from a thru, a reflect and a match.

    Parameters
    ----------
    f : array_like, shape (n,)
        Increasing frequencies (Hz).
    thru, reflect, match : array_like, shape (n, 2, 2), or scikit-rf Networks
        Measured S-parameters of the standards; the reflect and the match
        are measured on both ports at once (their S11 and S22 are read), and
        are the same on both ports.
    thru_delay : float, optional
        The thru's delay (s): a matched, lossless line of the reference
        impedance. 0 (the default) is TRM's zero-length thru.
    thru_standard : array_like, shape (n, 2, 2), Network or path, optional
        The thru's own S-parameters instead (symmetric: S11 = S22), in
        `convention` (a Network or a Touchstone file: e^{jwt}).
    resistance, inductance : float, optional
        The match: a resistance (ohm; 50 by default, as measured at DC) in
        series with an inductance (H; 0 by default).
    match_offset, reflect_offset : float or kit Offset, optional
        Where the match and the reflect sit beyond the reference planes: a
        delay (s, of a lossless line of the reference impedance; negative
        towards the analyser) or a kit `Offset` (delay, loss, impedance).
        The reflect's only serves its root choice.
    reflect_like : {'short', 'open'}, optional
        What the reflect is like (about -1 or +1 at its own plane): of the
        two solutions, the one whose reflect is nearer is taken.
    z0 : float, optional
        The reference impedance (ohm).
    switch_terms : tuple of array_like, shape (n,), optional
        The analyser's switch terms (Gamma_f = a2/b2 with port 1 driving,
        Gamma_r = a1/b1 with port 2 driving). Given, the standards are raw
        measurements and the calibration corrects raw measurements too.
    convention : {'engineering', 'board'}, optional
        The phase convention of the arrays given (Networks are e^{jwt}) and
        of the error terms: 'engineering' (e^{jwt}, default) or 'board'.
    warn_below : float, optional
        Warns where the reflect's distance from the match |G_R - G_M| is
        below this (1 for an ideal short and a perfect match).
    notes : str, optional
        Stored with the calibration.

    Returns
    -------
    LRMCal
        Its `apply(Sm)` corrects measurements; `terms` holds `A`, `B`, `q`,
        the reflect's value `reflect` and the match's `match` at the
        reference planes, and `condition` (the reflect's distance from the
        match).

    Raises
    ------
    ValueError
        For arguments of the wrong shape or type, values that are not finite
        (naming the argument), an asymmetric thru standard.

    Warns
    -----
    OnWaferWarning
        Once for each kind of doubtful point, naming its frequency bands:
        where the reflect is too close to the match to calibrate, where its
        root is uncertain or far from what it is like, where its |Gamma|
        exceeds 1.

    Examples
    --------
    >>> cal = lrm(f, thru, reflect, match, thru_delay=1e-12, resistance=50.2)  # doctest: +SKIP
    >>> corrected = cal.apply(device)  # doctest: +SKIP
    """
    return _lrm(LRMCal, f, thru, reflect, match, thru_delay, thru_standard, resistance, inductance, match_offset,
                reflect_like, reflect_offset, z0, switch_terms, convention, warn_below, notes)


@holding_traps
def trm(f, thru, reflect, match, *, resistance: float = 50.0, inductance: float = 0.0, match_offset=0.0,
        reflect_like: Reflect = "short", reflect_offset=0.0, z0: float = 50.0, switch_terms=None,
        convention: Convention = "engineering", warn_below: float = 0.2, notes: str = "") -> TRMCal:
    """TRM calibration: LRM with a zero-length thru (the two ports joined
    directly), from the thru, a reflect and a match measured on both ports.

    Parameters
    ----------
    f, thru, reflect, match, resistance, inductance, match_offset, reflect_like, reflect_offset, z0, switch_terms, \
convention, warn_below, notes
        As for `lrm`.

    Returns
    -------
    TRMCal
        As `lrm`'s result.

    Raises
    ------
    ValueError
        As `lrm`.

    Warns
    -----
    OnWaferWarning
        As `lrm`.
    """
    return _lrm(TRMCal, f, thru, reflect, match, 0.0, None, resistance, inductance, match_offset, reflect_like,
                reflect_offset, z0, switch_terms, convention, warn_below, notes)


def _lrm(cls, f, thru, reflect, match, thru_delay, thru_standard, resistance, inductance, match_offset, reflect_like,
         reflect_offset, z0, switch_terms, convention, warn_below, notes):
    f = _grid(f)
    if reflect_like not in ("open", "short"):
        raise ValueError(f"reflect_like must be 'open' or 'short', not {reflect_like!r}")
    inductance = _finite("inductance", inductance)
    warn_below = _finite("warn_below", warn_below)
    raw, switch = _prepare(f, {"thru": _array(thru, convention), "reflect": _array(reflect, convention),
                                     "match": _array(match, convention)}, switch_terms, convention)
    if raw["match"].ndim != 3:
        raise ValueError(f"match: shape {raw['match'].shape}; {cls.method} reads the match on both ports, "
                         f"[{len(f)}, 2, 2]")
    z0, resistance, standard, delay, offsets = _settings(f, convention, z0, thru_delay, thru_standard, resistance,
                                                         {"match": match_offset, "reflect": reflect_offset})
    parameters = {"thru_delay": delay, "resistance": resistance, "inductance": inductance, "z0": z0,
                  "reflect_like": reflect_like, "offsets": {k: list(v) for k, v in offsets.items()}}
    cal = _finish(cls, f, raw, switch, standard, convention, parameters, notes,
                  {"A": np.zeros((len(f), 2, 2)), "B": np.zeros((len(f), 2, 2)), "q": np.zeros(len(f)),
                   "reflect": np.zeros(len(f)), "match": np.zeros(len(f)), "condition": np.zeros(len(f))})
    result = cal.solve(cal.solver_inputs())
    terms = {k: result[k] for k in ("A", "B", "q", "reflect", "match")}
    terms["condition"] = distance(result["reflect"], result["match"])
    for k in ("A", "B", "q", "reflect", "match"):
        cal.terms[k] = in_convention(terms[k], convention)
    cal.terms["condition"] = terms["condition"]
    sign = 1.0 if reflect_like == "open" else -1.0
    estimate = _seen(np.full(len(f), sign + 0j), _offset_s(f, offsets["reflect"], z0))
    _warn(cal, [
        (~(terms["condition"] >= warn_below),
         f"the reflect is too close to the match to calibrate (their distance is below {warn_below:g})"),
        (~(result["margin"] >= MARGIN), "the reflect's root is uncertain: both solutions' reflects are about as "
                                        "far from what it is like (check reflect_like and reflect_offset)"),
        ((terms["reflect"] * np.conj(estimate)).real < 0,
         "the reflect is more than 90 degrees from what it is like (check reflect_like and reflect_offset)"),
        (~(np.abs(terms["reflect"]) <= 1 + REFLECT_MARGIN), "the reflect's |Gamma| exceeds 1"),
        (~np.isfinite(terms["q"]), "the standards cannot determine the error terms (no finite solution)"),
    ], 4)                               # past _lrm(), lrm() or trm() and its trap guard
    return cal


def _array(value, convention):
    """A Network's S-parameters in `convention`; anything else as given."""
    return in_convention(np.asarray(value.s, complex), convention) if is_network(value) else value


@holding_traps
def lrrm(f, thru, short, open, match, *, thru_delay: float | None = None, thru_standard=None,  # noqa: A002
         resistance: float = 50.0, inductance: float | None = None, inductance_estimate: float = 0.0,
         lossless: Lossless = "open", magnitude: float = 1.0, match_offset=0.0, short_offset=0.0, open_offset=0.0,
         z0: float = 50.0, switch_terms=None, convention: Convention = "engineering", warn_below: float = 0.2,
         notes: str = "") -> LRRMCal:
    """LRRM calibration from a thru, a short and an open of unknown values on
    both ports, and a match on port 1 whose inductance is fitted.

    Parameters
    ----------
    f : array_like, shape (n,)
        Increasing frequencies (Hz).
    thru, short, open : array_like, shape (n, 2, 2), or scikit-rf Networks
        Measured S-parameters of the thru and of the short and the open, each
        measured on both ports at once and the same on both.
    match : array_like, shape (n,), (n, 1, 1) or (n, 2, 2), or a Network
        The match measured at port 1 (of a two-port measurement, S11).
    thru_delay, thru_standard, resistance, z0, switch_terms, convention, notes
        As for `lrm`.
    inductance : float, optional
        The match's series inductance (H). Without it (the default) it is
        fitted: the one value over the band that makes the `lossless`
        reflect(s) lossless at their own planes, in least squares.
    inductance_estimate : float, optional
        Where the fit starts, and which of each point's two roots it prefers
        (H; 0 by default).
    lossless : {'open', 'short', 'both'}, optional
        The reflect(s) taken as lossless (|Gamma| = `magnitude` at their own
        planes): the open by default, which on an impedance standard
        substrate is nearer lossless than a short.
    magnitude : float, optional
        That |Gamma| (1 by default).
    match_offset, short_offset, open_offset : float or kit Offset, optional
        Where each standard sits beyond the reference planes, as for `lrm`:
        the match's enters its model, the reflects' their root choice and
        the lossless condition at their own planes.
    warn_below : float, optional
        Warns where the open's distance from the short |G_O - G_S| / 2 is
        below this (1 for ideal ones).

    Returns
    -------
    LRRMCal
        Its `terms` hold `A`, `B`, `q`, the short's, open's and match's
        values at the reference planes, `condition` (the open's distance
        from the short, |G_O - G_S| / 2) and `residual` (the lossless reflect's |Gamma| less
        `magnitude`, at the fitted inductance); `parameters['inductance']`
        is the inductance used.

    Raises
    ------
    ValueError
        As `lrm`.

    Warns
    -----
    OnWaferWarning
        Once for each kind of doubtful point, naming its frequency bands:
        where the open is too close to the short, where the root is
        uncertain or a reflect is far from what it is like, where the
        lossless reflect does not fit its model at the fitted inductance.

    Examples
    --------
    >>> cal = lrrm(f, thru, short, open_, match, thru_delay=1e-12, resistance=50.3)  # doctest: +SKIP
    >>> cal.parameters["inductance"]  # doctest: +SKIP
    3.1e-12
    """
    f = _grid(f)
    if inductance is not None:
        inductance = _finite("inductance", inductance)
    inductance_estimate = _finite("inductance_estimate", inductance_estimate)
    magnitude = _finite("magnitude", magnitude, positive=True)
    warn_below = _finite("warn_below", warn_below)
    if lossless not in ("open", "short", "both"):
        raise ValueError(f"lossless must be 'open', 'short' or 'both', not {lossless!r}")
    match = _array(match, convention)
    raw, switch = _prepare(f, {"thru": _array(thru, convention), "short": _array(short, convention),
                                     "open": _array(open, convention), "match": _one_port("match", match, len(f))},
                                 switch_terms, convention)
    z0, resistance, standard, delay, offsets = _settings(
        f, convention, z0, thru_delay, thru_standard, resistance,
        {"match": match_offset, "short": short_offset, "open": open_offset})
    parameters = {"thru_delay": delay, "resistance": resistance, "inductance": inductance,
                  "fitted": inductance is None, "inductance_estimate": inductance_estimate, "lossless": lossless,
                  "magnitude": magnitude, "z0": z0, "offsets": {k: list(v) for k, v in offsets.items()}}
    n = len(f)
    cal = _finish(LRRMCal, f, raw, switch, standard, convention, parameters, notes,
                  {"A": np.zeros((n, 2, 2)), "B": np.zeros((n, 2, 2)), "q": np.zeros(n), "short": np.zeros(n),
                   "open": np.zeros(n), "match": np.zeros(n), "condition": np.zeros(n), "residual": np.zeros(n)})
    result = cal.solve(cal.solver_inputs())
    cal.parameters["inductance"] = float(result["inductance"])
    for k in ("A", "B", "q", "short", "open", "match"):
        cal.terms[k] = in_convention(result[k], convention)
    condition = distance(result["open"], result["short"], 2.0)
    cal.terms["condition"], cal.terms["residual"] = condition, result["residual"]
    estimates = {k: _seen(np.full(n, s + 0j), _offset_s(f, offsets[k], z0)) for k, s in (("short", -1), ("open", 1))}
    used_for = "the open" if lossless == "open" else "the short" if lossless == "short" else "the open and the short"
    _warn(cal, [
        (~(condition >= warn_below), f"the open is too close to the short to calibrate (their distance is below "
                                     f"{warn_below:g})"),
        (~(result["margin"] >= MARGIN), "the root is uncertain: both solutions' reflects are about as far from an "
                                        "open and a short (check short_offset and open_offset)"),
        ((result["short"] * np.conj(estimates["short"])).real < 0,
         "the short is more than 90 degrees from a short (check short_offset)"),
        ((result["open"] * np.conj(estimates["open"])).real < 0,
         "the open is more than 90 degrees from an open (check open_offset)"),
        (~(np.abs(result["residual"]) <= RESIDUAL),
         f"at the fitted inductance ({result['inductance'] * 1e12:.4g} pH) {used_for} departs from |Gamma| = "
         f"{magnitude:g} by more than {RESIDUAL:g}: lossy, or the match is not a resistance in series with an "
         "inductance behind its offset (give match_offset, or the inductance)"),
        (~np.isfinite(result["q"]), "the standards cannot determine the error terms (no finite solution)"),
    ], 3)                               # past lrrm() and its trap guard
    return cal


def _warn(cal, checks, stacklevel: int) -> None:
    """A warning for each kind of doubtful point, naming its bands;
    `stacklevel` counts from the caller of lrm(), trm() or lrrm()."""
    for mask, text in checks:
        if mask.any():
            warnings.warn(f"{cal.method}: {text} at {mask.sum()} of {len(cal.f)} points ({bands(cal.f, mask)})",
                          OnWaferWarning, stacklevel=stacklevel + 1)
