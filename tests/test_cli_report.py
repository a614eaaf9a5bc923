"""orvane-cal report, tdr and gate on files: what they write is what the
library gives, their refusals name the file or argument, and a refusal
writes nothing and never replaces an input."""
import os

import numpy as np
import pytest

from orvane_ex import cli, timedomain
from orvane_ex.files import touchstone
from orvane_ex.uncertainty import Budget
from orvane_ex.virtual_board import PCBFixture, builtin_device
from scenarios import scenario

FIXTURE = PCBFixture(side1=((50.0, 0.49),), side2=((50.0, 0.49),), launch1=(0.0, 0.5e-12), launch2=(0.0, 0.5e-12),
                     eps_eff=3.4, loss_db_per_m_ghz=0.2)       # a mismatched launch, then 3 ns of trace


def behind(device, f):
    return FIXTURE.around(f, device)


BUDGET = {"name": "bench", "noise": {"floor": "-60 dB"}, "kit": {"load": {"resistance": "0.5 ohm"}}}


def run(*args):
    return cli.main([str(a) for a in args])


@pytest.fixture
def files(tmp_path):
    """A calibration, a raw device, a verification standard with its
    reference values, a budget, and a device behind launch fixtures."""
    s = scenario("twelve-term", n=41)
    cal = s.cls.from_standards(s.f, s.measured, convention="engineering")
    cal.save(tmp_path / "cal.npz")
    touchstone.write(tmp_path / "dut.s2p", s.f, s.raw)
    touchstone.write(tmp_path / "reference.s2p", s.f, cal.apply(s.raw))
    wrong = cal.apply(s.raw)
    wrong[:, 1, 0] *= 1.2
    touchstone.write(tmp_path / "wrong.s2p", s.f, wrong)
    Budget.from_dict(BUDGET).save(tmp_path / "budget.toml")
    f = np.linspace(1e9, 6e9, 201)
    touchstone.write(tmp_path / "fixtured.s2p", f, behind(builtin_device(f), f))
    touchstone.write(tmp_path / "s11.s1p", f, behind(builtin_device(f), f)[:, :1, :1])
    return tmp_path


def listing(folder):
    return sorted(os.listdir(folder))


def test_report_of_a_calibration_with_a_device_and_a_verification(files, capsys):
    assert run("report", files / "cal.npz", "--device", files / "dut.s2p", "--verify", files / "dut.s2p",
               files / "reference.s2p", "--budget", files / "budget.toml", "-o", files / "r.html") == 0
    out = capsys.readouterr().out
    assert "wrote" in out and "1 verification(s): pass" in out
    text = (files / "r.html").read_text(encoding="utf-8")
    for heading in ("Calibration", "Error terms", "Uncertainty", "Devices", "Verification"):
        assert f"<h2>{heading}</h2>" in text
    assert "budget.toml" in text and "cal.npz" in text


def test_a_failed_verification_still_writes_the_report_and_exits_1(files, capsys):
    assert run("report", files / "cal.npz", "--verify", files / "dut.s2p", files / "wrong.s2p",
               "--budget", files / "budget.toml", "-o", files / "r.html") == 1
    assert "FAIL" in capsys.readouterr().out and "FAIL" in (files / "r.html").read_text(encoding="utf-8")


@pytest.mark.parametrize("args,message", [
    (["--verify", "dut.s2p", "reference.s2p"], "E_n needs an uncertainty: give --budget"),
    (["--verify", "dut.s2p", "fixtured.s2p", "--budget", "budget.toml"], "fixtured.s2p: the reference is not on"),
    (["-o", "cal.npz"], "would replace the input cal.npz"),
    (["--device", "dut.s2p", "-o", "dut.s2p"], "would replace the input"),
    (["-o", "nowhere/r.html"], "the folder nowhere does not exist"),
    (["--device", "fixtured.s2p"], "fixtured.s2p: 201 points"),
    (["--device", "s11.s1p"], "s11.s1p: a 1-port measurement"),
    (["--device", "missing.s2p"], "missing.s2p"),
    (["--budget", "dut.s2p"], "dut.s2p: not a budget file"),
])
def test_report_refusals_name_the_file_and_write_nothing(files, capsys, args, message, monkeypatch):
    monkeypatch.chdir(files)
    before = {name: (files / name).read_bytes() for name in listing(files)}
    if "-o" not in args:
        args = [*args, "-o", "r.html"]
    assert run("report", "cal.npz", *args) == 2
    assert message in capsys.readouterr().err
    assert {name: (files / name).read_bytes() for name in listing(files)} == before


def test_tdr_writes_the_profile_scikit_rf_s_transform_gives(files, capsys):
    assert run("tdr", files / "fixtured.s2p", "-o", files / "tdr.png", "--data", files / "tdr.csv",
               "--range", "0", "10ns") == 0
    assert "extrapolated down to 0 Hz" in capsys.readouterr().err      # from 1 GHz: the levels may not hold
    f, s, _ = touchstone.read(files / "fixtured.s2p")
    t, z = timedomain.impedance_profile(*timedomain.extrapolate_to_dc(f, s[:, 0, 0]))
    keep = (t >= 0) & (t <= 10e-9)
    data = np.loadtxt(files / "tdr.csv", delimiter=",", skiprows=1)
    np.testing.assert_allclose(data[:, 0], t[keep], rtol=1e-15)
    np.testing.assert_allclose(data[:, 1], z[keep], rtol=1e-12)
    assert (files / "tdr.png").read_bytes().startswith(b"\x89PNG")


@pytest.mark.parametrize("response,mode", [("impulse", "bandpass"), ("impulse", "lowpass"), ("step", "lowpass")])
def test_tdr_of_several_files_into_one_figure_and_npz(files, response, mode):
    assert run("tdr", files / "fixtured.s2p", files / "fixtured.s2p", "-p", "S21" if response != "step" else "S11",
               "-r", response, "--mode", mode, "-o", files / "r.svg", "--data", files / "r.npz") == 0
    with np.load(files / "r.npz") as data:
        assert data["values"].shape == (len(data["t"]), 2) and str(data["quantity"]) == response
        np.testing.assert_array_equal(data["values"][:, 0], data["values"][:, 1])
    assert b"<svg" in (files / "r.svg").read_bytes()[:2000]


@pytest.mark.parametrize("args,message", [
    (["-o", "tdr.txt"], "-o tdr.txt: a figure is written as .png, .svg or .pdf"),
    (["-o", "fixtured.s2p"], "-o fixtured.s2p: a figure is written"),
    (["-o", "tdr.png", "--data", "tdr.xlsx"], "--data tdr.xlsx: the values are written as .csv or .npz"),
    (["-o", "tdr.png", "-p", "S21"], "an impedance profile is of a reflection"),
    (["-o", "tdr.png", "--mode", "bandpass"], "--response impedance needs low-pass mode"),
    (["-o", "tdr.png", "-p", "S33"], "fixtured.s2p: a 2-port file has no S33"),
    (["-o", "tdr.png", "--range", "5ns", "1ns"], "--range: the start"),
    (["-o", "tdr.png", "--range", "1ms", "2ms"], "holds fewer than two samples"),
    (["-o", "tdr.png", "--window", "nonsense"], "window 'nonsense'"),
    (["-o", "tdr.png", "--pad", "-1"], "--pad -1"),
])
def test_tdr_refusals_name_the_argument_and_write_nothing(files, capsys, monkeypatch, args, message):
    monkeypatch.chdir(files)
    before = listing(files)
    assert run("tdr", "fixtured.s2p", *args) == 2
    assert message in capsys.readouterr().err
    assert listing(files) == before


@pytest.mark.parametrize("gate,mode", [(["--start", "1.5ns", "--stop", "10.5ns"], "bandpass"),
                                       (["--center", "6e-9", "--span", "9 ns"], "bandpass"),
                                       (["--center", "6ns", "--span", "9ns", "--notch"], "bandpass"),
                                       (["--center", "6ns", "--span", "9ns"], "lowpass")])
def test_gate_writes_what_the_library_gives(files, gate, mode):
    assert run("gate", files / "fixtured.s2p", *gate, "--mode", mode, "-o", files / "g.s2p") == 0
    f, s, _ = touchstone.read(files / "fixtured.s2p")
    keep = "outside" if "--notch" in gate else "inside"
    if mode == "lowpass":
        want = timedomain.gate(*timedomain.extrapolate_to_dc(f, s), center=6e-9, span=9e-9, mode=mode,
                               keep=keep)[-len(f):]
    else:
        want = timedomain.gate(f, s, start=1.5e-9, stop=10.5e-9, keep=keep)
    fg, got, _ = touchstone.read(files / "g.s2p")
    np.testing.assert_array_equal(fg, f)
    np.testing.assert_allclose(got, want, atol=1e-12)


@pytest.mark.parametrize("args,message", [
    (["-o", "g.s2p"], "give the gate as --start and --stop, or as --center and --span"),
    (["--center", "6ns", "-o", "g.s2p"], "(given: --center)"),
    (["--start", "1ns", "--span", "2ns", "-o", "g.s2p"], "(given: --start, --span)"),
    (["--center", "6ns", "--span", "90ns", "-o", "g.s2p"], "fixtured.s2p: the gate"),
    (["--center", "6ns", "--span", "9ns", "-o", "g.s1p"], "-o g.s1p: the gated 2-port file is a .s2p file"),
    (["--center", "6ns", "--span", "9ns", "-o", "fixtured.s2p"], "would replace the input fixtured.s2p"),
    (["--center", "6ns", "--span", "9ns", "-o", "g.s2p", "--figure", "g.jpg"], "--figure g.jpg"),
    (["--center", "6ns", "--span", "9ns", "-o", "g.s2p", "--figure", "fixtured.s2p"], "--figure fixtured.s2p"),
    (["--center", "6ns", "--span", "9ns", "-o", "nowhere/g.s2p"], "the folder nowhere does not exist"),
    (["--center", "6ns", "--span", "9ns", "-o", "g.s2p", "-p", "S31"], "a 2-port file has no S31"),
])
def test_gate_refusals_name_the_argument_and_write_nothing(files, capsys, monkeypatch, args, message):
    monkeypatch.chdir(files)
    before = {name: (files / name).read_bytes() for name in listing(files)}
    assert run("gate", "fixtured.s2p", *args) == 2
    assert message in capsys.readouterr().err
    assert {name: (files / name).read_bytes() for name in listing(files)} == before


def test_low_pass_gating_needs_a_harmonic_grid(files, capsys):
    f = np.linspace(1.01e9, 6e9, 101)
    touchstone.write(files / "odd.s2p", f, behind(builtin_device(f), f))
    assert run("gate", files / "odd.s2p", "--center", "6ns", "--span", "9ns", "--mode", "lowpass",
               "-o", files / "g.s2p") == 2
    assert "needs a harmonic grid" in capsys.readouterr().err and not (files / "g.s2p").exists()
