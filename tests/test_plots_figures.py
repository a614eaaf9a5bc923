"""orvane_ex.plots: figures drawn with Agg and checked as a reader sees them
(panels, scales, legends outside the data, no text over text, bands)."""
import itertools
import os
import pathlib
import re
import textwrap

import matplotlib
import matplotlib.pyplot as plt
import numpy as np
import pytest
import skrf
from matplotlib.collections import PolyCollection
from matplotlib.text import Text

from conftest import run_python
from orvane_ex import plots
from orvane_ex import timedomain as td

DATA = os.path.join(os.path.dirname(__file__), "data", "measured-mtrl")


@pytest.fixture(autouse=True)
def closed():
    yield
    plt.close("all")


@pytest.fixture(scope="module")
def line():
    return skrf.Network(os.path.join(DATA, "MPI_line_0900u.s2p"))["1-110ghz"]


def visible_texts(fig):
    """(text, window box) of every text a reader sees: titles, labels, the
    tick labels inside each axis' view, annotations, legends."""
    fig.canvas.draw()
    renderer = fig.canvas.get_renderer()
    found = [fig.get_suptitle() and fig._suptitle] + list(fig.texts)
    for legend in fig.legends:
        found += legend.get_texts()
    for ax in fig.axes:
        found += [ax.title, ax._left_title, ax._right_title, ax.xaxis.label, ax.yaxis.label] + list(ax.texts)
        for axis, (lo, hi) in ((ax.xaxis, sorted(ax.get_xlim())), (ax.yaxis, sorted(ax.get_ylim()))):
            pad = 1e-9 * (hi - lo)
            found += [lab for loc, lab in zip(axis.get_majorticklocs(), axis.get_majorticklabels())
                      if lo - pad <= loc <= hi + pad]
        if ax.get_legend() is not None:
            found += ax.get_legend().get_texts()
    out, seen = [], set()
    for t in found:
        if id(t) in seen:
            continue
        seen.add(id(t))
        if t and isinstance(t, Text) and t.get_visible() and t.get_text().strip():
            out.append((t.get_text(), t.get_window_extent(renderer)))
    return out


def overlapping(a, b, slack=1.0):
    return (min(a.x1, b.x1) - max(a.x0, b.x0) > slack) and (min(a.y1, b.y1) - max(a.y0, b.y0) > slack)


def check_reads_well(fig, tmp_path):
    """PNG written; no text on other text; texts inside the figure; every
    legend outside every data area."""
    path = tmp_path / "figure.png"
    fig.savefig(path, dpi=72)
    assert path.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n" and path.stat().st_size > 5000
    texts = visible_texts(fig)
    page = fig.bbox
    for text, box in texts:
        assert box.x0 >= page.x0 - 1 and box.x1 <= page.x1 + 1 and box.y0 >= page.y0 - 1 and box.y1 <= page.y1 + 1, text
    for (ta, a), (tb, b) in itertools.combinations(texts, 2):
        assert not overlapping(a, b), f"{ta!r} overlaps {tb!r}"
    renderer = fig.canvas.get_renderer()
    legends = fig.legends + [ax.get_legend() for ax in fig.axes if ax.get_legend() is not None]
    for legend in legends:
        box = legend.get_window_extent(renderer)
        for ax in fig.axes:
            assert not overlapping(box, ax.get_window_extent(renderer)), "a legend covers data"
    return legends


def test_db_phase_compares_traces_panel_by_panel(line, tmp_path):
    corrected = line.copy()
    corrected.s = corrected.s * 0.9
    fig = plots.db_phase([line, corrected], labels=["raw", "scaled"], title="Line 900 um")
    (legend,) = check_reads_well(fig, tmp_path)
    assert [t.get_text() for t in legend.get_texts()] == ["raw", "scaled"]
    axes = np.array(fig.axes).reshape(2, 4)
    assert [ax.get_title() for ax in axes[0]] == ["S11", "S21", "S12", "S22"]
    assert fig.get_suptitle() == "Line 900 um"
    # one frequency axis for all; magnitudes like with like; one phase scale
    assert all(ax.get_shared_x_axes().joined(axes[0, 0], ax) for ax in axes.flat)
    assert axes[0, 0].get_shared_y_axes().joined(axes[0, 0], axes[0, 3])
    assert axes[0, 1].get_shared_y_axes().joined(axes[0, 1], axes[0, 2])
    assert not axes[0, 0].get_shared_y_axes().joined(axes[0, 0], axes[0, 1])
    assert all(ax.get_shared_y_axes().joined(axes[1, 0], ax) for ax in axes[1])
    assert all(ax.xaxis.get_gridlines()[0].get_visible() for ax in axes.flat)
    assert axes[1, 0].get_xlabel() == "Frequency (GHz)" and axes[0, 0].get_ylabel() == "Magnitude (dB)"
    # the values drawn: |S21| of the Network in dB, against GHz
    x, y = axes[0, 1].get_lines()[0].get_data()
    np.testing.assert_allclose(x, line.f / 1e9)
    np.testing.assert_allclose(y, line.s_db[:, 1, 0])


def test_db_phase_of_arrays_in_the_boards_convention(line, tmp_path):
    board = np.conj(line.s)
    fig = plots.db_phase(line.f, board, parameters=["S21"], convention="board", unwrap=True)
    check_reads_well(fig, tmp_path)
    top, bottom = fig.axes
    np.testing.assert_allclose(bottom.get_lines()[0].get_ydata(), np.degrees(np.unwrap(np.angle(line.s[:, 1, 0]))))
    assert top.get_legend() is None and not fig.legends                # nothing labelled, no legend
    assert len(plots.db_phase(line.f, line.s[:, 0, 0], phase=False).axes) == 1


def test_error_vs_truth_draws_the_residual_in_db(line, tmp_path):
    truth = line.s
    off = truth + 1e-3
    fig = plots.error_vs_truth(line.f, [off, truth], truth, labels=["off by 1e-3", "exact"], floor_db=-150)
    check_reads_well(fig, tmp_path)
    assert len(fig.axes) == 4 and all(ax.get_shared_y_axes().joined(fig.axes[0], ax) for ax in fig.axes)
    first, exact = fig.axes[2].get_lines()
    np.testing.assert_allclose(first.get_ydata(), -60)
    np.testing.assert_array_equal(exact.get_ydata(), -150)


@pytest.mark.parametrize("kw,bands", [(dict(u="u", k=(1, 2)), 2), (dict(u="u", k=3), 1),
                                      (dict(lower="lo", upper="hi"), 1)])
@pytest.mark.parametrize("scale", ["db", "linear"])
def test_uncertainty_bands_are_drawn_nested(tmp_path, kw, bands, scale):
    f = np.linspace(1e9, 6e9, 101)
    value = 0.2 + 0.1 * np.cos(f / 1e9)
    u = 0.01 + 0.05 * (f / 6e9) ** 2                       # reaches past zero magnitude at k = 3
    given = {"u": u, "lo": value - 0.02, "hi": value + 0.03}
    fig = plots.uncertainty_band(f, value, label="|S11|", scale=scale,
                                 **{k: given.get(v, v) if isinstance(v, str) else v for k, v in kw.items()})
    (legend,) = check_reads_well(fig, tmp_path)
    ax = fig.axes[0]
    polys = [c for c in ax.collections if isinstance(c, PolyCollection)]
    assert len(polys) == bands
    heights = [np.ptp(p.get_paths()[0].vertices[:, 1]) for p in polys]
    assert heights == sorted(heights)                        # each wider band holds the narrower
    assert all(np.all(np.isfinite(p.get_paths()[0].vertices)) for p in polys)
    assert len(legend.get_texts()) == bands + 1
    if "u" in kw and scale == "linear":
        k = max(np.atleast_1d(kw["k"]))
        verts = polys[-1].get_paths()[0].vertices
        assert np.isclose(verts[:, 1].max(), np.max(value + k * u)) and np.isclose(verts[:, 1].min(),
                                                                                    np.min(value - k * u))


@pytest.mark.parametrize("chart", ["impedance", "admittance", "both"])
def test_smith_chart_of_every_reflection(line, tmp_path, chart):
    fig = plots.smith([line, line.s[:, 0, 0] * 0.5], labels=["line", "half"], chart=chart, title="Reflections")
    (legend,) = check_reads_well(fig, tmp_path)
    ax = fig.axes[0]
    assert ax.get_aspect() == 1.0 and len(ax.patches) >= 15      # the grid's circles
    assert [t.get_text() for t in legend.get_texts()] == ["line S11", "line S22", "half"]
    traces = [ln for ln in ax.get_lines() if ln.get_label() in ("line S11", "line S22", "half")]
    np.testing.assert_allclose(traces[1].get_xydata(), np.c_[line.s[:, 1, 1].real, line.s[:, 1, 1].imag])
    starts = [ln for ln in ax.get_lines() if ln.get_label() == "_start"]
    assert len(starts) == 3


def test_smith_on_given_axes_in_the_boards_convention(tmp_path):
    fig, (a, b) = plt.subplots(1, 2, layout="constrained")
    g = 0.5 * np.exp(1j * np.linspace(0, 3, 50))
    assert plots.smith(g, ax=b, convention="board", markers=False) is fig
    np.testing.assert_allclose(b.get_lines()[-1].get_ydata(), -g.imag)


def test_time_response_with_a_gate(tmp_path):
    f = np.linspace(0, 10e9, 201)
    t, y = td.impulse_response(f, 0.3 * np.exp(-2j * np.pi * f * 2e-9))
    fig = plots.time_response(t, [y, y / 2], labels=["a", "b"], gate=(1e-9, 3e-9))
    (legend,) = check_reads_well(fig, tmp_path)
    assert [t.get_text() for t in legend.get_texts()] == ["a", "b", "gate"]
    x, db = fig.axes[0].get_lines()[0].get_data()
    assert x[np.argmax(db)] == pytest.approx(2.0, abs=0.05)      # ns
    tz, z = td.impedance_profile(f, 0.2 * np.ones(201))
    assert plots.time_response(tz, z, kind="ohm").axes[0].get_ylabel() == "Impedance (Ω)"


def test_hidden_plot_keeps_its_own_layout(hidden, monkeypatch):
    """The documented plot is not touched by importing the new API."""
    shown = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: shown.append(plt.gcf()))
    s = np.ones((3, 2, 2), complex)
    hidden.plotCompareDbDeg(np.array([1.0, 2.0, 3.0]), [s, s], ["a", "b"])
    assert shown and shown[0].get_layout_engine() is None


F = np.linspace(1e9, 2e9, 5)
S = np.ones((5, 2, 2), complex)


@pytest.mark.parametrize("call,message", [
    (lambda: plots.db_phase(F, []), "nothing to draw"),
    (lambda: plots.db_phase(None, S), "give the frequencies"),
    (lambda: plots.db_phase(F, [S, S], labels=["one"]), "1 labels for 2"),
    (lambda: plots.db_phase(F, [S, np.ones(5)]), "different numbers of ports"),
    (lambda: plots.db_phase(F, S, parameters=["S31"]), "not one of a 2-port"),
    (lambda: plots.db_phase(F, S[:3]), "shape"),
    (lambda: plots.error_vs_truth(F, S, S[:, :1, :1]), "truth's grid"),
    (lambda: plots.error_vs_truth(F, S), "truth"),
    (lambda: plots.uncertainty_band(F, np.ones(5)), "either u"),
    (lambda: plots.uncertainty_band(F, np.ones(5), u=-np.ones(5)), "negative"),
    (lambda: plots.uncertainty_band(F, np.ones(5), u=np.ones(4)), "one value per frequency"),
    (lambda: plots.uncertainty_band(F, np.ones(5), lower=np.ones(5), upper=np.zeros(5)), "above"),
    (lambda: plots.uncertainty_band(F, np.ones(5), u=np.ones(5), scale="log"), "scale"),
    (lambda: plots.smith(S), "1-D array"),
    (lambda: plots.smith(np.ones(5), chart="polar"), "chart"),
    (lambda: plots.time_response(F, np.ones(4)), "shape"),
])
def test_bad_input_is_refused_with_the_reason(call, message):
    with pytest.raises((ValueError, TypeError), match=message):
        call()
    assert matplotlib.get_backend().lower() == "agg"


def test_docs_page_runs_as_written(tmp_path):
    page = pathlib.Path(__file__).resolve().parents[1] / "docs" / "plots-and-time-domain.md"
    blocks = [textwrap.dedent(b) for b in re.findall(r"^ *```python\n(.*?)^ *```", page.read_text(), re.S | re.M)]
    assert len(blocks) >= 4
    result = run_python(f"""
        ns = {{"__name__": "__main__"}}
        for i, block in enumerate({blocks!r}):
            exec(compile(block, f"plots-and-time-domain.md block {{i + 1}}", "exec"), ns)
    """, tmp_path=tmp_path)
    assert result.returncode == 0, result.stderr[-3000:]
    for name in ("device", "smith", "band", "tdr", "gate"):
        assert (tmp_path / f"{name}.png").stat().st_size > 5000
