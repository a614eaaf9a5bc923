"""orvane-cal verify and drift: a calibration checked against a verification
standard's reference value (E_n), and against its own standards measured
again."""
from __future__ import annotations

import argparse
import os

import numpy as np

from ..calibration import base
from ..files import covariance, touchstone


def register(sub) -> None:
    verify = sub.add_parser(
        "verify", help="compare a corrected verification standard with its reference value (E_n)",
        description="Corrects a measured verification standard with the calibration and compares it with its "
                    "reference value: E_n = |x - x_ref| / sqrt(U_x^2 + U_ref^2) per point and S-parameter, with "
                    "expanded uncertainties along the deviation. Exits 1 where any E_n exceeds 1.")
    verify.add_argument("calibration", metavar="CAL.npz")
    verify.add_argument("measured", metavar="MEASURED.sNp", help="the raw measurement of the verification standard")
    verify.add_argument("--reference", "-r", required=True, metavar="REF.sNp",
                        help="its reference values (a certificate's, or a better calibration's)")
    verify.add_argument("--reference-uncertainty", metavar="U|REF.sNp.cov",
                        help="the reference's expanded (k=2) uncertainty, one number for every entry, or a "
                             "covariance file; by default REF.sNp.cov where there is one, else none")
    verify.add_argument("--budget", "-b", metavar="BUDGET.toml",
                        help="uncertainty budget (default: the uncertainty the calibration keeps)")
    verify.add_argument("--k", type=float, default=2.0, help="coverage factor (default 2)")
    verify.add_argument("--ports", metavar="I,J", help="the two-port (or port) of n-port files to compare, e.g. 1,3")
    verify.add_argument("--plot", metavar="FIGURE.png", help="write a figure of the comparison (png, svg, pdf)")
    verify.set_defaults(run=_verify)

    drift = sub.add_parser(
        "drift", help="check a calibration against its standards measured again",
        description="Corrects standards measured again (files named as for build) with the calibration and "
                    "compares them with the values it assumed. Exits 1 where a change exceeds --limit.")
    drift.add_argument("calibration", metavar="CAL.npz")
    drift.add_argument("--standards", "-s", required=True, metavar="DIR",
                       help="folder of the standards measured again (any of the calibration's)")
    drift.add_argument("--limit", type=float, metavar="LINEAR",
                       help="the largest change accepted, |corrected - assumed| (e.g. 0.01)")
    drift.set_defaults(run=_drift)


def _read(path: str, cal, ports) -> np.ndarray:
    f, s, _ = touchstone.read(path, convention=cal.convention)
    if ports is not None:
        index = [p - 1 for p in ports]
        if max(index) >= s.shape[1]:
            raise ValueError(f"{path}: a {s.shape[1]}-port file has no port {max(ports)}")
        s = s[:, index][:, :, index]
    if s.shape[1] != cal.ports:
        raise ValueError(f"{path}: a {s.shape[1]}-port file; the {cal.method} calibration corrects "
                         f"{cal.ports}-port data" + ("" if ports else " (--ports picks them)"))
    if len(f) != len(cal.f) or not np.allclose(f, cal.f, rtol=1e-12, atol=0):
        raise ValueError(f"{path}: {len(f)} points from {f[0] / 1e9:g} to {f[-1] / 1e9:g} GHz; the calibration "
                         f"has {len(cal.f)} from {cal.f[0] / 1e9:g} to {cal.f[-1] / 1e9:g} GHz")
    return s[:, 0, 0] if cal.ports == 1 else s


def _ports(text):
    if text is None:
        return None
    from .main import _port_list

    try:
        return _port_list(text)
    except argparse.ArgumentTypeError as e:
        raise ValueError(f"--ports {e}") from None


def _reference_uncertainty(args, reference: np.ndarray, cal):
    """The reference's covariance, or an expanded uncertainty per entry."""
    given = args.reference_uncertainty
    if given is None:
        side = covariance.sidecar(args.reference)
        if not os.path.exists(side):
            return None, "none given"
        given = side
    try:
        value = float(given)
    except ValueError:
        value = None
    if value is not None:
        if not (np.isfinite(value) and value >= 0):
            raise ValueError(f"--reference-uncertainty {given}: an expanded uncertainty is a number >= 0")
        return value, f"{value:g} (k = 2) on every entry"
    f, cov, ports = covariance.read(given)
    if ports != cal.ports or len(f) != len(cal.f) or not np.allclose(f, cal.f, rtol=1e-12, atol=0):
        raise ValueError(f"{given}: {ports} ports and {len(f)} points; the comparison has {cal.ports} and "
                         f"{len(cal.f)}")
    if cal.convention == "board":           # the file holds e^{jwt}
        sign = np.tile([1.0, -1.0], cov.shape[1] // 2)
        cov = cov * sign[:, None] * sign[None, :]
    return cov, f"the covariance in {given}"


def _verify(args) -> int:
    from ..uncertainty.verification import verify

    cal = base.load(args.calibration)
    ports = _ports(args.ports)
    measured = _read(args.measured, cal, ports)
    reference = _read(args.reference, cal, ports)
    if args.budget:
        from .main import load_budget

        budget = load_budget(args.budget)
        result = cal.apply(measured, budget=budget)
    elif cal.uncertainty:
        result = cal._apply_uncertain(measured, None)
    else:
        raise ValueError(f"{args.calibration}: keeps no uncertainty; give --budget to verify against a reference")
    u_ref, said = _reference_uncertainty(args, reference, cal)
    v = verify(result, reference, reference_uncertainty=u_ref, k=args.k, name=os.path.basename(args.measured))
    print(v.summary())
    print(f"  reference: {args.reference}; its uncertainty: {said}")
    if args.plot:
        _figure(v, args.plot)
        print(f"wrote {args.plot}")
    return 0 if v.passed else 1


def _figure(v, path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    from .._common.atomic import written_whole
    from ..plots import verification

    fig = verification(v)
    kind = os.path.splitext(path)[1].lstrip(".").lower() or "png"
    try:
        with written_whole(path, "wb", durable=False) as fp:
            fig.savefig(fp, format=kind)
    finally:
        plt.close(fig)


def _drift(args) -> int:
    from ..uncertainty.verification import drift

    cal = base.load(args.calibration)
    from ..calibration.standards import find

    cls = type(cal)
    if "line_lengths" in cal.parameters:             # TRL: as many lines as it was built from
        standards = cls.standards_for(line_lengths=cal.parameters["line_lengths"])
    else:
        standards = cls.STANDARDS
    # the isolation's loads say nothing the other standards do not
    wanted = {s.file: s.name for s in standards if s.name != "isolation"}
    found = {}

    for file, name in wanted.items():
        path = find(args.standards, file)
        if path is not None:
            f, s, _ = touchstone.read(path, convention=cal.convention)
            if len(f) != len(cal.f) or not np.allclose(f, cal.f, rtol=1e-12, atol=0):
                raise ValueError(f"{path}: {len(f)} points; the calibration has {len(cal.f)}")
            found[name] = s[:, 0, 0] if s.shape[1] == 1 else s
    if not found:
        raise ValueError(f"{args.standards}: none of the calibration's standards ({', '.join(wanted)}) is there")
    if args.limit is not None and not (np.isfinite(args.limit) and args.limit > 0):
        raise ValueError(f"--limit {args.limit}: a positive number")
    result = drift(cal, found, limit=args.limit)
    print(result.summary())
    return 0 if result.passed else 1
