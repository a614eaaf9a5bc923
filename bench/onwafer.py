"""LRM, TRM and LRRM measured in one run: noiseless recovery and agreement
with scikit-rf's LRM and LRRM, each method's worst point on the noisy
virtual board with its propagated uncertainty, and the speed against
scikit-rf's classes at 1601 points (one timed run each, after one untimed).

    python bench/onwafer.py
"""
import os
import sys
import time
import warnings

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402
import skrf  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from test_calibration_onwafer import Substrate, both, scikit_rf  # noqa: E402
from test_virtual_board_onwafer import calibrate, noise_budget, probed, substrate_for  # noqa: E402

from orvane_ex.calibration import lrm  # noqa: E402
from orvane_ex.calibration.skrf_bridge import coefs  # noqa: E402

METHODS = ("lrm", "trm", "lrrm")


def db(x):
    return 20 * np.log10(max(x, 1e-300))


def recovery_and_agreement():
    print("noiseless synthetic data, 101 points 1 to 110 GHz: worst |S - S_true| of a random device, and the worst "
          "relative difference of the error terms from scikit-rf's")
    for method in METHODS:
        b = Substrate(thru_delay=0.0 if method == "trm" else 1e-12)
        cal = b.calibrate(method)
        recovered = np.max(np.abs(cal.apply(b.measure(b.D)) - b.D))
        theirs = scikit_rf(b, method).coefs
        _, ours = coefs(cal)
        agree = max(np.max(np.abs(ours[k] - theirs[k]) / np.maximum(np.abs(theirs[k]), 1e-12)) for k in ours
                    if "isolation" not in k)
        print(f"  {method:<5} device {recovered:.1e}   terms against scikit-rf's {agree:.1e}")
    half = 400e-6 / 299792458.0
    b = Substrate(n=201, thru_delay=2 * half, offset=half)
    theirs = scikit_rf(b, "lrrm")
    raw = skrf.Network(frequency=skrf.Frequency.from_f(b.f, unit="Hz"), s=b.measure(b.D))
    their_error = np.max(np.abs(theirs.apply_cal(raw).s - b.D))
    ours = b.calibrate("lrrm")
    print(f"  LRRM with every standard behind half of an 800 um thru: ours {np.max(np.abs(ours.apply(b.measure(b.D)) - b.D)):.1e}"
          f" (inductance {ours.parameters['inductance'] * 1e12:.4f} pH), scikit-rf's {their_error:.1e} "
          f"(inductance {theirs.solved_l[0] * 1e12:.3f} pH; the truth 3 pH)")


def noise_table(noise_db=-65.0):
    print(f"\nthe virtual board's impedance standard substrate, receiver noise {noise_db:g} dB, 101 points 1 to 40 GHz; "
          "budget: the noise floor from 20 sweeps of the load")
    print(f"  {'method':<6}{'worst |S - S_true|':>20}{'at':>10}{'its u':>10}{'error/u':>9}   {'median':>7}"
          f"{'95 %':>7}{'within 2u':>11}")
    for method in METHODS:
        iss = substrate_for(method)
        board, readings = probed(iss, noise_db=noise_db)
        cal = calibrate(method, iss, readings)
        u = cal.apply(readings[-1], budget=noise_budget(iss, board))
        error = np.abs(u.s - board.device)
        # a complex error against the standard uncertainty of each of its parts
        sigma = np.sqrt(np.einsum("nii->ni", u.cov).reshape(len(cal.f), 4, 2).sum(axis=2) / 2).reshape(error.shape)
        k = np.unravel_index(np.argmax(error), error.shape)
        ratio = error / sigma
        name = f"S{k[1] + 1}{k[2] + 1}"
        print(f"  {method:<6}{db(error[k]):>16.1f} dB{cal.f[k[0]] / 1e9:>6.1f} GHz {name} {sigma[k]:8.1e}"
              f"{ratio[k]:>7.2f}   {np.median(ratio):>7.2f}{np.percentile(ratio, 95):>7.2f}"
              f"{np.mean(ratio <= 2) * 100:>10.1f} %")
    print("  (|error| / u, u the standard uncertainty of each of the error's parts: where the budget is right, a "
          "median of 1.18, 95 % below 2.45 and 86.5 % within 2u)")


def timed(call):
    call()
    t = time.perf_counter()
    call()
    return time.perf_counter() - t


def speed(n=1601):
    print(f"\nspeed at {n} points, 1 to 110 GHz, one run each after one untimed, from the measured standards "
          "(ours: arrays, the whole lrm(), trm() or lrrm() with its checks; scikit-rf: Networks, its class built "
          "and run):")
    freq = skrf.Frequency.from_f(np.linspace(1e9, 110e9, n), unit="Hz")
    net = lambda s: skrf.Network(frequency=freq, s=s, z0=50)  # noqa: E731
    for method in METHODS:
        b = Substrate(n=n, thru_delay=0.0 if method == "trm" else 1e-12)
        thru = b.thru if method != "trm" else np.tile([[0, 1], [1, 0]], (n, 1, 1)).astype(complex)
        T, S, O, M = (b.measure(x) for x in (thru, both(b.short), both(b.open), both(b.match)))
        ones = np.ones(n, complex)
        if method == "lrrm":
            ours = timed(lambda: lrm.lrrm(b.f, T, S, O, M, thru_delay=1e-12, resistance=b.R))
            measured = [net(T), net(S), net(O), net(M)]
            ideals = [net(thru), net(both(-ones)), net(both(ones)), net(both(ones * (b.R - 50) / (b.R + 50)))]

            def theirs_run():
                cal = skrf.calibration.LRRM(measured=measured, ideals=ideals)
                cal.run()
        else:
            kw = {} if method == "trm" else {"thru_delay": 1e-12}
            ours = timed(lambda: getattr(lrm, method)(b.f, T, S, M, resistance=b.R, inductance=b.L, **kw))
            measured = [net(T), net(S), net(M)]
            ideals = [net(thru), net(both(-ones)), net(both(b.match))]

            def theirs_run():
                cal = skrf.calibration.LRM(measured=measured, ideals=ideals)
                cal.run()
        theirs = timed(theirs_run)
        label = {"lrm": "LRM", "trm": "LRM (flush thru)", "lrrm": "LRRM"}[method]
        print(f"  {method:<5} {theirs / ours:7.0f}x   ours {ours * 1e3:.2f} ms, scikit-rf's {label} "
              f"{theirs * 1e3:.0f} ms", flush=True)


def main():
    warnings.simplefilter("ignore")
    print(f"scikit-rf {skrf.__version__}, numpy {np.__version__}\n")
    recovery_and_agreement()
    noise_table()
    speed()


if __name__ == "__main__":
    main()
