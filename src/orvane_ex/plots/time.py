"""Time-domain responses: impulses in dB, steps, impedance profiles, with the gate."""
from __future__ import annotations

import numpy as np

from ._figure import fig_of, legend_beside

_KINDS = {"db": "Magnitude (dB)", "linear": "Response", "ohm": "Impedance (Ω)"}


def time_response(t, y, *, kind: str = "db", labels=None, gate=None, ax=None, title: str | None = None,
                  floor_db: float = -120.0):
    """Responses against time (ns), optionally with a gate shaded.

    Parameters
    ----------
    t : array_like
        Times (s), as the `orvane_ex.timedomain` functions return them.
    y : array_like or list of array_like
        One response [len(t)] or several (each drawn as a trace).
    kind : {'db', 'linear', 'ohm'}
        20 log10 |y| (impulse responses), y as it is (real part; steps), or
        an impedance profile in ohms.
    labels : list of str, optional
        One per response, for the legend.
    gate : (float, float), optional
        Start and stop of a gate (s), shaded.
    ax : matplotlib.axes.Axes, optional
        Draw here instead of in a new figure.
    title : str, optional
        The axes' title.
    floor_db : float
        Magnitudes below this are drawn at it (kind 'db').

    Returns
    -------
    matplotlib.figure.Figure
    """
    if kind not in _KINDS:
        raise ValueError(f"kind must be 'db', 'linear' or 'ohm', not {kind!r}")
    t = np.asarray(t, dtype=float)
    if t.ndim != 1 or len(t) < 2 or not np.all(np.isfinite(t)):
        raise ValueError("t must be a 1-D array of finite times (s)")
    first = np.asarray(y[0] if isinstance(y, (list, tuple)) else y)
    ys = list(y) if isinstance(y, (list, tuple)) and first.ndim == 1 else [y]
    if labels is not None:
        labels = [labels] if isinstance(labels, str) else list(labels)
        if len(labels) != len(ys):
            raise ValueError(f"{len(labels)} labels for {len(ys)} responses")
    fig, ax = fig_of(ax)
    for k, resp in enumerate(ys):
        resp = np.asarray(resp)
        if resp.shape != t.shape:
            raise ValueError(f"response {k + 1} has shape {resp.shape}; the time axis has {len(t)} samples")
        if kind == "db":
            with np.errstate(divide="ignore"):
                shown = np.maximum(20 * np.log10(np.abs(resp)), floor_db)
        else:
            shown = np.real(resp)
        ax.plot(t * 1e9, shown, label=labels[k] if labels is not None else None)
    if gate is not None:
        start, stop = gate
        ax.axvspan(start * 1e9, stop * 1e9, color="tab:orange", alpha=0.15, lw=0, label="gate")
    ax.set_xlabel("Time (ns)")
    ax.set_ylabel(_KINDS[kind])
    ax.grid(True, alpha=0.4)
    if title:
        ax.set_title(title)
    legend_beside(ax)
    return fig
