"""TRL and multiline TRL calibration.

On boards, fixtures and wafers the standards are a thru, a reflect of unknown
value (the same on both ports, roughly open or short) and lines of unknown
loss, made on the same substrate as the device. `trl` calibrates with one
line, `multiline_trl` with two or more: every line is taken against a common
one and the pairs are combined with the weights that minimise the variance
at each frequency (Marks' multiline method), so the band is covered wherever
some pair is well conditioned.

Both take switch-corrected measurements ([n,2,2] stacks, as
`hidden.ab2S_SwitchCorrect` gives them; the reflect measured on both ports at
once) and give a calibration whose `A`, `B`, `q` terms `hidden.correct8Term`
applies (`cal.apply(Sm)` does), together with the lines' propagation
constant `gamma` (1/m), the effective permittivity `eps_eff` (multiline), the
reflect's value and a per-point `condition` figure: the combination's
effective |sinh(gamma l)|, 1 for a single lossless line 90 degrees from the
thru, near 0 where the line's phase is near 0 or 180 degrees of the thru's
and no calibration is possible.

The reference planes are at the centre of the thru (its ends when it has
zero length), moved by `ref_plane` metres (negative: towards the analyser).
The reference impedance is the lines' characteristic impedance.
"""
from __future__ import annotations

import dataclasses
import warnings
from typing import ClassVar, Literal

import numpy as np

from .. import _native
from .._common.constants import SPEED_OF_LIGHT
from .._common.convention import Convention, in_convention
from .base import EightTermModel, register

__all__ = ["trl", "multiline_trl", "TRLCal", "MultilineTRLCal", "TRLConditionWarning"]

class TRLConditionWarning(UserWarning):
    """Frequency points where the line standards cannot calibrate."""


@register
@dataclasses.dataclass
class TRLCal(EightTermModel):
    """TRL with one line: the eight-term adapters, the line's propagation
    constant, the reflect's value and the conditioning of each point."""

    method: ClassVar[str] = "trl"
    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": (), "gamma": (), "reflect": (), "condition": ()}


@register
@dataclasses.dataclass
class MultilineTRLCal(EightTermModel):
    """Multiline TRL: as TRL, with the effective permittivity of the lines."""

    method: ClassVar[str] = "multiline-trl"
    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": (), "gamma": (), "eps_eff": (), "reflect": (),
                             "condition": ()}


Reflect = Literal["open", "short"]


def trl(f, thru, reflect, line, *, line_length: float, thru_length: float = 0.0, reflect_like: Reflect = "short",
        er_est: complex = 1.0, ref_plane: float = 0.0, convention: Convention = "board",
        warn_within: float = 10.0, notes: str = "") -> TRLCal:
    """TRL from a thru, a reflect and one line (lengths in metres).

    er_est: a rough effective permittivity of the line, for the root choice;
    reflect_like: whether the reflect is open-like or short-like. Warns
    (TRLConditionWarning) where the line's phase is within `warn_within`
    degrees of 0 or 180 degrees of the thru's: one line cannot calibrate there.
    """
    result, f = _solve(f, thru, reflect, [line], [line_length], thru_length, reflect_like, er_est, ref_plane,
                       convention)
    phase = np.degrees(np.abs(result["gamma"].imag) * abs(line_length - thru_length)) % 180
    poor = np.minimum(phase, 180 - phase) < warn_within
    if poor.any():
        warnings.warn(f"TRL: at {poor.sum()} of {len(f)} points ({_ranges(f[poor])}) the line's phase is within "
                      f"{warn_within:g} degrees of 0 or 180 degrees of the thru's; one line cannot calibrate there "
                      f"(add lines of other lengths: multiline_trl)", TRLConditionWarning, stacklevel=2)
    return TRLCal(f, {k: result[k] for k in TRLCal.TERMS}, _standards(thru, reflect, [line]),
                  parameters=_parameters([line_length], thru_length, reflect_like, er_est, ref_plane, convention),
                  notes=notes)


def multiline_trl(f, thru, reflect, lines, *, line_lengths, thru_length: float = 0.0,
                  reflect_like: Reflect = "short", er_est: complex = 1.0, ref_plane: float = 0.0,
                  convention: Convention = "board", warn_below: float = 0.1, notes: str = "") -> MultilineTRLCal:
    """Multiline TRL from a thru, a reflect and two or more lines (lengths in
    metres). Warns (TRLConditionWarning) where even the best combination has
    a condition figure below `warn_below`."""
    lines = list(lines)
    if len(lines) < 2:
        raise ValueError(f"multiline TRL needs two or more lines, not {len(lines)}; with one line use trl()")
    result, f = _solve(f, thru, reflect, lines, line_lengths, thru_length, reflect_like, er_est, ref_plane,
                       convention)
    poor = result["condition"] < warn_below
    if poor.any():
        warnings.warn(f"multiline TRL: at {poor.sum()} of {len(f)} points ({_ranges(f[poor])}) no pair of lines is "
                      f"well conditioned (condition below {warn_below:g}); add lines of other lengths",
                      TRLConditionWarning, stacklevel=2)
    omega = 2 * np.pi * f
    result["eps_eff"] = -(SPEED_OF_LIGHT * result["gamma"] / omega) ** 2
    return MultilineTRLCal(f, {k: result[k] for k in MultilineTRLCal.TERMS}, _standards(thru, reflect, lines),
                           parameters=_parameters(line_lengths, thru_length, reflect_like, er_est, ref_plane,
                                                  convention), notes=notes)


def _solve(f, thru, reflect, lines, lengths, thru_length, reflect_like, er_est, ref_plane, convention):
    f = np.asarray(f, dtype=float)
    if f.ndim != 1 or not len(f) or not (np.isfinite(f).all() and (f > 0).all()) or (np.diff(f) <= 0).any():
        raise ValueError("f must be an increasing grid of positive frequencies (Hz)")
    stacks = {"thru": thru, "reflect": reflect, **{f"line {i + 1}": x for i, x in enumerate(lines)}}
    arrays = {}
    for name, value in stacks.items():
        value = np.asarray(value, dtype=complex)
        if value.shape != (len(f), 2, 2):
            raise ValueError(f"{name}: shape {value.shape}; the grid has {len(f)} points, so [{len(f)}, 2, 2] "
                             "is needed")
        arrays[name] = value
    lengths = np.asarray(lengths, dtype=float)
    if lengths.shape != (len(lines),) or not np.isfinite(lengths).all():
        raise ValueError(f"one length per line: {len(lines)} lines, {lengths.size} lengths")
    everything = [float(thru_length), *lengths]
    for i in range(len(everything)):
        for j in range(i):
            if everything[i] == everything[j]:
                names = ["the thru" if k == 0 else f"line {k}" for k in (j, i)]
                raise ValueError(f"{names[0]} and {names[1]} have the same length ({everything[i]:g} m): a pair of "
                                 "equal lengths cannot calibrate")
    if reflect_like not in ("open", "short"):
        raise ValueError(f"reflect_like must be 'open' or 'short', not {reflect_like!r}")

    def flip(x):
        return in_convention(x, convention)

    result = _native.multiline_trl(f, flip(arrays["thru"]), flip(arrays["reflect"]),
                                   flip(np.stack([arrays[f"line {i + 1}"] for i in range(len(lines))])), lengths,
                                   thru_length=float(thru_length), er_est=complex(er_est),
                                   reflect_sign=1.0 if reflect_like == "open" else -1.0, ref_plane=float(ref_plane))
    for k in ("A", "B", "q", "reflect"):
        result[k] = flip(result[k])
    return result, f


def _standards(thru, reflect, lines) -> dict:
    out = {"thru": np.asarray(thru, complex), "reflect": np.asarray(reflect, complex)}
    out.update((f"line{i + 1}", np.asarray(x, complex)) for i, x in enumerate(lines))
    return out


def _parameters(line_lengths, thru_length, reflect_like, er_est, ref_plane, convention) -> dict:
    """What a saved TRL calibration records of how it was solved (JSON-ready)."""
    er = complex(er_est)
    return {"line_lengths": [float(x) for x in line_lengths], "thru_length": float(thru_length),
            "reflect_like": reflect_like, "er_est": er.real if er.imag == 0 else [er.real, er.imag],
            "ref_plane": float(ref_plane), "convention": convention}


def _ranges(f: np.ndarray) -> str:
    return f"between {f.min() / 1e9:.4g} and {f.max() / 1e9:.4g} GHz" if len(f) > 1 else f"at {f[0] / 1e9:.4g} GHz"
