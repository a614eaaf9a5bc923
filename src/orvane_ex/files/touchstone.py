"""Touchstone files of versions 1.0, 1.1, 2.0 and 2.1 and any port count,
read and written natively.

Files hold the e^{jwt} convention the format and every other tool assume;
data in the QLM-417's own convention say ``convention="board"`` where they
enter or leave (the two differ by a complex conjugate). Y, Z, H and G
parameters are read as S-parameters referenced to each port's reference
impedance, normalised as the format says (version 1: to R; version 2: not
at all). A malformed file raises `TouchstoneError` (a ValueError) naming the
file and the line.

Examples
--------
>>> import numpy as np, tempfile, os
>>> from orvane_ex import touchstone
>>> f = np.linspace(1e9, 2e9, 3)
>>> s = np.full((3, 2, 2), 0.1 + 0.2j)
>>> path = os.path.join(tempfile.mkdtemp(), "dut.s2p")
>>> touchstone.write(path, f, s)
>>> f2, s2, z0 = touchstone.read(path)
>>> bool(np.array_equal(s2, s)), z0.tolist()
(True, [50.0, 50.0])
"""
from __future__ import annotations

import os
from dataclasses import dataclass
from typing import Any, Literal

import numpy as np

from .. import _native
from .._common.convention import Convention, in_convention
from .._common.network import given_network, numbers

TouchstoneError = _native.TouchstoneError

Version = Literal["1.0", "1.1", "2.0", "2.1"]
ParameterKind = Literal["S", "Y", "Z", "H", "G"]
Format = Literal["RI", "MA", "DB"]
Unit = Literal["Hz", "kHz", "MHz", "GHz"]
MatrixFormat = Literal["Full", "Lower", "Upper"]

__all__ = ["read", "read_data", "write", "ports", "TouchstoneData", "NoiseData", "TouchstoneError"]


@dataclass(frozen=True)
class NoiseData:
    """Two-port noise parameters, one value per noise frequency.

    Attributes
    ----------
    f : ndarray [m]
        Noise frequencies, Hz.
    nfmin_db : ndarray [m]
        Minimum noise figure, dB.
    gamma_opt : ndarray [m], complex
        Source reflection coefficient giving the minimum noise figure.
    rn : ndarray [m]
        Effective noise resistance, ohm (version 1 files give it normalised
        to port 1's reference impedance; it is given here in ohm).
    """

    f: np.ndarray
    nfmin_db: np.ndarray
    gamma_opt: np.ndarray
    rn: np.ndarray


@dataclass(frozen=True)
class TouchstoneData:
    """Everything a Touchstone file holds.

    Attributes
    ----------
    f : ndarray [n]
        Frequencies, Hz.
    s : ndarray [n, p, p], complex
        S-parameters (converted from the file's parameters if those are Y,
        Z, H or G), referenced to `z0`.
    z0 : ndarray [p]
        Reference impedance of each port, ohm.
    parameter : {'S', 'Y', 'Z', 'H', 'G'}
        The network parameters as the file holds them.
    version : {'1.0', '1.1', '2.0', '2.1'}
        1.1 is a version 1 file with one reference impedance per port on its
        option line.
    noise : NoiseData or None
        The file's two-port noise parameters.
    comments : str
        The comment lines, without their "!", one a line.
    format : {'RI', 'MA', 'DB'}
        How the file writes its complex numbers.
    unit : str
        The frequency unit as written.
    """

    f: np.ndarray
    s: np.ndarray
    z0: np.ndarray
    parameter: ParameterKind
    version: Version
    noise: NoiseData | None
    comments: str
    format: Format
    unit: str

    def to_network(self, name: str | None = None):
        """The data as a scikit-rf Network (noise parameters not included).

        Only valid for data read in the e^{jwt} (engineering) convention,
        the convention of every Network."""
        import skrf

        net = skrf.Network(frequency=skrf.Frequency.from_f(self.f, unit="Hz"), s=self.s, z0=self.z0, name=name)
        net.frequency.unit = self.unit if self.unit.lower() != "hz" else "Hz"
        return net


def read(path, *, convention: Convention = "engineering") -> tuple[np.ndarray, np.ndarray, np.ndarray]:
    """Frequencies, S-parameters and reference impedances of a Touchstone file.

    Parameters
    ----------
    path : str or os.PathLike
        A Touchstone file of version 1.0 or 1.1 (named .sNp for N ports) or
        2.0 or 2.1 (any name; .ts by custom), of any port count.
    convention : {'engineering', 'board'}
        Files hold the e^{jwt} convention; 'board' gives the values in the
        QLM-417's own (their conjugates).

    Returns
    -------
    f : ndarray [n]
        Frequencies, Hz.
    s : ndarray [n, p, p], complex
        S-parameters referenced to `z0`.
    z0 : ndarray [p]
        Reference impedance of each port, ohm.

    Raises
    ------
    TouchstoneError
        A malformed file (naming it and the line), or one that is not a
        regular file or larger than 256 MiB.
    OSError
        A file that cannot be opened or read.

    Examples
    --------
    >>> import os, tempfile
    >>> path = os.path.join(tempfile.mkdtemp(), "line.s2p")
    >>> f = np.array([1e9, 2e9])
    >>> thru = np.array([[[0, 1], [1, 0]]]) * np.exp(-2j * np.pi * f * 100e-12)[:, None, None]
    >>> write(path, f, thru, version="2.0")
    >>> f_read, s, z0 = read(path)
    >>> np.allclose(s, thru), z0
    (True, array([50., 50.]))
    """
    f, s, z0 = _native.read_touchstone(os.fspath(path))
    return f, in_convention(s, convention), z0


def read_data(path, *, convention: Convention = "engineering") -> TouchstoneData:
    """Everything a Touchstone file holds: `read`'s values, the parameter kind,
    version, format and unit as written, the comments and the noise data.

    Parameters and errors are those of `read`; ``convention="board"``
    conjugates the noise parameters' reflection coefficient too.
    """
    d = _native.read_touchstone_data(os.fspath(path))
    noise = d["noise"]
    if noise is not None:
        noise = NoiseData(f=noise["f"], nfmin_db=noise["nfmin_db"],
                          gamma_opt=in_convention(noise["gamma_opt"], convention), rn=noise["rn"])
    comments = d["comments"][:-1] if d["comments"].endswith("\n") else d["comments"]
    return TouchstoneData(f=d["f"], s=in_convention(d["s"], convention), z0=d["z0"], parameter=d["parameter"],
                          version=d["version"], noise=noise, comments=comments, format=d["format"], unit=d["unit"])


def ports(path) -> int:
    """The port count of a Touchstone file, from its name (version 1) or its
    header (version 2), without reading its data."""
    name = os.fspath(path)
    ext = os.path.splitext(name)[1].lower()
    if len(ext) >= 4 and ext[1] in "syzhg" and ext[-1] == "p" and ext[2:-1].isdigit() and ext[2] != "0":
        return int(ext[2:-1])       # a version 2 file named so is held to it by the reader
    return _native.read_touchstone_header(name)[0]


def write(path, f, s=None, *, version: Version = "1.1", z0=None, parameter: ParameterKind = "S",
          format: Format = "RI", unit: Unit = "Hz", comment: str = "", convention: Convention = "engineering",
          matrix_format: MatrixFormat = "Full", noise: NoiseData | None = None) -> None:
    """Writes S-parameters as a Touchstone file, whole or not at all.

    Parameters
    ----------
    path : str or os.PathLike
        The file: named .sNp (N ports) for versions 1.0 and 1.1; any name
        (.ts by custom) for 2.0 and 2.1.
    f : ndarray [n] or skrf.Network
        Frequencies in Hz, increasing; or a Network, which gives f, s and
        (unless `z0` is given) z0.
    s : ndarray [n, p, p] or [n], complex
        S-parameters ([n] for a one-port); omitted with a Network.
    version : {'1.1', '1.0', '2.0', '2.1'}
        1.1 writes one reference impedance per port on the option line when
        they differ, and is 1.0 otherwise; 2.x write [Reference].
    z0 : float or array_like [p], optional
        Reference impedance (ohm) of all ports, or of each; default 50 for
        arrays. A Network is renormalised to a `z0` given, and otherwise
        written with its own (real, the same at every frequency).
    parameter : {'S', 'Y', 'Z', 'H', 'G'}
        The network parameters to write (H and G: two-ports); version 1
        normalises Y, Z, H and G to the reference impedance, version 2 does not.
    format : {'RI', 'MA', 'DB'}
        Real/imaginary (every value exact), magnitude/angle or dB/angle.
    unit : {'Hz', 'kHz', 'MHz', 'GHz'}
        The frequency unit written.
    comment : str
        Written as comment lines at the top.
    convention : {'engineering', 'board'}
        Files hold the e^{jwt} convention; data in the QLM-417's own say
        'board' and are conjugated. A Network is in e^{jwt} by definition.
    matrix_format : {'Full', 'Lower', 'Upper'}
        Lower and Upper (versions 2.x) write one triangle of a symmetric
        matrix; s must be exactly symmetric.
    noise : NoiseData, optional
        Two-port noise parameters (`read_data` gives them), written after
        the network data.

    Raises
    ------
    ValueError
        For anything the reader would refuse or could not read back as
        given (naming the argument), and nothing is written.
    OSError
        When the file cannot be written (nothing is left behind).
    """
    net = given_network(f, s, convention)
    if net is not None:
        if z0 is not None:
            net = net.copy()
            net.renormalize(np.broadcast_to(np.asarray(z0, float), (net.nports,)))
        ref = np.asarray(net.z0)
        if np.any(ref.imag != 0) or np.any(ref != ref[:1]):
            raise ValueError("the Network's reference impedances are complex or vary with frequency; give z0= to "
                             "write it renormalised to real ones")
        f, s, z0 = net.f, net.s, ref[0].real
    elif s is None:
        raise TypeError("s is missing: give a Network, or the frequencies f (Hz) and s")
    s = numbers(s, "s")
    if s.ndim == 1:
        s = s[:, None, None]
    s = in_convention(s.astype(complex, copy=False), convention)
    noise_args: dict[str, Any] = {}
    if noise is not None:
        noise_args = dict(noise_f=np.asarray(noise.f, float), noise_nfmin_db=np.asarray(noise.nfmin_db, float),
                          noise_gamma_opt=in_convention(np.asarray(noise.gamma_opt, complex), convention),
                          noise_rn=np.asarray(noise.rn, float))
    _native.write_touchstone(os.fspath(path), np.asarray(f, float), s, np.asarray(50.0 if z0 is None else z0, float),
                             unit, comment, version, parameter, format, matrix_format, **noise_args)
