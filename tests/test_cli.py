"""orvane-cal end to end on a temporary folder: standards measured on the
virtual board, a calibration built and described, a folder of raw files
corrected (one of them bad), error boxes exported."""
import os
import subprocess
import sys

import numpy as np
import pytest

from orvane_ex import cli, touchstone
from orvane_ex.virtual_board import PORTS, Board, Settings


def measure(hidden, board, settings, what, port=None):
    board.connect(what, port)
    if port is None:
        return hidden.ab2S_SwitchCorrect(*hidden.measure2Port(board, settings, PORTS), PORTS)
    return hidden.ab2G(hidden.measure1Port(board, settings, PORTS[f"Tx{port}"]), PORTS)


@pytest.fixture
def bench(hidden, tmp_path):
    """A folder of measured standards and raw device files from a noiseless board."""
    settings = Settings(1e9, 6e9, 51)
    board = Board(settings, seed=8, noise=False, crosstalk_db=-250, ideal_standards=False)
    f = settings.freqRange.f
    standards = tmp_path / "standards"
    standards.mkdir()
    for port in (1, 2):
        for name in ("open", "short", "load"):
            touchstone.write(standards / f"{name}{port}.s1p", f, measure(hidden, board, settings, name.upper(), port)[:, None, None])
    touchstone.write(standards / "thru.s2p", f, measure(hidden, board, settings, "THRU"))
    touchstone.write(standards / "isolation.s2p", f, measure(hidden, board, settings, "ISOLATION"))
    raw = tmp_path / "raw"
    raw.mkdir()
    for i in range(3):
        touchstone.write(raw / f"dut{i}.s2p", f, measure(hidden, board, settings, "DUT"))
    return tmp_path, board


def run(*args):
    return cli.main([str(a) for a in args])


def test_build_info_apply_and_export(bench, capsys):
    root, board = bench
    assert run("build", "-m", "twelve-term", "-s", root / "standards", "-o", root / "cal.npz",
               "--notes", "bench 3") == 0
    assert run("info", root / "cal.npz") == 0
    out = capsys.readouterr().out
    assert "twelve-term calibration, 51 points from 1 to 6 GHz" in out and "Generic 3.5 mm" in out
    assert "notes: bench 3" in out and "raw standards: Gm1, Gm2, Tm, Im" in out

    (root / "raw" / "broken.s2p").write_text("# Hz S RI R 50\n1e9 0 0 0 0 0 0\n")
    assert run("apply", root / "cal.npz", *sorted((root / "raw").iterdir()), "-o", root / "corrected") == 1
    captured = capsys.readouterr()
    assert "corrected 3 of 4 files" in captured.out and "1 failed" in captured.out
    assert f"{root / 'raw' / 'broken.s2p'}, line 2: incomplete point" in captured.err
    written = sorted(os.listdir(root / "corrected"))
    assert written == ["dut0.s2p", "dut1.s2p", "dut2.s2p"]     # nothing for the bad file, no leftovers
    for name in written:
        S = touchstone.read(root / "corrected" / name)[1]
        assert 20 * np.log10(np.max(np.abs(S - board.device))) < -60

    assert run("export", root / "cal.npz", "-o", root / "boxes") == 0
    assert len(os.listdir(root / "boxes")) == 12


@pytest.mark.parametrize("method", ["one-port", "response", "eight-term", "unknown-thru"])
def test_other_methods_build(bench, method, capsys):
    root, _ = bench
    if method == "one-port":
        for name in ("open", "short", "load"):
            os.link(root / "standards" / f"{name}1.s1p", root / "standards" / f"{name}.s1p")
    assert run("build", "-m", method, "-s", root / "standards", "-o", root / "c.npz") == 0
    assert f"{method} calibration" in capsys.readouterr().out


def test_errors_are_one_line_and_exit_2(bench, capsys):
    root, _ = bench
    assert run("build", "-m", "eight-term", "-s", root / "raw", "-o", root / "c.npz") == 2
    assert "open1.s1p: missing (the measured open1 standard)" in capsys.readouterr().err
    assert run("info", root / "nothing.npz") == 2
    (root / "fake.npz").write_bytes(b"junk")
    assert run("apply", root / "fake.npz", root / "raw" / "dut0.s2p", "-o", root / "out") == 2
    assert "fake.npz: damaged or not a calibration file" in capsys.readouterr().err
    assert run("build", "-m", "twelve-term", "-s", root / "standards", "-o", root / "cal.npz") == 0
    assert run("apply", root / "cal.npz", root / "raw" / "dut0.s2p", "-o", root / "raw") == 2
    assert "choose another folder" in capsys.readouterr().err


def test_kit_show_and_the_console_script(tmp_path):
    script = os.path.join(os.path.dirname(sys.executable), "orvane-cal")
    result = subprocess.run([script, "kit", "show", "--at", "1", "6"], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert "Generic 3.5 mm example kit" in result.stdout and "thru S21" in result.stdout
    result = subprocess.run([script], capture_output=True, text=True)
    assert result.returncode == 2 and "kit" in result.stdout
