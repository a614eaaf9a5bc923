"""2x-thru fixture removal (IEEE P370) against scikit-rf's IEEEP370 classes,
in one run at 1601 points: speed (one run each, and the best of a few),
agreement of the halves, and how close each method brings the device back
on the virtual board's PCB fixture, noiseless and with noise.

    python bench/fixture.py [--points 1601]
"""
import argparse
import os
import sys
import time
import warnings

import numpy as np
import skrf
from skrf.calibration.deembedding import IEEEP370_SE_NZC_2xThru, IEEEP370_SE_ZC_2xThru

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from test_fixture_p370 import FIXTURES, mild_device  # noqa: E402

from orvane_ex.fixture import nzc_2xthru, zc_2xthru  # noqa: E402


def timed(call, repeat):
    times = []
    for _ in range(repeat):
        t = time.perf_counter()
        out = call()
        times.append(time.perf_counter() - t)
    return out, times[0], min(times)


def net(f, s):
    return skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=s, z0=50)


def main(argv=None):
    p = argparse.ArgumentParser()
    p.add_argument("--points", type=int, default=1601)
    p.add_argument("--top", type=float, default=20e9, help="top frequency (Hz)")
    args = p.parse_args(argv)
    warnings.simplefilter("ignore")
    f = args.top / args.points * np.arange(1, args.points + 1)
    fx = FIXTURES["symmetric"]
    dut = mild_device(f)
    thru, fdf = fx.thru2x(f), fx.around(f, dut)
    nzc_2xthru(thru, f=f), zc_2xthru(thru, fdf, f=f)             # imports and caches warmed once
    print(f"scikit-rf {skrf.__version__}; {args.points} points to {args.top / 1e9:g} GHz; the virtual board's "
          "PCB fixture (symmetric halves), a mismatched device\n")
    print(f"{'method':<6}{'ours, 1st run':>15}{'skrf, 1st run':>15}{'ratio':>8}{'ours, best':>13}{'skrf, best':>13}"
          f"{'ratio':>8}{'|ours - skrf|':>16}")
    for name, ours_call, theirs_call, repeat in [
        ("nzc", lambda: nzc_2xthru(thru, f=f), lambda: IEEEP370_SE_NZC_2xThru(net(f, thru)), 5),
        ("zc", lambda: zc_2xthru(thru, fdf, f=f), lambda: IEEEP370_SE_ZC_2xThru(net(f, thru), net(f, fdf)), 2),
    ]:
        ours, o1, ob = timed(ours_call, repeat)
        theirs, t1, tb = timed(theirs_call, repeat)
        d = max(np.abs(ours.side1 - theirs.s_side1.s).max(), np.abs(ours.side2 - theirs.s_side2.s).max())
        print(f"{name:<6}{o1 * 1e3:12.2f} ms{t1 * 1e3:12.1f} ms{t1 / o1:7.0f}x{ob * 1e3:10.2f} ms{tb * 1e3:10.1f} ms"
              f"{tb / ob:7.0f}x{d:16.1e}")
    print("\n(zc differs by ~1e-5 by design: the exact 20/ln(10) dB per neper, not the reference code's 8.686)")

    print("\nThe device brought back, |S - S_true| over the band (noise: complex Gaussian per reading):")
    print(f"{'noise':>8} {'method':<6}{'median':>10}{'99th pct':>10}{'worst':>10}{'worst dB':>10}")
    rng = np.random.default_rng(5)
    for noise in (0.0, 1e-4, 1e-3, 3e-3):
        def noisy(s):
            return s + noise * (rng.standard_normal(s.shape) + 1j * rng.standard_normal(s.shape)) / np.sqrt(2)

        t, d = noisy(thru), noisy(fdf)
        for name, halves in (("nzc", nzc_2xthru(t, f=f)), ("zc", zc_2xthru(t, d, f=f))):
            e = np.abs(halves.deembed(d) - dut)
            print(f"{noise:8.0e} {name:<6}{np.median(e):10.1e}{np.percentile(e, 99):10.1e}{e.max():10.1e}"
                  f"{20 * np.log10(e.max()):10.1f}")


if __name__ == "__main__":
    main()
