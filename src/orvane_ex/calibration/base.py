"""Calibrations: the one interface every method has.

One class per method: `OnePortCal`, `ResponseCal`, `EightTermCal`,
`UnknownThruCal` and `TwelveTermCal` (in `solt`), `TRLCal` and
`MultilineTRLCal` (in `trl`), each registered by its method name
(`METHODS`). Every class

- builds itself from measured standards: `from_standards(f, measured, ...)`
  with the standards it lists in `STANDARDS` (and the options in `OPTIONS`),
  or `from_folder(folder, ...)` from one Touchstone file per standard;
- holds its error terms on their frequency grid, with the kit and the raw
  standards that built them, a timestamp, notes and an optional port
  extension;
- corrects measurements (`apply`, arrays or scikit-rf Networks; `apply_file`),
  moves onto another grid (`interpolate`), saves (`save`, and `load` reads any
  method back), exports its error boxes (`export_touchstone`,
  `error_networks`), turns into the equivalent scikit-rf calibration
  (`to_skrf`) and describes itself (`describe`).

`cal.save(path)` writes one ``.npz`` file that numpy alone reads
(``np.load(path, allow_pickle=False)``) and that loads without executing
anything; ``docs/calibration-files.md`` documents it. `load(path)` reads any
of them back, or raises `CalibrationFileError` naming the file: damaged,
truncated, not a calibration, or written by a newer version. Loading never
half-succeeds.
"""
from __future__ import annotations

import contextlib
import dataclasses
import datetime
import importlib
import os
from typing import Any, ClassVar

import numpy as np

from .._common import interp as _interp
from .._common.convention import CONVENTION_NAMES, CONVENTIONS, Convention, in_convention
from .._common.network import is_network
from ..files import calfile
from ..files.calfile import CalibrationFileError
from .standards import Option, Standard, read_folder

__all__ = ["Calibration", "EightTermModel", "CalibrationFileError", "load", "register", "METHODS"]


# Standards' entries that hold their actual values (from the kit, ideal or
# listed), not measurements.
ACTUAL = ("G1", "G2", "T")


def hidden():
    """orvane_ex.hidden, imported when first needed (importing it selects
    matplotlib's back end)."""
    from .. import hidden

    return hidden


def _now() -> str:
    return datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")


def bands(f: np.ndarray, mask: np.ndarray) -> str:
    """The frequencies where `mask` holds, as separate bands: '0.2 to 1.4 GHz,
    at 60 GHz, 146 to 149 GHz'."""
    where = np.flatnonzero(mask)
    runs = np.split(where, np.flatnonzero(np.diff(where) > 1) + 1)
    parts = [f"at {f[r[0]] / 1e9:.4g} GHz" if len(r) == 1 else f"{f[r[0]] / 1e9:.4g} to {f[r[-1]] / 1e9:.4g} GHz"
             for r in runs]
    return ", ".join(parts)


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
    convention: the phase convention of the measurements it corrects and of
        its terms: "board" (the QLM-417's recordings) or "engineering" (the
        e^{jwt} convention of Touchstone files and other analysers). Files
        are always read and written in the e^{jwt} convention and converted.
    uncertainty: the covariance [n, 2K, 2K] of its error terms (`term_vector`)
        by influence, from `with_uncertainty`; empty without.
    budget: the uncertainty budget that gave it (`Budget.to_dict()`), or None.
    """

    f: np.ndarray
    terms: dict[str, np.ndarray]
    standards: dict[str, np.ndarray] = dataclasses.field(default_factory=dict)
    kit: dict | None = None
    port_extension: tuple | None = None
    created: str = dataclasses.field(default_factory=_now)
    notes: str = ""
    parameters: dict = dataclasses.field(default_factory=dict)
    convention: Convention = "board"
    uncertainty: dict[str, np.ndarray] = dataclasses.field(default_factory=dict)
    budget: dict | None = None

    method: ClassVar[str] = ""
    ports: ClassVar[int] = 2
    # term name: the shape of one point's value
    TERMS: ClassVar[dict] = {}
    # terms a calibration may hold besides its model's: name, shape of one point's value
    OPTIONAL_TERMS: ClassVar[dict] = {}
    # the measured standards it is built from, and the options it takes besides
    STANDARDS: ClassVar[tuple[Standard, ...]] = ()
    OPTIONS: ClassVar[tuple[Option, ...]] = ()
    # the native model that corrects with its terms, for their sensitivities
    SENSITIVITY_MODEL: ClassVar[str] = ""

    # -- building ----------------------------------------------------------------

    @classmethod
    def standards_for(cls, **options) -> tuple[Standard, ...]:
        """The standards a calibration with these options is built from."""
        return cls.STANDARDS

    @classmethod
    def from_standards(cls, f, measured, **options) -> "Calibration":
        """The calibration from the measured standards: `measured` maps each
        name of `standards_for(**options)` to its measurement (one-ports [n]
        or [n,1,1], two-ports [n,2,2], or scikit-rf Networks), on the grid
        `f` (Hz). The options are the method's (`OPTIONS`), with `notes` and
        `convention` (of the arrays given; Networks are e^{jwt})."""
        raise NotImplementedError

    @classmethod
    def from_folder(cls, folder, **options) -> "Calibration":
        """The calibration from a folder of Touchstone files, one per standard
        (`standards_for(**options)`: its `file` names them, in any case), in
        the e^{jwt} convention the files hold."""
        return cls.from_standards(*cls.read_standards(folder, **options)[:2], convention="engineering", **options)

    @classmethod
    def read_standards(cls, folder, **options) -> tuple[np.ndarray, dict, list[str]]:
        """(f, measured, paths) of the standard files in `folder`: what
        `from_folder` builds from, and which files it read."""
        return read_folder(folder, cls.standards_for(**options))

    @classmethod
    def all_terms(cls) -> dict:
        """The terms this method holds or may hold, by name: the shape of one
        point's value (optional ones as `calfile.OptionalTerm`)."""
        return {**cls.TERMS, **{k: calfile.OptionalTerm(v) if v is not None else calfile.ANY_SHAPE
                                for k, v in cls.OPTIONAL_TERMS.items()}}

    def __post_init__(self):
        if self.convention not in CONVENTIONS:
            raise ValueError(f"convention must be 'board' or 'engineering', not {self.convention!r}")
        self.f = np.asarray(self.f, dtype=float)
        n = len(self.f)
        if self.f.ndim != 1 or n < 1 or not np.isfinite(self.f).all() or (np.diff(self.f) <= 0).any():
            raise ValueError("f must be an increasing one-dimensional grid of finite frequencies (Hz)")
        for name, shape in {**self.TERMS, **self.OPTIONAL_TERMS}.items():
            if name not in self.terms:
                if name in self.OPTIONAL_TERMS:
                    continue
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
        for name, cov in self.uncertainty.items():
            cov = np.asarray(cov)
            if cov.ndim != 3 or cov.shape[0] != n or cov.shape[1] != cov.shape[2]:
                raise ValueError(f"{self.method}: the {name!r} covariance has shape {cov.shape}, not [{n}, m, m]")

    # -- correcting ------------------------------------------------------------

    def correct(self, Sm: np.ndarray) -> np.ndarray:
        raise NotImplementedError

    def apply(self, Sm, *, budget=None):
        """The corrected measurement: [n,2,2] for two-port models ([n] or
        [n,1,1] for one-port models), on this calibration's grid, in its
        convention. A scikit-rf Network (e^{jwt}) gives a Network back.

        With an uncertainty `budget` (`orvane_ex.uncertainty.Budget`), an
        `UncertainS`: the corrected values with their covariance, from the
        calibration's own uncertainty (kept by `with_uncertainty`, or from the
        budget) and from the device's reading, connection, cables and drift."""
        if budget is not None:
            return self._apply_uncertain(Sm, budget)
        if is_network(Sm):
            return self._apply_network(Sm)
        Sm = np.asarray(Sm)
        if Sm.shape[:1] != self.f.shape:
            raise ValueError(f"the measurement has {Sm.shape[:1] and Sm.shape[0]} points, the calibration "
                             f"{len(self.f)} ({_span(self.f)}); interpolate the calibration onto its grid first")
        n = len(self.f)
        shapes = [(n,), (n, 1, 1)] if self.ports == 1 else [(n, 2, 2)]
        if Sm.shape not in shapes:
            raise ValueError(f"the measurement has shape {Sm.shape}; a {self.method} calibration corrects "
                             + (f"one-port measurements, [{n}] or [{n}, 1, 1]" if self.ports == 1 else
                                f"two-port S-parameters, [{n}, 2, 2]"))
        S = self.correct(Sm.astype(complex))
        if self.port_extension is not None:
            port, e10e01 = self.port_extension
            S = hidden().correctPortExt(S, np.asarray(e10e01, complex), port)
        return S

    def _apply_uncertain(self, Sm, budget):
        from . import uncertain

        if is_network(Sm):
            raise TypeError("with a budget, give the measurement as an array (in the calibration's convention)")
        self.apply(Sm)                      # the same checks of the measurement
        if self.ports == 1 and np.ndim(Sm) == 3:
            Sm = np.asarray(Sm)[:, 0, 0]
        return uncertain.corrected(self, np.asarray(Sm, complex), budget)

    # -- uncertainty -----------------------------------------------------------

    def term_vector(self) -> np.ndarray:
        """The error terms [n, K] whose covariance `uncertainty` keeps, in the
        order the native correction takes them."""
        raise NotImplementedError(f"no uncertainty propagation for a {self.method} calibration")

    def term_factors(self, budget, left=None) -> dict:
        """{influence: factor F [n, 2K, r]} of the covariance F F^T of
        `term_vector`'s real and imaginary parts from an uncertainty budget;
        with `left` [n, m, K], of the quantities it derives from the terms."""
        raise NotImplementedError(f"no uncertainty propagation for a {self.method} calibration")

    def term_covariance(self, budget) -> dict:
        """{influence: covariance [n, 2K, 2K]} of `term_vector`'s real and
        imaginary parts from an uncertainty budget."""
        return {name: F @ np.swapaxes(F, 1, 2) for name, F in self.term_factors(budget).items()}

    def with_uncertainty(self, budget) -> "Calibration":
        """This calibration keeping the covariance of its error terms from
        `budget` (saved with it, so that a later `apply` carries it)."""
        return dataclasses.replace(self, uncertainty=self.term_covariance(budget), budget=budget.to_dict())

    def _apply_network(self, net):
        if len(net.f) != len(self.f) or not np.allclose(net.f, self.f, rtol=1e-12, atol=0):
            raise ValueError(f"the network has {len(net.f)} points from {_span(net.f)}, the calibration "
                             f"{len(self.f)} from {_span(self.f)}; interpolate the calibration onto its grid first")
        if net.nports != self.ports:
            raise ValueError(f"a {net.nports}-port network; a {self.method} calibration corrects {self.ports}-port "
                             "measurements")
        S = self.apply(in_convention(net.s, self.convention))
        out = net.copy()
        out.s = in_convention(np.asarray(S).reshape(net.s.shape), self.convention)
        return out

    def apply_file(self, source, target, *, interpolate: _interp.Interpolation | None = None, ports=None,
                   budget=None, covariance: bool = False) -> None:
        """Corrects a Touchstone file (any version) into another, written whole
        or not at all, in the source's version (Touchstone 2 stays 2).

        With `interpolate` ('linear' or 'cubic') a file on another grid
        inside the calibrated span is corrected with the terms interpolated
        onto it; otherwise its grid must be this calibration's. `ports`
        (numbers from 1, as many as the calibration corrects) picks the
        two-port (or port) to correct inside a file of more ports; the
        target then holds that one (a .s2p or .s1p name for version 1).

        With a `budget` (an `orvane_ex.uncertainty.Budget`), or `covariance`
        for a calibration that keeps its uncertainty, the corrected values'
        covariance is written beside the target too (`target` + ".cov", see
        `orvane_ex.files.covariance`): the calibration's kept uncertainty,
        or the budget's, and the budget's influences on the device."""
        from ..files import covariance as covariance_file
        from ..files import touchstone

        data = touchstone.read_data(source, convention=self.convention)
        f, Sm, z0 = data.f, data.s, data.z0
        if ports is not None:
            index = [int(p) - 1 for p in ports]
            if len(index) != self.ports or min(index) < 0 or max(index) >= Sm.shape[1]:
                raise ValueError(f"{os.fspath(source)}: ports {ports} of a {Sm.shape[1]}-port file; a "
                                 f"{self.method} calibration corrects {self.ports} of them")
            Sm, z0 = Sm[:, index][:, :, index], z0[index]
        if Sm.shape[1] != self.ports:
            raise ValueError(f"{os.fspath(source)}: a {Sm.shape[1]}-port file; a {self.method} calibration corrects "
                             f"{self.ports}-port measurements")
        cal = self
        same_grid = len(f) == len(self.f) and (np.array_equal(f, self.f) or np.allclose(f, self.f, rtol=1e-12, atol=0))
        if not same_grid:
            if interpolate is None:
                raise ValueError(f"{os.fspath(source)}: {len(f)} points from {_span(f)}, the calibration has "
                                 f"{len(self.f)} from {_span(self.f)}; to correct it with the terms interpolated "
                                 "onto its grid, give interpolate='cubic' (orvane-cal apply --interpolate)")
            cal = self.interpolate(f, kind=interpolate)
        raw = Sm if self.ports == 2 else Sm[:, 0, 0]
        version = data.version if data.version in ("2.0", "2.1") else "1.1"
        if budget is None and not covariance:
            S = cal.apply(raw)
            touchstone.write(target, f, S.reshape(len(f), self.ports, self.ports), z0=z0,
                             convention=self.convention, version=version)
            return
        if budget is None and not self.uncertainty:
            raise ValueError("this calibration keeps no uncertainty: give a budget to write the covariance")
        result = cal.apply(raw, budget=budget) if budget is not None else cal._apply_uncertain(raw, None)
        out = result.in_convention("engineering")
        # the covariance first: should the Touchstone file fail, no side-car is left without it
        side = covariance_file.sidecar(target)
        covariance_file.write(side, f, out.cov, ports=self.ports)
        try:
            touchstone.write(target, f, out.s.reshape(len(f), self.ports, self.ports), z0=z0, version=version)
        except BaseException:
            with contextlib.suppress(OSError):
                os.unlink(side)
            raise

    def with_port_extension(self, port: int, e10e01) -> "Calibration":
        """This calibration with a port extension applied after the correction
        (e10e01 as `getPortExtModel` gives it, on this grid)."""
        if self.ports != 2:
            raise ValueError("a port extension applies to two-port calibrations")
        return dataclasses.replace(self, port_extension=(port, np.asarray(e10e01, complex)))

    # -- another grid ------------------------------------------------------------

    def interpolate(self, f, kind: _interp.Interpolation = "linear") -> "Calibration":
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
        # covariances interpolate as values do (linearly, they stay covariances)
        uncertainty = {k: _interp.interpolate(self.f, np.asarray(v), f, "linear") for k, v in self.uncertainty.items()}
        return dataclasses.replace(self, f=f, terms={k: on(v) for k, v in self.terms.items()},
                                   standards={k: on(v) for k, v in self.standards.items()},
                                   port_extension=extension, uncertainty=uncertainty)

    # -- files -----------------------------------------------------------------

    def save(self, path) -> None:
        """Writes the calibration as one .npz file (whole or not at all)."""
        meta = {"method": self.method, "created": self.created, "notes": self.notes, "kit": self.kit,
                "convention": self.convention, **({"budget": self.budget} if self.budget else {}),
                "port_extension": None if self.port_extension is None else self.port_extension[0],
                "parameters": self.parameters}
        arrays = {"f": self.f}
        arrays.update((f"term.{k}", np.asarray(v)) for k, v in self.terms.items())
        arrays.update((f"standard.{k}", np.asarray(v)) for k, v in self.standards.items())
        if self.port_extension is not None:
            arrays["port_extension.e10e01"] = np.asarray(self.port_extension[1])
        arrays.update((f"uncertainty.{k.replace(' ', '_')}", np.asarray(v)) for k, v in self.uncertainty.items())
        calfile.write(path, arrays, meta, terms=self.all_terms())

    def export_touchstone(self, folder, stem: str = "error") -> list[str]:
        """Writes the error terms as Touchstone error boxes in `folder` (made
        if missing); returns the paths written."""
        from ..files import touchstone

        os.makedirs(folder, exist_ok=True)
        paths = []
        for name, s in self.error_boxes().items():
            path = os.path.join(os.fspath(folder), f"{stem}_{name}.s{s.shape[1]}p")
            touchstone.write(path, self.f, s, convention=self.convention)
            paths.append(path)
        return paths

    def error_boxes(self) -> dict:
        raise NotImplementedError

    def error_networks(self) -> dict:
        """The error boxes (`error_boxes`) as scikit-rf Networks, e^{jwt}."""
        import skrf

        freq = skrf.Frequency.from_f(self.f, unit="Hz")
        return {name: skrf.Network(frequency=freq, s=in_convention(s, self.convention), name=name)
                for name, s in self.error_boxes().items()}

    def to_skrf(self):
        """The equivalent scikit-rf calibration (its error terms in scikit-rf's
        naming, `coefs`, in the e^{jwt} convention): its `apply_cal` corrects
        a Network as `apply` does."""
        from .skrf_bridge import to_skrf

        return to_skrf(self)

    def report(self, path, *, devices=None, verification=None, budget=None, title: str | None = None,
               interpolate: str | None = None) -> str:
        """Writes this calibration's report: one self-contained HTML page
        (method, kit, grid, notes; the error terms in dB; residuals, TRL
        conditioning and uncertainty where the calibration has them; the
        `devices` corrected, with uncertainty bands from `budget` or the
        calibration's own; `verification` results with E_n). Written whole
        or not at all; returns the path. See `orvane_ex.report.write_report`
        for the arguments."""
        from ..report import write_report

        return write_report(self, path, devices=devices, verification=verification, budget=budget, title=title,
                            interpolate=interpolate)

    def describe(self) -> str:
        lines = [f"{self.method} calibration, {len(self.f)} points from {_span(self.f)}",
                 f"created {self.created}", f"phase convention: {CONVENTION_NAMES[self.convention]}"]
        if self.kit:
            lines.append(f"kit: {self.kit.get('name', '?')}")
        lines.append("error terms: " + ", ".join(f"{k} {np.asarray(v).shape}" for k, v in self.terms.items()))
        raw = [k for k in self.standards if k not in ACTUAL and not k.startswith("actual_")]
        if raw:
            lines.append("raw standards: " + ", ".join(raw))
        actual = [k for k in self.standards if k in ACTUAL or k.startswith("actual_")]
        if actual:
            lines.append("the standards' actual values: " + ", ".join(actual))
        if self.uncertainty:
            lines.append("uncertainty of the error terms from: " + ", ".join(self.uncertainty)
                         + (f" (budget {self.budget['name']})" if self.budget and self.budget.get("name") else ""))
        if self.port_extension is not None:
            lines.append(f"port extension on port {self.port_extension[0]}")
        if self.parameters:
            lines.append("parameters: " + ", ".join(f"{k} = {v}" for k, v in self.parameters.items()))
        if self.notes:
            lines.append(f"notes: {self.notes}")
        return "\n".join(lines)


def unterminate(Sm: np.ndarray, gamma_f: np.ndarray, gamma_r: np.ndarray) -> np.ndarray:
    """Raw two-port measurements [n,2,2] with the analyser's switch terms
    removed (Marks 1997): gamma_f = a2/b2 with port 1 driving, gamma_r =
    a1/b1 with port 2 driving, [n] each."""
    Sm = np.asarray(Sm, complex)
    s11, s12, s21, s22 = Sm[:, 0, 0], Sm[:, 0, 1], Sm[:, 1, 0], Sm[:, 1, 1]
    d = 1 - s12 * s21 * gamma_f * gamma_r
    out = np.empty_like(Sm)
    out[:, 0, 0] = (s11 - s12 * s21 * gamma_f) / d
    out[:, 0, 1] = (s12 - s11 * s12 * gamma_r) / d
    out[:, 1, 0] = (s21 - s22 * s21 * gamma_f) / d
    out[:, 1, 1] = (s22 - s12 * s21 * gamma_r) / d
    return out


def error_box(e00, e11, e10e01):
    """A two-port error box from one-port terms, with e10 = e01 = sqrt(e10e01)."""
    t = np.sqrt(e10e01)
    box = np.empty((len(e00), 2, 2), complex)
    box[:, 0, 0], box[:, 1, 1], box[:, 0, 1], box[:, 1, 0] = e00, e11, t, t
    return box


@dataclasses.dataclass
class EightTermModel(Calibration):
    """An eight-term model (A, B, q), however it was found, applied with
    `correct8Term`. A model built from raw measurements with the analyser's
    switch terms (`switch_f`, `switch_r`) removes them from each measurement
    before correcting it."""

    TERMS: ClassVar[dict] = {"A": (2, 2), "B": (2, 2), "q": ()}
    OPTIONAL_TERMS: ClassVar[dict] = {"switch_f": (), "switch_r": ()}
    SENSITIVITY_MODEL: ClassVar[str] = "eight-term"

    def term_vector(self) -> np.ndarray:
        """A11 A12 A21 B11 B12 B21 q [n, 7]."""
        A, B = np.asarray(self.terms["A"], complex), np.asarray(self.terms["B"], complex)
        return np.stack([A[:, 0, 0], A[:, 0, 1], A[:, 1, 0], B[:, 0, 0], B[:, 0, 1], B[:, 1, 0],
                         np.asarray(self.terms["q"], complex)], axis=1)

    def correct(self, Sm):
        if "switch_f" in self.terms:
            Sm = unterminate(Sm, self.terms["switch_f"], self.terms["switch_r"])
        return hidden().correct8Term(Sm, self.terms["A"], self.terms["B"], self.terms["q"])

    def error_boxes(self):
        A, B, q = (np.asarray(self.terms[k], complex) for k in "ABq")
        # A = [[-delta_e, e00], [-e11, 1]], B = [[-delta_e', e22], [-e33, 1]], q = e10 e32
        e00, e11 = A[:, 0, 1], -A[:, 1, 0]
        e22, e33 = B[:, 0, 1], -B[:, 1, 0]
        e10e01 = e00 * e11 + A[:, 0, 0]
        e23e32 = e22 * e33 + B[:, 0, 0]
        port1 = error_box(e00, e11, e10e01)
        e32 = q / port1[:, 1, 0]
        port2 = np.empty_like(port1)
        port2[:, 0, 0], port2[:, 1, 1], port2[:, 1, 0], port2[:, 0, 1] = e22, e33, e32, e23e32 / e32
        return {"port1": port1, "port2": port2}


# Every calibration class, by method name.
METHODS: dict[str, type[Calibration]] = {}

# The modules whose classes register themselves: load() imports them all, so
# that every method is known without the caller importing anything first.
METHOD_MODULES = ("solt", "trl", "lrm")


def register(cls):
    """Makes a calibration class loadable by its method name."""
    METHODS[cls.method] = cls
    return cls


def _import_methods() -> None:
    for name in METHOD_MODULES:
        importlib.import_module(f"{__package__}.{name}")


def _terms_of(method: str) -> dict | None:
    _import_methods()
    cls = METHODS.get(method)
    return None if cls is None else cls.all_terms()


def load(path) -> Calibration:
    """Reads a calibration file written by `Calibration.save`; raises
    `CalibrationFileError` naming the file if it cannot (`calfile.read`
    validates every entry first)."""
    path = os.fspath(path)
    arrays, meta = calfile.read(path, terms_of=_terms_of)
    try:
        return _from_arrays(arrays, meta)
    except CalibrationFileError as e:
        raise CalibrationFileError(f"{path}: {e}") from None
    except (ValueError, TypeError, KeyError) as e:
        raise CalibrationFileError(f"{path}: not a valid calibration ({e})") from None


def _from_arrays(arrays: dict[str, Any], meta: dict) -> Calibration:
    method = meta["method"]
    terms = {k[5:]: v for k, v in arrays.items() if k.startswith("term.")}
    standards = {k[9:]: v for k, v in arrays.items() if k.startswith("standard.")}
    extension = None
    if meta.get("port_extension") is not None:
        extension = (meta["port_extension"], arrays["port_extension.e10e01"])
    parameters = dict(meta.get("parameters") or {})
    # files of earlier releases: TRL kept the convention among its parameters, every other method the board's
    convention = meta.get("convention", parameters.get("convention", "board"))
    uncertainty = {k[12:].replace("_", " "): v for k, v in arrays.items() if k.startswith("uncertainty.")}
    return METHODS[method](arrays["f"], terms, standards, meta.get("kit"), extension, str(meta["created"]),
                           str(meta.get("notes", "")), parameters, convention, uncertainty, meta.get("budget"))
