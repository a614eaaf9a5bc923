"""orvane-cal: calibration kits, saved calibrations and batch correction.

    orvane-cal kit show [KIT.toml]
    orvane-cal build --method twelve-term --kit KIT.toml --standards DIR -o cal.npz
    orvane-cal info cal.npz
    orvane-cal apply cal.npz raw/*.s2p -o corrected/
    orvane-cal export cal.npz -o error-boxes/
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
from ..calibration import solt
from .._common.convention import CONVENTION_NAMES
from ..files import touchstone

# The measured standards `build` reads from its --standards folder (names
# in any case). One-port reads port 1's files, named as for the two-port
# methods, so that they are never taken for a kit's listed open.s1p, ...
STANDARD_FILES = {
    "one-port": ["open1.s1p", "short1.s1p", "load1.s1p"],
    "response": ["short1.s1p", "short2.s1p", "thru.s2p"],
    "eight-term": ["open1.s1p", "short1.s1p", "load1.s1p", "open2.s1p", "short2.s1p", "load2.s1p", "thru.s2p"],
    "unknown-thru": ["open1.s1p", "short1.s1p", "load1.s1p", "open2.s1p", "short2.s1p", "load2.s1p", "thru.s2p"],
    "twelve-term": ["open1.s1p", "short1.s1p", "load1.s1p", "open2.s1p", "short2.s1p", "load2.s1p", "thru.s2p",
                    "[isolation.s2p]"],
}
TRL_FILES = "trl, multiline-trl: thru.s2p reflect.s2p line1.s2p [line2.s2p ...], with --lengths"


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

    build = sub.add_parser("build", help="build a calibration from measured standard files",
                           formatter_class=argparse.RawDescriptionHelpFormatter,
                           description="Builds a calibration from measured standards and the kit's model of "
                                       "them, and saves it.\n\nThe measured standards each method reads from the "
                                       "--standards folder\n(Touchstone files, names in any case; [optional]):\n"
                           + "".join(f"  {m + ':':<14}{' '.join(f)}\n" for m, f in STANDARD_FILES.items())
                           + f"  {'trl, multiline-trl:'}\n{'':16}{TRL_FILES.split(': ', 1)[1]}")
    build.add_argument("--method", "-m", required=True, choices=sorted(STANDARD_FILES) + ["trl", "multiline-trl"])
    build.add_argument("--standards", "-s", required=True, metavar="DIR", help="folder of measured standards")
    source = build.add_mutually_exclusive_group()
    source.add_argument("--kit", "-k", metavar="KIT.toml", help="kit file (default: the shipped example kit)")
    source.add_argument("--ideal", action="store_true", help="ideal standards instead of a kit model")
    build.add_argument("--output", "-o", required=True, metavar="CAL.npz")
    build.add_argument("--notes", default="", help="free-form notes stored with the calibration")
    build.add_argument("--phys-length", type=float, metavar="M",
                       help="unknown-thru: approximate thru length in metres (default 0.05)")
    build.add_argument("--lengths", type=float, nargs="+", metavar="M",
                       help="TRL: the line lengths in metres, thru first (line1.s2p, line2.s2p, ... follow)")
    build.add_argument("--reflect", choices=["open", "short"], default="short",
                       help="TRL: what the reflect standard is like (default short)")
    build.add_argument("--er-est", type=float, default=1.0, metavar="ER",
                       help="TRL: a rough effective permittivity of the lines (default 1)")
    build.add_argument("--reflect-offset", type=float, default=0.0, metavar="M",
                       help="TRL: where the reflect lies beyond the thru's centre, metres (negative: towards the "
                            "analyser; default 0)")
    build.add_argument("--switch-terms", metavar="FILE.s2p",
                       help="TRL: the analyser's switch terms (S21 gamma_f = a2/b2 with port 1 driving, S12 "
                            "gamma_r = a1/b1 with port 2 driving): the standards are then raw measurements")
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
    apply.add_argument("--quiet", "-q", action="store_true", help="no progress bar")
    apply.set_defaults(run=_apply)

    export = sub.add_parser("export", help="write a calibration's error terms as Touchstone error boxes")
    export.add_argument("calibration", metavar="CAL.npz")
    export.add_argument("--output", "-o", required=True, metavar="DIR")
    export.set_defaults(run=_export)
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


def _find(folder: str, name: str) -> str | None:
    """The file `name` in `folder`, in any case, or None."""
    if not os.path.isdir(folder):
        raise CommandError(f"{folder}: {'not a folder' if os.path.exists(folder) else 'folder not found'} "
                           "(--standards names the folder of measured standards)")
    # named .sNp, or .ts (Touchstone 2)
    wanted = [name.lower(), os.path.splitext(name)[0].lower() + ".ts"]
    entries = os.listdir(folder)
    exact = [entry for entry in entries if entry in wanted]
    if len(exact) == 1:
        return os.path.join(folder, exact[0])
    matches = sorted(entry for entry in entries if entry.lower() in wanted)
    if len(matches) > 1:
        raise CommandError(f"{folder}: {' and '.join(matches)}: which one is the measured standard?")
    return os.path.join(folder, matches[0]) if matches else None


def _read_standard(folder: str, name: str, f_ref=None, read=None):
    path = _find(folder, name)
    if path is None:
        path = os.path.join(folder, name)
        hint = ""
        if name[:-5] in ("open", "short", "load") and name[-5] == "1" and _find(folder, name[:-5] + ".s1p"):
            hint = (f"; {name[:-5]}.s1p there is not read: the measured standards of port 1 are open1.s1p, "
                    "short1.s1p and load1.s1p")
        raise CommandError(f"{path}: missing (the measured {name.split('.')[0]} standard){hint}")
    f, s, _ = touchstone.read(path)
    expected = int(name[-2])
    if s.shape[1] != expected:
        raise CommandError(f"{path}: a {s.shape[1]}-port file; the measured {name.split('.')[0]} standard is a "
                           f"{expected}-port measurement")
    if read is not None:
        read.append(path)
    if f_ref is not None and (len(f) != len(f_ref) or not np.allclose(f, f_ref, rtol=1e-12, atol=0)):
        raise CommandError(f"{path}: its frequencies ({len(f)} points, {f[0] / 1e9:g} to {f[-1] / 1e9:g} GHz) "
                           f"differ from those of the other standards ({len(f_ref)} points, {f_ref[0] / 1e9:g} to "
                           f"{f_ref[-1] / 1e9:g} GHz)")
    return f, s


def _build(args) -> int:
    folder = os.path.dirname(args.output) or "."
    if not os.path.isdir(folder):
        raise CommandError(f"{args.output}: the folder {folder} does not exist")
    read: list[str] = []
    args.read = read
    cal = _build_trl(args) if args.method in ("trl", "multiline-trl") else _build_with_kit(args)
    if args.kit:
        read.append(args.kit)
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


def _build_trl(args) -> base.Calibration:
    """thru.s2p, reflect.s2p, line1.s2p, line2.s2p, ... with --lengths: the
    thru's length, then one per line."""
    from ..calibration import trl

    if not args.lengths or len(args.lengths) < 2:
        raise CommandError("--lengths: the thru's length, then one per line (metres)")
    names = ["thru.s2p", "reflect.s2p"] + [f"line{i}.s2p" for i in range(1, len(args.lengths))]
    f, thru = _read_standard(args.standards, names[0], read=args.read)
    reflect, *lines = (_read_standard(args.standards, name, f, args.read)[1] for name in names[1:])
    kw = dict(thru_length=args.lengths[0], reflect_like=args.reflect, reflect_offset=args.reflect_offset,
              er_est=args.er_est, notes=args.notes)
    if args.switch_terms:
        sf, switch, _ = touchstone.read(args.switch_terms)
        if switch.shape[1] != 2 or len(sf) != len(f) or not np.allclose(sf, f, rtol=1e-12, atol=0):
            raise CommandError(f"{args.switch_terms}: the switch terms must be a two-port file on the standards' "
                               "grid")
        kw["switch_terms"] = (switch[:, 1, 0], switch[:, 0, 1])
    if args.method == "trl":
        if len(lines) != 1:
            raise CommandError("--method trl takes one line (two lengths); use multiline-trl for more")
        return trl.trl(f, thru, reflect, lines[0], line_length=args.lengths[1], **kw)
    return trl.multiline_trl(f, thru, reflect, lines, line_lengths=args.lengths[1:], **kw)


def _build_with_kit(args) -> base.Calibration:
    names = [n.strip("[]") for n in STANDARD_FILES[args.method]]
    optional = {n.strip("[]") for n in STANDARD_FILES[args.method] if n.startswith("[")}
    f, first = _read_standard(args.standards, names[0], read=args.read)
    measured = {names[0]: first}
    for name in names[1:]:
        if name in optional and _find(args.standards, name) is None:
            continue
        measured[name] = _read_standard(args.standards, name, f, args.read)[1]
    kit = None if args.ideal else (calkit.CalKit.load(args.kit) if args.kit else calkit.example_kit())
    if kit is None:
        from .. import hidden

        G, T = hidden.getIdealSparams(len(f))
    else:
        # the measured files hold the e^{jwt} convention: the kit's values in the same
        G, T = kit.reflect(f, convention="engineering"), kit.thru(f, convention="engineering")
    kw = {"kit": None if kit is None else kit.to_dict(), "notes": args.notes, "convention": "engineering"}
    one = lambda prefix: np.stack([measured[f"{s}{prefix}.s1p"][:, 0, 0] for s in ("open", "short", "load")], 1)  # noqa: E731
    if args.method == "one-port":
        cal = solt.OnePortCal.build(f, G, one("1"), **kw)
    elif args.method == "response":
        cal = solt.ResponseCal.build(f, G[:, 1], measured["short1.s1p"][:, 0, 0], G[:, 1],
                                       measured["short2.s1p"][:, 0, 0], T, measured["thru.s2p"], **kw)
    elif args.method == "eight-term":
        cal = solt.EightTermCal.build(f, G, one("1"), G, one("2"), T, measured["thru.s2p"], **kw)
    elif args.method == "unknown-thru":
        cal = solt.UnknownThruCal.build(f, G, one("1"), G, one("2"), measured["thru.s2p"], args.phys_length, **kw)
    else:
        cal = solt.TwelveTermCal.build(f, G, one("1"), G, one("2"), T, measured["thru.s2p"],
                                         measured.get("isolation.s2p"), **kw)
    return cal


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


def _apply(args) -> int:
    cal = base.load(args.calibration)
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
    inputs = [*args.files, args.calibration]
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
        cal.apply_file(source, target, interpolate=args.interpolate, ports=args.ports)

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
