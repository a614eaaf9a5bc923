"""Unknown-thru calibrations choose the sign of e10 e32 from the data: thrus
of any delay, lossy or not, in either phase convention, with the default
settings; a grid too coarse for the thru warns instead of a silent wrong
point."""
import warnings

import numpy as np
import pytest

from conftest import cascade
from orvane_ex import calset, cli, touchstone


def error_box(rng, f, delay):
    n = len(f)
    noise = 0.1 * (rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2)))
    return noise + np.array([[0, 0.9], [0.9, 0]]) * np.exp(-2j * np.pi * f * delay)[:, None, None]


def one_port(box, gamma):
    return box[:, 0, 0] + box[:, 0, 1] * box[:, 1, 0] * gamma / (1 - box[:, 1, 1] * gamma)


class Setup:
    """Random error boxes with cables of their own delay, an imperfect open,
    short and load, and a reciprocal thru (a line of `delay` seconds);
    e^{jwt} convention unless `board`."""

    def __init__(self, f, delay, lossy, board, seed=3, ideal=False):
        rng = np.random.default_rng(seed)
        self.f, n = f, len(f)
        self.X, self.Y = error_box(rng, f, 0.7e-9), error_box(rng, f, 0.4e-9)
        w = 2 * np.pi * f
        self.G = np.stack([np.exp(-1j * w * 5e-12), -np.exp(-1j * w * 4e-12), np.full(n, 0.02)], 1)
        if ideal:
            self.G = np.array([1, -1, 0]) * np.ones((n, 1))
        flipped = self.Y[:, ::-1, ::-1]
        self.Gm1 = np.stack([one_port(self.X, g) for g in self.G.T], 1)
        self.Gm2 = np.stack([one_port(flipped, g) for g in self.G.T], 1)
        loss = 0.3 * np.sqrt(f / 1e9) * delay / 1e-9 if lossy else 0
        T = np.zeros((n, 2, 2), complex)
        T[:, 0, 1] = T[:, 1, 0] = np.exp(-loss - 1j * w * delay)
        if lossy:
            T[:, 0, 0] = T[:, 1, 1] = 0.05 * np.exp(-1j * w * 0.1e-9)
        self.Tm = cascade(self.X, T, self.Y)
        self.D = 0.4 * (rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2)))
        self.flip = np.conj if board else (lambda x: x)

    def build(self, **kw):
        c = self.flip
        return calset.UnknownThruCal.build(self.f, c(self.G), c(self.Gm1), c(self.G), c(self.Gm2), c(self.Tm), **kw)

    def wrong_points(self, cal):
        c = self.flip
        err = np.abs(cal.apply(c(cascade(self.X, self.D, self.Y))) - c(self.D)).max(axis=(1, 2))
        return int(np.count_nonzero(~(err < 1e-8)))


GRIDS = {"1-6 GHz": np.linspace(1e9, 6e9, 1601), "0.01-20 GHz": np.linspace(0.01e9, 20e9, 1601)}


@pytest.mark.parametrize("grid", GRIDS)
@pytest.mark.parametrize("delay", [0.1e-9, 0.24e-9, 0.5e-9, 1e-9, 2e-9, 3.3e-9, 5e-9])
@pytest.mark.parametrize("lossy", [False, True])
@pytest.mark.parametrize("board", [False, True])
def test_no_wrong_point_for_any_thru(grid, delay, lossy, board):
    setup = Setup(GRIDS[grid], delay, lossy, board)
    with warnings.catch_warnings():
        warnings.simplefilter("error", calset.UnknownThruWarning)
        cal = setup.build()
    assert setup.wrong_points(cal) == 0


@pytest.mark.parametrize("points", [101, 121])
def test_a_grid_too_coarse_for_the_thru_warns(points):
    # a 5 ns thru turns by 90 degrees or more every 50 MHz
    setup = Setup(np.linspace(1e9, 6e9, points), 5e-9, True, False)
    with pytest.warns(calset.UnknownThruWarning, match=r"uncertain at \d+ of \d+ points"):
        setup.build()


def test_the_length_hint_is_kept_and_does_not_overrule_the_data():
    setup = Setup(GRIDS["1-6 GHz"], 2e-9, True, True)
    cal = setup.build(phys_length=0.05)                      # 240 ps: far from the thru's 2 ns
    assert setup.wrong_points(cal) == 0 and cal.parameters["phys_length"] == 0.05


def test_command_line_build_needs_no_length(tmp_path):
    setup = Setup(np.linspace(1e9, 6e9, 401), 0.5e-9, True, False, ideal=True)
    for port, Gm in ((1, setup.Gm1), (2, setup.Gm2)):
        for k, name in enumerate(["open", "short", "load"]):
            touchstone.write(tmp_path / f"{name}{port}.s1p", setup.f, Gm[:, k, None, None])
    touchstone.write(tmp_path / "thru.s2p", setup.f, setup.Tm)
    assert cli.main(["build", "-m", "unknown-thru", "-s", str(tmp_path), "--ideal", "-o",
                     str(tmp_path / "cal.npz")]) == 0
    assert setup.wrong_points(calset.load(tmp_path / "cal.npz")) == 0
