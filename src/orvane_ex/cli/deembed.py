"""orvane-cal deembed: 2x-thru fixture removal (IEEE P370) for Touchstone files.

    orvane-cal deembed --2xthru 2x.s2p [--fixture-dut fdf.s2p --method nzc|zc] DUT.s2p ... -o OUT/

Each device file is written de-embedded into OUT under its own name, and the
fixture halves as fixture_side1.s2p and fixture_side2.s2p (port 1 at the
analyser), each file whole or not at all and never over an input.
"""
from __future__ import annotations

import os

import numpy as np

from ..files import touchstone

HALVES = ("fixture_side1.s2p", "fixture_side2.s2p")


class DeembedError(ValueError):
    """A problem with the command's files, in one line naming the file."""


def add_parser(sub) -> None:
    p = sub.add_parser("deembed", help="remove a PCB fixture from Touchstone files with its 2x-thru (IEEE P370)",
                       description="Removes a fixture's halves, found from its 2x-thru by IEEE P370's method, "
                                   "from measurements of fixture, device, fixture. nzc (the default without "
                                   "--fixture-dut) splits the 2x-thru alone; zc also follows the fixture's "
                                   "impedance around the device (--fixture-dut). The files must be two-ports on "
                                   "one harmonic grid (f = k df, optionally with a DC point).")
    p.add_argument("files", nargs="+", metavar="DUT.s2p", help="measurements of fixture, device, fixture")
    p.add_argument("--2xthru", dest="thru2x", required=True, metavar="2X.s2p", help="the fixture's 2x-thru")
    p.add_argument("--fixture-dut", metavar="FDF.s2p",
                   help="a fixture-DUT-fixture measurement for the impedance correction (zc)")
    p.add_argument("--method", choices=["nzc", "zc"], help="nzc: from the 2x-thru alone; zc: impedance-corrected "
                   "(needs --fixture-dut; the default when it is given)")
    p.add_argument("--z-split", type=float, metavar="OHM", help="nzc: the impedance at the 2x-thru's middle, "
                   "for a 2x-thru too short to read it")
    p.add_argument("--output", "-o", required=True, metavar="DIR", help="folder for the de-embedded files and the "
                   "fixture halves")
    p.set_defaults(run=run)


def _read(path: str):
    f, s, z0 = touchstone.read(path)
    if s.shape[1] != 2:
        raise DeembedError(f"{path}: a {s.shape[1]}-port file; de-embedding takes two-ports")
    z0 = np.asarray(z0, float)
    if z0[0] != z0[1]:
        raise DeembedError(f"{path}: its ports are referenced to {z0[0]:g} and {z0[1]:g} ohm; de-embedding takes "
                           "one reference impedance for both")
    return f, s, float(z0[0])


def run(args) -> int:
    from ..fixture import p370
    from .main import CommandError, _identity, _output_folder

    method = args.method or ("zc" if args.fixture_dut else "nzc")
    if method == "zc" and not args.fixture_dut:
        raise CommandError("--method zc needs --fixture-dut FDF.s2p (a measurement of fixture, device, fixture)")
    if method == "nzc" and args.fixture_dut:
        raise CommandError("--fixture-dut is for --method zc; nzc uses the 2x-thru alone")
    if args.z_split is not None and method != "nzc":
        raise CommandError("--z-split is for --method nzc")
    f, thru2x, z0 = _read(args.thru2x)
    options = {}
    if method == "zc":
        fd, fdf, z0d = _read(args.fixture_dut)
        if len(fd) != len(f) or not np.allclose(fd, f, rtol=1e-9, atol=0):
            raise DeembedError(f"{args.fixture_dut}: its {len(fd)} frequencies differ from the 2x-thru's "
                               f"({len(f)} points in {args.thru2x})")
        if z0d != z0:
            raise DeembedError(f"{args.fixture_dut}: referenced to {z0d:g} ohm, the 2x-thru ({args.thru2x}) to "
                               f"{z0:g} ohm")
    devices = []
    for path in args.files:
        fx, s, zx = _read(path)
        if len(fx) != len(f) or not np.allclose(fx, f, rtol=1e-9, atol=0):
            raise DeembedError(f"{path}: its {len(fx)} frequencies differ from the 2x-thru's ({len(f)} points in "
                               f"{args.thru2x}); measure both on one grid")
        if zx != z0:
            raise DeembedError(f"{path}: referenced to {zx:g} ohm, the 2x-thru to {z0:g} ohm")
        devices.append((path, s))
    try:
        if method == "zc":
            halves = p370.zc_2xthru(thru2x, fdf, f=f, z0=z0, **options)
        else:
            halves = p370.nzc_2xthru(thru2x, f=f, z0=z0, z_split=args.z_split)
    except ValueError as e:
        raise DeembedError(f"{args.thru2x}: {e}") from None

    _output_folder(args.output)
    targets = [os.path.join(args.output, os.path.basename(p)) for p, _ in devices]
    targets += [os.path.join(args.output, name) for name in HALVES]
    real = [os.path.realpath(t) for t in targets]
    if len(set(real)) != len(real):
        raise CommandError("two outputs would have the same name (two inputs of one name, or an input named "
                           f"{' or '.join(HALVES)}); give them other names")
    inputs = [args.thru2x, *(p for p, _ in devices)] + ([args.fixture_dut] if args.fixture_dut else [])
    identities = {key: source for source in inputs for key in _identity(source)}
    for target in targets:
        hit = [identities[key] for key in _identity(target, follow=False) if key in identities]
        if hit:
            raise CommandError(f"{target} would replace the input {hit[0]}; choose another folder")
    for (path, s), target in zip(devices, targets):
        touchstone.write(target, f, halves.deembed(s), z0=z0,
                         comment=f"de-embedded with IEEE P370 {method} from {os.path.basename(args.thru2x)}")
    halves.write(args.output)
    details = halves.details
    found = (f"split at {details['z_split']:.2f} ohm, sample {details['split_sample']}" if method == "nzc" else
             f"{details['samples'][0]} and {details['samples'][1]} samples peeled")
    print(f"{method}: {found}; de-embedded {len(devices)} file{'s' if len(devices) != 1 else ''} into "
          f"{args.output}, with the fixture halves {' and '.join(HALVES)}")
    return 0
