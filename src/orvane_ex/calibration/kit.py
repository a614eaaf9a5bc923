"""Calibration kits: standards defined by coefficients or by data.

A kit holds an Open, a Short, a Load and a Thru, each described the way kit
definitions publish them:

- Open: a fringing capacitance C0 + C1 f + C2 f^2 + C3 f^3, behind an offset line;
- Short: an inductance L0 + L1 f + L2 f^2 + L3 f^3, behind an offset line;
- Load: a resistance with an optional series inductance, behind an offset line;
- Thru: an offset line;
- or any of them as measured data, a Touchstone file.

An offset line is given by its delay (s), loss (ohm/s at 1 GHz, growing as
sqrt(f)) and impedance (ohm), or by the electrical length (m) and loss
(dB/sqrt(GHz)) that other kit definitions use; `Offset.from_length` converts
the second form exactly.

``kit.reflect(f)`` gives the [N,3] Open/Short/Load array and ``kit.thru(f)``
the [N,2,2] thru stack that `orvane_ex.hidden`'s model builders take. Both
use the phase convention of the QLM-417 (a delay's phase rises with
frequency, as the virtual board and get8TermModelUThru's root rule have it)
unless ``convention="engineering"`` asks for the e^{jwt} convention of kit
datasheets and scikit-rf, the complex conjugate.

Kit files are TOML (see ``docs/calibration-kits.md``); ``CalKit.load`` reads
one, ``kit.save`` writes one, ``example_kit()`` is the generic kit shipped
with the package.
"""
from __future__ import annotations

import contextlib
import dataclasses
import math
import os
import stat
import tomllib
from importlib import resources
from typing import Any

import numpy as np

from .. import _native
from .._common import interp as _interp
from .._common import units
from .._common.atomic import written_whole
from .._common.constants import SPEED_OF_LIGHT
from .._common.convention import Convention, in_convention

__all__ = ["CalKit", "Offset", "Open", "Short", "Load", "Thru", "DataStandard", "KitError", "example_kit"]

FORMAT = 1


class KitError(ValueError):
    """A kit definition that cannot be used; the message names the file and field."""


# -- quantities with units -------------------------------------------------------

# quantity: (base unit, what to call it, prefixes allowed, largest magnitude of
# any kit's). The limits are far beyond real standards (femtofarads,
# picohenries, picoseconds) and well inside what the model computes: a kit
# with a capacitance of 1e300 F is a typo, not a standard.
_QUANTITIES = {
    "time": ("s", "a time", True, 1e-3),
    "impedance": ("ohm", "an impedance", True, 1e9),
    "resistance": ("ohm", "a resistance", True, 1e9),
    "loss": ("ohm/s", "a loss in ohm/s", True, 1e15),
    "length": ("m", "a length", True, 3e5),
    "db_loss": ("dB/sqrt(GHz)", "a loss in dB/sqrt(GHz)", False, 1e3),
    "inductance": ("H", "an inductance", True, 1e-3),
    "capacitance": ("F", "a capacitance", True, 1e-6),
}
# Polynomial coefficients (F/Hz^k, H/Hz^k) are held to the same limit at this frequency.
_POLYNOMIAL_REACH = 1e12
# Kit files are a few kilobytes.
_MAX_KIT_FILE = 1 << 20


def _polynomial_unit(base: str, power: int) -> str:
    return base if power == 0 else f"{base}/Hz" if power == 1 else f"{base}/Hz^{power}"


def _quantity(value: Any, quantity: str, where: str, power: int = 0) -> float:
    """A number in SI units from a number or a string such as '29.24 ps'."""
    base, what, prefixes, largest = _QUANTITIES[quantity]
    base = _polynomial_unit(base, power)
    try:
        value = units.quantity(value, base, what, prefixes=prefixes)
    except units.UnitError as e:
        raise KitError(f"{where}: {e}") from None
    largest /= _POLYNOMIAL_REACH ** power
    if abs(value) > largest:
        raise KitError(f"{where}: {value:g} {base} is not physical for a standard (at most {largest:g} {base})")
    return value


def _format(value: float, unit: str) -> str:
    return f"{value!r} {unit}"


# -- the standards ---------------------------------------------------------------

@dataclasses.dataclass(frozen=True)
class Offset:
    """An offset transmission line: delay (s), loss (ohm/s at 1 GHz, sqrt(f)
    scaling) and impedance (ohm). A zero delay with a nonzero loss is refused."""

    delay: float = 0.0
    loss: float = 0.0
    z0: float = 50.0

    def __post_init__(self):
        for name in ("delay", "loss", "z0"):
            if not math.isfinite(getattr(self, name)):
                raise KitError(f"offset {name} {getattr(self, name)} is not finite")
        if self.delay < 0:
            raise KitError(f"offset delay {self.delay} s is negative")
        if self.loss < 0:
            raise KitError(f"offset loss {self.loss} ohm/s is negative")
        if self.z0 <= 0:
            raise KitError(f"offset impedance {self.z0} ohm is not positive")
        if self.delay == 0 and self.loss != 0:
            raise KitError(f"offset loss {self.loss} ohm/s with zero delay: a loss needs a line")

    @classmethod
    def from_length(cls, length: float, loss_db: float = 0.0, z0: float = 50.0) -> "Offset":
        """The offset of electrical length `length` (m, in vacuum) and one-way
        loss `loss_db` (dB at 1 GHz, growing as sqrt(f)), converted exactly:
        delay = length / c, loss = loss_db ln(10) / 10 * z0 / delay."""
        if length < 0:
            raise KitError(f"offset length {length} m is negative")
        delay = length / SPEED_OF_LIGHT
        if delay == 0:
            if loss_db != 0:
                raise KitError(f"offset loss {loss_db} dB/sqrt(GHz) with zero length: a loss needs a line")
            return cls(0.0, 0.0, z0)
        return cls(delay, loss_db * math.log(10) / 10 * z0 / delay, z0)

    def to_length(self) -> tuple[float, float]:
        """(electrical length in m, loss in dB/sqrt(GHz)): the other way of writing it."""
        if self.delay == 0:
            return 0.0, 0.0
        return self.delay * SPEED_OF_LIGHT, self.loss * self.delay / self.z0 * 10 / math.log(10)

    def _native(self) -> dict:
        return {"delay": self.delay, "loss": self.loss, "offset_z0": self.z0}


def _offset_columns(J: np.ndarray) -> dict:
    return {"delay": J[:, 5], "loss": J[:, 6], "z0": J[:, 7]}


def _coefficients(values: tuple, kind: str) -> tuple[float, float, float, float]:
    values = tuple(float(v) for v in values)
    if not 1 <= len(values) <= 4:
        raise KitError(f"{kind}: 1 to 4 coefficients, not {len(values)}")
    if not all(math.isfinite(v) for v in values):
        raise KitError(f"{kind}: coefficients must be finite")
    return values + (0.0,) * (4 - len(values))


def _polynomial(c: tuple, f: np.ndarray) -> np.ndarray:
    return c[0] + f * (c[1] + f * (c[2] + f * c[3]))


def _finite(values: np.ndarray, f: np.ndarray) -> np.ndarray:
    """The standard's values, refused where its model does not give a number
    (values too large to compute with)."""
    bad = ~np.isfinite(values)
    if bad.any():
        bad = bad.reshape(len(f), -1).any(axis=1)
        raise KitError(f"its model gives no finite value at {f[np.argmax(bad)]:g} Hz; its values are beyond "
                       "what a standard can have")
    return values


@dataclasses.dataclass(frozen=True)
class Open:
    """An open: fringing capacitance C0 + C1 f + C2 f^2 + C3 f^3 (F, F/Hz, ...)
    behind an offset. A negative capacitance is refused, at C0 and at any
    frequency it is evaluated at."""

    capacitance: tuple = (0.0, 0.0, 0.0, 0.0)
    offset: Offset = Offset()
    uncertainty: dict = dataclasses.field(default_factory=dict, compare=False)

    def __post_init__(self):
        object.__setattr__(self, "capacitance", _coefficients(self.capacitance, "open capacitance"))
        if self.capacitance[0] < 0:
            raise KitError(f"open capacitance C0 = {self.capacitance[0]} F is negative")

    def gamma(self, f: np.ndarray, z0: float) -> np.ndarray:
        c = _polynomial(self.capacitance, f)
        if (c < 0).any():
            bad = f[np.argmax(c < 0)]
            raise KitError(f"open capacitance is negative at {bad:g} Hz ({_polynomial(self.capacitance, bad):g} F)")
        return _finite(_native.standard_reflection(f, kind="open", coefficients=self.capacitance, z0=z0,
                                                   **self.offset._native()), f)

    def sensitivities(self, f: np.ndarray, z0: float) -> dict:
        """The reflection's derivatives [n] to each coefficient, by the
        names an uncertainty budget gives them ('capacitance' [4 arrays],
        'delay', 'loss', 'z0')."""
        _, J = _native.standard_reflection(f, kind="open", coefficients=self.capacitance, z0=z0,
                                           sensitivities=True, **self.offset._native())
        return {"capacitance": [J[:, i] for i in range(4)], **_offset_columns(J)}


@dataclasses.dataclass(frozen=True)
class Short:
    """A short: inductance L0 + L1 f + L2 f^2 + L3 f^3 (H, H/Hz, ...) behind an offset."""

    inductance: tuple = (0.0, 0.0, 0.0, 0.0)
    offset: Offset = Offset()
    uncertainty: dict = dataclasses.field(default_factory=dict, compare=False)

    def __post_init__(self):
        object.__setattr__(self, "inductance", _coefficients(self.inductance, "short inductance"))

    def gamma(self, f: np.ndarray, z0: float) -> np.ndarray:
        return _finite(_native.standard_reflection(f, kind="short", coefficients=self.inductance, z0=z0,
                                                   **self.offset._native()), f)

    def sensitivities(self, f: np.ndarray, z0: float) -> dict:
        """As Open's: 'inductance' [4 arrays], 'delay', 'loss', 'z0'."""
        _, J = _native.standard_reflection(f, kind="short", coefficients=self.inductance, z0=z0,
                                           sensitivities=True, **self.offset._native())
        return {"inductance": [J[:, i] for i in range(4)], **_offset_columns(J)}


@dataclasses.dataclass(frozen=True)
class Load:
    """A load: a resistance (ohm) with an optional series inductance (H), behind an offset."""

    resistance: float = 50.0
    inductance: float = 0.0
    offset: Offset = Offset()
    uncertainty: dict = dataclasses.field(default_factory=dict, compare=False)

    def __post_init__(self):
        if not (math.isfinite(self.resistance) and self.resistance > 0):
            raise KitError(f"load resistance {self.resistance} ohm is not positive")
        if not math.isfinite(self.inductance):
            raise KitError(f"load inductance {self.inductance} H is not finite")

    def gamma(self, f: np.ndarray, z0: float) -> np.ndarray:
        return _finite(_native.standard_reflection(f, kind="load", resistance=self.resistance,
                                                   coefficients=(self.inductance, 0.0, 0.0, 0.0), z0=z0,
                                                   **self.offset._native()), f)

    def sensitivities(self, f: np.ndarray, z0: float) -> dict:
        """As Open's: 'resistance', 'inductance', 'delay', 'loss', 'z0'."""
        _, J = _native.standard_reflection(f, kind="load", resistance=self.resistance,
                                           coefficients=(self.inductance, 0.0, 0.0, 0.0), z0=z0,
                                           sensitivities=True, **self.offset._native())
        return {"resistance": J[:, 4], "inductance": J[:, 0], **_offset_columns(J)}


@dataclasses.dataclass(frozen=True)
class Thru:
    """A thru: an offset line (flush when its delay is zero)."""

    offset: Offset = Offset()
    uncertainty: dict = dataclasses.field(default_factory=dict, compare=False)

    def s(self, f: np.ndarray, z0: float) -> np.ndarray:
        return _finite(_native.offset_line(f, z0=z0, **self.offset._native()), f)

    def sensitivities(self, f: np.ndarray, z0: float) -> dict:
        """The S-parameters' derivatives [n, 2, 2] to 'delay', 'loss', 'z0'."""
        _, J = _native.offset_line(f, z0=z0, sensitivities=True, **self.offset._native())
        out = {}
        for i, name in enumerate(("delay", "loss", "z0")):
            d = np.empty((len(f), 2, 2), complex)
            d[:, 0, 0] = d[:, 1, 1] = J[:, 0, i]
            d[:, 0, 1] = d[:, 1, 0] = J[:, 1, i]
            out[name] = d
        return out


@dataclasses.dataclass(frozen=True)
class DataStandard:
    """A standard given by measured data: a .s1p (reflects) or .s2p (thru)
    file, in the e^{jwt} convention of kit data, interpolated complex-linearly
    onto the grid asked for (never outside the file's span).

    path: the file, as an absolute path; written: the path as the kit file
    gives it (relative to the kit file's folder, or absolute).
    """

    path: str
    f: np.ndarray = dataclasses.field(repr=False, compare=False)
    data: np.ndarray = dataclasses.field(repr=False, compare=False)
    written: str = dataclasses.field(default="", compare=False)

    @classmethod
    def read(cls, path: str, ports: int, z0: float, where: str, written: str | None = None) -> "DataStandard":
        """The data file `path`; `written` is how the kit file names it (`path` by default)."""
        from ..files import touchstone

        path = os.fspath(path)
        try:
            f, s, file_z0 = touchstone.read(path)
        except (OSError, ValueError) as e:
            raise KitError(f"{where}: {e}") from None
        if s.shape[1] != ports:
            raise KitError(f"{where}: {path} has {s.shape[1]} port(s), this standard needs {ports}")
        if np.any(file_z0 != z0):
            referenced = " and ".join(f"{z:g}" for z in np.unique(file_z0))
            raise KitError(f"{where}: {path} is referenced to {referenced} ohm, the kit to {z0:g} ohm")
        return cls(os.path.abspath(path), f, s, path if written is None else written)

    def path_from(self, folder: str | None) -> str:
        """The path a kit file in `folder` names this file by: relative to the
        folder, or absolute when the kit gave it so (or None: as written)."""
        if folder is None or os.path.isabs(self.written or self.path):
            return self.written or self.path
        try:
            return os.path.relpath(self.path, os.path.abspath(folder))
        except ValueError:              # another drive
            return self.path

    def on(self, f: np.ndarray) -> np.ndarray:
        lo, hi = self.f[0], self.f[-1]
        if f.min() < lo or f.max() > hi:
            raise KitError(f"{self.path} covers {lo:g} to {hi:g} Hz; asked for {f.min():g} to {f.max():g} Hz")
        return _interp.interpolate(self.f, self.data, f)

    def gamma(self, f: np.ndarray, z0: float) -> np.ndarray:
        return self.on(f)[:, 0, 0]

    def s(self, f: np.ndarray, z0: float) -> np.ndarray:
        return self.on(f)


# -- the kit ---------------------------------------------------------------------

STANDARDS = ("open", "short", "load", "thru")


@dataclasses.dataclass(frozen=True)
class CalKit:
    """A calibration kit: an Open, a Short, a Load and a Thru (`standards`),
    a name, a description and the reference impedance `z0` (ohm)."""

    name: str
    standards: dict
    description: str = ""
    z0: float = 50.0
    source: str = dataclasses.field(default="", compare=False)

    def __post_init__(self):
        missing = [s for s in STANDARDS if s not in self.standards]
        if missing:
            raise KitError(f"{self._where()}: no {', '.join(missing)} standard")
        if not (math.isfinite(self.z0) and self.z0 > 0):
            raise KitError(f"{self._where()}: z0 = {self.z0} ohm is not positive")

    def _where(self, field: str = "") -> str:
        place = self.source or f"kit '{self.name}'"
        return f"{place}: {field}" if field else place

    def _grid(self, f) -> np.ndarray:
        f = np.asarray(f, dtype=float)
        if f.ndim != 1 or not len(f):
            raise ValueError("f must be a one-dimensional frequency grid in Hz")
        if not (np.isfinite(f).all() and (f > 0).all()):
            raise ValueError("frequencies must be positive and finite (Hz)")
        return f

    def reflect(self, f, *, convention: Convention = "board") -> np.ndarray:
        """The Open, Short and Load at frequencies `f` (Hz): complex [N, 3]."""
        f = self._grid(f)
        columns = []
        for name in ("open", "short", "load"):
            with _at(self._where(name)):
                columns.append(self.standards[name].gamma(f, self.z0))
        G = np.stack(columns, axis=1)
        return in_convention(G, convention)

    def thru(self, f, *, convention: Convention = "board") -> np.ndarray:
        """The thru's S-parameters at frequencies `f` (Hz): complex [N, 2, 2]."""
        f = self._grid(f)
        with _at(self._where("thru")):
            T = self.standards["thru"].s(f, self.z0)
        return in_convention(np.ascontiguousarray(T), convention)

    # -- files ---------------------------------------------------------------

    @classmethod
    def load(cls, path) -> "CalKit":
        """Reads a kit file (TOML, UTF-8); KitError names the file and field
        of any problem."""
        path = os.fspath(path)
        raw = _read_kit_file(path)
        try:
            text = raw.decode("utf-8")
        except UnicodeDecodeError as e:
            line = raw.count(b"\n", 0, e.start) + 1
            raise KitError(f"{path}, line {line}: not a valid kit file: byte 0x{raw[e.start]:02x} is not UTF-8 "
                           "text") from None
        try:
            data = tomllib.loads(text)
        except tomllib.TOMLDecodeError as e:
            raise KitError(f"{path}: not a valid kit file: {e}") from None
        except RecursionError:
            raise KitError(f"{path}: not a valid kit file: values nested deeper than a kit has") from None
        return cls.from_dict(data, source=path)

    @classmethod
    def from_dict(cls, data: dict, source: str = "") -> "CalKit":
        where = source or "kit"
        base = os.path.dirname(source) if source else "."
        fmt = data.get("format", FORMAT)
        if not isinstance(fmt, int) or fmt < 1:
            raise KitError(f"{where}: format {fmt!r} is not a kit file format")
        if fmt > FORMAT:
            raise KitError(f"{where}: written in kit format {fmt}; this version reads format {FORMAT} and older")
        _known(data, {"format", "name", "description", "z0", *STANDARDS}, where)
        if "name" not in data:
            raise KitError(f"{where}: missing field 'name'")
        z0 = _quantity(data.get("z0", 50.0), "impedance", f"{where}: z0")
        standards = {}
        for name in STANDARDS:
            if name not in data:
                raise KitError(f"{where}: missing section [{name}]")
            section = data[name]
            if not isinstance(section, dict):
                raise KitError(f"{where}: [{name}] must be a table")
            standards[name] = _standard(name, section, z0, base, f"{where}: {name}")
        for field in ("name", "description"):
            if field in data and not isinstance(data[field], str):
                raise KitError(f"{where}: {field} must be a string, not {data[field]!r:.60}")
        return cls(data["name"], standards, data.get("description", ""), z0, source)

    def to_dict(self, *, folder: str | None = None) -> dict:
        """The kit as the dict its TOML file holds: data standards' paths as
        the kit file gave them, or relative to `folder`, where a kit file of
        this dict is to be."""
        out = {"format": FORMAT, "name": self.name}
        if self.description:
            out["description"] = self.description
        out["z0"] = _format(self.z0, "ohm")
        for name in STANDARDS:
            out[name] = _standard_dict(self.standards[name], folder)
        return out

    @classmethod
    def models_of(cls, data: dict) -> tuple[float, dict]:
        """(z0, {standard: its model, or None for a data standard}) of a kit's
        dict, without reading any data file: what uncertainty propagation
        needs of a kit a calibration keeps."""
        where = "kit"
        z0 = _quantity(data.get("z0", 50.0), "impedance", f"{where}: z0")
        models = {}
        for name in STANDARDS:
            section = data.get(name, {})
            models[name] = None if isinstance(section, dict) and "file" in section else _standard(
                name, section, z0, ".", f"{where}: {name}")
        return z0, models

    def save(self, path) -> None:
        """Writes the kit as TOML (whole or not at all). Data standards are
        named by their paths relative to the new file, so that it loads from
        wherever it is written (paths the kit gave as absolute stay so)."""
        import tomli_w

        path = os.fspath(path)
        text = tomli_w.dumps(self.to_dict(folder=os.path.dirname(path) or "."))
        with written_whole(path, "w", encoding="utf-8") as fp:
            fp.write(text)

    def describe(self) -> str:
        """A readable table of the kit's definition."""
        lines = [f"{self.name}" + (f": {self.description}" if self.description else ""),
                 f"reference impedance {self.z0:g} ohm"]
        for name in STANDARDS:
            s = self.standards[name]
            if isinstance(s, DataStandard):
                lines.append(f"  {name:<6} data from {s.path} ({len(s.f)} points, {s.f[0]:g} to {s.f[-1]:g} Hz)")
                continue
            parts = []
            if isinstance(s, Open):
                parts.append("C = " + ", ".join(f"{c:g}" for c in s.capacitance) + " (F, F/Hz, F/Hz^2, F/Hz^3)")
            elif isinstance(s, Short):
                parts.append("L = " + ", ".join(f"{c:g}" for c in s.inductance) + " (H, H/Hz, H/Hz^2, H/Hz^3)")
            elif isinstance(s, Load):
                parts.append(f"R = {s.resistance:g} ohm, series L = {s.inductance:g} H")
            o = s.offset
            length, loss_db = o.to_length()
            parts.append(f"offset {o.delay * 1e12:.4g} ps, {o.loss / 1e9:.4g} Gohm/s, {o.z0:g} ohm"
                         f" ({length * 1e3:.4g} mm, {loss_db:.4g} dB/sqrt(GHz))")
            lines.append(f"  {name:<6} " + "; ".join(parts))
        return "\n".join(lines)


def _read_kit_file(path: str) -> bytes:
    """The bytes of a kit file: a regular file of a sensible size (a FIFO
    would block, /dev/zero would never end)."""
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    with os.fdopen(fd, "rb") as fp:
        info = os.fstat(fp.fileno())
        if not stat.S_ISREG(info.st_mode):
            raise KitError(f"{path}: not a regular file")
        raw = fp.read(_MAX_KIT_FILE + 1)
    if len(raw) > _MAX_KIT_FILE:
        raise KitError(f"{path}: larger than {_MAX_KIT_FILE >> 20} MiB, more than a kit file holds")
    return raw


@contextlib.contextmanager
def _at(where: str):
    """Puts `where` (file and field) in front of a KitError raised inside, once."""
    try:
        yield
    except KitError as e:
        if str(e).startswith(where):
            raise
        raise KitError(f"{where}: {e}") from None


def _known(section: dict, fields: set, where: str) -> None:
    unknown = sorted(set(section) - fields)
    if unknown:
        raise KitError(f"{where}: unknown field {unknown[0]!r} (expected {', '.join(sorted(fields))})")


def _valued(value: Any, quantity: str, where: str, u: dict, key, power: int = 0) -> float:
    """A value, or a table {value = ..., u = ...} whose standard uncertainty
    `u` (the same kind of quantity) goes into u[key]."""
    if isinstance(value, dict):
        _known(value, {"value", "u"}, where)
        if "value" not in value:
            raise KitError(f"{where}: missing field 'value'")
        if "u" in value:
            uncertainty = _quantity(value["u"], quantity, f"{where}.u", power=power)
            if uncertainty < 0:
                raise KitError(f"{where}.u: {uncertainty:g} is negative; a standard uncertainty is not")
            u[key] = uncertainty
        value = value["value"]
    return _quantity(value, quantity, where, power=power)


def _offset(value: Any, where: str, u: dict) -> Offset:
    if value is None:
        return Offset()
    if not isinstance(value, dict):
        raise KitError(f"{where}: offset must be a table")
    _known(value, {"delay", "loss", "z0", "length"}, where)
    z0 = _valued(value.get("z0", 50.0), "impedance", f"{where}.z0", u, "z0")
    with _at(where):
        if "length" in value:
            if "delay" in value:
                raise KitError(f"{where}: give either delay or length, not both")
            given: dict = {}
            length = _valued(value["length"], "length", f"{where}.length", given, "delay")
            loss = _valued(value.get("loss", 0.0), "db_loss", f"{where}.loss", given, "loss")
            offset = Offset.from_length(length, loss, z0)
            # the same uncertainties in delay and ohm/s, as from_length converts the values
            if "delay" in given:
                u["delay"] = given["delay"] / SPEED_OF_LIGHT
            if "loss" in given and offset.delay:
                u["loss"] = given["loss"] * math.log(10) / 10 * z0 / offset.delay
            return offset
        delay = _valued(value.get("delay", 0.0), "time", f"{where}.delay", u, "delay")
        loss = _valued(value.get("loss", 0.0), "loss", f"{where}.loss", u, "loss")
        return Offset(delay, loss, z0)


def _series(values: Any, quantity: str, where: str, u: dict, key: str) -> tuple:
    if not isinstance(values, list):
        values = [values]
    if not 1 <= len(values) <= 4:
        raise KitError(f"{where}: 1 to 4 coefficients, not {len(values)}")
    given: dict = {}
    out = tuple(_valued(v, quantity, f"{where}[{i}]", given, i, power=i) for i, v in enumerate(values))
    if given:
        u[key] = [given.get(i, 0.0) for i in range(4)]
    return out


def _standard(name: str, section: dict, z0: float, base: str, where: str):
    with _at(where):
        if "file" in section:
            _known(section, {"file"}, where)
            path = section["file"]
            if not isinstance(path, str) or not path:
                raise KitError(f"{where}: file must be a path")
            # relative to the kit file's folder; an absolute path as it is
            return DataStandard.read(os.path.join(base, path), 2 if name == "thru" else 1, z0, where, path)
        u: dict = {}
        offset = _offset(section.get("offset"), f"{where}.offset", u)
        if name == "open":
            _known(section, {"capacitance", "offset"}, where)
            if "capacitance" not in section:
                raise KitError(f"{where}: missing field 'capacitance'")
            return Open(_series(section["capacitance"], "capacitance", f"{where}.capacitance", u, "capacitance"),
                        offset, u)
        if name == "short":
            _known(section, {"inductance", "offset"}, where)
            if "inductance" not in section:
                raise KitError(f"{where}: missing field 'inductance'")
            return Short(_series(section["inductance"], "inductance", f"{where}.inductance", u, "inductance"),
                         offset, u)
        if name == "load":
            _known(section, {"resistance", "inductance", "offset"}, where)
            if "resistance" not in section:
                raise KitError(f"{where}: missing field 'resistance'")
            return Load(_valued(section["resistance"], "resistance", f"{where}.resistance", u, "resistance"),
                        _valued(section.get("inductance", 0.0), "inductance", f"{where}.inductance", u,
                                "inductance"), offset, u)
        _known(section, {"offset"}, where)
        return Thru(offset, u)


def _standard_dict(s, folder: str | None) -> dict:
    if isinstance(s, DataStandard):
        return {"file": s.path_from(folder)}
    out: dict = {}
    u = s.uncertainty

    def valued(value, unit, given):
        text = _format(value, unit)
        return {"value": text, "u": _format(given, unit)} if given else text

    def series(values, base, key):
        given = u.get(key, [0.0] * 4)
        return [valued(c, _polynomial_unit(base, i), given[i]) for i, c in enumerate(values)]

    if isinstance(s, Open):
        out["capacitance"] = series(s.capacitance, "F", "capacitance")
    elif isinstance(s, Short):
        out["inductance"] = series(s.inductance, "H", "inductance")
    elif isinstance(s, Load):
        out["resistance"] = valued(s.resistance, "ohm", u.get("resistance"))
        out["inductance"] = valued(s.inductance, "H", u.get("inductance"))
    o = s.offset
    out["offset"] = {"delay": valued(o.delay, "s", u.get("delay")), "loss": valued(o.loss, "ohm/s", u.get("loss")),
                     "z0": valued(o.z0, "ohm", u.get("z0"))}
    return out


def example_kit() -> CalKit:
    """The generic example kit shipped with the package (illustrative values,
    not any maker's kit)."""
    with resources.as_file(resources.files("orvane_ex") / "kits" / "example.toml") as path:
        return CalKit.load(path)
