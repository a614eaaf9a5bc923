"""TRL and multiline TRL calibration.

On boards, fixtures and wafers the standards are a thru, a reflect of unknown
value (the same on both ports, roughly open or short) and lines of unknown
loss, made on the same substrate as the device. `trl` calibrates with one
line, `multiline_trl` with two or more: every line is paired with a common
line and the pairs' estimates of the propagation constant and of both error
boxes are combined with the Gauss-Markov weights of Marks' multiline method,
so the band is covered wherever some pair is well conditioned.

The reference planes are at the centre of the thru (its ends when it has
zero length), moved by `ref_plane` metres (negative: towards the analyser).
The reference impedance is the lines' characteristic impedance, or, given
their capacitance per length (`c0`) or their impedance (`z0_line`), `z0_ref`
(50 ohm by default): see `reference`.

References
----------
R. B. Marks, "A multiline method of network analyzer calibration", IEEE
Trans. Microwave Theory Tech. 39(7), 1991.
D. C. DeGroot, J. A. Jargon, R. B. Marks, "Multiline TRL revealed", 60th
ARFTG Conference, 2002.
R. B. Marks, "Formulations of the basic vector network analyzer error model
including switch terms", 50th ARFTG Conference, 1997.
R. B. Marks, D. F. Williams, "Characteristic impedance determination using
propagation constant measurement", IEEE Microwave and Guided Wave Letters
1(6), 1991.
"""
from __future__ import annotations

import dataclasses
import math
import os
import warnings
from typing import ClassVar, Literal

import numpy as np

from .. import _native
from .._common.constants import SPEED_OF_LIGHT
from .._common.convention import CONVENTIONS, Convention, in_convention
from .._common.fpenv import holding_traps
from . import reference
from .base import EightTermModel, bands, register, unterminate
from .standards import Option, Standard, measured_standards

__all__ = ["trl", "multiline_trl", "TRLCal", "MultilineTRLCal", "TRLConditionWarning"]


class TRLConditionWarning(UserWarning):
    """Frequency points where the TRL standards cannot calibrate, or where
    the result is not physical."""


class _LineMethod:
    """What TRL and multiline TRL share: a thru, a reflect and lines, taken
    by name (thru, reflect, line1, line2, ...) and built by `trl` or
    `multiline_trl`."""

    uses_kit: ClassVar[bool] = False
    OPTIONS: ClassVar[tuple] = (
        Option("lengths", "TRL: the thru's length, then one per line (metres); line1.s2p, line2.s2p, ... follow",
               nargs="+", metavar="M"),
        Option("reflect_like", "TRL: what the reflect is like (default short)", type=str, default="short",
               choices=("open", "short"), flag="--reflect"),
        Option("reflect_offset", "TRL: where the reflect lies beyond the thru's centre, metres (negative: towards "
               "the analyser; default 0)", default=0.0, metavar="M"),
        Option("er_est", "TRL: a rough effective permittivity of the lines (default 1)", default=1.0, metavar="ER"),
        Option("c0", "TRL: the lines' capacitance per length (F/m): the calibration is then referenced to "
               "--z0-ref instead of the lines' impedance gamma / (j w c0)", metavar="F_PER_M"),
        Option("z0_line", "TRL: the lines' characteristic impedance (ohm), for referencing to --z0-ref",
               metavar="OHM"),
        Option("z0_ref", "TRL: the reference impedance with --c0 or --z0-line (default 50 ohm)", metavar="OHM"),
        Option("switch_terms", "TRL: the analyser's switch terms, a two-port file (S21 gamma_f = a2/b2 with port 1 "
               "driving, S12 gamma_r = a1/b1 with port 2 driving): the standards are then raw measurements",
               type=str, metavar="FILE.s2p"),
    )

    @classmethod
    def standards_for(cls, *, lengths=None, line_lengths=None, **options) -> tuple:
        count = len(line_lengths) if line_lengths is not None else len(lengths) - 1 if lengths else 0
        if count < 1:
            raise ValueError("give the lines' lengths: line_lengths (or lengths, the thru's first)")
        return (Standard("thru", 2, "the thru"), Standard("reflect", 2, "the reflect, on both ports")) + tuple(
            Standard(f"line{i}", 2, f"line {i}") for i in range(1, count + 1))

    @classmethod
    def from_standards(cls, f, measured, *, lengths=None, line_lengths=None, thru_length: float | None = None,
                       switch_terms=None, convention: Convention = "engineering", **options):
        """The calibration from measured standards: `measured` maps thru,
        reflect, line1, line2, ... to [n,2,2] arrays or scikit-rf Networks.
        The lines' lengths as `line_lengths` (with `thru_length`), or as
        `lengths` (the thru's first); `switch_terms` as `trl` takes them, or
        a two-port Touchstone file holding them (S21 gamma_f, S12 gamma_r);
        the other options as `trl` and `multiline_trl` take them."""
        if lengths is not None:
            if line_lengths is not None or thru_length is not None:
                raise ValueError("give lengths (the thru's first), or line_lengths and thru_length, not both")
            lengths = [float(x) for x in lengths]
            if len(lengths) < 2:
                raise ValueError("lengths: the thru's length, then one per line (metres)")
            thru_length, line_lengths = lengths[0], lengths[1:]
        standards = cls.standards_for(line_lengths=line_lengths)
        m = measured_standards(f"{cls.method} with {len(standards) - 2} line(s)", standards, measured, convention)
        if isinstance(switch_terms, (str, os.PathLike)):
            switch_terms = _switch_file(switch_terms, f)
        lines = [m[f"line{i}"] for i in range(1, len(standards) - 1)]
        kw = dict(thru_length=0.0 if thru_length is None else thru_length, switch_terms=switch_terms,
                  convention=convention, **options)
        if cls is TRLCal:
            if len(lines) != 1:
                raise ValueError("trl takes one line (two lengths); use multiline-trl for more")
            return trl(f, m["thru"], m["reflect"], lines[0], line_length=line_lengths[0], **kw)
        return multiline_trl(f, m["thru"], m["reflect"], lines, line_lengths=line_lengths, **kw)

    def term_factors(self, budget, left=None) -> dict:
        from . import uncertain

        return uncertain.trl_term_factors(self, budget, left)


def _switch_file(path, f) -> tuple:
    from ..files import touchstone

    sf, switch, _ = touchstone.read(path)
    f = np.asarray(f, float)
    if switch.shape[1] != 2 or len(sf) != len(f) or not np.allclose(sf, f, rtol=1e-12, atol=0):
        raise ValueError(f"{os.fspath(path)}: the switch terms must be a two-port file on the standards' grid")
    return switch[:, 1, 0], switch[:, 0, 1]


@register
@dataclasses.dataclass
class TRLCal(_LineMethod, EightTermModel):
    """TRL with one line: the eight-term adapters, the line's propagation
    constant, the reflect's value and the conditioning of each point."""

    method: ClassVar[str] = "trl"
    OPTIONAL_TERMS: ClassVar[dict] = {**EightTermModel.OPTIONAL_TERMS, "z_line": ()}
    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": (), "gamma": (), "reflect": (), "condition": ()}


@register
@dataclasses.dataclass
class MultilineTRLCal(_LineMethod, EightTermModel):
    """Multiline TRL: as TRL, with the effective permittivity of the lines."""

    method: ClassVar[str] = "multiline-trl"
    OPTIONAL_TERMS: ClassVar[dict] = {**EightTermModel.OPTIONAL_TERMS, "z_line": ()}
    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": (), "gamma": (), "eps_eff": (), "reflect": (),
                             "condition": ()}


Reflect = Literal["open", "short"]
ReflectRoot = Literal["continuous", "estimate"]

# Lines closer in length than this cannot be told apart at any frequency.
MIN_LENGTH_DIFFERENCE = 1e-7
# The reflect's |Gamma| may exceed 1 by this much before it is reported.
REFLECT_MARGIN = 0.05


@holding_traps
def trl(f, thru, reflect, line, *, line_length: float, thru_length: float = 0.0, reflect_like: Reflect = "short",
        reflect_offset: float = 0.0, reflect_root: ReflectRoot = "continuous", er_est: complex = 1.0,
        ref_plane: float = 0.0, switch_terms=None, convention: Convention = "engineering", warn_within: float = 10.0,
        notes: str = "", c0: float | None = None, z0_line: complex | None = None, z0_ref: complex = 50.0) -> TRLCal:
    """TRL calibration from a thru, a reflect and one line.

    Parameters
    ----------
    f : array_like, shape (n,)
        Increasing frequencies (Hz).
    thru, reflect, line : array_like, shape (n, 2, 2)
        Measured S-parameters of the standards; the reflect is measured on
        both ports at once.
    line_length : float
        The line's length (m).
    thru_length : float, optional
        The thru's length (m); the reference planes are at its centre.
    reflect_like : {'short', 'open'}, optional
        What the reflect is like: its value is about -1 or +1, seen from
        `reflect_offset` metres beyond the reference planes (negative:
        towards the analyser; scikit-rf's `refl_offset` counts from the
        thru's ends instead, so ours is theirs minus half the thru).
    reflect_root : {'continuous', 'estimate'}, optional
        How the sign of the reflect's value (and with it of the reflection
        error terms) is chosen. 'continuous' (default): from the estimate
        where it is surest, at the low end of the band, then so that the
        reflect's phase is continuous across the band, as a physical reflect's
        is. 'estimate': at each point the sign nearer the estimate, as the
        published method and scikit-rf's `NISTMultilineTRL` choose it; an
        estimate more than 90 degrees off at some frequency then flips the
        sign of the corrected S11 and S22 there.
    er_est : complex, optional
        A rough effective permittivity of the line, for the root choice.
    ref_plane : float, optional
        Moves the reference planes by this many metres (negative: towards
        the analyser).
    switch_terms : tuple of array_like, shape (n,), optional
        The analyser's switch terms (Gamma_f = a2/b2 with port 1 driving,
        Gamma_r = a1/b1 with port 2 driving). Given, the standards are raw
        measurements and are switch-corrected first; the calibration then
        corrects raw measurements too. Without them, every measurement
        passed in (and later to `apply`) must be switch-corrected already.
    convention : {'engineering', 'board'}, optional
        The phase convention of the measurements: 'engineering', the e^{jwt}
        convention of Touchstone files and other analysers' data (default),
        or 'board', the QLM-417's own, as `orvane_ex.hidden`'s measurement
        functions return it. The error terms are in the same convention.
    warn_within : float, optional
        Warns where the line's phase is within this many degrees of 0 or 180
        degrees of the thru's.
    notes : str, optional
        Stored with the calibration.
    c0 : float, optional
        The lines' capacitance per length (F/m). Given, the lines'
        characteristic impedance is gamma / (j omega c0) (Marks & Williams
        1991; the lines' conductance per length taken as negligible) and the
        calibration is referenced to `z0_ref` instead of it.
    z0_line : complex, optional
        The lines' characteristic impedance (ohm), known otherwise: the
        calibration is referenced to `z0_ref` instead of it (not with `c0`).
    z0_ref : complex, optional
        The reference impedance with `c0` or `z0_line` (default 50 ohm).

    Returns
    -------
    TRLCal
        Its `apply(Sm)` corrects measurements; `terms` holds `A`, `B`, `q`
        (as `hidden.correct8Term` takes them), `gamma` (1/m), `reflect` and
        `condition` (see `multiline_trl`).

    Raises
    ------
    ValueError
        For arguments of the wrong shape, non-finite values or equal lengths.

    Warns
    -----
    TRLConditionWarning
        Once for each kind of doubtful point, naming its frequency bands:
        where the line cannot calibrate, where the reflect's sign is unsure
        or far from its estimate, where the reflect or the loss come out
        unphysical.
    """
    cal, problems = _calibrate(TRLCal, f, thru, reflect, [line], [line_length], thru_length, reflect_like,
                               reflect_offset, reflect_root, er_est, ref_plane, switch_terms, convention, notes,
                               (c0, z0_line, z0_ref), lines_name="line", lengths_name="line_length")
    phase = np.degrees(np.abs(cal.terms["gamma"].imag) * abs(float(line_length) - float(thru_length))) % 180
    near = np.minimum(phase, 180 - phase) < warn_within
    _warn(cal, [(near, f"the line's phase is within {warn_within:g} degrees of 0 or 180 degrees of the thru's; "
                       "one line cannot calibrate there (add lines of other lengths: multiline_trl)"), *problems])
    return cal


@holding_traps
def multiline_trl(f, thru, reflect, lines, *, line_lengths, thru_length: float = 0.0, reflect_like: Reflect = "short",
                  reflect_offset: float = 0.0, reflect_root: ReflectRoot = "continuous", er_est: complex = 1.0,
                  ref_plane: float = 0.0, switch_terms=None, convention: Convention = "engineering",
                  warn_below: float = 0.1, notes: str = "", c0: float | None = None, z0_line: complex | None = None,
                  z0_ref: complex = 50.0) -> MultilineTRLCal:
    """Multiline TRL calibration from a thru, a reflect and two or more lines.

    Parameters
    ----------
    f : array_like, shape (n,)
        Increasing frequencies (Hz).
    thru, reflect : array_like, shape (n, 2, 2)
        Measured S-parameters of the thru and of the reflect (on both ports
        at once).
    lines : sequence of array_like, each shape (n, 2, 2)
        Measured S-parameters of the lines.
    line_lengths : sequence of float
        Each line's length (m), in the order of `lines`.
    thru_length, reflect_like, reflect_offset, reflect_root, er_est, ref_plane, switch_terms, convention, notes
        As for `trl`.
    c0, z0_line, z0_ref
        The reference impedance, as for `trl`.
    warn_below : float, optional
        Warns where the condition figure is below this.

    Returns
    -------
    MultilineTRLCal
        Its `terms` hold `A`, `B`, `q`, `gamma` (1/m), `eps_eff` (the
        effective permittivity -(c gamma / omega)^2), `reflect` (at the
        reference planes) and `condition`: the inverse of the combination's
        normalised standard deviation, 1 for a single lossless line 90
        degrees from the thru, near 0 where no pair of lines can calibrate.

    Raises
    ------
    ValueError
        For fewer than two lines, arguments of the wrong shape, non-finite
        values or lengths too close to tell apart.

    Warns
    -----
    TRLConditionWarning
        Once for each kind of doubtful point, naming its frequency bands:
        where the condition is low, where the reflect's sign is unsure or far
        from its estimate, where the reflect's |Gamma| exceeds 1 or the loss
        comes out negative.

    Examples
    --------
    >>> cal = multiline_trl(f, thru, reflect, [line1, line2], line_lengths=[1e-3, 4e-3],
    ...                     er_est=5, switch_terms=(gamma_f, gamma_r))  # doctest: +SKIP
    >>> corrected = cal.apply(raw_device)  # doctest: +SKIP
    """
    lines = list(lines)
    if len(lines) < 2:
        raise ValueError(f"multiline TRL needs two or more lines, not {len(lines)}; with one line use trl()")
    cal, problems = _calibrate(MultilineTRLCal, f, thru, reflect, lines, line_lengths, thru_length, reflect_like,
                               reflect_offset, reflect_root, er_est, ref_plane, switch_terms, convention, notes,
                               (c0, z0_line, z0_ref), lines_name="lines", lengths_name="line_lengths")
    _warn(cal, [(~(cal.terms["condition"] >= warn_below),
                 f"no pair of lines is well conditioned (condition below {warn_below:g}); add lines of other "
                 "lengths"), *problems])
    return cal


def _calibrate(cls, f, thru, reflect, lines, lengths, thru_length, reflect_like, reflect_offset, reflect_root, er_est,
               ref_plane, switch_terms, convention, notes, impedances=(None, None, 50.0), *, lines_name, lengths_name):
    """The calibration, and the doubtful points its root choice found."""
    f = np.asarray(f, dtype=float)
    if f.ndim != 1 or not len(f) or not (np.isfinite(f).all() and (f > 0).all()) or (np.diff(f) <= 0).any():
        raise ValueError("f must be an increasing grid of positive frequencies (Hz)")
    n = len(f)
    names = ["thru", "reflect"] + ([lines_name] if len(lines) == 1 else [f"{lines_name}[{i}]"
                                                                         for i in range(len(lines))])
    stacks = {}
    for name, value in zip(names, [thru, reflect, *lines]):
        stacks[name] = _stack(name, value, n)
    scalars = {"thru_length": thru_length, "reflect_offset": reflect_offset, "ref_plane": ref_plane}
    for name, value in scalars.items():
        if not isinstance(value, (int, float, np.integer, np.floating)) or not math.isfinite(value):
            raise ValueError(f"{name} must be a finite number of metres, not {value!r}")
    er = complex(er_est)
    if not (math.isfinite(er.real) and math.isfinite(er.imag)) or er == 0:
        raise ValueError(f"er_est must be a finite, nonzero permittivity, not {er_est!r}")
    if reflect_like not in ("open", "short"):
        raise ValueError(f"reflect_like must be 'open' or 'short', not {reflect_like!r}")
    if reflect_root not in ("continuous", "estimate"):
        raise ValueError(f"reflect_root must be 'continuous' or 'estimate', not {reflect_root!r}")
    if convention not in CONVENTIONS:
        raise ValueError(f"convention must be 'engineering' or 'board', not {convention!r}")
    lengths = _lengths(lengths, len(lines), float(thru_length), lengths_name)
    switch = None
    if switch_terms is not None:
        if len(switch_terms) != 2:
            raise ValueError("switch_terms must be (gamma_f, gamma_r)")
        switch = tuple(_vector(name, x, n) for name, x in zip(("switch_terms[0]", "switch_terms[1]"), switch_terms))
        stacks = {k: unterminate(v, *switch) for k, v in stacks.items()}

    def flip(x):
        return in_convention(x, convention)

    measured = [flip(v) for v in stacks.values()]
    sign = 1.0 if reflect_like == "open" else -1.0
    result = _native.multiline_trl(f, measured[0], measured[1], np.stack(measured[2:]), lengths,
                                   thru_length=float(thru_length), er_est=er, reflect_estimate=sign,
                                   reflect_offset=float(reflect_offset), ref_plane=float(ref_plane))
    terms = {k: result[k] for k in ("A", "B", "q", "gamma", "reflect", "condition")}
    # the estimate at the final reference planes
    estimate = sign * np.exp(-2 * terms["gamma"] * (float(reflect_offset) - float(ref_plane)))
    problems = _choose_reflect_root(f, terms, estimate, reflect_root)
    c0, z0_line, z0_ref = _impedances(*impedances)
    if c0 is not None or z0_line is not None:
        z_line = reference.line_impedance(f, terms["gamma"], c0=c0, z0_line=z0_line)
        terms["A"], terms["B"], terms["q"] = reference.eight_term(terms["A"], terms["B"], terms["q"], z_line,
                                                                  reference.reference(f, z0_ref))
        terms["z_line"] = z_line
    if "eps_eff" in cls.TERMS:
        terms["eps_eff"] = -(SPEED_OF_LIGHT * terms["gamma"] / (2 * np.pi * f)) ** 2
    for k in ("A", "B", "q", "reflect"):
        terms[k] = flip(terms[k])
    if switch is not None:
        terms["switch_f"], terms["switch_r"] = switch
    standards = {"thru": np.asarray(thru, complex), "reflect": np.asarray(reflect, complex)}
    standards.update((f"line{i + 1}", np.asarray(x, complex)) for i, x in enumerate(lines))
    parameters = {"line_lengths": [float(x) for x in lengths], "thru_length": float(thru_length),
                  "reflect_like": reflect_like, "reflect_offset": float(reflect_offset), "reflect_root": reflect_root,
                  "er_est": er.real if er.imag == 0 else [er.real, er.imag], "ref_plane": float(ref_plane),
                  "convention": convention}
    for name, value in (("c0", c0), ("z0_line", z0_line)):
        if value is not None:
            parameters[name] = _json_number(value)
    if c0 is not None or z0_line is not None:
        parameters["z0_ref"] = _json_number(z0_ref)
    return cls(f, terms, standards, parameters=parameters, notes=notes, convention=convention), problems


def _impedances(c0, z0_line, z0_ref):
    """The reference options checked: numbers (complex for impedances)."""
    def number(name, value, kind):
        if value is None:
            return None
        if isinstance(value, (list, tuple)) and len(value) == 2 and kind is complex:   # [re, im], as saved
            value = complex(*value)
        if not isinstance(value, (int, float, complex, np.number)) or isinstance(value, bool):
            raise ValueError(f"{name} must be a number, not {value!r}")
        return kind(value)

    c0, z0_line, z0_ref = number("c0", c0, float), number("z0_line", z0_line, complex), number("z0_ref", z0_ref, complex)
    if c0 is not None and z0_line is not None:
        raise ValueError("give the lines' capacitance per length (c0) or their impedance (z0_line), not both")
    if z0_ref is None:
        z0_ref = 50.0
    return c0, z0_line, z0_ref


def _json_number(x):
    x = complex(x)
    return x.real if x.imag == 0 else [x.real, x.imag]


def _choose_reflect_root(f, terms, estimate, how) -> list:
    """Settles the sign of the reflect (and with it of A's first column and
    B's first row) in `terms`, in place; returns the doubtful points found,
    as (mask, text) pairs.

    The solver picks, at each point, the sign nearer the estimate. A physical
    reflect's phase is continuous, so 'continuous' keeps each point's sign
    relative to its neighbour (the step predicted by the estimate's own
    phase), and settles the one sign left by a vote of the points against
    the estimate, the low frequencies (where an offset matters least)
    counting most."""
    gamma_r = terms["reflect"]
    valid = np.flatnonzero(np.isfinite(gamma_r) & np.isfinite(estimate) & (gamma_r != 0))
    if not len(valid):
        return []
    # each point's sign relative to the solver's choice: the product of the
    # steps' signs, each step's prediction the neighbour turned as the estimate turns
    here, before = valid[1:], valid[:-1]
    turn = gamma_r[here] * np.conj(gamma_r[before] * estimate[here] / estimate[before])
    cosine = turn.real / np.abs(turn)
    relative = np.ones(len(f))
    relative[here] = np.cumprod(np.where(cosine >= 0, 1.0, -1.0))
    unsure = np.zeros(len(f), bool)
    unsure[here] = np.abs(cosine) < 0.5
    agreement = (relative[valid] * gamma_r[valid] * np.conj(estimate[valid])).real / np.abs(
        gamma_r[valid] * estimate[valid])
    vote = np.sum(agreement * f[valid[0]] / f[valid])
    flip = relative * (1.0 if vote >= 0 else -1.0) < 0
    if how == "estimate":
        return [(flip, "the reflect's sign, chosen point by point from its estimate, breaks its phase continuity "
                       "(the estimate is more than 90 degrees off there; reflect_root='continuous' follows the "
                       "measured phase)")]
    for key, index in (("A", np.s_[:, :, 0]), ("B", np.s_[:, 0, :])):
        view = terms[key][index]
        view[flip] = -view[flip]
    terms["reflect"] = np.where(flip, -gamma_r, gamma_r)
    away = np.zeros(len(f), bool)
    away[valid] = (terms["reflect"][valid] * np.conj(estimate[valid])).real < 0
    return [(away, "the reflect is more than 90 degrees from its estimate (its sign follows the reflect's measured "
                   "phase there; check reflect_like and reflect_offset)"),
            (unsure, "the reflect's phase turns by 60 to 120 degrees from one point to the next, so its sign is "
                     "uncertain (a finer frequency grid settles it)")]


def _stack(name: str, value, n: int) -> np.ndarray:
    value = np.asarray(value)
    if value.dtype.kind not in "biufc":
        raise ValueError(f"{name}: S-parameters must be numbers, not {value.dtype}")
    value = value.astype(complex)
    if value.shape != (n, 2, 2):
        raise ValueError(f"{name}: shape {value.shape}; the grid has {n} points, so [{n}, 2, 2] is needed")
    if not np.isfinite(value).all():
        raise ValueError(f"{name}: {np.count_nonzero(~np.isfinite(value).all(axis=(1, 2)))} points hold values "
                         "that are not finite")
    return value


def _vector(name: str, value, n: int) -> np.ndarray:
    value = np.asarray(value)
    if value.dtype.kind not in "biufc" or value.shape != (n,) or not np.isfinite(value).all():
        raise ValueError(f"{name}: a switch term needs {n} finite complex values, one per point")
    return value.astype(complex)


def _lengths(lengths, count: int, thru_length: float, name: str) -> np.ndarray:
    values = np.atleast_1d(np.asarray(lengths, dtype=float))
    if values.shape != (count,):
        raise ValueError(f"one length per line: {count} lines, {values.size} lengths")
    for i, x in enumerate(values):
        if not math.isfinite(x):
            raise ValueError(f"{name}: the length of line {i + 1} is {x}; lengths are finite numbers of metres")
    everything = [thru_length, *values]
    label = ["the thru"] + [f"line {i + 1}" for i in range(count)]
    for i in range(len(everything)):
        for j in range(i):
            if abs(everything[i] - everything[j]) < MIN_LENGTH_DIFFERENCE:
                same = "the same length" if everything[i] == everything[j] else "lengths closer than 0.1 um"
                raise ValueError(f"{label[j]} and {label[i]} have {same} ({everything[j]:g} and {everything[i]:g} m):"
                                 " a pair of equal lengths cannot calibrate")
    return values


def _warn(cal, checks) -> None:
    """A warning for each kind of doubtful point, naming its bands."""
    terms = cal.terms
    checks = list(checks) + [
        (~(np.abs(terms["reflect"]) <= 1 + REFLECT_MARGIN), "the reflect's |Gamma| exceeds 1"),
        (~(terms["gamma"].real >= -1e-4 * np.abs(terms["gamma"])), "the lines' loss comes out negative"),
    ]
    for mask, text in checks:
        if mask.any():
            warnings.warn(f"{cal.method}: {text} at {mask.sum()} of {len(cal.f)} points ({bands(cal.f, mask)})",
                          TRLConditionWarning, stacklevel=4)  # past trl() and its trap guard
