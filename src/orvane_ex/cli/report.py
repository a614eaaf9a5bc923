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
                   help="a verification standard: its raw measurement and its reference values (corrected "
                        "S-parameters); E_n needs an uncertainty budget. May be given more than once; the "
                        "command exits with 1 when one fails (the report is written all the same)")
    p.add_argument("--reference-u", type=float, default=0.0, metavar="U",
                   help="the reference values' standard uncertainty (linear, circular; default 0)")
    p.add_argument("--budget", "-b", metavar="BUDGET.toml",
                   help="uncertainty budget for the devices' bands and E_n (default: the calibration's own)")
    p.add_argument("--interpolate", nargs="?", const="cubic", choices=["cubic", "linear"],
                   help="correct files on another grid inside the calibrated span with the terms interpolated")
    p.add_argument("--title", help="the page's title")
    p.add_argument("--output", "-o", required=True, metavar="REPORT.html")
    p.set_defaults(run=run)


def run(args) -> int:
    from ..calibration import base
    from ..report import compare, write_report
    from ..report.devices import devices
    from .main import CommandError, _refuse_overwriting

    folder = os.path.dirname(args.output) or "."
    if not os.path.isdir(folder):
        raise CommandError(f"{args.output}: the folder {folder} does not exist")
    inputs = [args.calibration, *args.device, *(x for pair in args.verify for x in pair)]
    if args.budget:
        inputs.append(args.budget)
    _refuse_overwriting(args.output, inputs)
    cal = base.load(args.calibration)
    budget = None
    if args.budget:
        from ..uncertainty import Budget

        budget = Budget.load(args.budget)
    results = []
    if args.verify:
        use = budget
        if use is None and cal.budget:
            from ..uncertainty import Budget

            use = Budget.from_dict(cal.budget, source=f"{args.calibration}: its budget")
        if use is None:
            raise CommandError("--verify: E_n needs an uncertainty budget: give --budget BUDGET.toml, or a "
                               "calibration saved with one")
        for measured, reference in args.verify:
            (m,), (r,) = devices([measured], cal), devices([reference], cal)
            results.append(compare(cal, m, r, use, reference_u=args.reference_u, interpolate=args.interpolate))
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
