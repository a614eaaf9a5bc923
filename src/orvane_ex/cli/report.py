"""orvane-cal report: a calibration's HTML report."""
from __future__ import annotations

import os


def add(sub) -> None:
    p = sub.add_parser("report", help="write a calibration's report as one self-contained HTML page",
                       description="Writes one HTML page about a saved calibration: what was calibrated, the "
                                   "error terms in dB, residuals, TRL conditioning and uncertainty where it has "
                                   "them, devices corrected and verification standards with their E_n. The page "
                                   "is self-contained (embedded figures, no script, nothing loaded) and prints.")
    p.add_argument("calibration", metavar="CAL.npz")
    p.add_argument("--device", "-d", nargs="+", default=[], metavar="DUT.sNp",
                   help="raw measurements of devices to show corrected (Touchstone, e^{jwt})")
    p.add_argument("--verify", nargs=2, action="append", default=[], metavar=("MEASURED.sNp", "REFERENCE.sNp"),
                   help="a verification standard: its raw measurement and its reference values, compared as "
                        "orvane-cal verify does (E_n, which needs an uncertainty budget or a calibration that "
                        "keeps its uncertainty). May be given more than once; the command exits with 1 when one "
                        "fails (the report is written all the same)")
    p.add_argument("--reference-uncertainty", metavar="U|REF.sNp.cov",
                   help="the references' expanded (k=2) uncertainty, one number for every entry, or a covariance "
                        "file; by default REF.sNp.cov where there is one, else none")
    p.add_argument("--k", type=float, default=2.0, help="coverage factor of E_n (default 2)")
    p.add_argument("--budget", "-b", metavar="BUDGET.toml",
                   help="uncertainty budget for the devices' bands and E_n (default: the calibration's own)")
    p.add_argument("--interpolate", nargs="?", const="cubic", choices=["cubic", "linear"],
                   help="correct files on another grid inside the calibrated span with the terms interpolated")
    p.add_argument("--title", help="the page's title")
    p.add_argument("--output", "-o", required=True, metavar="REPORT.html")
    p.set_defaults(run=run)


def run(args) -> int:
    from ..calibration import base
    from ..report import write_report
    from .main import CommandError, _refuse_overwriting, load_budget

    folder = os.path.dirname(args.output) or "."
    if not os.path.isdir(folder):
        raise CommandError(f"{args.output}: the folder {folder} does not exist")
    inputs = [args.calibration, *args.device, *(x for pair in args.verify for x in pair)]
    if args.budget:
        inputs.append(args.budget)
    _refuse_overwriting(args.output, inputs)
    cal = base.load(args.calibration)
    budget = load_budget(args.budget) if args.budget else None
    results = [_verification(cal, measured, reference, budget, args) for measured, reference in args.verify]
    facts = [("calibration file", args.calibration)]
    if args.budget:
        facts.append(("budget file", args.budget))
    write_report(cal, args.output, devices=args.device, verification=results, budget=budget, title=args.title,
                 interpolate=args.interpolate, extra_facts=facts)
    print(f"wrote {args.output}: report of the {cal.method} calibration in {args.calibration}"
          + (f", {len(args.device)} device(s)" if args.device else "")
          + (f", {len(results)} verification(s): " + ", ".join("pass" if r.passed else "FAIL" for r in results)
             if results else ""))
    return 1 if any(not r.passed for r in results) else 0


def _verification(cal, measured: str, reference: str, budget, args):
    """A verification standard's corrected measurement against its
    reference, as orvane-cal verify compares them."""
    import argparse

    import numpy as np

    from ..report.devices import corrected, devices, on_grid
    from ..uncertainty.verification import verify
    from .main import CommandError
    from .verify import _reference_uncertainty

    if budget is None and cal.budget:
        from ..uncertainty import Budget

        budget = Budget.from_dict(cal.budget, source=f"{args.calibration}: its budget")
    if budget is None and not cal.uncertainty:
        raise CommandError(f"--verify: E_n needs an uncertainty: give --budget BUDGET.toml, or a calibration "
                           f"that keeps its uncertainty ({args.calibration} keeps none)")
    (m,), (r,) = devices([measured], cal), devices([reference], cal)
    if r.raw.shape != m.raw.shape or not np.allclose(r.f, m.f, rtol=1e-12, atol=0):
        raise CommandError(f"{reference}: the reference is not on the grid of {measured} ({len(m.f)} points)")
    on = on_grid(cal, m, args.interpolate)
    _, result = corrected(on, m, budget, kept=True)
    given = argparse.Namespace(reference=reference, reference_uncertainty=args.reference_uncertainty)
    u_ref, _ = _reference_uncertainty(given, r.raw, on)
    values = r.raw if cal.ports == 2 else r.raw[:, 0, 0]
    return verify(result, values, reference_uncertainty=u_ref, k=args.k, name=os.path.basename(measured))
