"""Least-squares one-port and SOLT with extra known reflection standards:
the fit is exact on consistent data (and the three-standard form is
get1PortModel's), a wrong standard stands out by its standardised misfit,
four standards cannot tell, weights count, two-port models take extras per
port, and the misfits are saved, loaded and described."""
import numpy as np
import pytest

from orvane_ex import hidden
from orvane_ex.calibration import METHODS, OnePortCal, load
from orvane_ex.calibration import least_squares
from orvane_ex.calibration.kit import example_kit
from scenarios import _box, coaxial, reflection

N = 41
F = np.linspace(1e9, 6e9, N)
# declared actual values of the extras, spread over the Smith chart
EXTRAS = {"offset_short1": -np.exp(-4j * np.pi * F * 30e-12), "mismatch1": 0.5 + 0j, "capacitive1": -0.4j,
          "inductive1": 0.3 + 0.5j}


def port(seed=1):
    return _box(np.random.default_rng(seed), N)


def readings(box, actual: dict, kit) -> dict:
    G = kit.reflect(F, convention="engineering")
    out = {f"{n}1": reflection(box, G[:, k]) for k, n in enumerate(("open", "short", "load"))}
    out.update({k: reflection(box, np.broadcast_to(v, (N,))) for k, v in actual.items()})
    return out


@pytest.mark.parametrize("extras", [["mismatch1"], ["offset_short1", "mismatch1"], list(EXTRAS)])
def test_consistent_standards_fit_exactly_and_correct(extras):
    kit, box = example_kit(), port()
    extra = {k: EXTRAS[k] for k in extras}
    cal = OnePortCal.from_standards(F, readings(box, extra, kit), kit=kit, convention="engineering", extra=extra)
    three = OnePortCal.from_standards(F, readings(box, {}, kit), kit=kit, convention="engineering")
    np.testing.assert_allclose(cal.terms["e"], three.terms["e"], atol=1e-12)
    for r in cal.residuals.values():
        assert np.abs(r["misfit"]).max() < 1e-12
    D = 0.2 - 0.3j
    np.testing.assert_allclose(cal.apply(reflection(box, np.full(N, D))), D, atol=1e-12)


def test_three_standards_are_get1PortModel_s_solution():
    rng = np.random.default_rng(4)
    G = rng.standard_normal((N, 3)) + 1j * rng.standard_normal((N, 3))
    Gm = rng.standard_normal((N, 3)) + 1j * rng.standard_normal((N, 3))
    np.testing.assert_allclose(least_squares.one_port(G, Gm)["e"], hidden.get1PortModel(G, Gm), atol=1e-10)


@pytest.mark.parametrize("wrong", ["load1", *EXTRAS])
def test_a_wrong_standard_shows_the_largest_standardised_misfit(wrong):
    """Five or more standards: the one whose declared value is off by 0.05
    (a damaged or mislabelled standard) has the largest standardised misfit
    at every point, and the description names it."""
    kit, box = example_kit(), port(2)
    truth = dict(EXTRAS)
    declared = dict(EXTRAS)
    if wrong == "load1":
        G = kit.reflect(F, convention="engineering")
        m = readings(box, truth, kit)
        m["load1"] = reflection(box, G[:, 2] + 0.05)
    else:
        m = readings(box, truth, kit)
        declared[wrong] = truth[wrong] + 0.05
    cal = OnePortCal.from_standards(F, m, kit=kit, convention="engineering", extra=declared)
    std = {k: v["standardised"] for k, v in cal.residuals.items()}
    assert all((std[wrong] >= np.max([v for k, v in std.items() if k != wrong], axis=0) - 1e-12))
    assert f"fits worst: {wrong}" in cal.describe()


def test_four_standards_cannot_tell_which_is_off():
    kit, box = example_kit(), port(3)
    declared = {"mismatch1": 0.55}
    m = readings(box, {"mismatch1": 0.5}, kit)
    cal = OnePortCal.from_standards(F, m, kit=kit, convention="engineering", extra=declared)
    std = np.stack([v["standardised"] for v in cal.residuals.values()])
    np.testing.assert_allclose(std, std[:1].repeat(4, 0), rtol=1e-3)
    assert "four standards cannot tell" in cal.describe()


def test_weights_pull_the_fit_towards_the_surer_standards():
    kit, box = example_kit(), port(5)
    declared = dict(EXTRAS, mismatch1=0.55)
    m = readings(box, EXTRAS, kit)
    equal = OnePortCal.from_standards(F, m, kit=kit, convention="engineering", extra=declared)
    trusted = OnePortCal.from_standards(F, m, kit=kit, convention="engineering", extra=declared,
                                        weights={"mismatch1": 1e-6})
    exact = OnePortCal.from_standards(F, readings(box, {}, kit), kit=kit, convention="engineering")
    off = [np.abs(c.terms["e"] - exact.terms["e"]).max() for c in (equal, trusted)]
    assert off[1] < off[0] / 100


@pytest.mark.parametrize("method", ["eight-term", "unknown-thru", "twelve-term"])
def test_two_port_models_take_extras_per_port(method):
    s = coaxial(method)
    kit = example_kit()
    X = s.embed                                        # the scenario's boxes through a known device
    extra = {"mismatch1": 0.5, "capacitive2": -0.4j, "offset_short2": EXTRAS["offset_short1"][: len(s.f)]}
    measured = dict(s.measured)
    # one-port readings at each port through the scenario's own boxes: the reflections of a
    # two-port holding the standard at that port
    for name, value in extra.items():
        S = np.zeros((len(s.f), 2, 2), complex)
        p = int(name[-1]) - 1
        S[:, p, p] = value
        measured[name] = X(S)[:, p, p]                 # no transmission: the switch terms do not show
    cal = METHODS[method].from_standards(s.f, measured, kit=kit, convention="engineering", extra=extra)
    plain = METHODS[method].from_standards(s.f, s.measured, kit=kit, convention="engineering")
    np.testing.assert_allclose(cal.apply(s.raw), s.device, atol=1e-9)
    np.testing.assert_allclose(cal.apply(s.raw), plain.apply(s.raw), atol=1e-10)
    assert set(cal.parameters["fitted"]) == {"1", "2"}
    assert len(cal.residuals) == 3 + 1 + 3 + 2


def test_misfits_are_saved_loaded_and_interpolated(tmp_path):
    kit, box = example_kit(), port(6)
    declared = dict(EXTRAS, capacitive1=-0.45j)
    cal = OnePortCal.from_standards(F, readings(box, EXTRAS, kit), kit=kit, convention="engineering",
                                    extra=declared, notes="ls")
    cal.save(tmp_path / "ls.npz")
    again = load(tmp_path / "ls.npz")
    assert again.parameters == cal.parameters
    for k, v in cal.residuals.items():
        np.testing.assert_array_equal(again.residuals[k]["misfit"], v["misfit"])
    assert again.describe() == cal.describe()
    assert set(cal.interpolate(F[::2]).residuals) == set(cal.residuals)


@pytest.mark.parametrize("extra, match", [
    ({"bad name1": 0.5}, "a name of letters"),
    ({"mismatch": 0.5}, "ending in the port"),
    ({"short1": 0.5}, "the name of a kit standard"),
    ({"mismatch2": 0.5}, "port 1 only"),
    ({"mismatch1": np.ones(3)}, "actual value must be"),
])
def test_bad_extras_are_refused_by_name(extra, match):
    kit, box = example_kit(), port()
    m = readings(box, {}, kit)
    m.update({k: np.zeros(N, complex) for k in extra})
    with pytest.raises(ValueError, match=match):
        OnePortCal.from_standards(F, m, kit=kit, convention="engineering", extra=extra)


def test_a_fitted_calibration_says_it_cannot_propagate_yet():
    from orvane_ex.uncertainty import Budget

    kit, box = example_kit(), port()
    cal = OnePortCal.from_standards(F, readings(box, EXTRAS, kit), kit=kit, convention="engineering", extra=EXTRAS)
    with pytest.raises(NotImplementedError, match="least-squares fit"):
        cal.with_uncertainty(Budget())


def test_orvane_cal_build_fits_extra_standards_and_info_lists_them(tmp_path, capsys):
    from orvane_ex.cli import main
    from orvane_ex.files import touchstone

    kit, box = example_kit(), port(8)
    m = readings(box, {"mismatch1": 0.5, "capacitive1": -0.4j}, kit)
    for name, value in m.items():
        touchstone.write(tmp_path / f"{name}.s1p", F, value[:, None, None])
    for name, value in (("mismatch", 0.5), ("capacitive", -0.4j)):
        touchstone.write(tmp_path / f"{name}_actual.s1p", F, np.full((N, 1, 1), value))
    extra = [f"mismatch1={tmp_path / 'mismatch_actual.s1p'}", f"capacitive1={tmp_path / 'capacitive_actual.s1p'}"]
    assert main(["build", "--method", "one-port", "--standards", str(tmp_path), "--extra", *extra,
                 "-o", str(tmp_path / "cal.npz")]) == 0
    assert main(["info", str(tmp_path / "cal.npz")]) == 0
    out = capsys.readouterr().out
    assert "port 1, 5 standards by weighted least squares" in out and "capacitive1: misfit up to" in out
    assert main(["build", "--method", "one-port", "--standards", str(tmp_path), "--extra", "mismatch1",
                 "-o", str(tmp_path / "x.npz")]) == 2
    assert "give NAME=FILE.s1p" in capsys.readouterr().err
