"""Speed of the native paths against the numpy paths, measured in one run.

The numpy path is forced by rebinding the module's `np` to a module object
holding numpy's own attributes: every numpy call is unchanged, only the native
path's guard sees a different object. Prints median times and their ratios,
each row as soon as it is measured.

    python bench/bench.py           # N = 16, 201, 1601 (under a minute)
    python bench/bench.py --full    # and N = 160001
"""
import argparse
import statistics
import sys
import time
import types

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402

from orvane_ex import hidden  # noqa: E402
from orvane_ex.virtual_board import PORTS  # noqa: E402

SIZES = (16, 201, 1601)
FULL_SIZES = SIZES + (160001,)


def batch_size(call, budget):
    """Calls per timed batch: about budget/20 seconds of them."""
    call()
    loops = 1
    while True:
        t = time.perf_counter()
        for _ in range(loops):
            call()
        dt = time.perf_counter() - t
        if dt > budget / 20 or loops > 1 << 20:
            return loops
        loops *= 4


def timed(call, loops):
    t = time.perf_counter()
    for _ in range(loops):
        call()
    return (time.perf_counter() - t) / loops


def median_time(call, budget=0.1):
    """Median seconds per call over 15 timed batches of about budget/20 each."""
    loops = batch_size(call, budget)
    return statistics.median(timed(call, loops) for _ in range(15))


def paired_times(call, budget, before, after):
    """Median seconds per call of `call` as it is and with before()/after()
    around it, over 15 pairs of batches taken alternately, so that a busy
    spell of the machine slows both alike."""
    loops = batch_size(call, budget)
    ours, theirs = [], []
    for _ in range(15):
        ours.append(timed(call, loops))
        before()
        try:
            theirs.append(timed(call, loops))
        finally:
            after()
    return statistics.median(ours), statistics.median(theirs)


def numpy_proxy():
    proxy = types.ModuleType("numpy")
    proxy.__dict__.update(np.__dict__)
    return proxy


def cplx(rng, *shape):
    return rng.standard_normal(shape) + 1j * rng.standard_normal(shape)


def cases(n, rng):
    S = cplx(rng, n, 2, 2)

    def rec(tx):
        r = {k: cplx(rng, n) for k in range(1, 7)}
        r[tx][0] = 0
        return r

    rec1, rec2 = rec(1), rec(2)
    G, T = hidden.getIdealSparams(n)
    Gm1, Gm2 = G + 0.1 * cplx(rng, n, 3), G + 0.1 * cplx(rng, n, 3)
    Tm = T + 0.1 * cplx(rng, n, 2, 2)
    f = np.linspace(1e9, 2e9, n)
    x = hidden.get1PortModel(G, Gm1)
    A, B, q = hidden.get8TermModel(G, Gm1, G, Gm2, T, Tm)
    fwd, rev = hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm, Tm * 0.01)
    # Column views made once: slicing inside the timed call would add the
    # same fixed cost to both paths and hide the function's own.
    G0, G1, Gm10, Gm11, Gm21 = G[:, 0], G[:, 1], Gm1[:, 0], Gm1[:, 1], Gm2[:, 1]
    return {
        "S2T": lambda: hidden.S2T(S),
        "T2S": lambda: hidden.T2S(S),
        "getIdealSparams": lambda: hidden.getIdealSparams(n),
        "ab2G": lambda: hidden.ab2G(rec1, PORTS),
        "ab2S": lambda: hidden.ab2S(rec1, rec2, PORTS),
        "ab2S_SwitchCorrect": lambda: hidden.ab2S_SwitchCorrect(rec1, rec2, PORTS),
        "get1PortModel": lambda: hidden.get1PortModel(G, Gm1),
        "correct1Port": lambda: hidden.correct1Port(Gm10, x),
        "get1PortResponseModel": lambda: hidden.get1PortResponseModel(G0, Gm10),
        "get2PortResponseModel": lambda: hidden.get2PortResponseModel(G0, Gm10, G1, Gm21, T, Tm),
        "correctResponse": lambda: hidden.correctResponse(S, Tm),
        "get8TermModel": lambda: hidden.get8TermModel(G, Gm1, G, Gm2, T, Tm),
        "get8TermModelUThru": lambda: hidden.get8TermModelUThru(G, Gm1, G, Gm2, Tm, f),
        "correct8Term": lambda: hidden.correct8Term(S, A, B, q),
        "get12TermModel": lambda: hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm),
        "correct12Term": lambda: hidden.correct12Term(S, fwd, rev),
        "getPortExtModel": lambda: hidden.getPortExtModel(Gm10, Gm11),
        "correctPortExt": lambda: hidden.correctPortExt(S, Gm10, 1),
        "deEmbed": lambda: hidden.deEmbed(S, Tm, Tm),
    }


def whole_calibrations(n, rng):
    """(ours, scikit-rf's) for building a model from standards and correcting one device."""
    from skrf import calibration as cal
    from skrf_nets import network_maker, two_port_reflects

    f = np.linspace(1e9, 2e9, n)
    net = network_maker(f)
    G, T = hidden.getIdealSparams(n)
    Gm1, Gm2 = G + 0.1 * cplx(rng, n, 3), G + 0.1 * cplx(rng, n, 3)
    Tm, Dm = T + 0.1 * cplx(rng, n, 2, 2), cplx(rng, n, 2, 2)

    ideals = two_port_reflects(net, G, G) + [net(T + 0j)]
    measured = two_port_reflects(net, Gm1, Gm2) + [net(Tm)]
    one_ideal = [net(G[:, i]) for i in range(3)]
    one_meas = [net(Gm1[:, i]) for i in range(3)]
    dut1, dut2 = net(Dm[:, 0, 0]), net(Dm)

    def skrf_run(cls, m, i, dut, **kw):
        c = cls(measured=m, ideals=i, **kw)
        c.run()
        return c.apply_cal(dut)

    return {
        "one-port": (lambda: hidden.correct1Port(Dm[:, 0, 0], hidden.get1PortModel(G, Gm1)),
                     lambda: skrf_run(cal.OnePort, one_meas, one_ideal, dut1)),
        "eight-term": (lambda: hidden.correct8Term(Dm, *hidden.get8TermModel(G, Gm1, G, Gm2, T, Tm)),
                       lambda: skrf_run(cal.EightTerm, measured, ideals, dut2)),
        "unknown thru": (lambda: hidden.correct8Term(Dm, *hidden.get8TermModelUThru(G, Gm1, G, Gm2, Tm, f)),
                         lambda: skrf_run(cal.UnknownThru, measured, ideals, dut2)),
        "twelve-term": (lambda: hidden.correct12Term(Dm, *hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm)),
                        lambda: skrf_run(cal.TwelveTerm, measured, ideals, dut2, n_thrus=1)),
    }


def cell(ratio, ours, theirs):
    """'12.3x (1.2 us / 14.8 us)': ratio, then both times in a unit that fits."""
    def fmt(t):
        return f"{t * 1e6:.2f} us" if t < 1e-5 else f"{t * 1e6:.1f} us" if t < 1e-3 else f"{t * 1e3:.1f} ms" if t < 1 else f"{t:.2f} s"
    return f"{ratio:.1f}x ({fmt(ours)} / {fmt(theirs)})"


def main(argv=None):
    parser = argparse.ArgumentParser(description="Speed of the native paths against the numpy paths.")
    parser.add_argument("--full", action="store_true", help="also measure N=160001 (several minutes)")
    args = parser.parse_args(argv)
    sizes = FULL_SIZES if args.full else SIZES
    rng = np.random.default_rng(1)
    proxy = numpy_proxy()
    width = 32

    print(f"numpy {np.__version__}, Python {sys.version.split()[0]}")
    print("speed-up of the native path over the numpy path (native time / numpy-path time), median per call")
    print(f"{'function':<22}" + "".join(f"{'N=' + str(n):>{width}}" for n in sizes), flush=True)
    by_size = {n: cases(n, rng) for n in sizes}
    for name in by_size[sizes[0]]:
        cells = []
        for n in sizes:
            call = by_size[n][name]
            budget = 0.3 if n > 10000 else 0.1
            native, reference = paired_times(call, budget, lambda: setattr(hidden, "np", proxy),
                                             lambda: setattr(hidden, "np", np))
            cells.append(cell(reference / native, native, reference))
        print(f"{name:<22}" + "".join(f"{c:>{width}}" for c in cells), flush=True)

    import warnings

    import skrf

    warnings.simplefilter("ignore")
    print(f"\nwhole calibration (build the model, correct one device): speed-up over scikit-rf {skrf.__version__} "
          "(our time / scikit-rf's time)")
    print(f"{'model':<22}" + "".join(f"{'N=' + str(n):>{width}}" for n in SIZES), flush=True)
    cals = {n: whole_calibrations(n, rng) for n in SIZES}
    for name in cals[SIZES[0]]:
        cells = []
        for n in SIZES:
            ours, theirs = cals[n][name]
            t, r = median_time(ours), median_time(theirs, 0.3)
            cells.append(cell(r / t, t, r))
        print(f"{name:<22}" + "".join(f"{c:>{width}}" for c in cells), flush=True)

    def noop():
        pass

    beep = hidden.beep
    t_beep = median_time(lambda: [beep() for _ in range(100)]) / 100
    t_noop = median_time(lambda: [noop() for _ in range(100)]) / 100
    print(f"\ncall overhead: beep() {t_beep * 1e9:.0f} ns, Python no-op def {t_noop * 1e9:.0f} ns "
          f"(ratio {t_beep / t_noop:.2f})")


if __name__ == "__main__":
    main()
