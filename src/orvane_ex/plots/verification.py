"""A verification at a glance: the corrected standard against its reference
with the k-band of its uncertainty, and E_n against its limit of 1."""
from __future__ import annotations

import numpy as np

from ._figure import figure
from ._traces import frequency_scale


def verification(result, *, parameters=None):
    """Figure of a `orvane_ex.uncertainty.verification.Verification`: for
    each S-parameter (default: all), |S| in dB of the measurement with its
    expanded-uncertainty band and of the reference (top row), and E_n per
    point with the pass limit 1 (bottom row).

    Returns
    -------
    matplotlib.figure.Figure
    """
    f = np.asarray(result.frequency)
    p = result.measured.ports
    names = [f"S{i + 1}{j + 1}" for i in range(p) for j in range(p)]
    chosen = names if parameters is None else list(parameters)
    unknown = [x for x in chosen if x not in names]
    if unknown:
        raise ValueError(f"parameters {unknown}: a {p}-port verification has {', '.join(names)}")
    scale, unit = frequency_scale(f)
    fig, axes = figure(2, len(chosen), figsize=(3.2 * len(chosen) + 2.4, 5.4), sharex=True)
    measured = result.measured.s.reshape(len(f), -1)
    reference = np.asarray(result.reference).reshape(len(f), -1)
    U = result.k * result.measured.std_magnitude().reshape(len(f), -1)
    en = result.en.reshape(len(f), -1)
    x = f / scale
    for column, name in enumerate(chosen):
        i = names.index(name)
        top, bottom = axes[0][column], axes[1][column]
        m = np.abs(measured[:, i])
        low = 20 * np.log10(np.maximum(m - U[:, i], 1e-15))
        high = 20 * np.log10(m + U[:, i])
        top.fill_between(x, low, high, color="C0", alpha=0.25, linewidth=0,
                         label=f"measured, k = {result.k:g} band")
        top.plot(x, 20 * np.log10(np.maximum(m, 1e-15)), color="C0", label="measured")
        top.plot(x, 20 * np.log10(np.maximum(np.abs(reference[:, i]), 1e-15)), color="C1", linestyle="--",
                 label="reference")
        top.set_title(f"|{name}|")
        top.set_ylabel("dB" if column == 0 else "")
        bottom.plot(x, en[:, i], color="C2", label="E_n")
        bottom.axhline(1.0, color="C3", linewidth=1, label="limit (E_n = 1)")
        bottom.set_ylim(0, max(1.5, float(np.nanmax(np.where(np.isfinite(en[:, i]), en[:, i], 0))) * 1.1))
        bottom.set_xlabel(f"frequency ({unit})")
        bottom.set_ylabel("E_n" if column == 0 else "")
        for ax in (top, bottom):
            ax.grid(True, alpha=0.4)
    fig.suptitle(f"{result.name}: {'pass' if result.passed else 'FAIL'}")
    handles, labels = [], []
    for ax in (axes[0][0], axes[1][0]):
        h, lab = ax.get_legend_handles_labels()
        handles += h
        labels += lab
    fig.legend(handles, labels, loc="outside right upper")
    return fig
