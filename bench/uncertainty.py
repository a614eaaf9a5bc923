"""Uncertainty propagation, measured in one run: linear against Monte Carlo
(10^4 trials) for every method, the coverage of k=2 intervals over 1000
simulated calibrations with known truth, the cost of propagation against
the calibration without it and against Monte Carlo, and multiline TRL on
the measured on-wafer set with the input uncertainties of the published
example.

    python bench/uncertainty.py            # all of it (several minutes)
    python bench/uncertainty.py --quick    # fewer trials
"""
import argparse
import os
import sys
import time
import warnings

import numpy as np

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from scenarios import scenario  # noqa: E402
from test_uncertainty_propagation import BUDGET, perturbed_kit  # noqa: E402
from timing import best_of  # noqa: E402

from orvane_ex.calibration import METHODS  # noqa: E402
from orvane_ex.uncertainty import Budget, monte_carlo  # noqa: E402



def built(method, **kw):
    s = scenario(method, **kw)
    return s, s.cls.from_standards(s.f, s.measured, convention="engineering", **s.options)


def linear_vs_monte_carlo(trials):
    print(f"linear against Monte Carlo ({trials} trials), standard uncertainty ratios over all points and "
          "S-parameters:")
    budget = Budget.from_dict(BUDGET)
    for method in sorted(METHODS):
        s, cal = built(method)
        lin = cal.apply(s.raw, budget=budget)
        mc = monte_carlo(cal, s.raw, budget, trials=trials if "trl" not in method else trials // 4, seed=5)
        mag = lin.std_magnitude() / mc.std_magnitude()
        ph = lin.std_phase() / mc.std_phase()
        print(f"  {method:<14} |S| {np.nanmin(mag):.3f} to {np.nanmax(mag):.3f}   phase {np.nanmin(ph):.3f} to "
              f"{np.nanmax(ph):.3f}   (median {np.nanmedian(mag):.3f}, {np.nanmedian(ph):.3f})", flush=True)


def coverage(calibrations):
    print(f"\ncoverage of |S| +- 2u over {calibrations} simulated calibrations (11 points, 4 S-parameters each):")
    budget = Budget(noise=Budget.from_dict({"noise": {"floor": "-55 dB"}}).noise, kit=Budget.from_dict(BUDGET).kit)
    sigma = 10 ** (-55 / 20) / np.sqrt(2)
    for method in sorted(METHODS):
        rng = np.random.default_rng(11)
        inside = []
        for _ in range(calibrations):
            kw = {} if "trl" in method else {"kit": perturbed_kit(rng, budget)}
            s = scenario(method, n=11, **kw)

            def noisy(x):
                return x + sigma * (rng.standard_normal(x.shape) + 1j * rng.standard_normal(x.shape))

            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                cal = s.cls.from_standards(s.f, {k: noisy(v) for k, v in s.measured.items()},
                                           convention="engineering", **s.options)
            u = cal.apply(noisy(s.raw), budget=budget)
            inside.append(np.abs(np.abs(u.s) - np.abs(s.device)) <= 2 * u.std_magnitude())
        print(f"  {method:<14} {np.mean(inside) * 100:5.1f} %", flush=True)


def speed(trials):
    budget = Budget.from_dict(BUDGET)
    s = scenario("twelve-term", n=1601)
    plain = best_of(lambda: s.cls.from_standards(s.f, s.measured, convention="engineering").apply(s.raw))
    cal = s.cls.from_standards(s.f, s.measured, convention="engineering")
    linear = best_of(lambda: cal.with_uncertainty(budget).apply(s.raw, budget=budget))
    t = time.perf_counter()
    monte_carlo(cal, s.raw, budget, trials=trials, seed=1)
    mc = time.perf_counter() - t
    print(f"\ntwelve-term, 1601 points: calibration and correction {plain * 1e3:.1f} ms; with linear propagation "
          f"{linear * 1e3:.1f} ms ({linear / plain:.1f}x); Monte Carlo of {trials} trials {mc:.1f} s "
          f"({mc / linear:.0f}x the linear propagation)")


def measured_set():
    from test_calibration_trl_measured import LENGTHS_UM, Measured

    m = Measured()
    # the published example's inputs: S-parameter noise 0.002 per real and imaginary part, line lengths
    # 20 um, reflect asymmetry 0.01
    budget = Budget.from_dict({"noise": {"floor": 0.002 * np.sqrt(2)},
                               "trl": {"line_length": "20 um", "reflect_asymmetry": 0.01}})
    cal = m.ours(calibration_lines=(1, 2, 3, 4, 5))
    with_u = best_of(lambda: cal.with_uncertainty(budget), 3)
    kept = cal.with_uncertainty(budget)
    plain = best_of(lambda: m.ours(calibration_lines=(1, 2, 3, 4, 5)), 3)
    u = kept.apply(m.lines[3], budget=budget)
    print(f"\nmultiline TRL, measured set, {len(LENGTHS_UM)} lines, {len(m.f)} points: calibration {plain * 1e3:.1f} ms,"
          f" its propagation {with_u * 1e3:.1f} ms")
    bands = ((0.2e9, 2e9), (2e9, 20e9), (20e9, 75e9), (75e9, 150e9))
    print("  the 1800 um line corrected (it is also a calibration line here): standard uncertainty, median per band")
    for lo, hi in bands:
        band = (m.f >= lo) & (m.f <= hi)
        print(f"  {lo / 1e9:6.1f} - {hi / 1e9:5.1f} GHz   |S11| {np.median(u.std_magnitude()[band, 0, 0]):.4f}   "
              f"|S21| {np.median(u.std_magnitude()[band, 1, 0]):.4f} ({np.median(u.std_db()[band, 1, 0]):.4f} dB)   "
              f"S21 phase {np.nanmedian(u.std_phase()[band, 1, 0]):.3f} deg")
    print("  each influence's share of u(|S21|) and u(|S11|) per band (of the variance):")
    for lo, hi in bands:
        band = (m.f >= lo) & (m.f <= hi)
        cells = []
        for name in u.contributions:
            s21 = (u.std_magnitude(contribution=name)[band, 1, 0] ** 2).sum() / (u.std_magnitude()[band, 1, 0] ** 2).sum()
            s11 = (u.std_magnitude(contribution=name)[band, 0, 0] ** 2).sum() / (u.std_magnitude()[band, 0, 0] ** 2).sum()
            cells.append(f"{name.replace(' (calibration)', '')} {100 * s21:.0f}/{100 * s11:.0f}%")
        print(f"  {lo / 1e9:6.1f} - {hi / 1e9:5.1f} GHz   " + ", ".join(cells))
    # the published method's check: linear against Monte Carlo on the measured data
    plain_cal = m.ours(calibration_lines=(1, 2, 3, 4, 5))
    t = time.perf_counter()
    mc = monte_carlo(plain_cal, m.lines[3], budget, trials=300, seed=3)
    mc_time = time.perf_counter() - t
    ratio = u.std_magnitude()[:, 1, 0] / mc.std_magnitude()[:, 1, 0]
    ratio11 = u.std_magnitude()[:, 0, 0] / mc.std_magnitude()[:, 0, 0]
    print(f"  linear / Monte Carlo (300 trials, {mc_time:.1f} s): u(|S21|) median {np.median(ratio):.3f} "
          f"(5-95% {np.percentile(ratio, 5):.3f} to {np.percentile(ratio, 95):.3f}), u(|S11|) median "
          f"{np.median(ratio11):.3f}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--only", choices=["agreement", "coverage", "speed", "measured"])
    args = parser.parse_args()
    warnings.simplefilter("ignore")
    trials = 2000 if args.quick else 10000
    if args.only in (None, "agreement"):
        linear_vs_monte_carlo(trials)
    if args.only in (None, "coverage"):
        coverage(200 if args.quick else 1000)
    if args.only in (None, "speed"):
        speed(1000)
    if args.only in (None, "measured"):
        measured_set()


if __name__ == "__main__":
    main()
