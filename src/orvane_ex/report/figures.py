"""The report's figures, drawn off pyplot (no window, no back end chosen) and
embedded as SVG, so that they scale on screen and print sharp."""
from __future__ import annotations

import base64
import io

import numpy as np

from ..plots import _traces
from ..plots._figure import detached, figure, legend_outside
from . import terms as _terms

# matplotlib draws text as paths (no font needed to show the figure), and
# without a date, so that the same calibration gives the same file
_STYLE = {"svg.fonttype": "path", "svg.hashsalt": "orvane_ex report", "axes.titlesize": "medium"}


def label(text, limit: int = 40) -> str:
    """User text as a matplotlib label: taken literally (no mathtext), shown
    even when it starts with an underscore, cut to `limit` characters so
    that a long name cannot squeeze the data out of the figure."""
    text = str(text)
    if len(text) > limit:
        text = text[:limit - 1] + "…"
    text = text.replace("$", r"\$")
    return " " + text if text.startswith("_") else text


def svg(fig) -> str:
    """The figure as an SVG data URI."""
    import matplotlib

    buf = io.BytesIO()
    with matplotlib.rc_context(_STYLE):
        fig.savefig(buf, format="svg", metadata={"Date": None})
    return "data:image/svg+xml;base64," + base64.b64encode(buf.getvalue()).decode("ascii")


def rendered(draw, *args, **kwargs) -> str:
    """SVG data URI of the figure `draw` makes, drawn detached."""
    import matplotlib

    with detached(), matplotlib.rc_context(_STYLE):
        fig = draw(*args, **kwargs)
        return svg(fig)


def _grid(ax):
    ax.grid(True, alpha=0.4)


def error_terms(f: np.ndarray, terms: dict):
    """One panel per term the model holds, its directions compared, in dB."""
    names = [n for n in _terms.NAMES if any(n in d and d[n] is not None for d in terms.values())]
    cols = 3 if len(names) > 2 else len(names)
    rows = -(-len(names) // cols)
    fig, axes = figure(rows, cols, figsize=(3.3 * cols + 1.6, 2.5 * rows + 0.5), sharex=True)
    div, unit = _traces.frequency_scale(f)
    for ax, name in zip(axes.flat, names):
        for direction, named in terms.items():
            value = named.get(name)
            if value is not None:
                ax.plot(f / div, _terms.db(value), label=direction)
        ax.set_title(name)
        _grid(ax)
    for ax in axes.flat[len(names):]:
        ax.set_visible(False)
    for ax in axes[:, 0]:
        ax.set_ylabel("Magnitude (dB)")
    for k, ax in enumerate(axes.flat[:len(names)]):
        if k + cols >= len(names):
            ax.set_xlabel(f"Frequency ({unit})")
            ax.tick_params(labelbottom=True)
    legend_outside(fig, axes.flat[0])
    return fig


def residuals(f: np.ndarray, values: dict, standardised: dict | None = None):
    """Each standard's residual in dB, and beside it the standardised
    misfit where it is known."""
    panels = 2 if standardised else 1
    fig, axes = figure(1, panels, figsize=(7.4 if panels == 1 else 10.5, 3.6), sharex=True)
    div, unit = _traces.frequency_scale(f)
    ax = axes[0, 0]
    for name, r in values.items():
        ax.plot(f / div, np.maximum(_terms.db(r), -300), label=label(name))
    ax.set_ylabel("Residual |r| (dB)")
    if standardised:
        right = axes[0, 1]
        for name, r in values.items():
            right.plot(f / div, standardised[name] if name in standardised else np.full(len(f), np.nan),
                       label=label(name))
        right.set_ylabel("|standardised misfit| (1)")
        right.set_ylim(bottom=0)
    for a in axes.flat:
        a.set_xlabel(f"Frequency ({unit})")
        _grid(a)
    legend_outside(fig, ax)
    return fig


def lines(f: np.ndarray, q: dict, threshold: float = 0.1):
    """TRL: the condition, the effective permittivity, the loss and the
    reflect (on-wafer methods: their standards' distance and the reflect),
    a dashed line where the condition warns."""
    panels = [(k, t, y) for k, t, y in (
        ("condition", "condition" if "eps_eff" in q else "standards' distance", "condition (1)"),
        ("eps_eff", "effective permittivity", "ε_eff (1)"),
        ("loss_db_per_cm", "line loss", "loss (dB/cm)"),
        ("reflect", "reflect", "|Γ| (dB)")) if k in q]
    cols = min(2, len(panels))
    rows = -(-len(panels) // cols)
    fig, axes = figure(rows, cols, figsize=(4.0 * cols + 0.6, 2.6 * rows + 0.5), sharex=True)
    div, unit = _traces.frequency_scale(f)
    for ax, (key, title, ylabel) in zip(axes.flat, panels):
        y = _terms.db(q[key]) if key == "reflect" else q[key]
        ax.plot(f / div, y)
        ax.ticklabel_format(axis="y", useOffset=False)    # values as they are, not as offsets from one
        if key == "condition":
            ax.axhline(threshold, color="tab:red", lw=1, ls="--")
            ax.set_ylim(bottom=0)
        ax.set_title(title)
        ax.set_ylabel(ylabel)
        _grid(ax)
    for ax in axes.flat[len(panels):]:
        ax.set_visible(False)
    for k, ax in enumerate(axes.flat[:len(panels)]):
        if k + cols >= len(panels):
            ax.set_xlabel(f"Frequency ({unit})")
            ax.tick_params(labelbottom=True)
    return fig


def term_uncertainty(f: np.ndarray, largest: dict):
    """Per influence, the largest standard uncertainty of the error terms."""
    fig, axes = figure(1, 1, figsize=(7.4, 3.6))
    ax = axes[0, 0]
    div, unit = _traces.frequency_scale(f)
    for name, u in largest.items():
        ax.plot(f / div, np.maximum(_terms.db(u), -300), label=label(name))
    ax.set_xlabel(f"Frequency ({unit})")
    ax.set_ylabel("Largest u of a term (dB)")
    _grid(ax)
    legend_outside(fig, ax)
    return fig


def bands(f: np.ndarray, s: np.ndarray, u: np.ndarray, pairs):
    """|S| of a corrected device with its k = 1 and k = 2 bands, one panel per S-parameter."""
    from ..plots import uncertainty_band

    cols = min(len(pairs), 4)
    rows = -(-len(pairs) // cols)
    fig, axes = figure(rows, cols, figsize=(3.2 * cols + 2.4, 2.7 * rows + 0.5), sharex=True)
    for ax, (i, j) in zip(axes.flat, pairs):
        uncertainty_band(f, s[:, i, j], u=u[:, i, j], ax=ax)
        ax.set_title(_traces.name(i, j))
        legend = ax.get_legend()
        if legend is not None:
            legend.remove()
    for ax in axes.flat[len(pairs):]:
        ax.set_visible(False)
    for ax in axes.flat[1:len(pairs)]:
        ax.set_ylabel("")
    legend_outside(fig, axes.flat[0])
    return fig


def expanded(f: np.ndarray, u_db: np.ndarray, u_phase: np.ndarray, pairs):
    """Expanded uncertainties of |S| (dB) and of the phase (degrees) of each
    S-parameter against frequency, on logarithmic scales."""
    fig, axes = figure(1, 2, figsize=(10.0, 3.6), sharex=True)
    div, unit = _traces.frequency_scale(f)
    for ax, values, ylabel in ((axes[0, 0], u_db, "U(|S|), k = 2 (dB)"), (axes[0, 1], u_phase, "U(phase), k = 2 (°)")):
        for i, j in pairs:
            y = np.where(values[:, i, j] > 0, values[:, i, j], np.nan)
            ax.plot(f / div, y, label=_traces.name(i, j))
        positive = values[np.isfinite(values) & (values > 0)]
        if positive.size:
            from matplotlib.ticker import FuncFormatter, NullFormatter

            ax.set_yscale("log")
            plain = FuncFormatter(lambda v, _: f"{v:g}")      # 0.3, not 3 x 10^-1
            ax.yaxis.set_major_formatter(plain)
            narrow = np.log10(positive.max() / positive.min()) < 1.5
            ax.yaxis.set_minor_formatter(plain if narrow else NullFormatter())
        ax.set_ylabel(ylabel)
        ax.set_xlabel(f"Frequency ({unit})")
        _grid(ax)
        ax.grid(True, which="minor", alpha=0.15)
    legend_outside(fig, axes[0, 0])
    return fig


def en(f: np.ndarray, values: np.ndarray):
    """|E_n| of each S-parameter against frequency, with the limit 1."""
    ports = values.shape[1]
    fig, axes = figure(1, 1, figsize=(7.4, 3.6))
    ax = axes[0, 0]
    div, unit = _traces.frequency_scale(f)
    for j in range(ports):
        for i in range(ports):
            ax.plot(f / div, np.abs(values[:, i, j]), label=_traces.name(i, j))
    ax.axhline(1.0, color="tab:red", lw=1.2, ls="--", label="limit |E_n| = 1")
    ax.set_ylim(bottom=0)
    ax.set_xlabel(f"Frequency ({unit})")
    ax.set_ylabel("|E_n| (1)")
    _grid(ax)
    legend_outside(fig, ax)
    return fig
