"""The calibration file: one .npz archive that numpy alone reads
(``np.load(path, allow_pickle=False)``) and that loads without executing
anything. ``docs/calibration-files.md`` documents its entries.

`read` is the one validator of these files. Every file is hostile until
checked: the archive's member list and declared sizes are checked against
what the format allows before anything is decompressed, each array's header
(dtype, shape, size) before its data is read, and then every field's type,
dtype, shape and finiteness. Whatever is wrong, the error is a
`CalibrationFileError` naming the file. `write` refuses to write what `read`
would refuse.
"""
from __future__ import annotations

import contextlib
import io
import json
import math
import os
import re
import stat
import struct
import zipfile
from typing import Callable, Mapping

import numpy as np

from .._common.atomic import written_whole

FORMAT = "orvane_ex calibration"
# 2: calibrations may keep the covariance of their error terms (uncertainty.<influence>)
VERSION = 2

__all__ = ["CalibrationFileError", "FORMAT", "VERSION", "read", "write", "LIMITS"]

# What a calibration file may hold, far beyond any real one (a twelve-term
# calibration of 100,001 points with its standards is about 45 MB).
LIMITS = {
    "members": 128,                 # arrays in the archive
    "points": 2_000_000,            # frequency points
    "values_per_point": 64,         # of one term or standard
    "covariance_size": 48,          # real values of the error terms whose covariance is kept
    "meta_chars": 1 << 20,          # the JSON meta
    "total_bytes": 256 << 20,       # declared size of all members together, uncompressed
    "json_depth": 32,
}
_HEADER_BYTES = 4096                # a .npy header (numpy writes 128 bytes)
_ENTRY = re.compile(r"(format|version|meta|f|port_extension\.e10e01|(?:term|standard|uncertainty)\.[A-Za-z0-9_-]{1,64})"
                    r"\.npy")
_META_FIELDS = {"method", "created", "notes", "kit", "port_extension", "parameters", "convention", "budget"}

# The error terms a method has: {name: shape of one point's value (None: any)}, or None for an unknown method.
# A shape given as OptionalTerm(...) is a term the method may hold, or not.
TermsOf = Callable[[str], "Mapping[str, tuple | None] | None"]


class OptionalTerm(tuple):
    """The shape of an error term a calibration may hold, or not."""


class AnyShape(OptionalTerm):
    """An error term a calibration may hold, or not, of any shape past its
    first axis (one value per standard, say)."""


ANY_SHAPE = AnyShape()


class CalibrationFileError(ValueError):
    """A calibration file that cannot be loaded; the message names the file."""


class _Invalid(ValueError):
    """What is wrong, without the file's name."""


def _damaged(why: str) -> _Invalid:
    return _Invalid(f"damaged or not a calibration file ({why})")


# -- writing -------------------------------------------------------------------

def write(path, arrays: dict, meta: dict, *, terms: Mapping) -> None:
    """Writes the entries `arrays` and the JSON `meta` (whole or not at all,
    fsynced). `terms`, the method's error terms as `read`'s `terms_of` gives
    them, checks the terms as loading will; ValueError names what `read` would
    refuse, before anything is written."""
    arrays = {k: _stored(k, v) for k, v in arrays.items()}
    try:
        text = json.dumps(meta, allow_nan=False)
        _check_meta(json.loads(text), lambda method: terms)
        _check_arrays(arrays, meta, terms)
    except (_Invalid, TypeError, ValueError) as e:
        raise ValueError(f"{os.fspath(path)}: cannot be saved as a calibration: {e}") from None
    # files without uncertainty stay readable by the releases before it
    version = VERSION if any(k.startswith("uncertainty.") for k in arrays) else 1
    entries = {"format": np.array(FORMAT), "version": np.array(version), "meta": np.array(text), **arrays}
    with written_whole(path) as fp:
        np.savez(fp, **entries)


def _stored(name: str, value) -> np.ndarray:
    """Real values as float64, complex ones as complex128: the dtypes a file holds."""
    value = np.asarray(value)
    if value.dtype.kind in "biuf":
        return value.astype(np.float64)
    if value.dtype.kind == "c":
        return value.astype(np.complex128)
    raise ValueError(f"{name}: values of dtype {value.dtype} cannot be saved; numbers are needed")


# -- reading -------------------------------------------------------------------

def read(path, *, terms_of: TermsOf) -> tuple[dict, dict]:
    """(arrays, meta) of a calibration file, everything in it validated.

    terms_of(method) gives the method's error terms ({name: shape of one
    point}) or None for a method this version does not know. Raises
    CalibrationFileError naming the file for anything damaged or invalid;
    FileNotFoundError if there is no file.
    """
    path = os.fspath(path)
    try:
        with _open_regular(path) as fp:
            return _read(fp, terms_of)
    except FileNotFoundError:
        raise
    except _Invalid as e:
        raise CalibrationFileError(f"{path}: {e}") from None
    except OSError as e:
        raise CalibrationFileError(f"{path}: cannot be read ({e.strerror or e})") from None
    except Exception as e:  # noqa: BLE001
        # damage no check above names (a bad CRC, a broken deflate stream, ...): still
        # this file's fault, reported as such; the cause stays chained
        raise CalibrationFileError(f"{path}: damaged or not a calibration file ({type(e).__name__}: {e})") from e


@contextlib.contextmanager
def _open_regular(path: str):
    fd = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    try:
        if not stat.S_ISREG(os.fstat(fd).st_mode):
            raise _Invalid("not a regular file")
        fp = os.fdopen(fd, "rb")
    except BaseException:
        os.close(fd)
        raise
    with fp:
        yield fp


def _read(fp, terms_of: TermsOf) -> tuple[dict, dict]:
    _check_end_record(fp)
    with zipfile.ZipFile(fp) as zf:
        members = _check_members(zf)
        arrays = {name: _array(zf, info) for name, info in members.items() if name in ("format", "version")}
        if arrays["format"].dtype.kind != "U" or arrays["format"].shape != () or str(arrays["format"]) != FORMAT:
            raise _Invalid("not a calibration file (no 'format' entry naming one)")
        _check_version(arrays.pop("version"))
        del arrays["format"]
        meta = _parse_meta(_array(zf, members["meta"]))
        terms = _check_meta(meta, terms_of)
        f = _array(zf, members["f"], lambda shape, dtype: _check_f_header(shape, dtype))
        n = len(f)
        arrays["f"] = f
        for name, info in members.items():
            if name not in ("format", "version", "meta", "f"):
                arrays[name] = _array(zf, info, lambda shape, dtype, name=name: _check_header(name, shape, dtype,
                                                                                              n, terms))
    _check_arrays(arrays, meta, terms)
    return arrays, meta


def _check_end_record(fp) -> None:
    """The archive's member count, from its end record, before the central
    directory is parsed (100,000 tiny members must be refused at once)."""
    head = fp.read(64)
    size = os.fstat(fp.fileno()).st_size
    tail_size = min(size, 22 + 0xFFFF)
    fp.seek(size - tail_size)
    tail = fp.read(tail_size)
    fp.seek(0)
    at = tail.rfind(b"PK\x05\x06")
    if at < 0 or len(tail) - at < 22:
        if head.lstrip(b"\xef\xbb\xbf \t\r\n")[:1] in (b"!", b"#"):
            raise _Invalid("a Touchstone file, not a calibration file (a .npz archive that cal.save and "
                           "orvane-cal build write)")
        raise _damaged("not a whole zip archive")
    (count,) = struct.unpack("<H", tail[at + 10: at + 12])
    (directory,) = struct.unpack("<I", tail[at + 12: at + 16])
    if count > LIMITS["members"]:
        raise _damaged(f"{count} members, more than a calibration file holds ({LIMITS['members']})")
    if directory > LIMITS["members"] * (46 + 3 * 0xFFFF):
        raise _damaged("a central directory larger than its members need")


def _check_members(zf: zipfile.ZipFile) -> dict:
    """{entry: ZipInfo}, the names, compression and declared sizes checked
    before any member is read."""
    infos = zf.infolist()
    if len(infos) > LIMITS["members"]:
        raise _damaged(f"{len(infos)} members, more than a calibration file holds ({LIMITS['members']})")
    names = [info.filename for info in infos]
    if "format.npy" not in names:
        raise _Invalid("not a calibration file (no 'format' entry naming one)")
    members = {}
    total = 0
    for info in infos:
        m = _ENTRY.fullmatch(info.filename)
        if not m:
            raise _Invalid(f"not a valid calibration (unknown entry {info.filename!r})")
        name = m.group(1)
        if name in members:
            raise _damaged(f"entry {name} appears twice")
        if info.flag_bits & 0x1:
            raise _damaged(f"entry {name} is encrypted")
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            raise _damaged(f"entry {name}: compression method {info.compress_type}, not one numpy writes")
        if info.file_size > _largest(name):
            raise _damaged(f"entry {name} declares {info.file_size} bytes, more than it can hold")
        total += info.file_size
        members[name] = info
    if total > LIMITS["total_bytes"]:
        raise _damaged(f"its members declare {total} bytes, more than a calibration file holds")
    for name in ("version", "meta", "f"):
        if name not in members:
            raise _Invalid(f"not a valid calibration (no {name!r} entry)")
    return members


def _largest(name: str) -> int:
    if name in ("format", "version"):
        return _HEADER_BYTES + 4 * 64
    if name == "meta":
        return _HEADER_BYTES + 4 * LIMITS["meta_chars"]
    if name == "f":
        return _HEADER_BYTES + 8 * LIMITS["points"]
    if name.startswith("uncertainty."):
        return _HEADER_BYTES + 8 * LIMITS["covariance_size"] ** 2 * LIMITS["points"]
    return _HEADER_BYTES + 16 * LIMITS["values_per_point"] * LIMITS["points"]


def _array(zf: zipfile.ZipFile, info: zipfile.ZipInfo, check_header=None) -> np.ndarray:
    """One member's array: its .npy header read and checked (dtype, shape and
    the size they imply against the size declared) before its data is."""
    name = info.filename[:-4]
    with zf.open(info) as fp:
        head = fp.read(min(info.file_size, 12 + _HEADER_BYTES))
        header = io.BytesIO(head)
        try:
            version = np.lib.format.read_magic(header)
            if version == (1, 0):
                shape, fortran, dtype = np.lib.format.read_array_header_1_0(header, max_header_size=_HEADER_BYTES)
            elif version == (2, 0):
                shape, fortran, dtype = np.lib.format.read_array_header_2_0(header, max_header_size=_HEADER_BYTES)
            else:
                raise ValueError(f".npy format {version[0]}.{version[1]}")
        except Exception as e:      # noqa: BLE001 (numpy's header parser raises what its tokenizer raises)
            raise _damaged(f"entry {name}: not a numpy array ({type(e).__name__}: {e})") from None
        if any(d < 0 for d in shape):
            raise _damaged(f"entry {name}: a negative dimension in its shape {shape}")
        if dtype.hasobject or dtype.fields is not None or dtype.kind not in "biufcU" or dtype.subdtype is not None:
            raise _Invalid(f"not a valid calibration (entry {name} holds values of dtype {dtype}, not numbers)")
        if check_header is not None:
            check_header(shape, dtype)
        start = header.tell()
        nbytes = math.prod(shape) * dtype.itemsize
        if start + nbytes != info.file_size:
            raise _damaged(f"entry {name}: its header declares {shape} {dtype} ({nbytes} bytes), its data is "
                           f"{info.file_size - start} bytes")
        data = head[start:] + fp.read(nbytes - (len(head) - start))
        if len(data) != nbytes:
            raise _damaged(f"entry {name} is truncated")
        fp.read(1)                          # at the end: zipfile checks the CRC
    values = np.frombuffer(data, dtype).reshape(shape, order="F" if fortran else "C")
    return values.astype(dtype.newbyteorder("="), order="C")


def _check_version(value: np.ndarray) -> None:
    if value.dtype.kind not in "iu" or value.shape != ():
        raise _Invalid(f"not a valid calibration (its version is {value.dtype} {value.shape}, not an integer)")
    version = int(value)
    if version > VERSION:
        raise _Invalid(f"written in calibration format {version} by a newer orvane_ex; this version reads "
                       f"format {VERSION} and older")
    if version < 1:
        raise _Invalid(f"not a valid calibration (format version {version})")


def _parse_meta(value: np.ndarray) -> dict:
    if value.dtype.kind != "U" or value.shape != ():
        raise _Invalid(f"not a valid calibration (its meta is {value.dtype} {value.shape}, not JSON text)")

    def constant(name):
        raise _Invalid(f"not a valid calibration (meta holds {name}, not a number)")

    def finite(text):
        x = float(text)
        if not math.isfinite(x):
            raise _Invalid(f"not a valid calibration (meta holds {text}, beyond the range of numbers)")
        return x

    try:
        meta = json.loads(str(value), parse_constant=constant, parse_float=finite)
    except RecursionError:
        raise _Invalid("not a valid calibration (meta nests deeper than JSON meta does)") from None
    except json.JSONDecodeError as e:
        raise _Invalid(f"not a valid calibration (meta is not JSON: {e})") from None
    except (ValueError, TypeError) as e:
        if isinstance(e, _Invalid):
            raise
        raise _Invalid(f"not a valid calibration (meta: {e})") from None
    return meta


def _depth(value, limit: int) -> bool:
    """Whether a JSON value nests no deeper than `limit`."""
    if limit < 0:
        return False
    if isinstance(value, dict):
        return all(_depth(v, limit - 1) for v in value.values())
    if isinstance(value, list):
        return all(_depth(v, limit - 1) for v in value)
    return True


def _check_meta(meta, terms_of: TermsOf) -> Mapping:
    """The method's terms; every meta field's type checked."""
    def bad(why):
        return _Invalid(f"not a valid calibration (meta: {why})")

    if not isinstance(meta, dict):
        raise bad(f"a JSON {type(meta).__name__}, not an object")
    unknown = sorted(set(meta) - _META_FIELDS)
    if unknown:
        raise bad(f"unknown field {unknown[0]!r}")
    for field in ("method", "created"):
        if field not in meta:
            raise bad(f"no {field!r}")
    for field in ("method", "created", "notes"):
        if field in meta and not isinstance(meta[field], str):
            raise bad(f"{field} is {meta[field]!r}, not a string")
    for field in ("kit", "parameters", "budget"):
        value = meta.get(field)
        if value is not None and not isinstance(value, dict):
            raise bad(f"{field} is {value!r:.60}, not an object")
        if not _depth(value, LIMITS["json_depth"]):
            raise bad(f"{field} nests deeper than {LIMITS['json_depth']} levels")
    kit = meta.get("kit")
    if kit is not None and not isinstance(kit.get("name", ""), str):
        raise bad(f"kit name is {kit['name']!r:.60}, not a string")
    if meta.get("convention", "board") not in ("board", "engineering"):
        raise bad(f"convention is {meta['convention']!r:.60}, not 'board' or 'engineering'")
    extension = meta.get("port_extension")
    if extension is not None and (type(extension) is not int or extension not in (1, 2)):
        raise bad(f"port_extension is {extension!r:.60}, not 1, 2 or null")
    terms = terms_of(meta["method"])
    if terms is None:
        raise _Invalid(f"unknown calibration method {meta['method']!r:.60}")
    return terms


def _check_f_header(shape: tuple, dtype: np.dtype) -> None:
    if dtype.kind != "f" or dtype.itemsize != 8 or len(shape) != 1 or not 1 <= shape[0] <= LIMITS["points"]:
        raise _Invalid(f"not a valid calibration (f is {dtype} {shape}; frequencies are float64 [n], "
                       f"1 <= n <= {LIMITS['points']})")


def _value_kinds_ok(dtype: np.dtype) -> bool:
    return (dtype.kind == "f" and dtype.itemsize == 8) or (dtype.kind == "c" and dtype.itemsize == 16)


def _expected_shape(name: str, n: int, terms: Mapping) -> tuple | None:
    """The shape entry `name` must have on n points, or None when only its first axis is fixed."""
    if name.startswith("term."):
        per_point = terms.get(name[5:], ())
        return None if per_point is None or isinstance(per_point, AnyShape) else (n, *per_point)
    if name == "port_extension.e10e01":
        return (n,)
    return None


def _check_header(name: str, shape: tuple, dtype: np.dtype, n: int, terms: Mapping) -> None:
    """A term or standard, by its header: before its data is read."""
    if name.startswith("term.") and name[5:] not in terms:
        raise _Invalid(f"not a valid calibration (unknown error term {name[5:]!r}; this method has "
                       f"{', '.join(terms)})")
    if not _value_kinds_ok(dtype):
        raise _Invalid(f"not a valid calibration ({_what(name)} holds {dtype}, not float64 or complex128)")
    _check_shape(name, shape, n, terms)


def _check_shape(name: str, shape: tuple, n: int, terms: Mapping) -> None:
    if name.startswith("uncertainty."):
        size = LIMITS["covariance_size"]
        if len(shape) != 3 or shape[0] != n or shape[1] != shape[2] or shape[1] % 2 or not 0 < shape[1] <= size:
            raise _Invalid(f"not a valid calibration ({_what(name)} has shape {shape}; a covariance on {n} points "
                           f"is [{n}, m, m], m even, at most {size})")
        return
    expected = _expected_shape(name, n, terms)
    if expected is not None and shape != expected:
        raise _Invalid(f"not a valid calibration ({_what(name)} has shape {shape}, expected {expected})")
    if not shape or shape[0] != n or len(shape) > 4 or math.prod(shape[1:]) > LIMITS["values_per_point"]:
        raise _Invalid(f"not a valid calibration ({_what(name)} has shape {shape}; the grid has {n} points)")


def _what(name: str) -> str:
    kind, _, rest = name.partition(".")
    return {"term": f"error term {rest!r}", "standard": f"standard {rest!r}",
            "uncertainty": f"the {rest!r} covariance"}.get(kind, name)


def _check_arrays(arrays: dict, meta: dict, terms: Mapping) -> None:
    """Every array's dtype, shape and finiteness, the terms against the
    method's, the port extension against the meta: what loading needs."""
    def bad(why):
        return _Invalid(f"not a valid calibration ({why})")

    f = arrays.get("f")
    if f is None:
        raise bad("no 'f' entry")
    _check_f_header(f.shape, f.dtype)
    if not np.isfinite(f).all():
        raise bad("f holds frequencies that are not finite")
    if (np.diff(f) <= 0).any():
        raise bad("f does not increase")
    n = len(f)
    method = meta.get("method", "")
    names = {k[5:] for k in arrays if k.startswith("term.")}
    for name, shape in terms.items():
        if name not in names and not isinstance(shape, OptionalTerm):
            raise bad(f"{method}: missing error term {name!r}")
    for name in sorted(names - set(terms)):
        raise bad(f"unknown error term {name!r}; this method has {', '.join(terms)}")
    for key, value in arrays.items():
        if key == "f":
            continue
        kind, _, name = key.partition(".")
        if not _ENTRY.fullmatch(key + ".npy") or key in ("format", "version", "meta"):
            raise bad(f"unknown entry {key!r}")
        if not _value_kinds_ok(value.dtype):
            raise bad(f"{_what(key)} holds {value.dtype}, not float64 or complex128")
        _check_shape(key, value.shape, n, terms)
        if not np.isfinite(value).all():
            raise bad(f"{_what(key)} holds values that are not finite")
    if (meta.get("port_extension") is None) != ("port_extension.e10e01" not in arrays):
        raise bad("the port extension's meta and its e10e01 entry disagree")
