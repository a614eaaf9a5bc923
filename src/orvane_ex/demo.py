"""A whole two-port calibration on the virtual QLM-417 board.

SOLT (the default): runs the prompted SOLT sequence with isolation on a board
whose standards follow the shipped example calibration kit, builds the
response, one-port, eight-term, unknown-thru and twelve-term models (the last
with ideal standards, with the kit's listed files and with the kit's model),
corrects a device and prints each method's residual error against the
device's true S-parameters. It saves the calibration, writes raw
measurements of the device and corrects them with `orvane-cal apply`.

Multiline TRL (--method multiline-trl): measures the thru, reflect and three
lines printed on the board, calibrates with TRL on the shortest line and
with multiline TRL on all, and prints their residuals and the recovered
effective permittivity against the board's.

On-wafer (--method onwafer): probes an impedance standard substrate's
thru, short, open and load, calibrates with LRM and with LRRM (the match's
inductance fitted), and with TRM on the probes joined by a flush thru, and
prints their residuals and the fitted inductance against the substrate's.


PCB fixture (--method fixture): calibrates the coaxial ports with SOLT,
measures a printed fixture's 2x-thru and the device inside the fixture, and
removes the fixture with IEEE P370's 2x-thru methods (nzc and zc), on a
harmonic grid (f = k df up to the stop frequency) as they need; then does
the same from the files with `orvane-cal deembed`.

Each saves the corrected result and comparison figures and writes a report
of each calibration it makes (report-*.html, for a browser); SOLT also
measures the device behind two long fixtures with mismatched
launches and gates them away (tdr.png, gated.png).

    python -m orvane_ex.demo --unattended [--method multiline-trl|onwafer|fixture]
"""
import argparse
import os
import sys


def parse(argv):
    p = argparse.ArgumentParser(prog="python -m orvane_ex.demo", description=__doc__.split("\n\n")[0],
                                formatter_class=argparse.RawDescriptionHelpFormatter,
                                epilog="Without --unattended, press Enter at each prompt (q or quit ends the run).")
    p.add_argument("--unattended", "-y", action="store_true",
                   help="answer the prompts from the script (they are still printed)")
    p.add_argument("--points", type=int, default=201, help="frequency points (default 201)")
    p.add_argument("--start", type=float, default=1.0, help="start frequency in GHz (default 1)")
    p.add_argument("--stop", type=float, default=6.0, help="stop frequency in GHz (default 6)")
    p.add_argument("--device", metavar="FILE.s2p", help="measure this two-port Touchstone file instead of the "
                                                        "built-in band-pass")
    p.add_argument("--seed", type=int, default=417, help="seed of the board's error terms and noise")
    p.add_argument("--no-noise", action="store_true", help="switch the receiver noise off")
    p.add_argument("--out", default="demo-output",
                   help="folder for the .s2p, the standards, the figures and the reports")
    p.add_argument("--method", choices=["solt", "multiline-trl", "onwafer", "fixture"], default="solt",
                   help="solt: the kit's Open/Short/Load/Thru (default); multiline-trl: a thru, a reflect and "
                        "three lines printed on the board; onwafer: LRM, LRRM and TRM on an impedance standard "
                        "substrate; fixture: SOLT, then a PCB fixture removed with its 2x-thru (IEEE P370)")
    args = p.parse_args(argv)
    if args.points < 2 or not 0 < args.start < args.stop:
        p.error("need at least 2 points and 0 < start < stop")
    return args


def choose_backend():
    """A window when Tk and a display exist; Agg (files only) otherwise."""
    import matplotlib

    if "matplotlib.pyplot" in sys.modules:
        return
    if sys.platform != "win32" and not os.environ.get("DISPLAY") and not os.environ.get("WAYLAND_DISPLAY"):
        matplotlib.use("Agg")
        return
    try:
        import tkinter  # noqa: F401
    except ImportError:
        matplotlib.use("Agg")


def db(x):
    return 20 * __import__("numpy").log10(max(x, 1e-300))


def residuals(S, truth):
    """Largest |S - S_true| over the band of S11, S21, S12, S22 and the worst of them, in dB."""
    import numpy as np

    errs = [db(np.max(np.abs(S[:, i, j] - truth[:, i, j]))) for i, j in ((0, 0), (1, 0), (0, 1), (1, 1))]
    return errs + [max(errs)]


def measured(args, board, prompts):
    """Runs `prompts` (a function of hidden) with the board following them,
    pressing Enter itself when unattended."""
    from orvane_ex import hidden

    with board.unattended(hidden, quiet=False) if args.unattended else board.follow(hidden):
        return prompts()


def report(results, truth, extra=()):
    print("Residual error against the device's true S-parameters: the largest |S - S_true| over the band, in dB")
    print(f"{'method':<26}{'S11':>8}{'S21':>8}{'S12':>8}{'S22':>8}{'worst':>8}")
    for name, S in results.items():
        print(f"{name:<26}" + "".join(f"{e:8.1f}" for e in residuals(S, truth)))
    for line in extra:
        print(line)


def plot(args, f, stacks, titles):
    """The comparison figures, comparison.png and errors.png (the comparison
    also shown where a window can be); the last stack is the true device."""
    from orvane_ex import demo_views

    return demo_views.comparison(args.out, f, stacks, titles, stacks[-1],
                                 f"virtual QLM-417, seed {args.seed}, {args.method}")


def saved(args, f, results, truth, kept, reports):
    """Writes the kept result (`kept`: its name in `results`, the files'
    name, its calibration) as dut_<name>.s2p and <name>.npz, the comparison
    figures and the reports ([({name: cal}, {label: raw device})]), and
    lists them."""
    from orvane_ex import demo_views
    from orvane_ex.files import touchstone

    label, name, cal = kept
    s2p = os.path.join(args.out, f"dut_{name}.s2p")
    touchstone.write(s2p, f, results[label], convention="board")
    cal_path = os.path.join(args.out, f"{name.replace('_', '-')}.npz")
    cal.save(cal_path)
    written = [s2p, cal_path, *plot(args, f, list(results.values()) + [truth], list(results) + ["true device"])]
    for cals, devices in reports:
        written += demo_views.reports(args.out, cals, devices)
    print(f"\nwrote in {args.out}: " + ", ".join(os.path.basename(p) for p in written))
    return 0


def solt(args, settings):
    import numpy as np

    from orvane_ex import cli, hidden
    from orvane_ex.calibration.kit import example_kit
    from orvane_ex.files import touchstone
    from orvane_ex.virtual_board import PORTS, Board

    board = Board(settings, seed=args.seed, noise=not args.no_noise, ideal_standards=False, device=args.device)
    f = settings.freqRange.f
    ports = PORTS
    Gm1, Gm2, Tm, Im, Sm = measured(args, board, lambda: (
        *hidden.prompt2PortSOLT(board, settings, ports, isolation=True),
        hidden.prompt2PortMeasure(board, settings, ports, "DUT")))

    # Every coaxial method built from the same measured standards through the
    # one calibration interface, with the kit's model of the standards (the
    # board's follow the shipped example kit); the twelve-term model also
    # with ideal standards and with the kit's values listed in files.
    from orvane_ex.calibration import METHODS
    from orvane_ex.calibration.kit import CalKit

    kit = example_kit()
    standards = {f"{name}{port}": Gm[:, k] for port, Gm in ((1, Gm1), (2, Gm2))
                 for k, name in enumerate(("open", "short", "load"))}
    standards.update(thru=Tm, isolation=Im)
    listed = board.write_standards(args.out)
    listed_kit = os.path.join(args.out, "listed-kit.toml")
    with open(listed_kit, "w", encoding="utf-8") as fp:
        fp.write('name = "the board\'s standards, listed"\n' + "".join(
            f'[{name.lower()}]\nfile = "{os.path.basename(path)}"\n' for name, path in listed.items()))

    def built(method, **kw):
        cls = METHODS[method]
        names = {s.name for s in cls.STANDARDS}
        return cls.from_standards(f, {k: v for k, v in standards.items() if k in names}, convention="board", **kw)

    results = {"raw": Sm}
    cals = {}       # each calibration made, by the name of its report
    for method, label in (("response", "response"), ("eight-term", "eight-term"), ("unknown-thru", "unknown thru")):
        cals[method] = built(method, kit=kit)
        results[label] = cals[method].apply(Sm)
    cals["twelve-term-ideal"] = built("twelve-term", ideal=True, notes="ideal standards")
    results["12-term, ideal standards"] = cals["twelve-term-ideal"].apply(Sm)
    cals["twelve-term-listed"] = built("twelve-term", kit=CalKit.load(listed_kit), notes="the kit's values listed")
    results["12-term, listed files"] = cals["twelve-term-listed"].apply(Sm)
    cal = cals["twelve-term"] = built("twelve-term", kit=kit, notes=f"virtual QLM-417, seed {args.seed}, demo")
    results["12-term, kit model"] = cal.apply(Sm)
    cals["one-port"] = built("one-port", kit=kit)
    S11_one_port = cals["one-port"].apply(Sm[:, 0, 0])
    truth = board.device
    one_port = db(np.max(np.abs(S11_one_port - truth[:, 0, 0])))
    report(results, truth, [f"{'one-port':<26}{one_port:8.1f}{'':>24}{one_port:8.1f}   S11 only: port 2's load "
                            "stays in this model"])

    # files for other tools, in the e^{jwt} convention every Touchstone reader assumes
    s2p = os.path.join(args.out, "dut_twelve_term.s2p")
    touchstone.write(s2p, f, results["12-term, kit model"], convention="board")

    # The calibration saved, then applied to raw files of the device as
    # orvane-cal apply does it for a folder of measurements.
    cal_path = os.path.join(args.out, "calibration.npz")
    cal.save(cal_path)
    raw_files = []
    os.makedirs(os.path.join(args.out, "raw"), exist_ok=True)
    for i in range(3):
        rec1, rec2 = hidden.measure2Port(board, settings, ports)
        raw_files.append(os.path.join(args.out, "raw", f"dut_{i + 1}.s2p"))
        touchstone.write(raw_files[-1], f, hidden.ab2S_SwitchCorrect(rec1, rec2, ports), convention="board")
    corrected = os.path.join(args.out, "corrected")
    print(f"\n$ orvane-cal apply {cal_path} {' '.join(raw_files)} -o {corrected}")
    if cli.main(["apply", cal_path, *raw_files, "-o", corrected, "--quiet"]) != 0:
        return 1
    worst = max(max(residuals(touchstone.read(os.path.join(corrected, os.path.basename(p)), convention="board")[1],
                              truth)) for p in raw_files)
    print(f"worst residual of the corrected files: {worst:.1f} dB")

    pngs = plot(args, f, [results["raw"], results["12-term, ideal standards"], results["12-term, kit model"], truth],
                ["raw", "12-term, ideal standards", "12-term, kit model", "true device"])

    # the device behind mismatched fixtures, in the time domain and gated,
    # and a report of each calibration
    from orvane_ex import demo_uncertainty, demo_views

    views, lines = demo_views.fixtured(args, settings, cal, results["12-term, kit model"], truth)
    for line in lines:
        print(line)
    pages = demo_views.reports(args.out, cals, {"DUT": Sm})
    written = sorted(listed.values()) + [s2p, cal_path, *pngs, *views, *pages]
    written += demo_uncertainty.run(args, settings)
    print(f"\nwrote in {args.out}: " + ", ".join(os.path.basename(p) for p in written) +
          f", raw/ ({len(raw_files)} files), corrected/ ({len(raw_files)} files)")
    print(f"open the reports in a browser: {os.path.join(args.out, 'report-twelve-term.html')}, ...")
    return 0


def multiline(args, settings):
    import warnings

    import numpy as np

    from orvane_ex import hidden
    from orvane_ex._common.constants import SPEED_OF_LIGHT
    from orvane_ex.calibration import trl
    from orvane_ex.virtual_board import PORTS, Board, PlanarMedium

    medium = PlanarMedium()
    board = Board(settings, seed=args.seed, noise=not args.no_noise, device=args.device, medium=medium)
    f = settings.freqRange.f
    names = ["THRU", "REFLECT"] + [f"LINE {i + 1}" for i in range(len(medium.line_lengths))] + ["DUT"]
    Tm, Rm, *Lm, Sm = measured(args, board,
                               lambda: [hidden.prompt2PortMeasure(board, settings, PORTS, n) for n in names])
    lengths = ", ".join(f"{x * 1e3:g}" for x in medium.line_lengths)
    print(f"lines of {lengths} mm on a substrate of eps_r {medium.eps_r:g}; estimate given: eps_eff ~ 3\n")

    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", trl.TRLConditionWarning)
        # the board's recordings are in its own phase convention
        single = trl.trl(f, Tm, Rm, Lm[0], line_length=medium.line_lengths[0], er_est=3.0, convention="board")
        multi = trl.multiline_trl(f, Tm, Rm, Lm, line_lengths=medium.line_lengths, er_est=3.0, convention="board",
                                  notes=f"virtual QLM-417, seed {args.seed}, demo")
    for w in caught:
        print(f"warning: {w.message}\n")
    results = {"raw": Sm, f"TRL, {medium.line_lengths[0] * 1e3:g} mm line": single.apply(Sm),
               "multiline TRL": multi.apply(Sm)}
    truth = board.device
    report(results, truth)

    # both as -(c gamma / w)^2, whose real part holds the loss as well
    eps = multi.terms["eps_eff"].real
    board_eps = (-(SPEED_OF_LIGHT * medium.gamma(f) / (2 * np.pi * f)) ** 2).real
    print("\neffective permittivity, recovered / the board's:")
    for k in np.linspace(0, len(f) - 1, 6).astype(int):
        print(f"  {f[k] / 1e9:6.2f} GHz   {eps[k]:.4f} / {board_eps[k]:.4f}")
    print(f"  largest difference over the band: {np.max(np.abs(eps - board_eps)):.2g}; "
          f"worst condition: {multi.terms['condition'].min():.2f}")

    return saved(args, f, results, truth, ("multiline TRL", "multiline_trl", multi),
                 [({"trl": single, "multiline-trl": multi}, {"DUT": Sm})])


def onwafer(args, settings):
    import warnings

    from orvane_ex import hidden
    from orvane_ex.calibration import lrm
    from orvane_ex.virtual_board import PORTS, Board, ImpedanceStandardSubstrate

    f = settings.freqRange.f
    iss = ImpedanceStandardSubstrate()
    names = ["THRU", "SHORT", "OPEN", "LOAD", "DUT"]

    def probed(substrate):
        board = Board(settings, seed=args.seed, noise=not args.no_noise, device=args.device, wafer=substrate)
        return board, measured(args, board, lambda: [hidden.prompt2PortMeasure(board, settings, PORTS, n)
                                                     for n in names])

    board, (Tm, Sm_, Om, Mm, Dm) = probed(iss)
    print(f"impedance standard substrate: {iss.thru_delay * 1e12:g} ps thru, {iss.open_capacitance * 1e15:g} fF open, "
          f"{iss.short_inductance * 1e12:g} pH short, {iss.load_resistance:g} ohm load with "
          f"{iss.load_inductance * 1e12:g} pH\n")
    flush = ImpedanceStandardSubstrate(thru_delay=0.0)
    print("TRM: the same probes joined by a flush thru")
    _, (Tz, Sz, _, Mz, Dz) = probed(flush)
    match = dict(resistance=iss.load_resistance, inductance=iss.load_inductance)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always", lrm.OnWaferWarning)
        # the board's recordings are in its own phase convention
        cal_lrm = lrm.lrm(f, Tm, Sm_, Mm, thru_delay=iss.thru_delay, convention="board", **match)
        cal_lrrm = lrm.lrrm(f, Tm, Sm_, Om, Mm, thru_delay=iss.thru_delay, resistance=iss.load_resistance,
                            convention="board", notes=f"virtual QLM-417, seed {args.seed}, demo")
        cal_trm = lrm.trm(f, Tz, Sz, Mz, convention="board", **match)
    for w in caught:
        print(f"warning: {w.message}\n")
    results = {"raw": Dm, "LRM": cal_lrm.apply(Dm), "LRRM": cal_lrrm.apply(Dm), "TRM (flush thru)": cal_trm.apply(Dz)}
    truth = board.device
    report(results, truth)
    print(f"\nLRRM's fitted match inductance: {cal_lrrm.parameters['inductance'] * 1e12:.3f} pH "
          f"(the substrate's load: {iss.load_inductance * 1e12:g} pH)")

    return saved(args, f, results, truth, ("LRRM", "lrrm", cal_lrrm),
                 [({"lrm": cal_lrm, "lrrm": cal_lrrm}, {"DUT": Dm}), ({"trm": cal_trm}, {"DUT (flush thru)": Dz})])


def fixture(args, settings):
    from orvane_ex import cli, hidden
    from orvane_ex.calibration import METHODS
    from orvane_ex.calibration.kit import example_kit
    from orvane_ex.files import touchstone
    from orvane_ex.fixture import p370
    from orvane_ex.virtual_board import PORTS, Board, PCBFixture, Settings

    # the time-domain methods need the harmonics of one step: f = k df
    points, stop = settings.freqRange.numFreqPoints, settings.freqRange.stop
    settings = Settings(stop / points, stop, points)
    f = settings.freqRange.f
    print(f"2x-thru de-embedding needs a harmonic grid: {points} points from {f[0] / 1e6:g} MHz to "
          f"{stop / 1e9:g} GHz\n")
    board = Board(settings, seed=args.seed, noise=not args.no_noise, ideal_standards=False, device=args.device,
                  fixture=PCBFixture())
    Gm1, Gm2, Tm, Im, T2, Fd = measured(args, board, lambda: (
        *hidden.prompt2PortSOLT(board, settings, PORTS, isolation=True),
        hidden.prompt2PortMeasure(board, settings, PORTS, "2X-THRU"),
        hidden.prompt2PortMeasure(board, settings, PORTS, "FIXTURE-DUT")))
    standards = {f"{name}{port}": Gm[:, k] for port, Gm in ((1, Gm1), (2, Gm2))
                 for k, name in enumerate(("open", "short", "load"))}
    standards.update(thru=Tm, isolation=Im)
    cal = METHODS["twelve-term"].from_standards(f, standards, kit=example_kit(), convention="board")
    thru2x, fdf = cal.apply(T2), cal.apply(Fd)
    truth = board.device
    results = {"in the fixture": fdf}
    halves = {"nzc": p370.nzc_2xthru(thru2x, f=f, convention="board"),
              "zc": p370.zc_2xthru(thru2x, fdf, f=f, convention="board")}
    for name, h in halves.items():
        results[f"P370 {name}"] = h.deembed(fdf, convention="board")
    report(results, truth)
    d = halves["nzc"].details
    print(f"nzc split the 2x-thru at {d['z_split']:.1f} ohm; zc peeled {halves['zc'].details['samples'][0]} "
          "samples per side")

    # the same from files, as orvane-cal deembed does it
    files = {name: os.path.join(args.out, f"{name}.s2p") for name in ("2xthru", "fixture_dut")}
    touchstone.write(files["2xthru"], f, thru2x, convention="board")
    touchstone.write(files["fixture_dut"], f, fdf, convention="board")
    out = os.path.join(args.out, "deembedded")
    command = ["deembed", "--2xthru", files["2xthru"], "--fixture-dut", files["fixture_dut"], files["fixture_dut"],
               "-o", out]
    print(f"\n$ orvane-cal {' '.join(command)}")
    if cli.main(command) != 0:
        return 1
    S = touchstone.read(os.path.join(out, "fixture_dut.s2p"), convention="board")[1]
    print(f"worst residual of the de-embedded file: {max(residuals(S, truth)):.1f} dB")
    pngs = plot(args, f, [fdf, results["P370 nzc"], results["P370 zc"], truth],
                ["in the fixture", "P370 nzc", "P370 zc", "true device"])
    # the fixture seen by a TDR (the grid is harmonic, so low-pass mode holds its levels), and the report
    from orvane_ex import demo_views

    pngs.append(demo_views.fixture_tdr(args.out, f, thru2x, fdf))
    pngs += demo_views.reports(args.out, {"fixture-twelve-term": cal}, {"2X-THRU": T2, "FIXTURE-DUT": Fd})
    print(f"\nwrote in {args.out}: 2xthru.s2p, fixture_dut.s2p, "
          + ", ".join(os.path.basename(p) for p in pngs) + ", deembedded/ (the device and the fixture halves)")
    return 0


def main(argv=None):
    args = parse(argv)
    choose_backend()
    from orvane_ex.virtual_board import Settings

    os.makedirs(args.out, exist_ok=True)
    settings = Settings(args.start * 1e9, args.stop * 1e9, args.points)
    if args.device:
        from orvane_ex.virtual_board import device_from_file

        try:            # the file checked before the run, so that a wrong one is one line, not a traceback
            device_from_file(args.device, settings.freqRange.f)
        except Exception as e:      # noqa: BLE001 (scikit-rf reads the file and raises what it raises)
            text = str(e) if os.fspath(args.device) in str(e) else f"{args.device}: {e}"
            print(f"python -m orvane_ex.demo: error: --device {text}", file=sys.stderr)
            return 2
    print(f"Virtual QLM-417: {args.points} points, {args.start:g} to {args.stop:g} GHz, seed {args.seed}, "
          f"{args.method}\n")
    try:
        methods = {"multiline-trl": multiline, "onwafer": onwafer, "fixture": fixture}
        return methods.get(args.method, solt)(args, settings)
    except EOFError:
        # A prompt met a closed standard input (a pipe, CI, nohup): say how to run without one.
        print("\nstandard input ended at a prompt; run with --unattended to answer the prompts from the script",
              file=sys.stderr)
        return 2


if __name__ == "__main__":
    sys.exit(main())
