"""The calibration file: one .npz archive that numpy alone reads
(``np.load(path, allow_pickle=False)``) and that loads without executing
anything. ``docs/calibration-files.md`` documents its entries."""
from __future__ import annotations

import json
import os
import zipfile

import numpy as np

from .._common.atomic import written_whole

FORMAT = "orvane_ex calibration"
VERSION = 1

__all__ = ["CalibrationFileError", "FORMAT", "VERSION", "read", "write"]


class CalibrationFileError(ValueError):
    """A calibration file that cannot be loaded; the message names the file."""


def write(path, arrays: dict, meta: dict) -> None:
    """Writes the entries `arrays` and the JSON `meta` (whole or not at all)."""
    entries = {"format": np.array(FORMAT), "version": np.array(VERSION), "meta": np.array(json.dumps(meta)),
               **arrays}
    with written_whole(path) as fp:
        np.savez(fp, **entries)


def read(path) -> tuple[dict, dict]:
    """(arrays, meta) of a calibration file, its format and version checked."""
    path = os.fspath(path)
    try:
        with np.load(path, allow_pickle=False) as z:
            arrays = {k: z[k] for k in z.files}
    except FileNotFoundError:
        raise
    except (zipfile.BadZipFile, ValueError, OSError, EOFError, KeyError) as e:
        raise CalibrationFileError(f"{path}: damaged or not a calibration file ({e})") from None
    try:
        if str(arrays.get("format", "")) != FORMAT:
            raise CalibrationFileError("not a calibration file (no 'format' entry naming one)")
        version = int(arrays.pop("version"))
        if version > VERSION:
            raise CalibrationFileError(f"written in calibration format {version} by a newer orvane_ex; this "
                                       f"version reads format {VERSION} and older")
        meta = json.loads(str(arrays.pop("meta")))
        del arrays["format"]
    except CalibrationFileError as e:
        raise CalibrationFileError(f"{path}: {e}") from None
    except (ValueError, TypeError, KeyError) as e:
        raise CalibrationFileError(f"{path}: not a valid calibration ({e})") from None
    return arrays, meta
