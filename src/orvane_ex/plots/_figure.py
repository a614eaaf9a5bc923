"""Figures laid out by matplotlib's constrained layout, legends outside the data."""
from __future__ import annotations

import contextlib
import contextvars

_detached = contextvars.ContextVar("detached", default=False)


@contextlib.contextmanager
def detached():
    """Inside, new figures are plain matplotlib Figures, not pyplot's: no
    window opens, no back end is chosen and pyplot's list of figures is left
    alone. For figures that are only written to files (reports)."""
    token = _detached.set(True)
    try:
        yield
    finally:
        _detached.reset(token)


def figure(nrows: int = 1, ncols: int = 1, *, figsize=None, **subplot_kw):
    """A pyplot figure (so that plt.show() and notebooks show it) with
    constrained layout, and its axes as a 2-D array; a plain Figure inside
    `detached()`."""
    if figsize is None:   # room for a legend beside the panels
        figsize = (3.2 * ncols + 2.4, 2.6 * nrows + 0.6) if nrows * ncols > 1 else (7.0, 4.2)
    if _detached.get():
        from matplotlib.figure import Figure

        fig = Figure(figsize=figsize, layout="constrained")
        return fig, fig.subplots(nrows, ncols, squeeze=False, **subplot_kw)
    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(nrows, ncols, figsize=figsize, layout="constrained", squeeze=False, **subplot_kw)
    return fig, axes


def legend_outside(fig, axes_with_lines):
    """One legend for the figure, right of all axes, from the labelled lines
    of `axes_with_lines`; nothing when no line is labelled."""
    handles, labels = axes_with_lines.get_legend_handles_labels()
    if handles:
        fig.legend(handles, labels, loc="outside right upper")


def legend_beside(ax):
    """The axes' legend right of its data area."""
    handles, labels = ax.get_legend_handles_labels()
    if handles:
        ax.legend(handles, labels, loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0)


def fig_of(ax, **figure_kw):
    """(figure, axes): the given axes' figure, or a new one-axes figure."""
    if ax is not None:
        return ax.figure, ax
    fig, axes = figure(1, 1, **figure_kw)
    return fig, axes[0, 0]
