"""The demo's uncertainty step: a twelve-term calibration on a virtual board
that follows the example uncertainty budget, the corrected device with its
k=2 bands, the budget's largest contributors and a verification against the
board's true device."""
import os
import warnings


def run(args, settings) -> list[str]:
    """Runs the step; returns the files written."""
    import numpy as np

    from orvane_ex import hidden, plots
    from orvane_ex.calibration import METHODS
    from orvane_ex.calibration.kit import example_kit
    from orvane_ex.uncertainty import Budget
    from orvane_ex.uncertainty.verification import verify
    from orvane_ex.virtual_board import PORTS, Board

    budget = Budget.example()
    print(f"\nUncertainty: a board whose kit, noise, connections and cables follow the budget "
          f"'{budget.name}' (src/orvane_ex/budgets/example.toml)")
    board = Board(settings, seed=args.seed, noise=False, ideal_standards=False, device=args.device, budget=budget)
    # the same prompts as above, answered by the script and not shown again
    with board.unattended(hidden):
        Gm1, Gm2, Tm, Im = hidden.prompt2PortSOLT(board, settings, PORTS, isolation=True)
        Sm = hidden.prompt2PortMeasure(board, settings, PORTS, "DUT")
    f = settings.freqRange.f
    standards = {f"{name}{port}": G[:, k] for port, G in ((1, Gm1), (2, Gm2))
                 for k, name in enumerate(("open", "short", "load"))}
    standards.update(thru=Tm, isolation=Im)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        cal = METHODS["twelve-term"].from_standards(f, standards, convention="board", kit=example_kit(),
                                                    notes="virtual QLM-417 following the example budget")
    cal = cal.with_uncertainty(budget)
    cal_path = os.path.join(args.out, "calibration-with-uncertainty.npz")
    cal.save(cal_path)
    result = cal.apply(Sm, budget=budget)
    s2p = os.path.join(args.out, "dut_with_uncertainty.s2p")
    side = result.write(s2p)

    U = result.expanded(k=2)
    print("expanded uncertainty (k = 2) of the corrected device, the largest over the band:")
    for i, j in ((0, 0), (1, 0)):
        print(f"  S{i + 1}{j + 1}: |S| {np.max(U['magnitude'][:, i, j]):.4f} linear, "
              f"{np.nanmax(U['db'][:, i, j]):.3f} dB; phase {np.nanmax(U['phase'][:, i, j]):.2f} deg")
    print("the largest contributors to u(|S21|), per band:")
    rows = [r for r in result.table() if r["parameter"] == "S21"]
    for band in sorted({r["band"] for r in rows}):
        top = sorted((r for r in rows if r["band"] == band), key=lambda r: -r["share"])[:3]
        print(f"  {band[0] / 1e9:5.2f} - {band[1] / 1e9:5.2f} GHz: "
              + ", ".join(f"{r['influence']} {100 * r['share']:.0f}%" for r in top))

    check = verify(result, board.device, name="corrected device against the board's true device")
    print(check.summary())

    import matplotlib.pyplot as plt

    fig, axes = plt.subplots(2, 1, figsize=(10, 6.5), layout="constrained", sharex=True)
    std = result.std_magnitude()
    for ax, (i, j) in zip(axes, ((0, 0), (1, 0))):
        # magnitudes differ from the truth by far less than they vary: the error, with its band, shows it
        error = np.abs(result.s[:, i, j]) - np.abs(board.device[:, i, j])
        plots.uncertainty_band(f, error, u=std[:, i, j], k=2, scale="linear", ax=ax,
                               label=f"|S{i + 1}{j + 1}| corrected - true", ylabel="linear")
        ax.axhline(0.0, color="k", linewidth=0.8, linestyle="--", label="the truth")
        ax.set_title(f"|S{i + 1}{j + 1}|: error against the true device, with its k = 2 band")
        ax.legend(loc="upper left", bbox_to_anchor=(1.02, 1.0), borderaxespad=0.0)
    bands = os.path.join(args.out, "uncertainty.png")
    fig.savefig(bands, dpi=80)
    plt.close(fig)
    fig = plots.verification(check)
    verification = os.path.join(args.out, "verification.png")
    fig.savefig(verification, dpi=80)
    plt.close(fig)
    page = cal.report(os.path.join(args.out, "report-twelve-term-uncertainty.html"), devices={"DUT": Sm},
                      verification=[check], budget=budget)
    return [cal_path, s2p, side, bands, verification, page]
