"""The covariance of S-parameters beside their Touchstone file: a plain text
side-car (``DUT.s2p`` -> ``DUT.s2p.cov``) any tool reads with a text parser
or ``numpy.loadtxt``.

Format (version 1)::

    # orvane-covariance 1 ports=2 points=1601 convention=e^{jwt}
    ! any number of comment lines
    1000000000 c(0,0) c(0,1) ... c(0,7) c(1,1) ... c(7,7)
    ...

One line per frequency point, in Hz, in the Touchstone file's order: the
frequency, then the upper triangle (row by row, diagonal included) of the
symmetric 2p^2 x 2p^2 covariance of the real and imaginary parts of the
S-parameters, ordered Re S11, Im S11, Re S12, Im S12, ..., Re Spp, Im Spp
(row by row of the S matrix, as an n-port Touchstone file lists them; for
two ports that is S11 S12 S21 S22, not the 2-port file's S11 S21 S12 S22).
Values are in the e^{jwt} convention of the Touchstone file, like its
S-parameters; numbers are written to read back exactly.
"""
from __future__ import annotations

import os

import numpy as np

from .._common.atomic import written_whole

__all__ = ["CovarianceFileError", "read", "write", "sidecar"]

MAGIC = "orvane-covariance"
VERSION = 1


class CovarianceFileError(ValueError):
    """A covariance file that cannot be used; the message names the file and line."""


def sidecar(touchstone_path) -> str:
    """The side-car file's name for a Touchstone file."""
    return os.fspath(touchstone_path) + ".cov"


def write(path, f, cov, *, ports: int) -> None:
    """Writes the covariance `cov` [n, 2p^2, 2p^2] on the grid f (Hz),
    written whole or not at all."""
    path = os.fspath(path)
    f = np.asarray(f, float)
    cov = np.asarray(cov, float)
    size = 2 * ports * ports
    if f.ndim != 1 or cov.shape != (len(f), size, size):
        raise ValueError(f"{path}: a covariance of shape {cov.shape} on {f.shape} points; {ports} ports need "
                         f"[{len(f)}, {size}, {size}]")
    if not (np.isfinite(f).all() and np.isfinite(cov).all()):
        raise ValueError(f"{path}: the covariance or the frequencies hold values that are not finite")
    rows, cols = np.triu_indices(size)
    upper = cov[:, rows, cols]
    with written_whole(path, "w", durable=False, encoding="ascii", newline="\n") as fp:
        fp.write(f"# {MAGIC} {VERSION} ports={ports} points={len(f)} convention=e^{{jwt}}\n")
        fp.write("! frequency (Hz), then the upper triangle of the covariance of Re S11, Im S11, Re S12, ... "
                 "(row by row)\n")
        for k in range(len(f)):
            fp.write(" ".join([repr(float(f[k]))] + [repr(float(x)) for x in upper[k]]))
            fp.write("\n")


def read(path) -> tuple[np.ndarray, np.ndarray, int]:
    """(f [n], cov [n, 2p^2, 2p^2], p) of a covariance file, checked: the
    header, each line's count of numbers, finite values, rising
    frequencies, symmetric positive semi-definite matrices (to rounding)."""
    path = os.fspath(path)
    try:
        with open(path, encoding="ascii") as fp:
            lines = fp.read().splitlines()
    except UnicodeDecodeError as error:
        raise CovarianceFileError(f"{path}: not a covariance file (not plain text: {error.reason})") from None
    if not lines or not lines[0].startswith(f"# {MAGIC} "):
        raise CovarianceFileError(f"{path}, line 1: not a covariance file (it starts with '# {MAGIC} 1')")
    header = lines[0].split()
    fields = dict(item.split("=", 1) for item in header[3:] if "=" in item)
    if header[2] != str(VERSION):
        raise CovarianceFileError(f"{path}, line 1: a covariance file of version {header[2]}; this reads {VERSION}")
    try:
        ports, points = int(fields["ports"]), int(fields["points"])
    except (KeyError, ValueError):
        raise CovarianceFileError(f"{path}, line 1: the header gives no ports=P and points=N") from None
    if not 1 <= ports <= 64 or points < 1:
        raise CovarianceFileError(f"{path}, line 1: {ports} ports and {points} points cannot be")
    if fields.get("convention", "e^{jwt}") != "e^{jwt}":
        raise CovarianceFileError(f"{path}, line 1: convention {fields['convention']}; the file holds e^{{jwt}}")
    size = 2 * ports * ports
    width = 1 + size * (size + 1) // 2
    data = []
    for number, line in enumerate(lines[1:], start=2):
        text = line.strip()
        if not text or text.startswith("!"):
            continue
        words = text.split()
        if len(words) != width:
            raise CovarianceFileError(f"{path}, line {number}: {len(words)} numbers; {ports} ports need {width} "
                                      "(the frequency and the covariance's upper triangle)")
        try:
            values = [float(w) for w in words]
        except ValueError:
            raise CovarianceFileError(f"{path}, line {number}: not a number among the values") from None
        data.append(values)
    if len(data) != points:
        raise CovarianceFileError(f"{path}: {len(data)} points; the header says {points}")
    data = np.array(data)
    if not np.isfinite(data).all():
        bad = int(np.flatnonzero(~np.isfinite(data).all(axis=1))[0])
        raise CovarianceFileError(f"{path}: point {bad + 1} holds values that are not finite")
    f = data[:, 0]
    if np.any(np.diff(f) <= 0) or f[0] < 0:
        raise CovarianceFileError(f"{path}: frequencies must rise from zero or above")
    cov = np.zeros((points, size, size))
    rows, cols = np.triu_indices(size)
    cov[:, rows, cols] = data[:, 1:]
    cov[:, cols, rows] = data[:, 1:]
    lowest = np.linalg.eigvalsh(cov)[:, 0]
    scale = np.maximum(np.abs(np.diagonal(cov, axis1=1, axis2=2)).max(axis=1), 1e-300)
    bad = np.flatnonzero(lowest < -1e-9 * scale)
    if len(bad):
        raise CovarianceFileError(f"{path}: the covariance at {f[bad[0]]:g} Hz is not positive semi-definite")
    return f, cov, ports
