"""Saved calibrations: the error terms of one model, with what made them.

One class per error model: `OnePortCal`, `ResponseCal`, `EightTermCal`,
`UnknownThruCal` and `TwelveTermCal` (the TRL classes in `orvane_ex.trl` add
to them). Each holds the error terms on their frequency grid, the kit and the
raw standards that built them, a timestamp and free-form notes, and an
optional port extension. `cal.apply(Sm)` corrects measurements with
`orvane_ex.hidden`'s own correction functions.

`cal.save(path)` writes one ``.npz`` file that numpy alone reads
(``np.load(path, allow_pickle=False)``) and that loads without executing
anything; ``docs/calibration-files.md`` documents it. `load(path)` reads any
of them back, or raises `CalibrationFileError` naming the file: damaged,
truncated, not a calibration, or written by a newer version. Loading never
half-succeeds.
"""
from __future__ import annotations

import dataclasses
import datetime
import json
import os
import zipfile
from typing import Any, ClassVar

import numpy as np

from . import _interp
from ._atomic import written_whole

FORMAT = "orvane_ex calibration"
VERSION = 1

__all__ = ["Calibration", "OnePortCal", "ResponseCal", "EightTermModel", "EightTermCal", "UnknownThruCal",
           "TwelveTermCal",
           "CalibrationFileError", "load", "METHODS"]


class CalibrationFileError(ValueError):
    """A calibration file that cannot be loaded; the message names the file."""


def _hidden():
    from . import hidden

    return hidden


def _now() -> str:
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")


def _span(f: np.ndarray) -> str:
    return f"{f[0] / 1e9:.6g} to {f[-1] / 1e9:.6g} GHz"


@dataclasses.dataclass
class Calibration:
    """Error terms of one model on the frequency grid `f` (Hz).

    terms: the model's error terms (arrays whose first axis is frequency).
    standards: the raw measured standards it was built from.
    kit: the calibration kit's definition (`CalKit.to_dict()`), or None for
        ideal standards or standards given as arrays.
    port_extension: None, or (port, e10e01) applied after the correction.
    parameters: what else built it (line lengths, estimates, ...), as JSON values.
    """

    f: np.ndarray
    terms: dict
    standards: dict = dataclasses.field(default_factory=dict)
    kit: dict | None = None
    port_extension: tuple | None = None
    created: str = dataclasses.field(default_factory=_now)
    notes: str = ""
    parameters: dict = dataclasses.field(default_factory=dict)

    method: ClassVar[str] = ""
    ports: ClassVar[int] = 2
    # term name: the shape of one point's value
    TERMS: ClassVar[dict] = {}

    def __post_init__(self):
        self.f = np.asarray(self.f, dtype=float)
        n = len(self.f)
        if self.f.ndim != 1 or n < 1 or not np.isfinite(self.f).all() or (np.diff(self.f) <= 0).any():
            raise ValueError("f must be an increasing one-dimensional grid of finite frequencies (Hz)")
        for name, shape in self.TERMS.items():
            if name not in self.terms:
                raise ValueError(f"{self.method}: missing error term {name!r}")
            value = np.asarray(self.terms[name])
            if value.shape[:1] != (n,) or (shape is not None and value.shape[1:] != shape):
                raise ValueError(f"{self.method}: error term {name!r} has shape {value.shape}, expected "
                                 f"{(n,) + (shape or ())}")
        for name, value in self.standards.items():
            if np.asarray(value).shape[:1] != (n,):
                raise ValueError(f"{self.method}: standard {name!r} does not cover the {n} points")
        if self.port_extension is not None:
            port, e10e01 = self.port_extension
            if port not in (1, 2) or np.asarray(e10e01).shape != (n,):
                raise ValueError("port_extension must be (1 or 2, e10e01 [n])")

    # -- correcting ------------------------------------------------------------

    def correct(self, Sm: np.ndarray) -> np.ndarray:
        raise NotImplementedError

    def apply(self, Sm) -> np.ndarray:
        """The corrected measurement: [n,2,2] for two-port models ([n] or
        [n,1,1] for one-port models), on this calibration's grid."""
        Sm = np.asarray(Sm)
        if Sm.shape[:1] != self.f.shape:
            raise ValueError(f"the measurement has {Sm.shape[:1] and Sm.shape[0]} points, the calibration "
                             f"{len(self.f)} ({_span(self.f)}); interpolate the calibration onto its grid first")
        S = self.correct(Sm.astype(complex))
        if self.port_extension is not None:
            port, e10e01 = self.port_extension
            S = _hidden().correctPortExt(S, np.asarray(e10e01, complex), port)
        return S

    def apply_file(self, source, target, *, interpolate: str | None = None) -> None:
        """Corrects a Touchstone file into another (written whole or not at
        all). With `interpolate` ('linear' or 'cubic') a file on another grid
        inside the calibrated span is corrected with the terms interpolated
        onto it; otherwise its grid must be this calibration's."""
        from . import touchstone

        f, Sm, z0 = touchstone.read(source)
        if Sm.shape[1] != self.ports:
            raise ValueError(f"{os.fspath(source)}: a {Sm.shape[1]}-port file; a {self.method} calibration corrects "
                             f"{self.ports}-port measurements")
        cal = self
        if len(f) != len(self.f) or not np.allclose(f, self.f, rtol=1e-12, atol=0):
            if interpolate is None:
                raise ValueError(f"{os.fspath(source)}: {len(f)} points from {_span(f)}, the calibration has "
                                 f"{len(self.f)} from {_span(self.f)}")
            cal = self.interpolate(f, kind=interpolate)
        S = cal.apply(Sm if self.ports == 2 else Sm[:, 0, 0])
        touchstone.write(target, f, S.reshape(len(f), self.ports, self.ports), z0=z0)

    def with_port_extension(self, port: int, e10e01) -> "Calibration":
        """This calibration with a port extension applied after the correction
        (e10e01 as `getPortExtModel` gives it, on this grid)."""
        if self.ports != 2:
            raise ValueError("a port extension applies to two-port calibrations")
        return dataclasses.replace(self, port_extension=(port, np.asarray(e10e01, complex)))

    # -- another grid ------------------------------------------------------------

    def interpolate(self, f, kind: str = "linear") -> "Calibration":
        """The calibration on the grid `f` (Hz), inside the calibrated span:
        'linear' interpolates real and imaginary parts linearly, 'cubic' with
        a cubic spline. Points of `f` on the calibration's own grid keep their
        values exactly."""
        f = np.asarray(f, dtype=float)
        if f.ndim != 1 or not len(f):
            raise ValueError("f must be a one-dimensional grid (Hz)")
        if f.min() < self.f[0] or f.max() > self.f[-1]:
            raise ValueError(f"{f.min() / 1e9:.6g} to {f.max() / 1e9:.6g} GHz is outside the calibrated span "
                             f"{_span(self.f)}")
        if kind not in ("linear", "cubic"):
            raise ValueError(f"kind must be 'linear' or 'cubic', not {kind!r}")

        def on(values):
            return _interp.interpolate(self.f, np.asarray(values), f, kind)

        extension = None if self.port_extension is None else (self.port_extension[0], on(self.port_extension[1]))
        return dataclasses.replace(self, f=f, terms={k: on(v) for k, v in self.terms.items()},
                                   standards={k: on(v) for k, v in self.standards.items()},
                                   port_extension=extension)

    # -- files -----------------------------------------------------------------

    def save(self, path) -> None:
        """Writes the calibration as one .npz file (whole or not at all)."""
        meta = {"method": self.method, "created": self.created, "notes": self.notes, "kit": self.kit,
                "port_extension": None if self.port_extension is None else self.port_extension[0],
                "parameters": self.parameters}
        arrays = {"format": np.array(FORMAT), "version": np.array(VERSION), "meta": np.array(json.dumps(meta)),
                  "f": self.f}
        arrays.update((f"term.{k}", np.asarray(v)) for k, v in self.terms.items())
        arrays.update((f"standard.{k}", np.asarray(v)) for k, v in self.standards.items())
        if self.port_extension is not None:
            arrays["port_extension.e10e01"] = np.asarray(self.port_extension[1])
        with written_whole(path) as fp:
            np.savez(fp, **arrays)

    def export_touchstone(self, folder, stem: str = "error") -> list[str]:
        """Writes the error terms as Touchstone error boxes in `folder` (made
        if missing); returns the paths written."""
        from . import touchstone

        os.makedirs(folder, exist_ok=True)
        paths = []
        for name, s in self.error_boxes().items():
            path = os.path.join(os.fspath(folder), f"{stem}_{name}.s{s.shape[1]}p")
            touchstone.write(path, self.f, s)
            paths.append(path)
        return paths

    def error_boxes(self) -> dict:
        raise NotImplementedError

    def describe(self) -> str:
        lines = [f"{self.method} calibration, {len(self.f)} points from {_span(self.f)}",
                 f"created {self.created}"]
        if self.kit:
            lines.append(f"kit: {self.kit.get('name', '?')}")
        lines.append("error terms: " + ", ".join(f"{k} {np.asarray(v).shape}" for k, v in self.terms.items()))
        if self.standards:
            lines.append("raw standards: " + ", ".join(self.standards))
        if self.port_extension is not None:
            lines.append(f"port extension on port {self.port_extension[0]}")
        if self.parameters:
            lines.append("parameters: " + ", ".join(f"{k} = {v}" for k, v in self.parameters.items()))
        if self.notes:
            lines.append(f"notes: {self.notes}")
        return "\n".join(lines)


def _error_box(e00, e11, e10e01):
    """A two-port error box from one-port terms, with e10 = e01 = sqrt(e10e01)."""
    t = np.sqrt(e10e01)
    box = np.empty((len(e00), 2, 2), complex)
    box[:, 0, 0], box[:, 1, 1], box[:, 0, 1], box[:, 1, 0] = e00, e11, t, t
    return box


@dataclasses.dataclass
class OnePortCal(Calibration):
    """One port: e (e00, e11, delta_e) from `get1PortModel`."""

    method: ClassVar[str] = "one-port"
    ports: ClassVar[int] = 1
    TERMS: ClassVar[dict] = {"e": (3,)}

    @classmethod
    def build(cls, f, G, Gm, **kw) -> "OnePortCal":
        """From the actual (G) and measured (Gm) Open/Short/Load [n,3]."""
        return cls(f, {"e": _hidden().get1PortModel(G, Gm)}, {"Gm": np.asarray(Gm)}, **kw)

    def correct(self, Sm):
        if Sm.ndim == 3:
            return self.correct(Sm[:, 0, 0])[:, None, None]
        return _hidden().correct1Port(Sm, self.terms["e"])

    def error_boxes(self):
        e00, e11, delta = np.asarray(self.terms["e"]).T
        return {"port1": _error_box(e00, e11, e00 * e11 - delta)}


@dataclasses.dataclass
class ResponseCal(Calibration):
    """Frequency response: H [n,2,2] from `get2PortResponseModel`."""

    method: ClassVar[str] = "response"
    TERMS: ClassVar[dict] = {"H": (2, 2)}

    @classmethod
    def build(cls, f, G1, G1m, G2, G2m, T, Tm, **kw) -> "ResponseCal":
        H = _hidden().get2PortResponseModel(G1, G1m, G2, G2m, T, Tm)
        return cls(f, {"H": H}, {"G1m": np.asarray(G1m), "G2m": np.asarray(G2m), "Tm": np.asarray(Tm)}, **kw)

    def correct(self, Sm):
        return _hidden().correctResponse(Sm, self.terms["H"])

    def error_boxes(self):
        return {"response": np.asarray(self.terms["H"], complex)}


@dataclasses.dataclass
class EightTermModel(Calibration):
    """An eight-term model (A, B, q), however it was found, applied with `correct8Term`."""

    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": ()}

    def correct(self, Sm):
        return _hidden().correct8Term(Sm, self.terms["A"], self.terms["B"], self.terms["q"])

    def error_boxes(self):
        A, B, q = (np.asarray(self.terms[k], complex) for k in "ABq")
        # A = [[-delta_e, e00], [-e11, 1]], B = [[-delta_e', e22], [-e33, 1]], q = e10 e32
        e00, e11 = A[:, 0, 1], -A[:, 1, 0]
        e22, e33 = B[:, 0, 1], -B[:, 1, 0]
        e10e01 = e00 * e11 + A[:, 0, 0]
        e23e32 = e22 * e33 + B[:, 0, 0]
        port1 = _error_box(e00, e11, e10e01)
        e32 = q / port1[:, 1, 0]
        port2 = np.empty_like(port1)
        port2[:, 0, 0], port2[:, 1, 1], port2[:, 1, 0], port2[:, 0, 1] = e22, e33, e32, e23e32 / e32
        return {"port1": port1, "port2": port2}


@dataclasses.dataclass
class EightTermCal(EightTermModel):
    """Eight-term model from SOLT with a known thru (`get8TermModel`)."""

    method: ClassVar[str] = "eight-term"

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, T, Tm, **kw) -> "EightTermCal":
        A, B, q = _hidden().get8TermModel(G1, Gm1, G2, Gm2, T, Tm)
        return cls(f, {"A": A, "B": B, "q": q}, {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2),
                                                  "Tm": np.asarray(Tm)}, **kw)


@dataclasses.dataclass
class UnknownThruCal(EightTermModel):
    """Eight-term model from an unknown thru (`get8TermModelUThru`)."""

    method: ClassVar[str] = "unknown-thru"

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, Tm, phys_length: float = 0.05, **kw) -> "UnknownThruCal":
        A, B, q = _hidden().get8TermModelUThru(G1, Gm1, G2, Gm2, Tm, np.asarray(f, float), phys_length)
        return cls(f, {"A": A, "B": B, "q": q}, {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2),
                                                  "Tm": np.asarray(Tm)}, **kw)


TWELVE_TERMS = ("directivity", "source_match", "reflection_tracking", "transmission_tracking", "load_match",
                "isolation")


@dataclasses.dataclass
class TwelveTermCal(Calibration):
    """Twelve-term model (fwd, rev [n,6]) from `get12TermModel`."""

    method: ClassVar[str] = "twelve-term"
    TERMS: ClassVar[dict] = {"fwd": (6,), "rev": (6,)}

    @classmethod
    def build(cls, f, G1, Gm1, G2, Gm2, T, Tm, Im=None, **kw) -> "TwelveTermCal":
        fwd, rev = _hidden().get12TermModel(G1, Gm1, G2, Gm2, T, Tm, Im)
        standards = {"Gm1": np.asarray(Gm1), "Gm2": np.asarray(Gm2), "Tm": np.asarray(Tm)}
        if Im is not None:
            standards["Im"] = np.asarray(Im)
        return cls(f, {"fwd": fwd, "rev": rev}, standards, **kw)

    def correct(self, Sm):
        return _hidden().correct12Term(Sm, self.terms["fwd"], self.terms["rev"])

    def error_boxes(self):
        out = {}
        for direction in ("fwd", "rev"):
            terms = np.asarray(self.terms[direction], complex)
            for j, name in enumerate(TWELVE_TERMS):
                out[f"{'forward' if direction == 'fwd' else 'reverse'}_{name}"] = terms[:, j, None, None]
        return out


METHODS: dict = {cls.method: cls for cls in (OnePortCal, ResponseCal, EightTermCal, UnknownThruCal, TwelveTermCal)}


def register(cls):
    """Makes a calibration class loadable by its method name."""
    METHODS[cls.method] = cls
    return cls


def load(path) -> Calibration:
    """Reads a calibration file written by `Calibration.save`."""
    path = os.fspath(path)
    try:
        with np.load(path, allow_pickle=False) as z:
            arrays = {k: z[k] for k in z.files}
    except FileNotFoundError:
        raise
    except (zipfile.BadZipFile, ValueError, OSError, EOFError, KeyError) as e:
        raise CalibrationFileError(f"{path}: damaged or not a calibration file ({e})") from None
    try:
        return _from_arrays(arrays)
    except CalibrationFileError as e:
        raise CalibrationFileError(f"{path}: {e}") from None
    except (ValueError, TypeError, KeyError) as e:
        raise CalibrationFileError(f"{path}: not a valid calibration ({e})") from None


def _from_arrays(arrays: dict[str, Any]) -> Calibration:
    if str(arrays.get("format", "")) != FORMAT:
        raise CalibrationFileError("not a calibration file (no 'format' entry naming one)")
    version = int(arrays["version"])
    if version > VERSION:
        raise CalibrationFileError(f"written in calibration format {version} by a newer orvane_ex; this version "
                                   f"reads format {VERSION} and older")
    meta = json.loads(str(arrays["meta"]))
    method = meta["method"]
    if method not in METHODS:
        raise CalibrationFileError(f"unknown calibration method {method!r}")
    terms = {k[5:]: v for k, v in arrays.items() if k.startswith("term.")}
    standards = {k[9:]: v for k, v in arrays.items() if k.startswith("standard.")}
    extension = None
    if meta.get("port_extension") is not None:
        extension = (int(meta["port_extension"]), arrays["port_extension.e10e01"])
    return METHODS[method](arrays["f"], terms, standards, meta.get("kit"), extension, str(meta["created"]),
                           str(meta.get("notes", "")), dict(meta.get("parameters") or {}))
