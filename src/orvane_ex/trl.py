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
import os
import warnings
from typing import ClassVar, Literal

import numpy as np

from . import _native
from .calset import EightTermModel, register

__all__ = ["trl", "multiline_trl", "TRLCal", "MultilineTRLCal", "TRLConditionWarning"]

SPEED_OF_LIGHT = 299792458.0


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
Convention = Literal["board", "engineering"]


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
                  parameters={"line_lengths": [float(line_length)], "thru_length": float(thru_length),
                              "reflect_like": reflect_like, "er_est": _number(er_est), "ref_plane": float(ref_plane),
                              "convention": convention}, notes=notes)


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
                           parameters={"line_lengths": [float(x) for x in line_lengths],
                                       "thru_length": float(thru_length), "reflect_like": reflect_like,
                                       "er_est": _number(er_est), "ref_plane": float(ref_plane),
                                       "convention": convention}, notes=notes)


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
    if convention not in ("board", "engineering"):
        raise ValueError(f"convention must be 'board' or 'engineering', not {convention!r}")
    flip = np.conj if convention == "board" else (lambda x: x)
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


def _number(x):
    x = complex(x)
    return x.real if x.imag == 0 else [x.real, x.imag]


def _ranges(f: np.ndarray) -> str:
    return f"between {f.min() / 1e9:.4g} and {f.max() / 1e9:.4g} GHz" if len(f) > 1 else f"at {f[0] / 1e9:.4g} GHz"


def build_from_folder(args) -> EightTermModel:
    """orvane-cal build --method trl|multiline-trl: thru.s2p, reflect.s2p and
    line1.s2p, line2.s2p, ... from args.standards; args.lengths holds the
    thru's length then each line's."""
    from . import touchstone

    if not args.lengths or len(args.lengths) < 2:
        raise ValueError("--lengths: the thru's length, then one per line (metres)")
    names = ["thru.s2p", "reflect.s2p"] + [f"line{i}.s2p" for i in range(1, len(args.lengths))]
    data = {}
    f = None
    for name in names:
        path = os.path.join(args.standards, name)
        if not os.path.exists(path):
            raise ValueError(f"{path}: missing (the measured {name[:-4]} standard)")
        ff, s, _ = touchstone.read(path)
        if f is not None and (len(ff) != len(f) or not np.allclose(ff, f, rtol=1e-12, atol=0)):
            raise ValueError(f"{path}: its frequencies differ from those of thru.s2p")
        f, data[name] = ff, s
    lines = [data[n] for n in names[2:]]
    kw = dict(thru_length=args.lengths[0], reflect_like=args.reflect, er_est=args.er_est, notes=args.notes)
    if args.method == "trl":
        if len(lines) != 1:
            raise ValueError("--method trl takes one line (two lengths); use multiline-trl for more")
        return trl(f, data["thru.s2p"], data["reflect.s2p"], lines[0], line_length=args.lengths[1], **kw)
    return multiline_trl(f, data["thru.s2p"], data["reflect.s2p"], lines, line_lengths=args.lengths[1:], **kw)
