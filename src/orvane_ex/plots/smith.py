"""Reflections on a Smith chart (scikit-rf's grid)."""
from __future__ import annotations

import numpy as np

from .._common.network import is_network
from ._figure import fig_of, legend_beside

_CHARTS = {"impedance": "z", "admittance": "y", "both": "zy"}


def _reflections(traces, labels, convention):
    items = traces if isinstance(traces, (list, tuple)) else [traces]
    if labels is not None:
        labels = [labels] if isinstance(labels, str) else list(labels)
        if len(labels) != len(items):
            raise ValueError(f"{len(labels)} labels for {len(items)} traces")
    out = []
    for k, item in enumerate(items):
        given = labels[k] if labels is not None else None
        if is_network(item):
            s = np.asarray(item.s)
            for i in range(s.shape[1]):
                name = given or item.name or None
                if s.shape[1] > 1:
                    name = f"{name} S{i + 1}{i + 1}" if name else f"S{i + 1}{i + 1}"
                out.append((s[:, i, i], name))
            continue
        g = np.asarray(item)
        if g.dtype == object or not np.issubdtype(g.dtype, np.number) or g.ndim != 1 or g.size == 0:
            raise ValueError(f"trace {k + 1}: a reflection is a 1-D array of complex values, not shape {g.shape}")
        if not np.all(np.isfinite(g)):
            raise ValueError(f"trace {k + 1} holds values that are not finite")
        out.append((np.conj(g) if convention == "board" else g.astype(complex), given))
    if not out:
        raise ValueError("nothing to draw: give one or more reflections")
    return out


def smith(traces, *, labels=None, chart: str = "impedance", ax=None, title: str | None = None,
          convention: str = "engineering", markers: bool = True, figsize=(6.4, 5.2)):
    """Reflections on a Smith chart with an impedance or admittance grid.

    Parameters
    ----------
    traces : array_like, skrf.Network or list of them
        Reflection coefficients [n] (complex), or Networks: every reflection
        S_ii of each is drawn.
    labels : list of str, optional
        One per trace, for the legend (default: the Networks' names).
    chart : {'impedance', 'admittance', 'both'}
        Lines of constant resistance and reactance, of constant conductance
        and susceptance, or both (impedance drawn stronger).
    ax : matplotlib.axes.Axes, optional
        Draw here instead of in a new figure.
    title : str, optional
        The axes' title.
    convention : {'engineering', 'board'}
        Phase convention of array traces: 'board' data are drawn in the
        e^{jwt} convention, where an inductance lies in the upper half.
    markers : bool
        Mark each trace's first point with a circle and its last with a
        square, so that the direction of rising frequency can be read.
    figsize : (float, float)
        Inches, for a new figure.

    Returns
    -------
    matplotlib.figure.Figure

    Notes
    -----
    The grid is scikit-rf's ``skrf.plotting.smith`` with its labels drawn.
    """
    if chart not in _CHARTS:
        raise ValueError(f"chart must be 'impedance', 'admittance' or 'both', not {chart!r}")
    if convention not in ("engineering", "board"):
        raise ValueError(f"convention must be 'engineering' or 'board', not {convention!r}")
    items = _reflections(traces, labels, convention)
    from skrf.plotting import smith as grid

    fig, ax = fig_of(ax, figsize=figsize)
    grid(ax=ax, chart_type=_CHARTS[chart], draw_labels=True)
    for g, name in items:
        (line,) = ax.plot(g.real, g.imag, label=name, lw=1.5)
        if markers:
            ax.plot(g.real[:1], g.imag[:1], "o", color=line.get_color(), ms=5, label="_start")
            ax.plot(g.real[-1:], g.imag[-1:], "s", color=line.get_color(), ms=5, label="_stop")
    if title:
        ax.set_title(title)
    legend_beside(ax)
    return fig
