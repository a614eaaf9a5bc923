"""orvane-cal: calibration kits, saved calibrations and batch correction.

    orvane-cal kit show [KIT.toml]
    orvane-cal build --method twelve-term --kit KIT.toml --standards DIR -o cal.npz
    orvane-cal info cal.npz
    orvane-cal apply cal.npz raw/*.s2p -o corrected/
    orvane-cal export cal.npz -o error-boxes/
    orvane-cal verify cal.npz measured.s2p --reference ref.s2p --budget budget.toml
    orvane-cal deembed --2xthru 2x.s2p [--fixture-dut fdf.s2p] raw/*.s2p -o deembedded/
    orvane-cal report cal.npz --device dut.s2p -o report.html
    orvane-cal tdr dut.s2p -o tdr.png
    orvane-cal gate dut.s2p --center 6ns --span 9ns -o gated.s2p
"""
from __future__ import annotations

import argparse
import concurrent.futures
import contextlib
import os
import signal
import sys
import threading
import time
import warnings

import numpy as np

from ..calibration import base
from ..calibration import kit as calkit
from .._common.convention import CONVENTION_NAMES
from ..files import touchstone


def _methods() -> dict:
    base._import_methods()
    return dict(sorted(base.METHODS.items()))


def _files(cls) -> str:
    """The files a method reads from --standards, as `build --help` lists them."""
    if cls.uses_kit:
        return " ".join(f"[{s.file}]" if s.optional else s.file for s in cls.STANDARDS)
    try:
        return " ".join(s.file for s in cls.standards_for())
    except ValueError:                  # the lines' files follow their lengths
        return "thru.s2p reflect.s2p line1.s2p [line2.s2p ...], with --lengths"


class CommandError(Exception):
    """A problem the command reports in one line and exits 2 for."""


def main(argv=None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    if not getattr(args, "run", None):
        parser.print_help()
        return 2
    with warnings.catch_warnings():
        warnings.showwarning = _show_warning
        try:
            return args.run(args)
        except (CommandError, calkit.KitError, base.CalibrationFileError, touchstone.TouchstoneError, OSError,
                ValueError) as e:
            print(f"orvane-cal: error: {e}", file=sys.stderr)
            return 2
        except KeyboardInterrupt:
            print("orvane-cal: interrupted", file=sys.stderr)
            return 130


def _show_warning(message, category, filename, lineno, file=None, line=None):
    """A warning as one line of the command's own, not Python's source line."""
    print(f"orvane-cal: warning: {message}", file=sys.stderr if file is None else file)


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(prog="orvane-cal", description="Calibration kits, saved calibrations and batch "
                                "correction of Touchstone files for the QLM-417.",
                                formatter_class=argparse.RawDescriptionHelpFormatter, epilog=__doc__.split("\n\n")[1])
    sub = p.add_subparsers(metavar="command")

    kit = sub.add_parser("kit", help="calibration kits").add_subparsers(metavar="action")
    show = kit.add_parser("show", help="print a kit's definition (the shipped example kit by default)")
    show.add_argument("kit", nargs="?", help="kit file (TOML)")
    show.add_argument("--at", type=float, nargs="+", metavar="GHZ", help="also print the standards at these frequencies")
    show.set_defaults(run=_kit_show)

    methods = _methods()
    build = sub.add_parser("build", help="build a calibration from measured standard files",
                           formatter_class=argparse.RawDescriptionHelpFormatter,
                           description="Builds a calibration from measured standards and the kit's model of "
                                       "them, and saves it.\n\nThe measured standards each method reads from the "
                                       "--standards folder\n(Touchstone files, names in any case; [optional]):\n"
                           + "".join(f"  {m + ':':<15}{_files(cls)}\n" for m, cls in methods.items()))
    build.add_argument("--method", "-m", required=True, choices=list(methods))
    build.add_argument("--standards", "-s", required=True, metavar="DIR", help="folder of measured standards")
    source = build.add_mutually_exclusive_group()
    source.add_argument("--kit", "-k", metavar="KIT.toml", help="kit file (default: the shipped example kit)")
    source.add_argument("--ideal", action="store_true", help="ideal standards instead of a kit model")
    build.add_argument("--output", "-o", required=True, metavar="CAL.npz")
    build.add_argument("--notes", default="", help="free-form notes stored with the calibration")
    build.add_argument("--budget", "-b", metavar="BUDGET.toml",
                       help="uncertainty budget: the calibration keeps its error terms' covariance from it")
    offered = {}
    for cls in methods.values():
        for option in cls.OPTIONS:
            if option.name in offered:
                continue
            offered[option.name] = option
            build.add_argument(option.flag, dest=option.name, type=option.type, nargs=option.nargs,
                               choices=option.choices, metavar=option.metavar, help=option.help)
    build.set_defaults(run=_build)

    info = sub.add_parser("info", help="describe a saved calibration")
    info.add_argument("calibration", metavar="CAL.npz")
    info.set_defaults(run=_info)

    apply = sub.add_parser("apply", help="correct Touchstone files with a saved calibration")
    apply.add_argument("calibration", metavar="CAL.npz")
    apply.add_argument("files", nargs="+", metavar="RAW.sNp")
    apply.add_argument("--output", "-o", required=True, metavar="DIR", help="folder for the corrected files")
    apply.add_argument("--jobs", "-j", type=int, default=os.cpu_count() or 1, help="files corrected at once")
    apply.add_argument("--interpolate", nargs="?", const="cubic", choices=["cubic", "linear"],
                       help="correct files on another grid inside the calibrated span, with the error terms "
                            "interpolated onto it: cubic (the default: a spline follows smoothly varying terms "
                            "far more closely than straight lines) or linear")
    apply.add_argument("--ports", metavar="I,J", type=_port_list,
                       help="correct the two-port (one-port: the port) formed by these ports of n-port files, "
                            "e.g. --ports 1,3; written as NAME_1-3.s2p")
    apply.add_argument("--budget", "-b", metavar="BUDGET.toml",
                       help="uncertainty budget: write each corrected file's covariance beside it (NAME.s2p.cov)")
    apply.add_argument("--covariance", action="store_true",
                       help="write each corrected file's covariance beside it from the calibration's own uncertainty")
    apply.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    apply.set_defaults(run=_apply)

    export = sub.add_parser("export", help="write a calibration's error terms as Touchstone error boxes")
    export.add_argument("calibration", metavar="CAL.npz")
    export.add_argument("--output", "-o", required=True, metavar="DIR")
    export.set_defaults(run=_export)

    from . import report, timedomain, verify

    verify.register(sub)

    from . import deembed

    deembed.add_parser(sub)
    report.add(sub)
    timedomain.add(sub)
    return p


def _kit_show(args) -> int:
    kit = calkit.CalKit.load(args.kit) if args.kit else calkit.example_kit()
    print(kit.describe())
    if args.at:
        f = np.asarray(args.at) * 1e9
        G, T = kit.reflect(f, convention="engineering"), kit.thru(f, convention="engineering")
        print(f"\nmagnitude and phase, in the {CONVENTION_NAMES['engineering']} convention")
        print(f"{'GHz':>8} {'open':>22} {'short':>22} {'load':>22} {'thru S21':>22}")
        for k in range(len(f)):
            cells = [*G[k], T[k, 1, 0]]
            print(f"{args.at[k]:8g} " + " ".join(f"{abs(c):8.5f} {np.degrees(np.angle(c)):8.2f} deg" for c in cells))
    return 0


def _build(args) -> int:
    folder = os.path.dirname(args.output) or "."
    if not os.path.isdir(folder):
        raise CommandError(f"{args.output}: the folder {folder} does not exist")
    cls = base.METHODS[args.method]
    options = {o.name: getattr(args, o.name) for o in cls.OPTIONS if getattr(args, o.name) is not None}
    if cls.uses_kit:
        options.update(kit=args.kit, ideal=args.ideal)
    elif args.kit or args.ideal:
        raise CommandError(f"{args.method} takes no kit: its standards are measured against each other")
    f, measured, read = cls.read_standards(args.standards, **options)
    cal = cls.from_standards(f, measured, convention="engineering", notes=args.notes, **options)
    for name in ("kit", "switch_terms", "thru_standard"):
        if options.get(name):
            read.append(options[name])
    if args.budget:
        cal = cal.with_uncertainty(load_budget(args.budget))
        read.append(args.budget)
    _refuse_overwriting(args.output, read)
    cal.save(args.output)
    print(f"wrote {args.output}: {cal.describe().splitlines()[0]}")
    return 0


def _identity(path: str, follow: bool = True) -> set:
    """(device, inode) of a path and, for a link, of what it leads to
    (`follow`). A file written there replaces the path's own entry only."""
    found = set()
    for call in (os.lstat, os.stat) if follow else (os.lstat,):
        with contextlib.suppress(OSError):
            info = call(path)
            found.add((info.st_dev, info.st_ino))
    return found


def _refuse_overwriting(target: str, inputs) -> None:
    """Refuses to write `target` when that would replace one of the inputs:
    the same file, by any name, link or hard link."""
    if not os.path.lexists(target):
        return
    here = _identity(target, follow=False)
    for source in inputs:
        if here & _identity(source):
            raise CommandError(f"{target} would replace the input {source}; choose another output")


def _info(args) -> int:
    print(base.load(args.calibration).describe())
    return 0


def _export(args) -> int:
    cal = base.load(args.calibration)
    _output_folder(args.output)
    for path in cal.export_touchstone(args.output):
        print(path)
    return 0


def _output_folder(folder: str) -> None:
    if os.path.exists(folder) and not os.path.isdir(folder):
        raise CommandError(f"{folder}: not a folder (-o names the folder the files are written into)")
    os.makedirs(folder, exist_ok=True)


def _port_list(text: str) -> tuple[int, ...]:
    try:
        ports = tuple(int(p) for p in text.split(","))
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r}: port numbers separated by commas, e.g. 1,3") from None
    if not ports or min(ports) < 1 or len(set(ports)) != len(ports):
        raise argparse.ArgumentTypeError(f"{text!r}: distinct port numbers from 1, e.g. 1,3")
    return ports


def _ports_of(path: str) -> int | None:
    """The port count of a Touchstone file, or None where it cannot be told
    (the file is then reported when its turn comes)."""
    try:
        return touchstone.ports(path)
    except (OSError, ValueError):
        return None


def _listed(files: list) -> str:
    return ", ".join(files[:3]) + (f" and {len(files) - 3} more" if len(files) > 3 else "")


def _target(folder: str, source: str, ports: tuple | None) -> str:
    name = os.path.basename(source)
    if ports is None:
        return os.path.join(folder, name)
    stem = os.path.splitext(name)[0]
    return os.path.join(folder, f"{stem}_{'-'.join(map(str, ports))}.s{len(ports)}p")


def load_budget(path: str):
    from ..uncertainty import Budget

    return Budget.load(path)


def _apply(args) -> int:
    cal = base.load(args.calibration)
    budget = load_budget(args.budget) if args.budget else None
    if args.covariance and budget is None and not cal.uncertainty:
        raise CommandError(f"{args.calibration}: keeps no uncertainty; give --budget to write covariances")
    counts = {source: _ports_of(source) for source in args.files}
    if args.ports is not None:
        if len(args.ports) != cal.ports:
            raise CommandError(f"--ports names {len(args.ports)} port(s); a {cal.method} calibration corrects "
                               f"{cal.ports}-port data")
        short = [source for source, n in counts.items() if n is not None and n < max(args.ports)]
        if short:
            raise CommandError(f"--ports {','.join(map(str, args.ports))}: {len(short)} of the {len(args.files)} "
                               f"files have fewer ports: {_listed(short)}")
    else:
        wrong = [source for source, n in counts.items() if n is not None and n != cal.ports]
        if wrong:
            more = any(counts[source] > cal.ports for source in wrong)
            example = ",".join(str(k) for k in range(1, cal.ports + 1))
            raise CommandError(f"a {cal.method} calibration corrects {cal.ports}-port files (.s{cal.ports}p); "
                               f"{len(wrong)} of the {len(args.files)} files are not: {_listed(wrong)}"
                               + (f"; to correct {cal.ports} of their ports, name them with --ports (e.g. --ports "
                                  f"{example})" if more else ""))
    _output_folder(args.output)
    jobs = [(source, _target(args.output, source, args.ports)) for source in args.files]
    targets = [os.path.realpath(t) for _, t in jobs]
    if len(set(targets)) != len(targets):
        raise CommandError("two input files have the same name; they would overwrite each other's output")
    # No corrected file may replace an input: not the raw file itself (reached
    # by a link or not), nor any other input, nor the calibration.
    inputs = [*args.files, args.calibration, *([args.budget] if args.budget else [])]
    identities = {}
    for source in inputs:
        for key in _identity(source):
            identities.setdefault(key, source)
    for source, target in jobs:
        hit = [identities[key] for key in _identity(target, follow=False) if key in identities]
        if hit:
            what = "it" if hit[0] == source else f"the input {hit[0]}"
            raise CommandError(f"{source}: its corrected file {target} would replace {what}; choose another "
                               "folder so that no raw file is overwritten")

    def one(job):
        source, target = job
        cal.apply_file(source, target, interpolate=args.interpolate, ports=args.ports, budget=budget,
                       covariance=args.covariance)

    base.hidden()           # imported before the clock starts: the first estimate is of the work alone
    start = time.perf_counter()
    failed, written = [], 0
    progress = _progress(len(jobs), args.quiet)
    stop = _Interrupt()
    workers = max(1, args.jobs)
    with stop, concurrent.futures.ThreadPoolExecutor(max_workers=workers) as pool:
        # The Touchstone reader and writer release the GIL, so threads share
        # the work across cores without the start-up cost of processes. A few
        # files are queued at a time, so that Ctrl-C stops what has not started.
        queue, pending, futures = iter(jobs), set(), {}
        while True:
            while not stop.is_set() and len(pending) < 2 * workers:
                job = next(queue, None)
                if job is None:
                    break
                future = pool.submit(one, job)
                futures[future] = job
                pending.add(future)
            if stop.is_set():
                for future in pending:
                    future.cancel()         # queued, not started; running files finish whole
            if not pending:
                break
            done, pending = concurrent.futures.wait(pending, timeout=0.1,
                                                    return_when=concurrent.futures.FIRST_COMPLETED)
            for future in done:
                if future.cancelled():
                    continue
                error = future.exception()
                if error is None:
                    written += 1
                else:
                    failed.append((futures[future][0], error))
                progress.update(1)
    progress.close()
    elapsed = time.perf_counter() - start
    files = f"{len(jobs)} file{'s' if len(jobs) != 1 else ''}"
    if stop.is_set():
        print(f"interrupted: corrected {written} of {files} into {args.output} in {elapsed:.2f} s, each written "
              f"whole; {len(jobs) - written - len(failed)} not started" + (f"; {len(failed)} failed:" if failed else ""))
    else:
        print(f"corrected {written} of {files} into {args.output} in {elapsed:.2f} s"
              + (f"; {len(failed)} failed:" if failed else ""))
    for source, error in sorted(failed, key=lambda x: x[0]):
        text = str(error)
        print(f"  {text if text.startswith(os.fspath(source)) else f'{source}: {text}'}", file=sys.stderr)
    return 130 if stop.is_set() else 1 if failed else 0


class _Interrupt:
    """While it is entered (in the main thread), Ctrl-C (SIGINT) asks the
    batch to stop instead of raising KeyboardInterrupt at a random place."""

    def __init__(self):
        self._event = threading.Event()
        self._previous = None

    def is_set(self) -> bool:
        return self._event.is_set()

    def __enter__(self):
        if threading.current_thread() is threading.main_thread():
            self._previous = signal.signal(signal.SIGINT, lambda signum, frame: self._event.set())
        return self

    def __exit__(self, *exc):
        if self._previous is not None:
            signal.signal(signal.SIGINT, self._previous)
        return False


class _NoProgress:
    def update(self, n):
        pass

    def close(self):
        pass


def _progress(total: int, quiet: bool):
    if quiet or total < 20:
        return _NoProgress()
    from tqdm import tqdm

    return tqdm(total=total, unit="file", desc="correcting", file=sys.stderr, smoothing=0.1)


if __name__ == "__main__":
    sys.exit(main())
