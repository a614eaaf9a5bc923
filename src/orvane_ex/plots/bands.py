"""Values with their uncertainty: shaded coverage bands."""
from __future__ import annotations

from collections.abc import Sequence

import numpy as np

from ._figure import fig_of, legend_beside
from ._traces import frequency_scale

# coverage probability of k standard uncertainties, for a normal distribution
_COVERAGE = {1: "68 %", 2: "95 %", 3: "99.7 %"}


def _checked(name, x, n):
    x = np.asarray(x)
    if x.shape != (n,):
        raise ValueError(f"{name} must have one value per frequency point ({n}), not shape {x.shape}")
    if not np.all(np.isfinite(x)):
        raise ValueError(f"{name} holds values that are not finite")
    return x


def uncertainty_band(f, value, *, u=None, lower=None, upper=None, k: float | Sequence[float] = (1, 2),
                     scale: str = "db", label: str | None = None, ylabel: str | None = None, ax=None,
                     color=None):
    """A value against frequency with shaded bands of its uncertainty.

    Either standard uncertainties `u`, drawn as bands value +- k u for each
    coverage factor in `k` (darkest for the smallest), or explicit `lower`
    and `upper` bounds, drawn as one band.

    Parameters
    ----------
    f : array_like
        Frequencies (Hz).
    value : array_like
        The values [n]; complex values are taken by magnitude.
    u : array_like, optional
        Standard uncertainty of each value [n] (>= 0), in the units of the
        value (of its magnitude, for complex values).
    lower, upper : array_like, optional
        Or the band's bounds [n], in the units of the value.
    k : float or sequence of float
        Coverage factors to draw with `u` (default 1 and 2: about 68 % and
        95 % for a normal distribution).
    scale : {'db', 'linear'}
        'db': the value and its band are drawn as 20 log10 of the
        magnitude (a lower bound at or below zero goes to the bottom of the
        axes); 'linear': as given.
    label : str, optional
        The value's legend entry.
    ylabel : str, optional
        The y axis label (default: magnitude in dB, or none).
    ax : matplotlib.axes.Axes, optional
        Draw here instead of in a new figure.
    color : optional
        Colour of the line and its bands.

    Returns
    -------
    matplotlib.figure.Figure
    """
    if scale not in ("db", "linear"):
        raise ValueError(f"scale must be 'db' or 'linear', not {scale!r}")
    f = np.asarray(f, dtype=float)
    if f.ndim != 1 or len(f) < 1 or not np.all(np.isfinite(f)):
        raise ValueError("f must be a 1-D array of finite frequencies (Hz)")
    n = len(f)
    v = _checked("value", value, n)
    v = np.abs(v) if np.iscomplexobj(v) or scale == "db" else v.astype(float)
    if (u is None) == (lower is None and upper is None):
        raise ValueError("give either u (standard uncertainties) or lower and upper bounds")
    if u is not None:
        u = _checked("u", u, n).astype(float)
        if np.any(u < 0):
            raise ValueError("u: standard uncertainties cannot be negative")
        ks = sorted([float(k)] if isinstance(k, (int, float, np.number)) else [float(x) for x in k])
        if not ks or any(not (x > 0 and np.isfinite(x)) for x in ks):
            raise ValueError(f"k must be positive coverage factors, not {k!r}")
        bands: list[tuple[float | None, np.ndarray, np.ndarray]] = [(x, v - x * u, v + x * u) for x in ks]
    else:
        if lower is None or upper is None:
            raise ValueError("give both lower and upper bounds")
        lo, hi = _checked("lower", lower, n).astype(float), _checked("upper", upper, n).astype(float)
        if np.any(lo > hi):
            raise ValueError("lower bounds must not lie above the upper ones")
        bands = [(None, lo, hi)]

    fig, ax = fig_of(ax)
    div, unit = frequency_scale(f)
    x = f / div
    if scale == "db":
        def shown_of(m):
            with np.errstate(divide="ignore"):
                return np.where(m > 0, 20 * np.log10(np.where(m > 0, m, 1.0)), -np.inf)

        shown = shown_of(v)
        drawn = [(kk, shown_of(lo), shown_of(hi)) for kk, lo, hi in bands]
        # a band reaching zero magnitude goes down to a floor below everything else drawn
        finite = np.concatenate([a[np.isfinite(a)] for _, lo, hi in drawn for a in (lo, hi)] + [shown[np.isfinite(shown)]])
        floor = (float(np.min(finite)) if finite.size else 0.0) - 10.0
        drawn = [(kk, np.maximum(lo, floor), np.maximum(hi, floor)) for kk, lo, hi in drawn]
        shown = np.maximum(shown, floor)
    else:
        shown, drawn = v, bands
    (line,) = ax.plot(x, shown, color=color, label=label, zorder=3)
    color = line.get_color()
    for idx, (kk, low, top) in enumerate(drawn):
        text = "bounds" if kk is None else f"k = {kk:g}" + (f" ({_COVERAGE[int(kk)]})" if kk in _COVERAGE else "")
        ax.fill_between(x, low, top, color=color, alpha=0.35 / (1 + idx), lw=0, label=text, zorder=2 - idx * 0.01)
    ax.set_xlabel(f"Frequency ({unit})")
    if ylabel is not None:
        ax.set_ylabel(ylabel)
    elif scale == "db":
        ax.set_ylabel("Magnitude (dB)")
    ax.grid(True, alpha=0.4)
    legend_beside(ax)
    return fig
