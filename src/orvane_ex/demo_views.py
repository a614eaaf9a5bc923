"""What the demo shows besides its printed residuals: the comparison figures,
a report per calibration, and the device measured behind mismatched launch
fixtures, seen in the time domain and gated."""
import os

import numpy as np


def comparison(out, f, stacks, titles, truth, heading):
    """comparison.png (magnitude and phase of every trace, the board's
    convention shown as e^{jwt}) and errors.png (each against the truth);
    the comparison is also shown where a window can be."""
    import matplotlib.pyplot as plt

    from orvane_ex import plots

    png = os.path.join(out, "comparison.png")
    fig = plots.db_phase(f, stacks, labels=titles, convention="board", title=heading)
    fig.savefig(png, dpi=90)
    errors = os.path.join(out, "errors.png")
    measured = [s for s, t in zip(stacks, titles) if s is not truth]
    labels = [t for s, t in zip(stacks, titles) if s is not truth]
    err = plots.error_vs_truth(f, measured, truth, labels=labels, convention="board")
    err.suptitle(f"{heading}: error against the true device")
    err.savefig(errors, dpi=90)
    plt.close(err)
    if plt.get_backend().lower() != "agg":
        plt.show()
    plt.close(fig)
    return [png, errors]


def reports(out, cals, devices):
    """report-<name>.html for each calibration of `cals` ({name: cal}), with
    the devices ({label: raw [n,2,2] in the board's convention})."""
    paths = []
    for name, cal in cals.items():
        path = os.path.join(out, f"report-{name}.html")
        shown = devices if cal.ports == 2 else {k: v[:, 0, 0] for k, v in devices.items()}
        cal.report(path, devices=shown)
        paths.append(path)
    return paths


def long_fixture(delay: float = 3e-9, capacitance: float = 0.5e-12):
    """Fixtures the board's device can be gated out of: on each side a launch
    whose pad's capacitance reflects (about -7 dB at 6 GHz for 0.5 pF), then
    a matched, nearly lossless trace of `delay` seconds."""
    from orvane_ex._common.constants import SPEED_OF_LIGHT
    from orvane_ex.virtual_board import PCBFixture

    eps_eff = 3.4
    length = delay * SPEED_OF_LIGHT / np.sqrt(eps_eff)
    return PCBFixture(side1=((50.0, length),), side2=((50.0, length),), launch1=(0.0, capacitance),
                      launch2=(0.0, capacitance), eps_eff=eps_eff, loss_db_per_m_ghz=0.2)


def passage(fixture, f) -> np.ndarray:
    """[n,2,2]: what the fixtures' matched traces do to each S-parameter of
    the device between them (in and out, or there and back)."""
    t1, t2 = fixture.half(f, 1)[:, 1, 0], fixture.half(f, 2)[:, 1, 0]
    out = np.empty((len(f), 2, 2), complex)
    out[:, 0, 0], out[:, 1, 1] = t1 * t1, t2 * t2
    out[:, 0, 1] = out[:, 1, 0] = t1 * t2
    return out


def fixtured(args, settings, cal, alone, truth):
    """Measures the board's device behind two long fixtures with mismatched
    launches (`long_fixture`), corrects it with `cal`, gates the fixtures
    away and compares with the device alone; writes tdr.png and gated.png.
    `alone` is the device measured without fixtures (corrected) and `truth`
    its true S-parameters, both in the board's convention. Returns (paths
    written, lines to print)."""
    from orvane_ex import hidden, plots, timedomain
    from orvane_ex._common.convention import in_convention
    from orvane_ex.plots._figure import detached, figure
    from orvane_ex.virtual_board import PORTS, Board

    f = settings.freqRange.f
    df = f[1] - f[0]
    # a delay the transform's time axis (1 / df long) holds with the echoes after it
    delay = min(3e-9, 1 / df / 8)
    center, span = 2 * delay, 3 * delay
    device = in_convention(truth, "board")                     # e^{jwt}
    fixture = long_fixture(delay)
    board = Board(settings, seed=args.seed, noise=not args.no_noise, ideal_standards=False, device=args.device,
                  fixture=fixture)
    board.connect("FIXTURE-DUT")
    raw = hidden.ab2S_SwitchCorrect(*hidden.measure2Port(board, settings, PORTS), PORTS)
    behind = in_convention(cal.apply(raw), "board")
    gated = timedomain.gate(f, behind, center=center, span=span)
    through = passage(fixture, f)
    edge = min(int(np.ceil(2 / span / df)), (len(f) - 1) // 4)
    band = slice(edge, len(f) - edge)

    def worst(x, param):
        i, j = param
        return 20 * np.log10(np.max(np.abs(x[band, i, j] / through[band, i, j] - device[band, i, j])))

    lines = [f"\nThe device behind two fixtures (a 0.5 pF launch, then a {delay * 1e9:.3g} ns trace each), gated "
             f"from {(center - span / 2) * 1e9:.3g} to {(center + span / 2) * 1e9:.3g} ns; largest |S - S_device| "
             f"from {f[edge] / 1e9:.4g} to {f[-1 - edge] / 1e9:.4g} GHz, the traces' passage divided out:"]
    for name, param in (("S11", (0, 0)), ("S21", (1, 0))):
        lines.append(f"  {name}: {worst(behind, param):6.1f} dB behind the fixtures, {worst(gated, param):6.1f} dB "
                     "gated")
    if delay < 3e-9:
        lines.append(f"  ({len(f)} points give a time axis of {1 / df * 1e9:.3g} ns, room for {delay * 1e9:.3g} ns "
                     "fixtures and a gate too short for the device's ringing: 201 points or more give 3 ns and "
                     "better than -40 dB)")

    alone_e = in_convention(alone, "board")
    with detached():
        # band-pass responses: the sweep starts far above 0 Hz, too far for a
        # low-pass impedance profile to hold its levels
        fig, axes = figure(2, 1, figsize=(8.4, 6.6))
        limits = (center - span / 2, center + span / 2)
        for ax, (i, j), what in ((axes[0, 0], (0, 0), "S11 (TDR): the launches at 0, the device"),
                                 (axes[1, 0], (1, 0), "S21: through the fixtures and the device")):
            t, y = timedomain.impulse_response(f, behind[:, i, j])
            _, y_alone = timedomain.impulse_response(f, alone_e[:, i, j])
            keep = (t >= -center) & (t <= 4 * center)
            plots.time_response(t[keep], [y[keep], y_alone[keep]], ax=ax, gate=limits,
                                labels=["behind the fixtures", "device alone"],
                                title=f"{what} (band-pass impulse response)")
        tdr = os.path.join(args.out, "tdr.png")
        fig.savefig(tdr, dpi=90)
        fig = plots.db_phase(f, [device, behind / through, gated / through],
                             labels=["device alone (true)", "behind the fixtures", "gated"],
                             parameters=["S11", "S21"], title="Gating the fixtures away (their passage divided out)")
        gate_png = os.path.join(args.out, "gated.png")
        fig.savefig(gate_png, dpi=90)
    return [tdr, gate_png], lines


def fixture_tdr(out, f, thru2x, fixture_dut):
    """fixture-tdr.png: the impedance profile of the PCB fixture's 2x-thru and
    of the device inside it, from port 1 (low-pass mode: the grid is f = k df)."""
    from orvane_ex import plots, timedomain
    from orvane_ex._common.convention import in_convention
    from orvane_ex.plots._figure import detached

    profiles = []
    for s in (thru2x, fixture_dut):
        fd, s11 = timedomain.extrapolate_to_dc(f, in_convention(s[:, 0, 0], "board"))
        # padded: a finer time axis (the resolution stays the sweep's)
        profiles.append(timedomain.impedance_profile(fd, s11, pad=7 * len(fd)))
    t = profiles[0][0]
    keep = (t >= 0) & (t <= 0.8e-9)
    with detached():
        fig = plots.time_response(t[keep], [z[keep] for _, z in profiles], kind="ohm",
                                  labels=["2x-thru", "fixture, device, fixture"],
                                  title="TDR from port 1: the fixture's launch and traces (low-pass)")
        fig.axes[0].set_ylim(30, 80)          # the traces' few ohms; the device (an open at DC) rises beyond
        path = os.path.join(out, "fixture-tdr.png")
        fig.savefig(path, dpi=90)
    return path
