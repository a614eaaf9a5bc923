"""LRM, TRM and LRRM end to end: on the virtual board's impedance standard
substrate (noiseless, then noisy against the propagated uncertainty), with
their uncertainty (linear against Monte Carlo with every on-wafer influence,
LRRM's fitted inductance carried into each point, a saved calibration
keeping it), the on-wafer budget fields, on real probe-station data against
multiline TRL, and the demo."""
import warnings

import numpy as np
import pytest

from conftest import run_python
from orvane_ex import hidden
from orvane_ex.calibration import load, lrm
from orvane_ex.calibration.lrm_uncertain import embed, reading_maps
from orvane_ex.uncertainty import Budget, BudgetError, monte_carlo
from orvane_ex.virtual_board import PORTS, Board, ImpedanceStandardSubstrate, Settings
from scenarios import scenario
from test_uncertainty_propagation import BUDGET

ONWAFER = {"match_resistance": "0.3 ohm", "match_inductance": "0.5 pH", "thru_delay": "0.05 ps",
           "reflect_asymmetry": 0.01, "reflect_magnitude": 0.003}


def probed(substrate, *, noise=True, noise_db=-90.0, names=("THRU", "SHORT", "OPEN", "LOAD", "DUT"), board=None):
    """The substrate's standards and the device measured on the board (its
    convention), and the board."""
    settings = Settings(1e9, 40e9, 101)
    board = board or Board(settings, seed=3, wafer=substrate, noise=noise, noise_db=noise_db,
                           crosstalk_db=-110.0 if noise else -400.0)
    with board.unattended(hidden):
        readings = [hidden.prompt2PortMeasure(board, settings, PORTS, k) for k in names]
    return board, readings


def calibrate(method, substrate, readings, **kw):
    T, S, O, M, _ = readings
    f = np.linspace(1e9, 40e9, len(T))
    match = dict(resistance=substrate.load_resistance, convention="board", **kw)
    if method == "lrrm":
        return lrm.lrrm(f, T, S, O, M, thru_delay=substrate.thru_delay, **match)
    match["inductance"] = substrate.load_inductance
    if method == "trm":
        return lrm.trm(f, T, S, M, **match)
    return lrm.lrm(f, T, S, M, thru_delay=substrate.thru_delay, **match)


def substrate_for(method):
    return ImpedanceStandardSubstrate(thru_delay=0.0 if method == "trm" else 1e-12)


@pytest.mark.filterwarnings("error::orvane_ex.calibration.lrm.OnWaferWarning")
@pytest.mark.parametrize("method", ["lrm", "trm", "lrrm"])
def test_the_virtual_substrate_calibrates_the_board_exactly(method):
    iss = substrate_for(method)
    board, readings = probed(iss, noise=False)
    cal = calibrate(method, iss, readings)
    assert np.max(np.abs(cal.apply(readings[-1]) - board.device)) < 1e-10
    if method == "lrrm":
        assert cal.parameters["inductance"] == pytest.approx(iss.load_inductance, rel=1e-7)


def noise_budget(iss, board, sweeps=20):
    """A budget of the readings' noise floor, from more sweeps of the load."""
    _, loads = probed(iss, names=["LOAD"] * sweeps, board=board)
    loads = np.array([x[:, 0, 0] for x in loads])
    floor = float(np.sqrt(np.mean(np.abs(loads - loads.mean(axis=0)) ** 2)))
    return Budget.from_dict({"noise": {"floor": floor}})


@pytest.mark.filterwarnings("ignore::orvane_ex.calibration.lrm.OnWaferWarning")
@pytest.mark.parametrize("method", ["lrm", "trm", "lrrm"])
def test_noisy_board_errors_lie_within_the_propagated_uncertainty(method):
    """With -65 dB of receiver noise, the corrected device's error against
    the truth stays within a few of its propagated standard uncertainties
    (the budget's noise floor from repeated sweeps of the load)."""
    iss = substrate_for(method)
    board, readings = probed(iss, noise_db=-65.0)
    cal = calibrate(method, iss, readings)
    u = cal.apply(readings[-1], budget=noise_budget(iss, board))
    error = np.abs(u.s - board.device)
    normalised = error / u.std_magnitude()
    assert np.max(error) > 1e-4                    # the noise shows
    assert np.percentile(normalised, 95) < 3 and np.max(normalised) < 6, np.percentile(normalised, [50, 95, 100])


def built(method, **kw):
    s = scenario(method, **kw)
    return s, s.cls.from_standards(s.f, s.measured, convention="engineering", **s.options)


@pytest.mark.parametrize("method", ["lrm", "trm", "lrrm"])
def test_linear_propagation_agrees_with_monte_carlo_for_every_onwafer_influence(method):
    s, cal = built(method)
    budget = Budget.from_dict({**BUDGET, "onwafer": ONWAFER})
    linear = cal.apply(s.raw, budget=budget)
    mc = monte_carlo(cal, s.raw, budget, trials=3000, seed=4)
    for ours, theirs in ((linear.std_magnitude(), mc.std_magnitude()), (linear.std_phase(), mc.std_phase())):
        ratio = ours / theirs
        assert np.nanmax(np.abs(ratio - 1)) < 0.12, (np.nanmin(ratio), np.nanmax(ratio))
    expected = {"noise", "linearity", "connector", "reflect asymmetry", "match resistance", "thru delay"}
    expected |= {"reflect magnitude"} if method == "lrrm" else {"match inductance"}
    assert {k[:-len(" (calibration)")] for k in linear.contributions if k.endswith("(calibration)")} == expected


@pytest.mark.parametrize("influence", [{"noise": {"floor": "-45 dB"}}, {"connector": {"port1": "-40 dB"}},
                                       {"onwafer": {"reflect_magnitude": 0.001}}])
def test_lrrm_error_terms_carry_the_fitted_inductance_at_every_point(influence):
    """The error terms' own covariance against solving again with the
    influence drawn: LRRM's inductance is fitted over the band, so each
    point's terms move with every other point's readings too; a per-point
    propagation that left this out would fall short where the inductance
    matters (the high end of the band). The open's |Gamma| moves the
    inductance strongly (0.35 pH per 0.1 %): beyond a few tenths of a per
    cent the terms no longer follow it linearly."""
    s, cal = built("lrrm", n=21)
    budget = Budget.from_dict(influence)
    cov = sum(cal.term_covariance(budget).values())
    linear_std = np.sqrt(np.einsum("nii->ni", cov))
    rng = np.random.default_rng(5)
    inputs = cal.solver_inputs()
    terms = []
    for _ in range(1500):
        trial = dict(inputs)
        draws = {}
        if "noise" in influence:
            sigma = 10 ** (-45 / 20) / np.sqrt(2)
            for name in ("thru", "short", "open", "match"):
                x = inputs[name]
                noise = sigma * (rng.standard_normal(x.shape) + 1j * rng.standard_normal(x.shape))
                if x.ndim == 3 and name != "thru":
                    noise[:, [0, 1], [1, 0]] = 0
                trial[name] = x + noise
        elif "connector" in influence:                 # each standard's connection at port 1, the thru's too
            u = 10 ** (-40 / 20) / np.sqrt(2)
            A, B, q = (cal.terms[k] for k in "ABq")
            read1, _, _ = reading_maps(A, B)
            T = cal.standards["T"]
            moved = T.copy()
            moved[:, 0, 0] += u * (rng.standard_normal(len(T)) + 1j * rng.standard_normal(len(T)))
            trial["thru"] = inputs["thru"] + embed(A, B, q, moved) - embed(A, B, q, T)
            for name in ("short", "open", "match"):
                G = cal.terms[name]
                moved = read1(G + u * (rng.standard_normal(len(G)) + 1j * rng.standard_normal(len(G)))) - read1(G)
                x = trial[name].copy()
                if x.ndim == 1:
                    x += moved
                else:
                    x[:, 0, 0] += moved
                trial[name] = x
        else:
            draws["magnitude"] = 1 + 0.001 * rng.standard_normal()
        r = cal.solve(trial, **draws)
        terms.append(np.stack([r["A"][:, 0, 0], r["A"][:, 0, 1], r["A"][:, 1, 0], r["B"][:, 0, 0], r["B"][:, 0, 1],
                               r["B"][:, 1, 0], r["q"]], axis=1))
    terms = np.array(terms)
    mc_std = np.stack([terms.real.std(axis=0), terms.imag.std(axis=0)], axis=2).reshape(len(cal.f), 14)
    ratio = linear_std / mc_std
    assert np.max(np.abs(ratio - 1)) < 0.12, (ratio.min(), ratio.max())


@pytest.mark.filterwarnings("ignore::orvane_ex.calibration.lrm.OnWaferWarning")
def test_a_saved_lrrm_calibration_carries_its_uncertainty(tmp_path):
    s, cal = built("lrrm")
    budget = Budget.from_dict({**BUDGET, "onwafer": ONWAFER})
    kept = cal.with_uncertainty(budget)
    kept.save(tmp_path / "cal.npz")
    again = load(tmp_path / "cal.npz")
    assert again.parameters == kept.parameters and set(again.uncertainty) == set(kept.uncertainty)
    np.testing.assert_allclose(again.apply(s.raw, budget=budget).cov, cal.apply(s.raw, budget=budget).cov,
                               rtol=1e-10, atol=1e-20)


def test_the_onwafer_budget_reads_back_and_refuses_by_field(tmp_path):
    b = Budget.from_dict({"onwafer": ONWAFER})
    assert b.onwafer.match_inductance == pytest.approx(0.5e-12) and b.onwafer.thru_delay == pytest.approx(5e-14)
    b.save(tmp_path / "b.toml")
    assert Budget.load(tmp_path / "b.toml") == b
    for change, message in (({"thru_delay": "1 mm"}, r"onwafer.thru_delay: '1 mm' is not a delay"),
                            ({"match_resistance": -1}, r"onwafer.match_resistance: -1 is negative"),
                            ({"match_capacitance": 1}, r"onwafer.match_capacitance: unknown field")):
        with pytest.raises(BudgetError, match=message):
            Budget.from_dict({"onwafer": change}, source="b.toml")


def test_on_real_probe_station_data_as_multiline_trl_calibrates():
    """The real raw thru (a 200 um line) and short of tests/data/measured-mtrl
    with their switch terms; the match (and LRRM's open) read through the
    probe station's own error boxes as multiline TRL on the lines finds
    them. The 1800 um line, corrected as a device, then agrees with multiline
    TRL's correction: its transmission closely, its reflections as far as
    the real thru agrees with the lines' error boxes (a few hundredths at the
    top of the band; LRRM's fitted inductance takes up some of that)."""
    from test_calibration_trl_measured import THRU, Measured

    m = Measured()
    mtrl = m.ours()
    f, n = m.f, len(m.f)
    w = 2 * np.pi * f
    read1, read2, _ = reading_maps(mtrl.terms["A"], mtrl.terms["B"])
    thru = np.zeros((n, 2, 2), complex)
    thru[:, 0, 1] = thru[:, 1, 0] = np.exp(-mtrl.terms["gamma"] * THRU)

    def on_both(G):
        S = np.zeros((n, 2, 2), complex)
        S[:, 0, 0], S[:, 1, 1] = read1(G), read2(G)
        return S

    z = 50 + 1j * w * 3e-12
    match = on_both((z - 50) / (z + 50))
    open_ = on_both((1 - 1j * w * 5e-15 * 50) / (1 + 1j * w * 5e-15 * 50))
    common = dict(thru_standard=thru, switch_terms=m.switch)
    with warnings.catch_warnings():
        warnings.simplefilter("error", lrm.OnWaferWarning)
        # the short is inductive: about 0.9 ps behind the probe tips, for the root choice
        cals = [lrm.lrm(f, m.lines[0], m.reflect, match, inductance=3e-12, reflect_offset=0.9e-12, **common),
                lrm.lrrm(f, m.lines[0], m.reflect, open_, match[:, 0, 0], short_offset=0.9e-12, inductance=3e-12,
                         **common)]
        fitted = lrm.lrrm(f, m.lines[0], m.reflect, open_, match[:, 0, 0], short_offset=0.9e-12, **common)
    reference = mtrl.apply(m.lines[3])
    for cal in cals + [fitted]:
        d = np.abs(cal.apply(m.lines[3]) - reference)
        assert d[:, 1, 0].max() < 5e-3 and d[:, 0, 1].max() < 5e-3, cal.method
        assert np.median(d[:, [0, 1], [0, 1]]) < (2e-2 if cal is not fitted else 4e-2) and d.max() < 0.1, cal.method
    assert np.max(np.abs(cals[0].terms["reflect"] - mtrl.terms["reflect"])) < 0.06
    # the real thru is not quite what the lines' boxes make of it, so the open is not quite lossless
    # through LRRM's boxes; the fit takes the inductance that makes it most nearly so
    assert np.abs(fitted.terms["residual"]).max() < 0.6 * np.abs(cals[1].terms["residual"]).max()


def test_demo_onwafer(tmp_path):
    out = tmp_path / "out"
    result = run_python(f"""
        import sys
        from orvane_ex import demo
        sys.exit(demo.main(['--unattended', '--points', '51', '--stop', '40', '--method', 'onwafer', '--out',
                            {str(out)!r}]))
    """, tmp_path=tmp_path)
    assert result.returncode == 0, result.stderr
    text = result.stdout
    assert [line.split(":")[0] for line in text.splitlines() if line.startswith(">> Measure")] == [
        ">> Measure THRU", ">> Measure SHORT", ">> Measure OPEN", ">> Measure LOAD", ">> Measure DUT"] * 2
    rows = {line[:26].strip(): float(line.split()[-1]) for line in text.splitlines()
            if line[:26].strip() in ("raw", "LRM", "LRRM", "TRM (flush thru)")}
    assert rows["raw"] > 0 and max(rows["LRM"], rows["LRRM"], rows["TRM (flush thru)"]) < -55, rows
    fitted = float(text.split("LRRM's fitted match inductance: ")[1].split()[0])
    assert fitted == pytest.approx(3.0, abs=0.1)
    assert (out / "lrrm.npz").exists() and (out / "dut_lrrm.s2p").exists() and (out / "comparison.png").exists()
