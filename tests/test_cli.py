"""orvane-cal end to end on a temporary folder: standards measured on the
virtual board, a calibration built and described, a folder of raw files
corrected (one of them bad), error boxes exported."""
import os
import signal
import subprocess
import sys
import threading

import numpy as np
import pytest

from conftest import cascade
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
    # the board's recordings saved as Touchstone files (e^{jwt}, converted)
    for port in (1, 2):
        for name in ("open", "short", "load"):
            touchstone.write(standards / f"{name}{port}.s1p", f,
                             measure(hidden, board, settings, name.upper(), port)[:, None, None], convention="board")
    touchstone.write(standards / "thru.s2p", f, measure(hidden, board, settings, "THRU"), convention="board")
    touchstone.write(standards / "isolation.s2p", f, measure(hidden, board, settings, "ISOLATION"),
                     convention="board")
    raw = tmp_path / "raw"
    raw.mkdir()
    for i in range(3):
        touchstone.write(raw / f"dut{i}.s2p", f, measure(hidden, board, settings, "DUT"), convention="board")
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
        S = touchstone.read(root / "corrected" / name, convention="board")[1]
        assert 20 * np.log10(np.max(np.abs(S - board.device))) < -60

    assert run("export", root / "cal.npz", "-o", root / "boxes") == 0
    assert len(os.listdir(root / "boxes")) == 12


@pytest.mark.parametrize("method", ["one-port", "response", "eight-term", "unknown-thru"])
def test_other_methods_build(bench, method, capsys):
    root, _ = bench
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


# -- no raw file is ever replaced, Ctrl-C stops a batch --------------------------

def built(root):
    assert run("build", "-m", "twelve-term", "-s", root / "standards", "-o", root / "cal.npz") == 0
    return root / "cal.npz"


@pytest.mark.parametrize("layout", ["symlink to a raw file in the output folder", "hard link", "the source itself",
                                    "the calibration"])
def test_apply_never_replaces_an_input(bench, capsys, layout):
    root, _ = bench
    cal = built(root)
    raw = root / "raw" / "dut0.s2p"
    before = raw.read_bytes()
    if layout == "symlink to a raw file in the output folder":      # links/dut.s2p -> ../raw/dut0.s2p, -o raw
        (root / "links").mkdir()
        os.symlink("../raw/dut0.s2p", root / "links" / "dut0.s2p")
        args = [root / "links" / "dut0.s2p", "-o", root / "raw"]
    elif layout == "hard link":
        (root / "links").mkdir()
        os.link(raw, root / "links" / "dut0.s2p")
        args = [root / "raw" / "dut0.s2p", "-o", root / "links"]
    elif layout == "the source itself":
        args = [raw, "-o", root / "raw"]
    else:
        os.link(cal, root / "raw" / "cal.s2p")
        args = [root / "raw" / "dut0.s2p", root / "raw" / "cal.s2p", "-o", root / "out"]
        os.makedirs(root / "out")
        os.link(cal, root / "out" / "cal.s2p")
    assert run("apply", cal, *args) == 2
    assert "would replace" in capsys.readouterr().err
    assert raw.read_bytes() == before and calset_loads(cal)


def calset_loads(path):
    from orvane_ex import calset

    return calset.load(path).method == "twelve-term"


def test_an_existing_link_in_the_output_folder_is_replaced_not_followed(bench, capsys):
    root, _ = bench
    cal = built(root)
    (root / "out").mkdir()
    os.symlink("../raw/dut0.s2p", root / "out" / "dut0.s2p")      # a stale link from another run
    before = (root / "raw" / "dut0.s2p").read_bytes()
    assert run("apply", cal, root / "raw" / "dut0.s2p", "-o", root / "out") == 0
    assert not os.path.islink(root / "out" / "dut0.s2p") and (root / "raw" / "dut0.s2p").read_bytes() == before


def test_ctrl_c_stops_submitting_and_lets_running_files_finish(bench, monkeypatch, capsys):
    from orvane_ex.calibration import base

    root, _ = bench
    cal = built(root)
    f, S, _ = touchstone.read(root / "raw" / "dut0.s2p")
    many = root / "many"
    many.mkdir()
    for i in range(200):
        touchstone.write(many / f"dut{i:03d}.s2p", f, S)
    original, calls = base.Calibration.apply_file, []

    def slow(self, source, target, **kw):
        calls.append(source)
        if len(calls) == 20:
            os.kill(os.getpid(), signal.SIGINT)             # Ctrl-C, in the middle of the batch
        threading.Event().wait(0.005)
        return original(self, source, target, **kw)

    monkeypatch.setattr(base.Calibration, "apply_file", slow)
    try:
        code = run("apply", cal, *sorted(many.iterdir()), "-o", root / "out", "-j", "2")
    except KeyboardInterrupt:
        pytest.fail("Ctrl-C escaped as KeyboardInterrupt")
    assert code == 130
    out = capsys.readouterr().out
    written = sorted(os.listdir(root / "out"))
    assert 20 <= len(written) < 40 and f"interrupted: corrected {len(written)} of 200 files" in out
    for name in written:                                    # each whole; no temporary file left
        assert name.endswith(".s2p") and touchstone.read(root / "out" / name)[1].shape == S.shape
    assert signal.getsignal(signal.SIGINT) is signal.default_int_handler


# -- what a new user meets ---------------------------------------------------------

def test_one_port_reads_port_1s_files_not_a_kits_listed_ones(bench, capsys):
    root, _ = bench
    listed = root / "listed"                                # the demo's files of the kit's values
    listed.mkdir()
    for name in ("open", "short", "load"):
        os.link(root / "standards" / f"{name}1.s1p", listed / f"{name}.s1p")
    assert run("build", "-m", "one-port", "-s", listed, "-o", root / "c.npz") == 2
    err = capsys.readouterr().err
    assert "open1.s1p: missing (the measured open1 standard); open.s1p there is not read" in err
    assert not (root / "c.npz").exists()


@pytest.mark.parametrize("mistake,message", [
    ("one-port data in thru.s2p", "thru.s2p, line 2: 3 numbers where a .s2p file has 9: this is 1-port data"),
    ("two-port data in open1.s1p", "open1.s1p, line 2: 9 numbers where a .s1p file has 3: this is 2-port data"),
    ("no such output folder", "cal.npz: the folder {root}/nodir does not exist"),
    ("no such standards folder", "{root}/nope: folder not found"),
    ("apply into a file", "{root}/afile: not a folder"),
    ("one-port calibration on two-port files", "a one-port calibration corrects 1-port files (.s1p); 3 of the 3 files "
                                               "are not: "),
    ("another grid", "add --interpolate"),
])
def test_mistakes_are_told_once_and_plainly(bench, capsys, mistake, message):
    root, _ = bench
    std = root / "standards"
    args = ["build", "-m", "twelve-term", "-s", std, "-o", root / "cal.npz"]
    if mistake == "one-port data in thru.s2p":
        touchstone.write(std / "x.s1p", *touchstone.read(std / "open1.s1p")[:2])
        os.replace(std / "x.s1p", std / "thru.s2p")
    elif mistake == "two-port data in open1.s1p":
        touchstone.write(std / "x.s2p", *touchstone.read(std / "thru.s2p")[:2])
        os.replace(std / "x.s2p", std / "open1.s1p")
    elif mistake == "no such output folder":
        args[-1] = root / "nodir" / "cal.npz"
    elif mistake == "no such standards folder":
        args[4] = root / "nope"
    elif mistake == "apply into a file":
        (root / "afile").write_text("")
        args = ["apply", built(root), *sorted((root / "raw").iterdir()), "-o", root / "afile"]
    elif mistake == "one-port calibration on two-port files":
        assert run("build", "-m", "one-port", "-s", std, "-o", root / "one.npz") == 0
        args = ["apply", root / "one.npz", *sorted((root / "raw").iterdir()), "-o", root / "out"]
    else:
        f, S, _ = touchstone.read(root / "raw" / "dut0.s2p")
        touchstone.write(root / "raw" / "dut0.s2p", f[1:], S[1:])
        args = ["apply", built(root), root / "raw" / "dut0.s2p", "-o", root / "out"]
    capsys.readouterr()
    code = run(*args)
    err = capsys.readouterr().err
    assert code in (1, 2) and message.format(root=root) in err.replace("(orvane-cal apply --interpolate)",
                                                                       "add --interpolate"), err
    assert err.count("\n") == 1 and ".part" not in err


def test_standards_named_in_upper_case_are_found(bench, capsys):
    root, _ = bench
    for path in (root / "standards").iterdir():
        path.rename(path.with_name(path.name.upper()))
    assert run("build", "-m", "twelve-term", "-s", root / "standards", "-o", root / "cal.npz") == 0
    assert "raw standards: Gm1, Gm2, Tm, Im" in calset_describe(root / "cal.npz")


def calset_describe(path):
    from orvane_ex import calset

    return calset.load(path).describe()


def test_interpolate_defaults_to_cubic_which_follows_the_terms(hidden, tmp_path, capsys):
    """On a board whose error terms turn by about 13 degrees a point, cubic
    interpolation leaves a residual some 40 dB below linear's."""
    fine, coarse = Settings(1e9, 6e9, 201), Settings(1.05e9, 5.95e9, 37)
    boards = [Board(s, seed=8, noise=False, crosstalk_db=-250, ideal_standards=False) for s in (fine, coarse)]
    std = tmp_path / "standards"
    std.mkdir()
    for port in (1, 2):
        for name in ("open", "short", "load"):
            touchstone.write(std / f"{name}{port}.s1p", fine.freqRange.f,
                             measure(hidden, boards[0], fine, name.upper(), port)[:, None, None], convention="board")
    touchstone.write(std / "thru.s2p", fine.freqRange.f, measure(hidden, boards[0], fine, "THRU"), convention="board")
    touchstone.write(tmp_path / "dut.s2p", coarse.freqRange.f, measure(hidden, boards[1], coarse, "DUT"),
                     convention="board")
    assert run("build", "-m", "twelve-term", "-s", std, "-o", tmp_path / "cal.npz") == 0
    residual = {}
    for option in (["--interpolate"], ["--interpolate", "linear"]):
        out = tmp_path / option[-1]
        assert run("apply", tmp_path / "cal.npz", tmp_path / "dut.s2p", "-o", out, *option) == 0
        S = touchstone.read(out / "dut.s2p", convention="board")[1]
        residual[option[-1]] = 20 * np.log10(np.max(np.abs(S - boards[1].device)))
    assert residual["--interpolate"] < -60 and residual["linear"] - residual["--interpolate"] > 30


def test_warnings_are_one_line_of_the_commands_own(tmp_path, capsys):
    """A TRL line whose phase is within 10 degrees of the thru's warns."""
    f = np.linspace(1e9, 2e9, 11)
    line = np.zeros((11, 2, 2), complex)
    line[:, 0, 1] = line[:, 1, 0] = np.exp(-2j * np.pi * f * 1e-3 / 299792458.0)
    thru = np.tile(np.array([[0, 1], [1, 0]], complex), (11, 1, 1))
    reflect = np.tile(np.array([[-1, 0], [0, -1]], complex), (11, 1, 1))
    box = np.tile(np.array([[0.1, 0.9], [0.9, 0.05]], complex), (11, 1, 1))
    for name, s in (("thru", thru), ("reflect", reflect), ("line1", line)):
        touchstone.write(tmp_path / f"{name}.s2p", f, cascade(cascade(box, s), box))
    assert run("build", "-m", "trl", "-s", tmp_path, "--lengths", "0", "0.001", "-o", tmp_path / "c.npz") == 0
    err = capsys.readouterr().err
    assert err.startswith("orvane-cal: warning: trl: the line's phase is within 10 degrees") and err.count("\n") == 1


def test_apply_reads_every_version_and_corrects_two_ports_inside_n_ports_when_told_which(bench, capsys, rng):
    root, board = bench
    cal = built(root)
    f, raw, _ = touchstone.read(root / "raw" / "dut0.s2p")
    four = 0.01 * (rng.standard_normal((len(f), 4, 4)) + 1j * rng.standard_normal((len(f), 4, 4)))
    four[:, ::2, ::2] = raw                                     # the device between ports 1 and 3
    nports = root / "nports"
    nports.mkdir()
    touchstone.write(nports / "dut.s4p", f, four)
    touchstone.write(nports / "dut2.ts", f, four, version="2.1", z0=[50, 50, 50, 50])
    assert run("apply", cal, nports / "dut.s4p", nports / "dut2.ts", "-o", root / "out") == 2
    err = capsys.readouterr().err
    assert err.count("\n") == 1 and "2 of the 2 files are not" in err and "with --ports (e.g. --ports 1,2)" in err
    assert run("apply", cal, nports / "dut.s4p", nports / "dut2.ts", "-o", root / "out", "--ports", "1,3") == 0
    assert sorted(os.listdir(root / "out")) == ["dut2_1-3.s2p", "dut_1-3.s2p"]
    for name in ("dut_1-3.s2p", "dut2_1-3.s2p"):
        S = touchstone.read(root / "out" / name, convention="board")[1]
        assert 20 * np.log10(np.max(np.abs(S - board.device))) < -60
    assert run("apply", cal, nports / "dut.s4p", "-o", root / "out", "--ports", "1,5") == 2
    assert "--ports 1,5: 1 of the 1 files have fewer ports" in capsys.readouterr().err
    # a Touchstone 2 two-port is corrected into a Touchstone 2 file
    touchstone.write(nports / "two.ts", f, raw, version="2.0")
    assert run("apply", cal, nports / "two.ts", "-o", root / "out2") == 0
    data = touchstone.read_data(root / "out2" / "two.ts", convention="board")
    assert data.version == "2.0" and 20 * np.log10(np.max(np.abs(data.s - board.device))) < -60


def test_build_reads_touchstone_2_standards(bench, capsys):
    root, _ = bench
    std2 = root / "standards2"
    std2.mkdir()
    for path in sorted((root / "standards").iterdir()):
        f, s, _ = touchstone.read(path)
        touchstone.write(std2 / (path.stem + ".ts"), f, s, version="2.1")
    assert run("build", "-m", "twelve-term", "-s", std2, "-o", root / "cal2.npz") == 0
    assert run("build", "-m", "twelve-term", "-s", root / "standards", "-o", root / "cal1.npz") == 0
    from orvane_ex import calset

    one, two = calset.load(root / "cal1.npz"), calset.load(root / "cal2.npz")
    np.testing.assert_array_equal(one.terms["fwd"], two.terms["fwd"])
    touchstone.write(std2 / "open1.ts", f, np.zeros((len(f), 2, 2)), version="2.1")
    assert run("build", "-m", "twelve-term", "-s", std2, "-o", root / "cal3.npz") == 2
    assert "open1.ts: holds 2-port data; the open measured at port 1 is a 1-port measurement" in capsys.readouterr().err
