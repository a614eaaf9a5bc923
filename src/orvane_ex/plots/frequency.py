"""S-parameters against frequency: magnitude and phase, and errors against
a known truth."""
from __future__ import annotations

import numpy as np

from . import _traces
from ._figure import figure, legend_outside


def _share_by_kind(row, pairs):
    """Reflections share one y axis, transmissions another: like is compared with like."""
    first = {}
    for ax, (i, j) in zip(row, pairs):
        kind = i == j
        if kind in first:
            ax.sharey(first[kind])
        else:
            first[kind] = ax


def db_phase(f, traces=None, *, labels=None, parameters=None, phase: bool = True, unwrap: bool = False,
             title: str | None = None, convention: str = "engineering", figsize=None):
    """Magnitude (dB) and phase (degrees) of S-parameters, traces compared in
    each panel.

    One column per S-parameter (S11, S21, S12, S22 for a two-port), the
    magnitude above, the phase below. All panels share the frequency axis;
    reflections share one magnitude scale and transmissions another, phases
    one scale. One legend, outside the panels; grids on.

    Parameters
    ----------
    f : array_like, skrf.Network or list of Networks
        Frequencies (Hz) of array traces; or the Network(s) to draw (then
        `traces` is omitted).
    traces : array_like, skrf.Network or list of them
        S-parameters [n] or [n, p, p], or Networks; one trace or several.
    labels : list of str, optional
        One per trace, for the legend (default: the Networks' names).
    parameters : list, optional
        Which to draw: names like 'S21' or pairs (1, 0) counted from 0.
    phase : bool
        Draw the phase row (default); False draws the magnitudes alone.
    unwrap : bool
        Unwrap the phase along frequency instead of folding it into +-180.
    title : str, optional
        The figure's title.
    convention : {'engineering', 'board'}
        Phase convention of array traces: 'board' data are shown in the
        e^{jwt} convention of Touchstone files and scikit-rf.
    figsize : (float, float), optional
        Inches; by default sized to the number of panels.

    Returns
    -------
    matplotlib.figure.Figure
    """
    items = _traces.traces(f, traces, labels, convention=convention)
    pairs = _traces.parameters(items[0].s.shape[1], parameters)
    rows = 2 if phase else 1
    fig, axes = figure(rows, len(pairs), figsize=figsize, sharex=True)
    _share_by_kind(axes[0], pairs)
    if phase:
        for ax in axes[1, 1:]:
            ax.sharey(axes[1, 0])
    div, unit = _traces.frequency_scale(items[0].f)
    for col, (i, j) in enumerate(pairs):
        top = axes[0, col]
        top.set_title(_traces.name(i, j))
        for tr in items:
            s = tr.s[:, i, j]
            top.plot(tr.f / div, _traces.to_db(s), label=tr.label)
            if phase:
                ang = np.angle(s)
                axes[1, col].plot(tr.f / div, np.degrees(np.unwrap(ang) if unwrap else ang), label=tr.label)
    for ax in axes.flat:
        ax.grid(True, alpha=0.4)
    axes[0, 0].set_ylabel("Magnitude (dB)")
    if phase:
        axes[1, 0].set_ylabel("Phase (°)")
        if not unwrap:
            axes[1, 0].set_ylim(-185, 185)
            axes[1, 0].set_yticks(range(-180, 181, 90))
    for ax in axes[-1]:
        ax.set_xlabel(f"Frequency ({unit})")
    _hide_inner_labels(axes, pairs)
    legend_outside(fig, axes[0, 0])
    if title:
        fig.suptitle(title)
    return fig


def _hide_inner_labels(axes, pairs):
    """Tick labels only where a reader needs them: frequencies on the bottom
    row, values on the first panel of each shared scale."""
    for ax in axes[:-1].flat:
        ax.tick_params(labelbottom=False)
    seen = set()
    for col, (i, j) in enumerate(pairs):
        if (i == j) in seen:
            axes[0, col].tick_params(labelleft=False)
        seen.add(i == j)
    for ax in axes[1:, 1:].flat:
        ax.tick_params(labelleft=False)


def error_vs_truth(f, measured=None, truth=None, *, labels=None, parameters=None, floor_db: float = -200.0,
                   title: str | None = None, convention: str = "engineering", figsize=None):
    """How far results are from the truth: |S - S_true| in dB against
    frequency, one panel per S-parameter, all on one scale.

    For the virtual board, where the device's true S-parameters are known
    (``board.device``), this shows each calibration's residual error.

    Parameters
    ----------
    f : array_like
        Frequencies (Hz) of array traces (None when all are Networks).
    measured : array_like, skrf.Network or list of them
        The results to judge, [n] or [n, p, p] each.
    truth : array_like or skrf.Network
        The true S-parameters on the same grid.
    labels : list of str, optional
        One per result, for the legend.
    parameters : list, optional
        Which to draw: names like 'S21' or pairs (1, 0).
    floor_db : float
        Errors below this (exact zeros included) are drawn at it.
    title : str, optional
        The figure's title.
    convention : {'engineering', 'board'}
        Phase convention of array data (the error's size does not depend on
        it as long as both are in the same one).
    figsize : (float, float), optional
        Inches.

    Returns
    -------
    matplotlib.figure.Figure
    """
    if measured is None or truth is None:
        raise TypeError("give the results to judge and the truth: error_vs_truth(f, measured, truth)")
    items = _traces.traces(f, measured, labels, convention=convention)
    (true,) = _traces.traces(f, truth, convention=convention)
    for k, tr in enumerate(items):
        if tr.s.shape != true.s.shape or not np.allclose(tr.f, true.f, rtol=1e-12, atol=0):
            raise ValueError(f"result {k + 1} ({tr.label or 'unlabelled'}) is not on the truth's grid "
                             f"and shape {true.s.shape}")
    pairs = _traces.parameters(true.s.shape[1], parameters)
    fig, axes = figure(1, len(pairs), figsize=figsize, sharex=True, sharey=True)
    div, unit = _traces.frequency_scale(true.f)
    for col, (i, j) in enumerate(pairs):
        ax = axes[0, col]
        ax.set_title(_traces.name(i, j))
        for tr in items:
            ax.plot(tr.f / div, _traces.to_db(tr.s[:, i, j] - true.s[:, i, j], floor_db), label=tr.label)
        ax.grid(True, alpha=0.4)
        ax.set_xlabel(f"Frequency ({unit})")
        if col:
            ax.tick_params(labelleft=False)
    axes[0, 0].set_ylabel("|S - S_true| (dB)")
    legend_outside(fig, axes[0, 0])
    if title:
        fig.suptitle(title)
    return fig
