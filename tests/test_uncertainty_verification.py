"""Verification and exchange of uncertainties: covariance side-car files
read back exactly and refuse damage by line, E_n against hand-worked cases,
orvane-cal verify and drift end to end (exit status, files), and the
virtual board following a budget so that corrected errors against its
truth are as large as the propagated uncertainty says."""
import warnings

import numpy as np
import pytest

from orvane_ex import hidden
from orvane_ex.calibration import METHODS
from orvane_ex.calibration.kit import example_kit
from orvane_ex import cli
from orvane_ex.files import covariance, touchstone
from orvane_ex.uncertainty import Budget, UncertainS
from orvane_ex.uncertainty.verification import drift, verify
from orvane_ex.virtual_board import PORTS, Board, Settings
from scenarios import scenario
from test_uncertainty_propagation import BUDGET


@pytest.fixture(scope="module")
def twelve():
    s = scenario("twelve-term")
    cal = s.cls.from_standards(s.f, s.measured, convention="engineering")
    return s, cal, cal.apply(s.raw, budget=Budget.from_dict(BUDGET))


@pytest.mark.parametrize("convention", ["engineering", "board"])
def test_values_and_covariance_read_back_in_e_jwt(twelve, tmp_path, convention):
    _, _, u = twelve
    u = u.in_convention(convention)
    side = u.write(tmp_path / "dut.s2p")
    assert side == str(tmp_path / "dut.s2p.cov")
    back = UncertainS.read(tmp_path / "dut.s2p")
    eng = u.in_convention("engineering")
    np.testing.assert_array_equal(back.s, eng.s)
    np.testing.assert_array_equal(back.cov, eng.cov)
    # the convention changes only the imaginary parts' signs: variances of |S| stay
    np.testing.assert_allclose(back.std_magnitude(), u.std_magnitude(), rtol=1e-12)


@pytest.mark.parametrize("damage, message", [
    (lambda t: t.replace("# orvane-covariance 1", "# something else"), "line 1: not a covariance file"),
    (lambda t: t.replace("points=41", "points=40"), "41 points; the header says 40"),
    (lambda t: t.replace(" ports=2", " ports=3"), "line 3: 37 numbers; 3 ports need 172"),
    (lambda t: "\n".join(t.splitlines()[:-1] + [t.splitlines()[-1] + " 1.0"]), "line 43: 38 numbers"),
    (lambda t: t.replace(t.splitlines()[5].split()[3], "nan", 1), "point 4 holds values that are not finite"),
    (lambda t: t.replace(t.splitlines()[2].split()[1], "-1.0", 1), "is not positive semi-definite"),
])
def test_a_damaged_covariance_file_is_refused_by_line(twelve, tmp_path, damage, message):
    _, _, u = twelve
    u.write(tmp_path / "dut.s2p")
    path = tmp_path / "dut.s2p.cov"
    path.write_text(damage(path.read_text()))
    with pytest.raises(covariance.CovarianceFileError, match="dut.s2p.cov") as e:
        covariance.read(path)
    assert message in str(e.value)


def test_en_along_the_deviation():
    """A 2-point one-port: the deviation 0.025 along Re against uncertainties
    that differ along Re and Im; E_n uses the Re one."""
    f = np.array([1e9, 2e9])
    cov = np.zeros((2, 2, 2))
    cov[:, 0, 0], cov[:, 1, 1] = 0.01 ** 2, 0.05 ** 2           # u 0.01 along Re, 0.05 along Im
    measured = UncertainS(f, np.array([0.5 + 0j, 0.5 + 0j]), cov)
    v = verify(measured, np.array([0.475, 0.5]), reference_uncertainty=2 * 0.01 * np.sqrt(2))
    # reference: expanded 0.02 sqrt(2) circular -> u 0.01 along any direction
    np.testing.assert_allclose(v.en, [0.025 / (2 * np.hypot(0.01, 0.01)), 0.0])
    assert v.passed
    assert not verify(measured, np.array([0.44, 0.5])).passed          # 0.06 / 0.02 = 3
    assert verify(measured, np.array([0.5 + 0.09j, 0.5])).passed       # across: 0.09 / 0.1


def test_drift_finds_a_standard_that_changed(twelve):
    s, cal, _ = twelve
    again = {k: v for k, v in s.measured.items() if k != "isolation"}
    assert max(v for v, _ in drift(cal, again).worst.values()) < 1e-12
    again["short2"] = again["short2"] * (1 + 0.01 * np.exp(1j * np.linspace(0, 3, len(cal.f))))
    result = drift(cal, again, limit=1e-3)
    assert not result.passed
    assert max(result.worst, key=lambda k: result.worst[k][0]) == "short2"


@pytest.fixture(scope="module")
def files(tmp_path_factory, twelve):
    s, _, _ = twelve
    root = tmp_path_factory.mktemp("verify")
    (root / "std").mkdir()
    for name, value in s.measured.items():
        touchstone.write(root / "std" / f"{name}.s{1 if value.ndim == 1 else 2}p", s.f,
                         value if value.ndim == 3 else value.reshape(-1, 1, 1))
    touchstone.write(root / "dut.s2p", s.f, s.raw)
    touchstone.write(root / "ref.s2p", s.f, s.device)
    touchstone.write(root / "off.s2p", s.f, s.device * 1.05)
    Budget.from_dict(BUDGET).save(root / "budget.toml")
    assert cli.main(["build", "-m", "twelve-term", "-s", str(root / "std"), "-o", str(root / "cal.npz"),
                     "--budget", str(root / "budget.toml")]) == 0
    return root


@pytest.mark.parametrize("reference, extra, status", [
    ("ref.s2p", [], 0),
    ("off.s2p", [], 1),
    ("off.s2p", ["--reference-uncertainty", "0.2"], 0),         # a reference that uncertain agrees
    ("ref.s2p", ["--budget", "budget.toml", "--k", "1"], 0),
])
def test_verify_exits_by_en(files, capsys, reference, extra, status):
    args = ["verify", str(files / "cal.npz"), str(files / "dut.s2p"), "-r", str(files / reference)]
    args += [str(files / a) if a.endswith(".toml") else a for a in extra]
    assert cli.main(args + ["--plot", str(files / "v.png")]) == status
    out = capsys.readouterr().out
    assert ("PASS" if status == 0 else "FAIL") in out and "worst E_n" in out
    assert (files / "v.png").stat().st_size > 10_000


def test_apply_writes_covariances_that_verify_reads(files, capsys):
    assert cli.main(["apply", str(files / "cal.npz"), str(files / "dut.s2p"), "-o", str(files / "out"), "-q",
                     "--covariance"]) == 0
    back = UncertainS.read(files / "out" / "dut.s2p")
    assert back.cov.shape == (41, 8, 8) and np.all(np.diagonal(back.cov, axis1=1, axis2=2) > 0)
    # the corrected file as a reference carries its covariance along: it agrees with itself
    assert cli.main(["verify", str(files / "cal.npz"), str(files / "dut.s2p"), "-r",
                     str(files / "out" / "dut.s2p")]) == 0
    assert "the covariance in" in capsys.readouterr().out


def test_drift_command(files, capsys):
    assert cli.main(["drift", str(files / "cal.npz"), "-s", str(files / "std"), "--limit", "1e-6"]) == 0
    assert "thru: largest change" in capsys.readouterr().out
    assert cli.main(["drift", str(files / "cal.npz"), "-s", str(files), "--limit", "1e-6"]) == 2
    assert "none of the calibration's standards" in capsys.readouterr().err


@pytest.mark.parametrize("influence", ["noise", "kit", "connector", "cable"])
def test_the_board_follows_its_budget(influence):
    """Calibrations on boards drawn from a budget: the corrected device's
    errors against the board's truth, over the propagated standard
    uncertainty, spread as a unit normal does."""
    full = Budget.example()
    budget = Budget(**{influence: getattr(full, influence)})
    z = []
    for seed in range(30):
        settings = Settings(1e9, 6e9, 11)
        board = Board(settings, seed=seed, noise=False, ideal_standards=False, budget=budget)
        with board.unattended(hidden), warnings.catch_warnings():
            warnings.simplefilter("ignore")
            Gm1, Gm2, Tm, Im, Sm = (*hidden.prompt2PortSOLT(board, settings, PORTS, isolation=True),
                                    hidden.prompt2PortMeasure(board, settings, PORTS, "DUT"))
        standards = {f"{n}{p}": G[:, k] for p, G in ((1, Gm1), (2, Gm2)) for k, n in enumerate(("open", "short", "load"))}
        standards.update(thru=Tm, isolation=Im)
        cal = METHODS["twelve-term"].from_standards(settings.freqRange.f, standards, convention="board",
                                                    kit=example_kit())
        u = cal.apply(Sm, budget=budget)
        ur, ui = u.std_re_im()
        d = u.s - board.device
        z.append(np.concatenate([(d.real / ur).ravel(), (d.imag / ui).ravel()]))
    spread = np.concatenate(z).std()
    assert 0.8 < spread < 1.2, spread
