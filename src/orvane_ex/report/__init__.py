"""Calibration reports: one self-contained HTML page per calibration.

`write_report(cal, path, ...)` (and `cal.report(path, ...)`) writes what was
calibrated (method, kit, grid, date, notes, the package's version), the error
terms by their field names in dB against frequency, residuals where the
model keeps them, TRL's conditioning and effective permittivity, the
uncertainty budget, each device corrected (with its uncertainty bands when a
budget is known) and verification results with their E_n. The page needs
nothing but a browser: figures are embedded SVG, no script, no font and no
network; it prints on A4 or letter paper.
"""
from __future__ import annotations

import os

from .._common.atomic import written_whole
from .devices import devices as _devices

__all__ = ["write_report"]


def write_report(cal, path, *, devices=None, verification=None, budget=None, title: str | None = None,
                 interpolate: str | None = None, extra_facts=()) -> str:
    """Writes the calibration's report as one HTML file.

    Parameters
    ----------
    cal : Calibration
        Any calibration of `orvane_ex.calibration`.
    path : str or path-like
        The HTML file. It appears whole or not at all: if anything fails,
        no file is written (and an older one is left as it was).
    devices : mapping, sequence or one item, optional
        Raw measurements of devices to show corrected: a mapping of names to
        arrays [n, p, p] (in the calibration's convention, on its grid),
        scikit-rf Networks or Touchstone files (e^{jwt}); or a sequence of
        Networks or files, named by their names.
    verification : sequence, optional
        Verification results (`orvane_ex.uncertainty.verification.verify`
        gives them), or anything with `name`, `frequency` (Hz), `en`
        ([n, p, p] or [n]), `passed` and `table()`.
    budget : Budget, dict or path, optional
        The uncertainty budget for the devices' bands (a `Budget`, the dict
        of a budget file, or the file); by default the calibration's own, if
        it keeps one (or only the uncertainty of its terms, if it keeps no
        budget).
    title : str, optional
        The page's title (default "Calibration report: <method>").
    interpolate : {'linear', 'cubic'}, optional
        Correct devices on another grid inside the calibrated span with the
        terms interpolated onto it; otherwise they must be on the
        calibration's grid.
    extra_facts : sequence of (str, str), optional
        More rows for the description of the calibration (the files it was
        read from, ...).

    Returns
    -------
    str
        The path written.
    """
    from . import document

    path = os.fspath(path)
    if interpolate not in (None, "linear", "cubic"):
        raise ValueError(f"interpolate must be 'linear', 'cubic' or None, not {interpolate!r}")
    if budget is not None:
        from ..uncertainty import Budget

        if isinstance(budget, dict):
            budget = Budget.from_dict(budget)
        elif isinstance(budget, (str, os.PathLike)):
            budget = Budget.load(budget)
        elif not isinstance(budget, Budget):
            raise TypeError(f"budget must be a Budget, its dict or a budget file, not {type(budget).__name__}")
    found = _devices(devices, cal)
    inputs = [d.path for d in found if d.path]
    for source in inputs:
        if os.path.exists(path) and os.path.samefile(source, path):
            raise ValueError(f"{path} would replace the input {source}; choose another output")
    results = list(verification or [])
    text = document.build(cal, found, results, budget, title=title, interpolate=interpolate,
                          extra_facts=extra_facts)
    with written_whole(path, "w", encoding="utf-8", newline="\n") as fp:
        fp.write(text)
    return path
