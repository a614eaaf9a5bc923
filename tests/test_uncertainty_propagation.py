"""Uncertainty: budgets read and refused by field, linear propagation
against Monte Carlo over the same budget for every method, the coverage of
its k=2 intervals over simulated calibrations with known truth, and
calibrations that keep their uncertainty through a file."""
import dataclasses
import warnings

import numpy as np
import pytest

from orvane_ex.calibration import METHODS, load
from orvane_ex.calibration.kit import example_kit
from orvane_ex.uncertainty import Budget, BudgetError, UncertainS, monte_carlo
from scenarios import scenario

pytestmark = pytest.mark.filterwarnings("ignore::orvane_ex.trl.TRLConditionWarning")

BUDGET = {
    "name": "test bench",
    "noise": {"floor": "-60 dB", "magnitude": "0.02 dB", "phase": "0.2 deg"},
    "linearity": {"magnitude": "0.002 dB/dB"},
    "kit": {"open": {"capacitance": ["2 fF"], "delay": "0.5 ps"}, "short": {"inductance": ["2 pH"], "delay": "0.5 ps"},
            "load": {"resistance": "0.5 ohm"}, "thru": {"delay": "0.5 ps"}},
    "connector": {"port1": "-50 dB", "port2": "-50 dB"},
    "cable": {"port1": {"magnitude": "0.01 dB", "phase": "0.1 deg"}, "port2": {"magnitude": "0.01 dB"}},
    "trl": {"line_length": "5 um", "eps_eff": 0.002, "impedance": 0.005, "reflect_asymmetry": 0.01},
}


def built(method, **kw):
    s = scenario(method, **kw)
    return s, s.cls.from_standards(s.f, s.measured, convention="engineering", **s.options)


def test_a_budget_file_reads_back_to_the_same_values(tmp_path):
    b = Budget.from_dict(BUDGET)
    assert b.connector == pytest.approx((10 ** -2.5, 10 ** -2.5))
    assert b.noise.phase.at([1e9])[0] == pytest.approx(np.radians(0.2))
    assert b.kit["open"]["capacitance"] == [2e-15] and b.trl.line_length == pytest.approx(5e-6)
    b.save(tmp_path / "budget.toml")
    assert Budget.load(tmp_path / "budget.toml") == b


@pytest.mark.parametrize("change,message", [
    ({"noise": {"floor": "-60 dBm"}}, r"noise.floor: '-60 dBm' is not a level in dB"),
    ({"noise": {"hum": 1}}, r"noise.hum: unknown field"),
    ({"kit": {"open": {"capacitance": ["2 pH"]}}}, r"kit.open.capacitance\[0\]: '2 pH' is not"),
    ({"kit": {"load": {"resistance": -1}}}, r"kit.load.resistance: -1 is negative"),
    ({"trl": {"line_length": "5 ps"}}, r"trl.line_length: '5 ps' is not a length"),
    ({"cable": {"port3": {}}}, r"cable.port3: unknown field"),
    ({"noise": {"magnitude": [["2 GHz", "0.1 dB"], ["1 GHz", "0.2 dB"]]}}, "increasing frequencies"),
    ({"format": 9}, "budget format 9"),
])
def test_a_bad_budget_is_refused_by_its_field(change, message, tmp_path):
    with pytest.raises(BudgetError, match=message):
        Budget.from_dict({**BUDGET, **change}, source="b.toml")
    (tmp_path / "bad.toml").write_bytes(b"noise = {floor = \xff}")
    with pytest.raises(BudgetError, match="bad.toml: not a budget file"):
        Budget.load(tmp_path / "bad.toml")


def test_noise_from_repeated_sweeps():
    rng = np.random.default_rng(3)
    f = np.linspace(1e9, 2e9, 5)
    mean = 0.5 * np.exp(1j * f / 1e9)
    # 0.1 dB and 1 degree of trace noise, one sigma
    sweeps = mean * (1 + np.log(10) / 20 * 0.1 * rng.standard_normal((4000, 5))) * np.exp(
        1j * np.radians(1) * rng.standard_normal((4000, 5)))
    b = Budget.from_repeats(f, sweeps)
    np.testing.assert_allclose(b.noise.magnitude.at(f), 0.1, rtol=0.05)
    np.testing.assert_allclose(np.degrees(b.noise.phase.at(f)), 1, rtol=0.05)


@pytest.mark.parametrize("method", sorted(METHODS))
def test_linear_propagation_agrees_with_monte_carlo(method):
    s, cal = built(method)
    budget = Budget.from_dict(BUDGET)
    linear = cal.apply(s.raw, budget=budget)
    assert isinstance(linear, UncertainS)
    np.testing.assert_array_equal(linear.s, cal.apply(s.raw))
    mc = monte_carlo(cal, s.raw, budget, trials=1500 if "trl" in method else 3000, seed=2)
    for ours, theirs in ((linear.std_magnitude(), mc.std_magnitude()), (linear.std_phase(), mc.std_phase())):
        ratio = ours / theirs
        assert np.nanmax(np.abs(ratio - 1)) < 0.12, (np.nanmin(ratio), np.nanmax(ratio))
    # the contributions add up to the whole, and each influence of the budget shows
    np.testing.assert_allclose(sum(linear.contributions.values()), linear.cov, rtol=1e-12, atol=1e-18)
    assert "noise (calibration)" in linear.contributions and "noise (device)" in linear.contributions


INFLUENCES = ["noise", "linearity", "kit", "connector", "cable", "drift", "trl"]


@pytest.mark.parametrize("influence", INFLUENCES)
@pytest.mark.parametrize("method", sorted(METHODS))
def test_each_influence_alone_agrees_with_monte_carlo(method, influence):
    """An influence the linear method propagates and Monte Carlo forgets (or
    the other way round) shows when it is alone."""
    if (influence == "kit") and "trl" in method or (influence == "trl") and "trl" not in method:
        pytest.skip(f"{method} has no {influence} influence")
    s, cal = built(method)
    full = Budget.from_dict({**BUDGET, "drift": BUDGET["cable"]})
    budget = Budget(**{influence: getattr(full, influence)})
    linear = cal.apply(s.raw, budget=budget)
    mc = monte_carlo(cal, s.raw, budget, trials=800, seed=4)
    # real and imaginary parts: a delay's uncertainty moves phases alone, and |S| only in second order
    ours, theirs = np.concatenate(linear.std_re_im()), np.concatenate(mc.std_re_im())
    if theirs.max() < 1e-10:                      # rounding: the method does not depend on it at all
        assert ours.max() < 1e-10, ours.max()
        return
    moved = theirs > 1e-6 * theirs.max()          # what the influence reaches at all
    assert np.array_equal(ours > 1e-6 * theirs.max(), moved)
    ratio = np.median(ours[moved] / theirs[moved])
    assert abs(ratio - 1) < 0.05, ratio


def test_where_a_value_is_near_zero_its_phase_has_no_linear_uncertainty():
    s, cal = built("twelve-term")
    raw = s.embed(np.where(np.eye(2, dtype=bool), 1e-5, 0.5)[None] * np.ones((len(s.f), 1, 1)))
    u = cal.apply(raw, budget=Budget.from_dict(BUDGET))
    phase = u.std_phase()
    assert np.isnan(phase[:, 0, 0]).all() and np.isfinite(phase[:, 1, 0]).all()
    assert np.isfinite(u.std_magnitude()).all()


@pytest.mark.parametrize("method", ["twelve-term", "unknown-thru", "multiline-trl"])
def test_a_saved_calibration_carries_its_uncertainty(method, tmp_path):
    s, cal = built(method)
    budget = Budget.from_dict(BUDGET)
    kept = cal.with_uncertainty(budget)
    kept.save(tmp_path / "cal.npz")
    again = load(tmp_path / "cal.npz")
    assert again.budget["name"] == "test bench" and set(again.uncertainty) == set(kept.uncertainty)
    for k in kept.uncertainty:
        np.testing.assert_array_equal(again.uncertainty[k], kept.uncertainty[k])
    np.testing.assert_allclose(again.apply(s.raw, budget=budget).cov, cal.apply(s.raw, budget=budget).cov,
                               rtol=1e-10, atol=1e-20)
    assert "uncertainty of the error terms from: noise" in again.describe()
    with np.load(tmp_path / "cal.npz") as z:
        assert int(z["version"]) == 2
    cal.save(tmp_path / "plain.npz")
    with np.load(tmp_path / "plain.npz") as z:
        assert int(z["version"]) == 1           # files without uncertainty stay readable by earlier releases


def perturbed_kit(rng, budget):
    """The example kit with its coefficients drawn from the budget: the
    standards as they really are."""
    kit = example_kit()
    std = dict(kit.standards)
    u = budget.kit
    o = std["open"]
    std["open"] = dataclasses.replace(o, capacitance=(o.capacitance[0] + u["open"]["capacitance"][0]
                                                      * rng.standard_normal(),) + o.capacitance[1:],
                                      offset=dataclasses.replace(o.offset, delay=o.offset.delay + u["open"]["delay"]
                                                                 * rng.standard_normal()))
    sh = std["short"]
    std["short"] = dataclasses.replace(sh, inductance=(sh.inductance[0] + u["short"]["inductance"][0]
                                                       * rng.standard_normal(),) + sh.inductance[1:],
                                       offset=dataclasses.replace(sh.offset, delay=sh.offset.delay
                                                                  + u["short"]["delay"] * rng.standard_normal()))
    lo = std["load"]
    std["load"] = dataclasses.replace(lo, resistance=lo.resistance + u["load"]["resistance"] * rng.standard_normal())
    th = std["thru"]
    std["thru"] = dataclasses.replace(th, offset=dataclasses.replace(th.offset, delay=th.offset.delay
                                                                      + u["thru"]["delay"] * rng.standard_normal()))
    return dataclasses.replace(kit, standards=std)


@pytest.mark.parametrize("method", ["twelve-term", "eight-term"])
def test_k2_intervals_cover_the_truth(method):
    """Simulated calibrations: standards drawn from the kit's uncertainty, the
    readings noisy; each calibration built with the kit's nominal model and
    its own uncertainty evaluated. |S| +- 2 u(|S|) holds the true |S| at
    about 95% of the points."""
    budget = Budget(noise=Budget.from_dict({"noise": {"floor": "-55 dB"}}).noise, kit=Budget.from_dict(BUDGET).kit)
    rng = np.random.default_rng(11)
    inside = []
    for trial in range(250):
        s = scenario(method, kit=perturbed_kit(rng, budget), n=11)
        sigma = 10 ** (-55 / 20) / np.sqrt(2)

        def noisy(x):
            return x + sigma * (rng.standard_normal(x.shape) + 1j * rng.standard_normal(x.shape))

        measured = {k: noisy(v) for k, v in s.measured.items()}
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            cal = s.cls.from_standards(s.f, measured, convention="engineering", **s.options)
        u = cal.apply(noisy(s.raw), budget=budget)
        inside.append(np.abs(np.abs(u.s) - np.abs(s.device)) <= 2 * u.std_magnitude())
    coverage = np.mean(inside)
    assert 0.93 <= coverage <= 0.97, coverage


def test_kit_files_carry_their_own_uncertainties(tmp_path):
    with open(example_kit().source, encoding="utf-8") as fp:
        text = fp.read()
    # the example kit's open with an uncertain C0
    text = text.replace('capacitance = ["49.43 fF"', 'capacitance = [{value = "49.43 fF", u = "2 fF"}')
    (tmp_path / "kit.toml").write_text(text)
    from orvane_ex.calibration.kit import CalKit

    kit = CalKit.load(tmp_path / "kit.toml")
    assert kit.standards["open"].uncertainty == {"capacitance": [2e-15, 0.0, 0.0, 0.0]}
    kit.save(tmp_path / "again.toml")
    assert CalKit.load(tmp_path / "again.toml").standards["open"].uncertainty == kit.standards["open"].uncertainty
    s = scenario("twelve-term")
    from_kit = s.cls.from_standards(s.f, s.measured, kit=kit, convention="engineering")
    plain = s.cls.from_standards(s.f, s.measured, convention="engineering")
    by_file = from_kit.apply(s.raw, budget=Budget()).contributions["kit (calibration)"]
    by_budget = plain.apply(s.raw, budget=Budget(kit={"open": {"capacitance": [2e-15]}})).contributions[
        "kit (calibration)"]
    np.testing.assert_allclose(by_file, by_budget, rtol=1e-9, atol=1e-24)
