"""An uncertainty budget: the standard uncertainties (one sigma) of what a
corrected measurement depends on, as a TOML file (docs/uncertainty.md) or a
Python object.

Influences, each optional:

- ``noise``: the analyser's trace noise on every raw reading: a noise floor
  (circular, relative to the source), and noise in magnitude (dB) and phase
  (degrees) proportional to the reading; each a number or a table against
  frequency. `Budget.from_repeats` estimates it from repeated sweeps.
- ``linearity``: a magnitude error per dB of the reading's level (dB/dB).
- ``kit``: the kit's coefficients (open, short, load, thru; capacitance and
  inductance polynomials, resistance, offset delay, loss and impedance),
  and ``data``, the circular uncertainty of listed data standards.
- ``connector``: the repeatability of each connection, per port.
- ``cable``: the stability of each port's cable after flexing (magnitude
  and phase of its transmission).
- ``drift``: the analyser's drift between calibration and measurement, per
  port, as the cable's (from re-measured standards: `drift_from`).
- ``trl``: line length, line-to-line variation of the effective
  permittivity and of the characteristic impedance (relative), and the
  reflect's asymmetry between the ports.
"""
from __future__ import annotations

import dataclasses
import math
import os
import tomllib
from typing import Any

import numpy as np

from .._common.atomic import written_whole
from .._common.units import UnitError, quantity

__all__ = ["Budget", "Noise", "PortStability", "TRLBudget", "BudgetError", "Profile"]

FORMAT = 1
_DEG = math.pi / 180


class BudgetError(ValueError):
    """A budget that cannot be used; the message names the file and field."""


@dataclasses.dataclass(frozen=True)
class Profile:
    """A value that may follow frequency: a constant, or a table of
    (frequency Hz, value) interpolated linearly (held beyond its ends)."""

    points: tuple[tuple[float, float], ...]

    @classmethod
    def constant(cls, value: float) -> "Profile":
        return cls(((0.0, float(value)),))

    def at(self, f) -> np.ndarray:
        f = np.asarray(f, float)
        if len(self.points) == 1:
            return np.full(f.shape, self.points[0][1])
        x, y = np.array(self.points).T
        return np.interp(f, x, y)

    @property
    def zero(self) -> bool:
        return all(v == 0 for _, v in self.points)


ZERO = Profile.constant(0.0)


@dataclasses.dataclass(frozen=True)
class Noise:
    """Trace noise of each raw reading: `floor` (linear, relative to the
    source, circular), `magnitude` (dB) and `phase` (radians) of the
    reading, one sigma."""

    floor: Profile = ZERO
    magnitude: Profile = ZERO
    phase: Profile = ZERO


@dataclasses.dataclass(frozen=True)
class PortStability:
    """A change of a port's transmission between calibration and
    measurement: magnitude (dB) and phase (radians), one sigma."""

    magnitude: float = 0.0
    phase: float = 0.0


@dataclasses.dataclass(frozen=True)
class TRLBudget:
    """TRL's own influences: each line's length (m), the line-to-line
    variation of the effective permittivity and of the characteristic
    impedance (relative), the reflect's asymmetry (its port-2 value over
    its port-1 value, minus 1: circular)."""

    line_length: float = 0.0
    eps_eff: float = 0.0
    impedance: float = 0.0
    reflect_asymmetry: float = 0.0


@dataclasses.dataclass(frozen=True)
class Budget:
    """Standard uncertainties of a measurement's influences (see the module)."""

    name: str = ""
    noise: Noise = Noise()
    linearity: float = 0.0                    # dB per dB
    kit: dict = dataclasses.field(default_factory=dict)     # standard -> {coefficient: u, or [u0..u3]}
    data: float = 0.0                         # circular, of listed data standards' values
    connector: tuple = (0.0, 0.0)             # per port, linear magnitude
    cable: tuple = (PortStability(), PortStability())
    drift: tuple = (PortStability(), PortStability())
    trl: TRLBudget = TRLBudget()

    # -- files ---------------------------------------------------------------

    @classmethod
    def load(cls, path) -> "Budget":
        """Reads a budget file (TOML), or raises BudgetError naming it."""
        path = os.fspath(path)
        try:
            with open(path, "rb") as fp:
                raw = fp.read((1 << 20) + 1)
            if len(raw) > 1 << 20:
                raise BudgetError(f"{path}: larger than 1 MiB; not a budget file")
            data = tomllib.loads(raw.decode("utf-8"))
        except (UnicodeDecodeError, tomllib.TOMLDecodeError, RecursionError) as e:
            raise BudgetError(f"{path}: not a budget file ({e})") from None
        return cls.from_dict(data, source=path)

    @classmethod
    def example(cls) -> "Budget":
        """The example budget shipped with the package (a coaxial bench with
        the example kit; illustrative values, not any maker's data)."""
        from importlib import resources

        with resources.as_file(resources.files("orvane_ex") / "budgets" / "example.toml") as path:
            return cls.load(path)

    @classmethod
    def from_dict(cls, data: dict, source: str = "") -> "Budget":
        """A budget from the dict a budget file holds."""
        where = source or "budget"
        try:
            return _parse(data, where)
        except UnitError as e:
            raise BudgetError(f"{where}: {e}") from None

    def to_dict(self) -> dict:
        """The budget as its TOML file holds it (numbers in SI units, phases in degrees)."""
        def profile(p: Profile, unit: str = "", scale: float = 1.0):
            def text(v):
                return f"{v / scale!r} {unit}" if unit else v
            return text(p.points[0][1]) if len(p.points) == 1 else [[f, text(v)] for f, v in p.points]

        def stability(p: PortStability):
            return {"magnitude": f"{p.magnitude!r} dB", "phase": f"{p.phase / _DEG!r} deg"}

        out: dict[str, Any] = {"format": FORMAT}
        if self.name:
            out["name"] = self.name
        out["noise"] = {"floor": profile(self.noise.floor), "magnitude": profile(self.noise.magnitude, "dB"),
                        "phase": profile(self.noise.phase, "deg", _DEG)}
        out["linearity"] = {"magnitude": f"{self.linearity!r} dB/dB"}
        out["kit"] = {**{k: dict(v) for k, v in self.kit.items()}, **({"data": self.data} if self.data else {})}
        out["connector"] = {"port1": self.connector[0], "port2": self.connector[1]}
        out["cable"] = {"port1": stability(self.cable[0]), "port2": stability(self.cable[1])}
        out["drift"] = {"port1": stability(self.drift[0]), "port2": stability(self.drift[1])}
        out["trl"] = dataclasses.asdict(self.trl)
        return out

    def save(self, path) -> None:
        """Writes the budget as a TOML file (whole or not at all)."""
        import tomli_w

        with written_whole(path, "wb", durable=True) as fp:
            fp.write(tomli_w.dumps(self.to_dict()).encode("utf-8"))

    # -- from measurements ---------------------------------------------------

    @classmethod
    def from_repeats(cls, f, sweeps, **others) -> "Budget":
        """A budget whose trace noise is estimated from repeated sweeps of one
        standard: `sweeps` [r, n] (r >= 3 sweeps of one reading at the
        frequencies f [n]). The spread along the mean reading gives the
        magnitude noise, across it the phase noise; the other influences
        as keywords."""
        sweeps = np.asarray(sweeps, complex)
        f = np.asarray(f, float)
        if sweeps.ndim != 2 or sweeps.shape[1] != len(f) or sweeps.shape[0] < 3:
            raise ValueError(f"sweeps must be [r >= 3, {len(f)}] repeated readings, not {sweeps.shape}")
        mean = sweeps.mean(axis=0)
        unit = mean / np.abs(mean)
        deviation = sweeps / unit - np.abs(mean)            # along the mean (real) and across it (imaginary)
        radial, tangential = deviation.real.std(axis=0, ddof=1), deviation.imag.std(axis=0, ddof=1)
        magnitude_db = 20 / math.log(10) * radial / np.abs(mean)
        phase = tangential / np.abs(mean)
        noise = Noise(magnitude=Profile(tuple(zip(f, magnitude_db))), phase=Profile(tuple(zip(f, phase))))
        return cls(noise=noise, **others)


def _known(section: dict, fields: set, where: str) -> None:
    if not isinstance(section, dict):
        raise BudgetError(f"{where}: expected a table, got {section!r:.60}")
    unknown = sorted(set(section) - fields)
    if unknown:
        raise BudgetError(f"{where}.{unknown[0]}: unknown field (known: {', '.join(sorted(fields))})")


def _number(value, where: str, base: str = "", what: str = "a number", *, extra=None, prefixes=True) -> float:
    try:
        if base:
            x = quantity(value, base, what, prefixes=prefixes, extra=extra)
        elif isinstance(value, str):
            x = float(value)
        else:
            x = quantity(value, "1", what)
    except ValueError as e:
        raise BudgetError(f"{where}: {e}") from None
    if x < 0:
        raise BudgetError(f"{where}: {x:g} is negative; a standard uncertainty is not")
    return x


def _level(value, where: str) -> float:
    """A linear magnitude from a number or 'x dB' (20 log10)."""
    if isinstance(value, str):
        text = value.strip()
        try:
            db = float(text[:-2]) if text.endswith("dB") else None
        except ValueError:
            db = None
        if db is None:
            try:
                return _number(float(text), where)
            except ValueError:
                raise BudgetError(f"{where}: '{value}' is not a level in dB (nor a number)") from None
        if not math.isfinite(db):
            raise BudgetError(f"{where}: {db} is not finite")
        return 10 ** (db / 20)
    return _number(value, where)


def _profile(value, where: str, read) -> Profile:
    if isinstance(value, list):
        points = []
        for i, item in enumerate(value):
            if not isinstance(item, list) or len(item) != 2:
                raise BudgetError(f"{where}[{i}]: expected [frequency, value]")
            fi = _number(item[0], f"{where}[{i}]", "Hz", "a frequency")
            points.append((fi, read(item[1], f"{where}[{i}]")))
        if not points or any(b[0] <= a[0] for a, b in zip(points, points[1:])):
            raise BudgetError(f"{where}: a table needs increasing frequencies")
        return Profile(tuple(points))
    return Profile.constant(read(value, where))


def _db(value, where):
    return _number(value, where, "dB", "a magnitude in dB", prefixes=False)


def _angle(value, where):
    return _number(value, where, "rad", "an angle", prefixes=False, extra={"deg": _DEG, "°": _DEG})


def _stability(value, where: str) -> PortStability:
    _known(value, {"magnitude", "phase"}, where)
    return PortStability(_db(value.get("magnitude", 0), f"{where}.magnitude"),
                         _angle(value.get("phase", 0), f"{where}.phase"))


def _ports(section, where, read, default):
    _known(section, {"port1", "port2"}, where)
    return tuple(read(section[p], f"{where}.{p}") if p in section else default for p in ("port1", "port2"))


_KIT_FIELDS = {"capacitance": ("F", 4), "inductance": ("H", 4), "resistance": ("ohm", 1), "delay": ("s", 1),
               "loss": ("ohm/s", 1), "z0": ("ohm", 1)}


def _kit(section: dict, where: str) -> tuple[dict, float]:
    _known(section, {"open", "short", "load", "thru", "data"}, where)
    out = {}
    for name in ("open", "short", "load", "thru"):
        if name not in section:
            continue
        std = section[name]
        _known(std, set(_KIT_FIELDS), f"{where}.{name}")
        entry = {}
        for field, (unit, count) in _KIT_FIELDS.items():
            if field not in std:
                continue
            value = std[field]
            at = f"{where}.{name}.{field}"
            if count == 4:
                values = value if isinstance(value, list) else [value]
                if not 1 <= len(values) <= 4:
                    raise BudgetError(f"{at}: one to four polynomial coefficients")
                units = [unit] + [f"{unit}/Hz" if p == 1 else f"{unit}/Hz^{p}" for p in range(1, 4)]
                entry[field] = [_number(v, f"{at}[{p}]", units[p], f"an uncertainty in {units[p]}")
                                for p, v in enumerate(values)]
            else:
                entry[field] = _number(value, at, unit, f"an uncertainty in {unit}")
        out[name] = entry
    return out, _number(section.get("data", 0), f"{where}.data")


def _parse(data: dict, where: str) -> Budget:
    _known(data, {"format", "name", "noise", "linearity", "kit", "connector", "cable", "drift", "trl"}, where)
    if data.get("format", FORMAT) != FORMAT:
        raise BudgetError(f"{where}: budget format {data['format']!r}; this version reads format {FORMAT}")
    name = data.get("name", "")
    if not isinstance(name, str):
        raise BudgetError(f"{where}.name: expected a string")
    kw: dict[str, Any] = {"name": name}
    if "noise" in data:
        n = data["noise"]
        _known(n, {"floor", "magnitude", "phase"}, f"{where}.noise")
        kw["noise"] = Noise(_profile(n.get("floor", 0), f"{where}.noise.floor", _level),
                            _profile(n.get("magnitude", 0), f"{where}.noise.magnitude", _db),
                            _profile(n.get("phase", 0), f"{where}.noise.phase", _angle))
    if "linearity" in data:
        _known(data["linearity"], {"magnitude"}, f"{where}.linearity")
        kw["linearity"] = _number(data["linearity"].get("magnitude", 0), f"{where}.linearity.magnitude",
                                  "dB/dB", "a magnitude error in dB per dB", prefixes=False)
    if "kit" in data:
        kw["kit"], kw["data"] = _kit(data["kit"], f"{where}.kit")
    if "connector" in data:
        kw["connector"] = _ports(data["connector"], f"{where}.connector", _level, 0.0)
    for field in ("cable", "drift"):
        if field in data:
            kw[field] = _ports(data[field], f"{where}.{field}", _stability, PortStability())
    if "trl" in data:
        t = data["trl"]
        _known(t, {"line_length", "eps_eff", "impedance", "reflect_asymmetry"}, f"{where}.trl")
        kw["trl"] = TRLBudget(_number(t.get("line_length", 0), f"{where}.trl.line_length", "m", "a length"),
                              _number(t.get("eps_eff", 0), f"{where}.trl.eps_eff"),
                              _number(t.get("impedance", 0), f"{where}.trl.impedance"),
                              _number(t.get("reflect_asymmetry", 0), f"{where}.trl.reflect_asymmetry"))
    return Budget(**kw)
