"""orvane-cal deembed end to end: files of the virtual board's PCB fixture
de-embedded as the library does it, the fixture halves written beside them,
and refusals that name the file."""
import os

import numpy as np
import pytest

from orvane_ex.cli import main
from orvane_ex.files import touchstone
from orvane_ex.fixture import nzc_2xthru, zc_2xthru
from orvane_ex.virtual_board import PCBFixture
from test_fixture_p370 import grid, mild_device


@pytest.fixture
def files(tmp_path):
    f = grid(n=200, df=50e6)
    fx = PCBFixture(side2=((46.0, 0.015), (53.0, 0.010)), launch2=(0.12e-9, 0.10e-12))
    dut = mild_device(f)
    paths = {"2x": tmp_path / "2x.s2p", "fdf": tmp_path / "fdf.s2p", "fdf2": tmp_path / "other.s2p"}
    touchstone.write(paths["2x"], f, fx.thru2x(f))
    touchstone.write(paths["fdf"], f, fx.around(f, dut))
    touchstone.write(paths["fdf2"], f, fx.around(f, dut[:, ::-1, ::-1]))
    return f, fx, dut, {k: str(v) for k, v in paths.items()}


@pytest.mark.parametrize("method", ["nzc", "zc"])
def test_deembed_writes_the_devices_and_the_halves(files, tmp_path, capsys, method):
    f, fx, dut, p = files
    out = tmp_path / "out"
    extra = ["--fixture-dut", p["fdf"]] if method == "zc" else []
    assert main(["deembed", "--2xthru", p["2x"], *extra, p["fdf"], p["fdf2"], "-o", str(out)]) == 0
    assert sorted(os.listdir(out)) == ["fdf.s2p", "fixture_side1.s2p", "fixture_side2.s2p", "other.s2p"]
    thru, fdf = touchstone.read(p["2x"])[1], touchstone.read(p["fdf"])[1]
    halves = zc_2xthru(thru, fdf, f=f) if method == "zc" else nzc_2xthru(thru, f=f)
    np.testing.assert_array_equal(touchstone.read(out / "fdf.s2p")[1], halves.deembed(fdf))
    np.testing.assert_array_equal(touchstone.read(out / "fixture_side1.s2p")[1], halves.side1)
    np.testing.assert_array_equal(touchstone.read(out / "fixture_side2.s2p")[1], halves.side2)
    assert np.median(np.abs(touchstone.read(out / "fdf.s2p")[1] - dut)) < 0.03
    assert f"{method}:" in capsys.readouterr().out


def test_refusals_name_the_file(files, tmp_path, capsys):
    f, fx, dut, p = files
    out = str(tmp_path / "out")
    short = tmp_path / "short.s2p"
    touchstone.write(short, f[:-1], fx.around(f, dut)[:-1])
    one = tmp_path / "one.s1p"
    touchstone.write(one, f, fx.thru2x(f)[:, :1, :1])
    cases = [
        (["--2xthru", p["2x"], str(short), "-o", out], f"{short}: its 199 frequencies differ"),
        (["--2xthru", str(one), p["fdf"], "-o", out], f"{one}: a 1-port file"),
        (["--2xthru", p["2x"], "--method", "zc", p["fdf"], "-o", out], "--method zc needs --fixture-dut"),
        (["--2xthru", str(tmp_path / "missing.s2p"), p["fdf"], "-o", out], "missing.s2p"),
        (["--2xthru", p["2x"], p["2x"], "-o", str(tmp_path)], "would replace the input"),
    ]
    for args, text in cases:
        assert main(["deembed", *args]) == 2, args
        err = capsys.readouterr().err
        assert text in err, (args, err)
    assert not os.path.exists(out) or not os.listdir(out)
    off = tmp_path / "off.s2p"
    touchstone.write(off, f + 1e6, fx.thru2x(f))
    assert main(["deembed", "--2xthru", str(off), str(off), "-o", out]) == 2
    assert f"{off}: the 2x-thru: the frequencies must be the harmonics" in capsys.readouterr().err
