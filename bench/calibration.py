"""Speed of whole twelve-term calibrations, kits, saved calibrations and batch
correction against scikit-rf, measured in one run.

    python bench/calibration.py          # scikit-rf's loop timed on 50 of the 1000 files
    python bench/calibration.py --full   # on all 1000
"""
import argparse
import contextlib
import io
import os
import shutil
import tempfile
import time
import warnings

import matplotlib

matplotlib.use("Agg")
import numpy as np  # noqa: E402
import skrf  # noqa: E402

from orvane_ex import calset, cli, touchstone  # noqa: E402
from orvane_ex.calkit import example_kit  # noqa: E402
from orvane_ex._common.cascade import cascade  # noqa: E402
from skrf_nets import network_maker, two_port_reflects  # noqa: E402
from timing import best_of  # noqa: E402

N = 1601
WHOLE_SIZES = (201, 1601, 16001)



def skrf_kit(f, kit):
    """The example kit's standards built with scikit-rf's media, as an engineer would."""
    freq = skrf.Frequency.from_f(f, unit="Hz")
    out = []
    for name in ("open", "short", "load", "thru"):
        s = kit.standards[name]
        o = s.offset
        w, root = 2 * np.pi * f, np.sqrt(f / 1e9)
        alpha = o.loss * o.delay / (2 * o.z0) * root
        media = skrf.media.DefinedGammaZ0(frequency=freq, z0_port=50, z0=o.z0 + (1 - 1j) * o.loss / (2 * w) * root,
                                          gamma=alpha + 1j * (w * o.delay + alpha))
        line = media.line(1, "m")
        if name == "thru":
            out.append(line)
            continue
        if name == "load":
            z = s.resistance + 1j * w * s.inductance
        else:
            c = s.capacitance if name == "open" else s.inductance
            value = c[0] + f * (c[1] + f * (c[2] + f * c[3]))
            z = 1 / (1j * w * value) if name == "open" else 1j * w * value
        out.append(line ** skrf.Network(frequency=freq, s=(z - 50) / (z + 50), z0=50))
    return out


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--full", action="store_true", help="time scikit-rf's loop on all 1000 files")
    parser.add_argument("--rounds", type=int, default=3, help="rounds of the batch comparison (default 3)")
    args = parser.parse_args(argv)
    warnings.simplefilter("ignore")
    rng = np.random.default_rng(2)
    f = np.linspace(1e9, 6e9, N)
    kit = example_kit()
    print(f"scikit-rf {skrf.__version__}, numpy {np.__version__}")
    whole_twelve_term(rng)
    print(f"-- {N} points")

    ours = best_of(lambda: (kit.reflect(f), kit.thru(f)), 7)
    theirs = best_of(lambda: skrf_kit(f, kit), 3)
    print(f"kit evaluation (open, short, load, thru)   {theirs / ours:7.1f}x  "
          f"({ours * 1e3:.3f} ms / scikit-rf {theirs * 1e3:.1f} ms)", flush=True)

    # a twelve-term calibration from random error terms, and raw files
    G, T = kit.reflect(f), kit.thru(f)
    Gm1, Gm2 = G + 0.1 * (rng.standard_normal((N, 3)) + 1j), G + 0.1 * (rng.standard_normal((N, 3)) - 1j)
    Tm = T + 0.05 * (rng.standard_normal((N, 2, 2)) + 1j * rng.standard_normal((N, 2, 2)))
    cal = calset.TwelveTermCal.build(f, G, Gm1, G, Gm2, T, Tm, kit=kit.to_dict(), convention="engineering")
    folder = tempfile.mkdtemp()
    try:
        path = os.path.join(folder, "cal.npz")
        t = best_of(lambda: (cal.save(path), calset.load(path)), 20)
        print(f"save + load of a {N}-point twelve-term calibration: {t * 1e3:.2f} ms", flush=True)

        raw = os.path.join(folder, "raw")
        os.makedirs(raw)
        files = []
        base = 0.3 * (rng.standard_normal((N, 2, 2)) + 1j * rng.standard_normal((N, 2, 2)))
        for i in range(1000):
            files.append(os.path.join(raw, f"dut{i:04d}.s2p"))
            touchstone.write(files[-1], f, base + 0.001 * i)

        # reading one file, against scikit-rf's Network(path)
        ours_read = best_of(lambda: touchstone.read(files[0]), 50)
        theirs_read = best_of(lambda: skrf.Network(files[0]), 10)
        print(f"read of a {N}-point two-port Touchstone 1.1 file: {theirs_read / ours_read:7.1f}x "
              f"({ours_read * 1e3:.3f} ms / scikit-rf {theirs_read * 1e3:.2f} ms)", flush=True)

        net = network_maker(f)
        skcal = skrf.calibration.TwelveTerm(measured=two_port_reflects(net, Gm1, Gm2) + [net(Tm)],
                                           ideals=two_port_reflects(net, G, G) + [net(T)], n_thrus=1)
        skcal.run()
        count = len(files) if args.full else 50

        def skrf_loop(target):
            os.makedirs(target)
            t = time.perf_counter()
            for source in files[:count]:
                corrected = skcal.apply_cal(skrf.Network(source))
                corrected.write_touchstone(filename=os.path.basename(source)[:-4], dir=target)
            return (time.perf_counter() - t) / count

        def ours_loop(target, jobs):
            t = time.perf_counter()
            with contextlib.redirect_stdout(io.StringIO()):
                assert cli.main(["apply", path, *files, "-o", target, "-q", "-j", str(jobs)]) == 0
            return (time.perf_counter() - t) / len(files)

        # the machine is shared: each round times both in turn, fresh output folders every time
        for round in range(args.rounds):
            theirs_file = skrf_loop(os.path.join(folder, f"theirs{round}"))
            two = ours_loop(os.path.join(folder, f"two{round}"), 2)
            one = ours_loop(os.path.join(folder, f"one{round}"), 1)
            print(f"batch correction, read + twelve-term + write, round {round + 1}: orvane-cal apply "
                  f"{theirs_file / two:5.1f}x with 2 threads ({two * 1e3:.2f} ms/file), {theirs_file / one:5.1f}x "
                  f"with one ({one * 1e3:.2f} ms/file); scikit-rf {theirs_file * 1e3:.1f} ms/file over {count}",
                  flush=True)
        check = touchstone.read(os.path.join(folder, "two0", os.path.basename(files[7])))[1]
        agree = np.max(np.abs(check - skrf.Network(os.path.join(folder, "theirs0", os.path.basename(files[7]))).s))
        print(f"  results agree with scikit-rf's to {agree:.1e}")
        split(cal, files, folder)
    finally:
        shutil.rmtree(folder)

    multiline(rng, f)


def split(cal, files, folder):
    """Where one file's time goes, on one thread: reading (file system and
    parsing), the correction, writing (formatting, then the file system:
    a new file written whole under a unique name and renamed)."""
    from orvane_ex import _native

    n = 300
    text = [open(p, "rb").read() for p in files[:n]]
    t = time.perf_counter()
    data = [_native.read_touchstone_data(p) for p in files[:n]]
    read = (time.perf_counter() - t) / n
    t = time.perf_counter()
    corrected = [cal.apply(d["s"]) for d in data]
    correct = (time.perf_counter() - t) / n
    target = os.path.join(folder, "split")
    os.makedirs(target)
    t = time.perf_counter()
    for i, s in enumerate(corrected):
        touchstone.write(os.path.join(target, f"w{i}.s2p"), data[i]["f"], s)
    write = (time.perf_counter() - t) / n
    t = time.perf_counter()
    for i, blob in enumerate(text):            # the file system alone: the same bytes, written as the writer does
        fd, temp = tempfile.mkstemp(dir=target, suffix=".part")
        os.write(fd, blob)
        os.close(fd)
        os.rename(temp, os.path.join(target, f"fs{i}.s2p"))
    fs = (time.perf_counter() - t) / n
    t = time.perf_counter()
    for p in files[:n]:
        with open(p, "rb") as fp:
            fp.read()
    fs_read = (time.perf_counter() - t) / n
    t = time.perf_counter()
    for i in range(n):
        cal.apply_file(files[i], os.path.join(target, f"a{i}.s2p"))
    whole = (time.perf_counter() - t) / n
    kb = np.mean([len(b) for b in text]) / 1024
    print(f"  per file ({kb:.0f} KB, one thread): read {read * 1e3:.3f} ms (of which the file system "
          f"{fs_read * 1e3:.3f}), correct {correct * 1e3:.3f} ms, write {write * 1e3:.3f} ms (of which the file "
          f"system {fs * 1e3:.3f}); apply_file {whole * 1e3:.3f} ms, the rest Python")


def whole_twelve_term(rng):
    """Building a twelve-term model from the standards and correcting one
    device with it, against scikit-rf's TwelveTerm doing the same."""
    from orvane_ex import hidden

    def cplx(*shape):
        return rng.standard_normal(shape) + 1j * rng.standard_normal(shape)

    for n in WHOLE_SIZES:
        f = np.linspace(1e9, 2e9, n)
        G, T = hidden.getIdealSparams(n)
        Gm1, Gm2 = G + 0.1 * cplx(n, 3), G + 0.1 * cplx(n, 3)
        Tm, Dm = T + 0.1 * cplx(n, 2, 2), cplx(n, 2, 2)
        net = network_maker(f)
        ideals = two_port_reflects(net, G, G) + [net(T + 0j)]
        measured = two_port_reflects(net, Gm1, Gm2) + [net(Tm)]
        dut = net(Dm)

        def theirs_run():
            c = skrf.calibration.TwelveTerm(measured=measured, ideals=ideals, n_thrus=1)
            c.run()
            return c.apply_cal(dut)

        ours = best_of(lambda: hidden.correct12Term(Dm, *hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm)), 15)
        theirs = best_of(theirs_run, 3 if n > 10000 else 5)
        agree = np.max(np.abs(hidden.correct12Term(Dm, *hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm)) - theirs_run().s))
        print(f"whole twelve-term calibration (build + correct one device), N={n:<6} {theirs / ours:7.0f}x  "
              f"({ours * 1e3:.3f} ms / scikit-rf {theirs * 1e3:.1f} ms; results agree to {agree:.1e})", flush=True)


def multiline(rng, f):
    """Multiline TRL on four lines against scikit-rf's NISTMultilineTRL."""
    from orvane_ex import trl

    n, c = len(f), 299792458.0
    cx = lambda *s: rng.standard_normal(s) + 1j * rng.standard_normal(s)  # noqa: E731
    X = 0.1 * cx(n, 2, 2) + np.array([[0, 0.9], [0.9, 0]])
    Y = 0.1 * cx(n, 2, 2) + np.array([[0, 0.9], [0.9, 0]])
    gamma = 0.5 * np.sqrt(f / 1e9) + 2j * np.pi * f / c * np.sqrt(3.2)

    def measure(S):
        return cascade(cascade(X, S), Y)

    def line(length):
        S = np.zeros((n, 2, 2), complex)
        S[:, 0, 1] = S[:, 1, 0] = np.exp(-gamma * length)
        return S

    reflect = np.zeros((n, 2, 2), complex)
    reflect[:, 0, 0] = reflect[:, 1, 1] = -0.99
    lengths = [0.003, 0.010, 0.020, 0.035]
    thru, refl, lines = measure(line(0)), measure(reflect), [measure(line(x)) for x in lengths]
    ours = best_of(lambda: trl.multiline_trl(f, thru, refl, lines, line_lengths=lengths, er_est=3.0,
                                             convention="engineering"), 7)
    nets = [network_maker(f)(s) for s in [thru, refl, *lines]]

    def theirs_run():
        cal = skrf.calibration.NISTMultilineTRL(measured=nets, Grefls=[-1], l=[0.0] + lengths, er_est=3.0)
        cal.run()
        return cal

    t = time.perf_counter()
    theirs_run()
    theirs = time.perf_counter() - t
    print(f"multiline TRL, 4 lines and {n} points: {theirs / ours:7.1f}x  ({ours * 1e3:.2f} ms / scikit-rf's "
          f"NISTMultilineTRL {theirs:.2f} s)", flush=True)


if __name__ == "__main__":
    main()
