"""Speed of the native paths against the numpy paths, measured in one run.

The numpy path is forced by rebinding the module's `np` to a module object
holding numpy's own attributes: every numpy call is unchanged, only the native
path's guard sees a different object. Prints median times and their ratios.
"""
import statistics
import sys
import time
import types

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402

from orvane_ex import hidden  # noqa: E402

SIZES = (16, 201, 1601, 160001)
PORTS = dict(Tx1=1, Tx2=2, Rx1A=3, Rx1B=4, Rx2A=5, Rx2B=6)


def median_time(call, budget=0.2):
    """Median seconds per call over repeated timed batches."""
    call()
    loops = 1
    while True:
        t = time.perf_counter()
        for _ in range(loops):
            call()
        dt = time.perf_counter() - t
        if dt > budget / 20 or loops > 1 << 20:
            break
        loops *= 4
    samples = []
    for _ in range(15):
        t = time.perf_counter()
        for _ in range(loops):
            call()
        samples.append((time.perf_counter() - t) / loops)
    return statistics.median(samples)


def numpy_proxy():
    proxy = types.ModuleType("numpy")
    proxy.__dict__.update(np.__dict__)
    return proxy


def cases(n, rng):
    S = rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2))

    def rec(tx):
        r = {k: rng.standard_normal(n) + 1j * rng.standard_normal(n) for k in range(1, 7)}
        r[tx][0] = 0
        return r

    rec1, rec2 = rec(1), rec(2)
    return {
        "S2T": lambda: hidden.S2T(S),
        "T2S": lambda: hidden.T2S(S),
        "getIdealSparams": lambda: hidden.getIdealSparams(n),
        "ab2G": lambda: hidden.ab2G(rec1, PORTS),
        "ab2S": lambda: hidden.ab2S(rec1, rec2, PORTS),
        "ab2S_SwitchCorrect": lambda: hidden.ab2S_SwitchCorrect(rec1, rec2, PORTS),
    }


def main():
    rng = np.random.default_rng(1)
    proxy = numpy_proxy()
    table = {}
    for n in SIZES:
        for name, call in cases(n, rng).items():
            budget = 0.5 if n > 10000 else 0.2
            native = median_time(call, budget)
            hidden.np = proxy
            try:
                reference = median_time(call, budget)
            finally:
                hidden.np = np
            table.setdefault(name, {})[n] = (native, reference)

    print(f"numpy {np.__version__}, Python {sys.version.split()[0]}")
    print("native path speed-up over the numpy path (median time native / numpy path)")
    header = f"{'function':<20}" + "".join(f"{'N=' + str(n):>26}" for n in SIZES)
    print(header)
    for name, row in table.items():
        cells = "".join(f"{f'{r / t:6.1f}x ({t * 1e6:.2f}/{r * 1e6:.1f} us)':>26}" for t, r in
                        (row[n] for n in SIZES))
        print(f"{name:<20}{cells}")

    def noop():
        pass

    beep = hidden.beep
    t_beep = median_time(lambda: [beep() for _ in range(100)]) / 100
    t_noop = median_time(lambda: [noop() for _ in range(100)]) / 100
    print(f"\ncall overhead: beep() {t_beep * 1e9:.0f} ns, Python no-op def {t_noop * 1e9:.0f} ns "
          f"(ratio {t_beep / t_noop:.2f})")


if __name__ == "__main__":
    main()
