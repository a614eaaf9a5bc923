"""What a calibration method is built from: its measured standards (and the
Touchstone file each is read from), its options, and reading a folder of
standard files."""
from __future__ import annotations

import dataclasses
import os
from typing import Any, Callable

import numpy as np

from ..files import touchstone


@dataclasses.dataclass(frozen=True)
class Standard:
    """A measured standard: its name (the key in `from_standards`' dict and
    the stem of its file), its number of ports and whether it may be missing."""

    name: str
    ports: int
    what: str
    optional: bool = False

    @property
    def file(self) -> str:
        return f"{self.name}.s{self.ports}p"


@dataclasses.dataclass(frozen=True)
class Option:
    """A keyword a method's `from_standards` takes beyond the standards, as the
    command line offers it (--name-with-dashes)."""

    name: str
    help: str
    type: Callable[[str], Any] = float
    nargs: str | None = None
    default: Any = None
    choices: tuple | None = None
    metavar: str | None = None
    flag: str = ""

    def __post_init__(self):
        if not self.flag:
            object.__setattr__(self, "flag", "--" + self.name.replace("_", "-"))


def measured_standards(what: str, standards, measured, convention) -> dict[str, Any]:
    """`measured` ({name: array or scikit-rf Network}) checked against the
    `standards` a calibration takes (`what` names it in the error), the
    Networks' S-parameters in `convention`."""
    from .._common.convention import in_convention
    from .._common.network import is_network

    names = [s.name for s in standards]
    missing = [k for k in names if k not in measured]
    unknown = sorted(set(measured) - set(names))
    if missing or unknown:
        raise ValueError(f"{what} takes " + ", ".join(names)
                         + (f"; missing {', '.join(missing)}" if missing else "")
                         + (f"; unknown {', '.join(unknown)}" if unknown else ""))
    return {k: in_convention(np.asarray(v.s, complex), convention) if is_network(v) else v
            for k, v in measured.items()}


def find(folder, name: str) -> str | None:
    """The file `name` in `folder`, in any case, or None."""
    folder = os.fspath(folder)
    if not os.path.isdir(folder):
        raise FileNotFoundError(f"{folder}: {'not a folder' if os.path.exists(folder) else 'folder not found'} "
                                "(the folder of measured standards)")
    path = os.path.join(folder, name)
    if os.path.exists(path):
        return path
    matches = sorted(entry for entry in os.listdir(folder) if entry.lower() == name.lower())
    if len(matches) > 1:
        raise ValueError(f"{folder}: {' and '.join(matches)}: which one is the measured standard?")
    return os.path.join(folder, matches[0]) if matches else None


def read_folder(folder, standards) -> tuple[np.ndarray, dict[str, np.ndarray], list[str]]:
    """(f, {name: S [n, p, p]}, paths read) of the standards' files in
    `folder`, on one grid, in the e^{jwt} convention the files hold. A
    missing optional standard is left out; anything else missing, on another
    grid or with another number of ports is refused by name."""
    f_ref, measured, paths = None, {}, []
    for standard in standards:
        path, version2 = find(folder, standard.file), find(folder, standard.name + ".ts")
        if path is not None and version2 is not None:
            raise ValueError(f"{path} and {version2}: which one is the measured {standard.name} standard?")
        path = path or version2                                  # .sNp, or .ts (Touchstone 2)
        if path is None:
            if standard.optional:
                continue
            raise FileNotFoundError(f"{os.path.join(os.fspath(folder), standard.file)}: missing (the measured "
                                    f"{standard.name} standard){_hint(folder, standard)}")
        f, s, _ = touchstone.read(path)
        if s.shape[1] != standard.ports:
            raise ValueError(f"{path}: holds {s.shape[1]}-port data; {standard.what} is a {standard.ports}-port "
                             "measurement")
        if f_ref is not None and (len(f) != len(f_ref) or not np.allclose(f, f_ref, rtol=1e-12, atol=0)):
            raise ValueError(f"{path}: its frequencies ({len(f)} points, {f[0] / 1e9:g} to {f[-1] / 1e9:g} GHz) "
                             f"differ from those of the other standards ({len(f_ref)} points, {f_ref[0] / 1e9:g} to "
                             f"{f_ref[-1] / 1e9:g} GHz)")
        f_ref = f if f_ref is None else f_ref
        measured[standard.name] = s
        paths.append(path)
    return f_ref, measured, paths


def _hint(folder, standard: Standard) -> str:
    base = standard.name[:-1]
    if base in ("open", "short", "load") and standard.name.endswith("1") and find(folder, base + ".s1p"):
        return (f"; {base}.s1p there is not read: the measured standards of port 1 are open1.s1p, short1.s1p and "
                "load1.s1p")
    return ""


def one_port(value, n: int, name: str) -> np.ndarray:
    """A one-port measurement as [n]: from [n] or [n, 1, 1]."""
    value = np.asarray(value)
    if value.shape == (n, 1, 1):
        value = value[:, 0, 0]
    if value.shape != (n,):
        raise ValueError(f"{name}: shape {value.shape}; a one-port standard on {n} points is [{n}] or [{n}, 1, 1]")
    return _finite(value, name)


def two_port(value, n: int, name: str) -> np.ndarray:
    value = np.asarray(value)
    if value.shape != (n, 2, 2):
        raise ValueError(f"{name}: shape {value.shape}; a two-port standard on {n} points is [{n}, 2, 2]")
    return _finite(value, name)


def _finite(value: np.ndarray, name: str) -> np.ndarray:
    if value.dtype.kind not in "biufc":
        raise ValueError(f"{name}: S-parameters must be numbers, not {value.dtype}")
    value = value.astype(complex)
    if not np.isfinite(value).all():
        raise ValueError(f"{name}: holds values that are not finite")
    return value
