"""End to end on the virtual board, and the demo."""
import io
import os
import sys

import numpy as np
import pytest

from conftest import close, run_python
from orvane_ex.virtual_board import PORTS, Board, Settings


def calibrate(hidden, board, settings, monkeypatch):
    monkeypatch.setattr(sys, "stdin", io.StringIO("\n" * 9))
    with board.follow(hidden):
        Gm1, Gm2, Tm, Im = hidden.prompt2PortSOLT(board, settings, PORTS, isolation=True)
        Sm = hidden.prompt2PortMeasure(board, settings, PORTS, "DUT")
    return Gm1, Gm2, Tm, Im, Sm


@pytest.mark.parametrize("ideal", [True, False])
def test_noise_off_models_recover_the_device(hidden, monkeypatch, capsys, tmp_path, ideal):
    settings = Settings(1e9, 6e9, 51)
    board = Board(settings, noise=False, crosstalk_db=-250, ideal_standards=ideal, seed=3)
    Gm1, Gm2, Tm, Im, Sm = calibrate(hidden, board, settings, monkeypatch)
    f = settings.freqRange.f
    if ideal:
        G, T = hidden.getIdealSparams(len(f))
    else:
        files = board.write_standards(str(tmp_path))            # e^{jwt} files: conjugates of the board's values
        G = np.conj(np.stack([hidden.readSnP(files[k], f, "RI") for k in ("OPEN", "SHORT", "LOAD")], axis=1))
        T = np.conj(hidden.readSnP(files["THRU"], f, "RI"))
    D = board.device
    close(hidden.correct8Term(Sm, *hidden.get8TermModel(G, Gm1, G, Gm2, T, Tm)), D, 1e-9)
    length = 0.0 if ideal else 0.05                       # the kit's thru: flush, or a 5 cm line
    close(hidden.correct8Term(Sm, *hidden.get8TermModelUThru(G, Gm1, G, Gm2, Tm, f, length)), D, 1e-9)
    close(hidden.correct12Term(Sm, *hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm, Im)), D, 1e-9)
    # the one-port models give the standards' own reflections back at each port
    for Gm in (Gm1, Gm2):
        x = hidden.get1PortModel(G, Gm)
        for i in range(3):
            close(hidden.correct1Port(Gm[:, i], x), G[:, i], 1e-9)


def test_noise_on_twelve_term_beats_raw_by_20_dB(hidden, monkeypatch, capsys):
    settings = Settings(2e9, 4e9, 101)
    board = Board(settings, seed=11)
    Gm1, Gm2, Tm, Im, Sm = calibrate(hidden, board, settings, monkeypatch)
    G, T = hidden.getIdealSparams(101)
    S = hidden.correct12Term(Sm, *hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm, Im))
    raw_err = np.max(np.abs(Sm - board.device))
    err = np.max(np.abs(S - board.device))
    assert 20 * np.log10(raw_err / err) >= 20


def test_recordings_follow_the_driver_contract(hidden):
    settings = Settings(1e9, 2e9, 5)
    board = Board(settings, noise=False)
    for tx in (1, 2):
        settings.txtr = tx
        board.ApplySettings(settings)
        board.Record()
        rec = board.GetRecordingResult()
        assert list(rec) == [1, 2, 3, 4, 5, 6]
        assert [k for k, v in rec.items() if v[0] == 0] == [tx]
        assert all(np.all(v[1:] != 0) for v in rec.values())
        assert hidden.ab2G(rec, PORTS) is not None
    board.connect("ISOLATION")
    rec1, rec2 = hidden.measure2Port(board, settings, PORTS)
    assert np.all(np.isfinite(hidden.ab2S_SwitchCorrect(rec1, rec2, PORTS)))
    settings.txtr = 4
    with pytest.raises(ValueError):
        board.ApplySettings(settings)


def test_demo_runs_unattended(tmp_path):
    out = tmp_path / "out"
    result = run_python(f"""
        import sys
        from orvane_ex import demo
        sys.exit(demo.main(['--unattended', '--points', '41', '--out', {str(out)!r}]))
    """, tmp_path=tmp_path)
    assert result.returncode == 0, result.stderr
    text = result.stdout
    assert text.count(">> Measure ") == 9 and "-- Switch to Port-2 --" in text
    rows = {line[:26].strip(): line[26:].split() for line in text.splitlines() if line[26:27] == " "}
    for method in ("raw", "response", "eight-term", "unknown thru", "12-term, ideal standards",
                   "12-term, kit model", "one-port"):
        assert method in rows
    # the kit's model calibrates the board's non-ideal standards; ideal values do not
    assert float(rows["12-term, kit model"][4]) < -60 < float(rows["12-term, ideal standards"][4])
    assert "corrected 3 of 3 files" in text and float(text.split("corrected files: ")[1].split()[0]) < -60
    assert (out / "dut_twelve_term.s2p").exists() and (out / "calibration.npz").exists()
    assert sorted(os.listdir(out / "corrected")) == ["dut_1.s2p", "dut_2.s2p", "dut_3.s2p"]
    png = (out / "comparison.png").read_bytes()
    assert png.startswith(b"\x89PNG") and len(png) > 10000
    assert os.path.exists(out / "thru.s2p")
    # a report of each calibration, and the device behind fixtures in the time domain
    assert sorted(p for p in os.listdir(out) if p.endswith(".html")) == sorted(
        f"report-{m}.html" for m in ("eight-term", "one-port", "response", "twelve-term", "twelve-term-ideal",
                                      "twelve-term-listed", "twelve-term-uncertainty", "unknown-thru"))
    assert all((out / name).read_bytes().startswith(b"\x89PNG") for name in ("tdr.png", "gated.png", "errors.png"))


def test_demo_help():
    result = run_python("from orvane_ex import demo; demo.main(['--help'])")
    assert result.returncode == 0
    for option in ("--unattended", "--points", "--start", "--stop", "--device", "--seed", "--out"):
        assert option in result.stdout


def test_demo_without_an_operator_says_how_to_run_unattended(tmp_path):
    result = run_python(f"""
        import sys
        from orvane_ex import demo
        sys.exit(demo.main(['--points', '11', '--out', {str(tmp_path / 'out')!r}]))
    """, tmp_path=tmp_path)
    assert result.returncode == 2
    assert "Traceback" not in result.stderr and "--unattended" in result.stderr


def test_demo_multiline_trl(tmp_path):
    out = tmp_path / "out"
    result = run_python(f"""
        import sys
        from orvane_ex import demo
        sys.exit(demo.main(['--unattended', '--points', '101', '--method', 'multiline-trl', '--out', {str(out)!r}]))
    """, tmp_path=tmp_path)
    assert result.returncode == 0, result.stderr
    text = result.stdout
    assert [line.split(":")[0] for line in text.splitlines() if line.startswith(">> Measure")] == [
        ">> Measure THRU", ">> Measure REFLECT", ">> Measure LINE 1", ">> Measure LINE 2", ">> Measure LINE 3",
        ">> Measure DUT"]
    assert "warning: trl: the line's phase is within 10 degrees" in text
    rows = {line[:26].strip(): float(line.split()[-1]) for line in text.splitlines()
            if line.startswith(("TRL, 3 mm line", "multiline TRL"))}
    assert rows["multiline TRL"] < -60 and rows["TRL, 3 mm line"] - rows["multiline TRL"] >= 10
    assert float(text.split("largest difference over the band: ")[1].split(";")[0]) < 0.01
    assert (out / "multiline-trl.npz").exists() and (out / "dut_multiline_trl.s2p").exists()


def test_a_kit_of_the_boards_own_standard_files_calibrates_as_the_model_kit(hidden, monkeypatch, tmp_path):
    from orvane_ex.calibration.kit import CalKit, example_kit
    from orvane_ex.calibration.solt import TwelveTermCal

    settings = Settings(1e9, 6e9, 51)
    board = Board(settings, noise=False, crosstalk_db=-250, ideal_standards=False, seed=3)
    Gm1, Gm2, Tm, Im, Sm = calibrate(hidden, board, settings, monkeypatch)
    f = settings.freqRange.f
    board.write_standards(str(tmp_path))
    (tmp_path / "kit.toml").write_text('name = "listed"\n' + "".join(
        f'[{name}]\nfile = "{name}.s{2 if name == "thru" else 1}p"\n' for name in ("open", "short", "load", "thru")))
    listed = CalKit.load(tmp_path / "kit.toml")
    model = example_kit()
    np.testing.assert_allclose(listed.reflect(f), model.reflect(f), atol=1e-12)
    for kit in (listed, model):
        cal = TwelveTermCal.build(f, kit.reflect(f), Gm1, kit.reflect(f), Gm2, kit.thru(f), Tm, Im)
        assert 20 * np.log10(np.max(np.abs(cal.apply(Sm) - board.device))) < -150
    # scikit-rf reads the thru as the delay it is (240 ps), not its negative
    import skrf

    thru = skrf.Network(str(tmp_path / "thru.s2p"))
    delay = -np.gradient(np.unwrap(np.angle(thru.s[:, 1, 0])), 2 * np.pi * thru.f)
    assert abs(np.median(delay) - 239.97e-12) < 0.1e-12


@pytest.mark.parametrize("device,message", [("four.s4p", "a two-port device is needed, this file has 4 ports"),
                                            ("missing.s2p", "missing.s2p")])
def test_demo_with_a_wrong_device_file_says_so_in_one_line(tmp_path, device, message):
    import skrf

    if device == "four.s4p":
        net = skrf.Network(frequency=skrf.Frequency(1, 10, 11, unit="GHz"), s=np.zeros((11, 4, 4)), z0=50)
        net.write_touchstone(str(tmp_path / "four"))
    result = run_python(f"""
        import sys
        from orvane_ex import demo
        sys.exit(demo.main(['--unattended', '--points', '11', '--device', {str(tmp_path / device)!r},
                            '--out', {str(tmp_path / 'out')!r}]))
    """, tmp_path=tmp_path)
    assert result.returncode == 2
    assert result.stderr.count("\n") == 1 and message in result.stderr and "Traceback" not in result.stderr
