"""Comparison plots, drawn off screen with plt.show replaced."""
import matplotlib.pyplot as plt
import numpy as np
import pytest


@pytest.fixture
def shown(monkeypatch):
    calls = []
    monkeypatch.setattr(plt, "show", lambda *a, **k: calls.append(plt.gcf()))
    yield calls
    plt.close("all")


@pytest.fixture
def stacks(rng):
    return [rng.standard_normal((5, 2, 2)) + 1j * rng.standard_normal((5, 2, 2)) for _ in range(3)]


F = np.linspace(100, 200, 5)


@pytest.mark.parametrize("name,rows,prefixes", [
    ("plotCompareDb", 1, [""]), ("plotCompareDeg", 1, [""]), ("plotCompareDbDeg", 2, ["Mag: ", "Phase: "])])
def test_grid_and_titles(hidden, shown, stacks, name, rows, prefixes):
    assert getattr(hidden, name)(F, stacks, ["raw", "8-term", "12-term", "extra"]) is None
    (fig,) = shown
    axes = fig.axes
    assert len(axes) == rows * 3
    want = [p + t for p in prefixes for t in ("raw", "8-term", "12-term")]
    assert [a.get_title() for a in axes] == want
    assert all(len(a.get_lines()) == 4 for a in axes)
    assert fig._suptitle is None


@pytest.mark.parametrize("settings,expected", [(None, None), ("", ""), ("IFBW 1 kHz", "IFBW 1 kHz")])
def test_suptitle_only_when_given(hidden, shown, stacks, settings, expected):
    hidden.plotCompareDb(F, stacks[:2], ["a", "b"], settings)
    sup = shown[0]._suptitle
    assert (sup.get_text() if sup is not None else None) == expected


def test_frequencies_are_labelled_as_given_in_mhz(hidden, shown, stacks):
    hidden.plotCompareDb(F, stacks[:2], ["a", "b"])
    line = shown[0].axes[0].get_lines()[0]
    np.testing.assert_allclose(line.get_xdata(), F * 1e6)   # the values were taken as MHz
    assert "MHz" in shown[0].axes[0].get_xlabel()


@pytest.mark.parametrize("name,prefixes", [
    ("plotCompareDb", [""]), ("plotCompareDeg", [""]), ("plotCompareDbDeg", ["Mag: ", "Phase: "])])
def test_one_network_draws_one_column(hidden, shown, stacks, name, prefixes):
    getattr(hidden, name)(F, stacks[:1], ["only"])
    (fig,) = shown
    assert [a.get_title() for a in fig.axes] == [p + "only" for p in prefixes]
    assert all(len(a.get_lines()) == 4 for a in fig.axes)


def test_errors_propagate(hidden, shown, stacks):
    with pytest.raises(IndexError):
        hidden.plotCompareDeg(F, stacks, ["a"])
    with pytest.raises(TypeError):
        hidden.plotCompareDbDeg(F, stacks[:2], [1, 2])
    with pytest.raises(ValueError):
        hidden.plotCompareDb(F, [], [])
    assert shown == []
