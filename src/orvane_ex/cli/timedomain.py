"""orvane-cal tdr and gate: the time domain of Touchstone files."""
from __future__ import annotations

import os
import warnings

import numpy as np

FIGURES = (".png", ".svg", ".pdf")
# the highest impedance the TDR axis reaches to (ten times 50 ohm)
IMPEDANCE_TOP = 500.0
WINDOW_HELP = ("a window: a name (hann, hamming, blackman, boxcar, none), name:parameter (kaiser:6, tukey:0.5) or "
               "a number (a Kaiser beta)")


def _window(text: str):
    """A window from the command line: 'hann', 'kaiser:6', '6' (a Kaiser beta) or 'none'."""
    import argparse

    text = text.strip()
    name, _, value = text.partition(":")
    try:
        if not value:
            try:
                return float(name)
            except ValueError:
                return None if name.lower() in ("none", "rect", "rectangular") else name.lower()
        return (name.lower(), float(value))
    except ValueError:
        raise argparse.ArgumentTypeError(f"{text!r} is not {WINDOW_HELP}") from None


def _time(text: str) -> float:
    """A time: '6 ns', '6ns' or '6e-9' (seconds)."""
    import argparse

    from .._common.units import UnitError, quantity

    try:
        return quantity(text, "s", "a time")
    except UnitError as e:
        raise argparse.ArgumentTypeError(str(e)) from None


def _parameter(text: str) -> tuple[int, int]:
    import argparse

    name = text.upper().removeprefix("S")
    if len(name) != 2 or not name.isdigit() or "0" in name:
        raise argparse.ArgumentTypeError(f"{text!r}: name an S-parameter like S11 or S21")
    return int(name[0]) - 1, int(name[1]) - 1


def add(sub) -> None:
    tdr = sub.add_parser("tdr", help="time-domain response of Touchstone files: TDR impedance, impulse or step",
                         description="Draws the time-domain response of one S-parameter of each file: the TDR "
                                     "impedance profile (ohms against round-trip time, low-pass mode), the "
                                     "impulse response (dB) or the step response. Low-pass mode extrapolates "
                                     "files that do not start at 0 Hz down to it (best on a harmonic grid, "
                                     "the first frequency a multiple of the step).")
    tdr.add_argument("files", nargs="+", metavar="FILE.sNp")
    tdr.add_argument("--output", "-o", required=True, metavar="FIGURE", help="the figure: .png, .svg or .pdf")
    tdr.add_argument("--parameter", "-p", type=_parameter, default=(0, 0), metavar="Sij",
                     help="which S-parameter (default S11)")
    tdr.add_argument("--response", "-r", choices=["impedance", "impulse", "step"], default="impedance",
                     help="impedance profile (default), impulse response or step response")
    tdr.add_argument("--mode", choices=["lowpass", "bandpass"], default="lowpass",
                     help="low-pass (default; needed for impedance and step) or band-pass (the impulse's "
                          "envelope over the measured band alone)")
    tdr.add_argument("--window", "-w", type=_window, default=("kaiser", 6.0), help=WINDOW_HELP + "; default kaiser:6")
    tdr.add_argument("--pad", type=int, default=0, metavar="N", help="zero points added above the band (a finer "
                                                                     "time axis)")
    tdr.add_argument("--range", type=_time, nargs=2, metavar=("START", "STOP"),
                     help="the times shown and written (e.g. 0 5ns; default from 0 to the end of the axis)")
    tdr.add_argument("--data", metavar="PROFILE", help="also write the values: .csv (one column per file) or .npz")
    tdr.set_defaults(run=run_tdr)

    gate = sub.add_parser("gate", help="time-gate a Touchstone file",
                          description="Gates every S-parameter of a file in time, keeping what lies between two "
                                      "times (or removing it, --notch), compensated for the gate's loss and "
                                      "band-edge roll-off as analysers do, and writes the gated file. Give the "
                                      "gate as --start and --stop or as --center and --span (e.g. 6ns).")
    gate.add_argument("file", metavar="IN.sNp")
    gate.add_argument("--output", "-o", required=True, metavar="OUT.sNp", help="the gated Touchstone file")
    gate.add_argument("--start", type=_time, metavar="T")
    gate.add_argument("--stop", type=_time, metavar="T")
    gate.add_argument("--center", type=_time, metavar="T")
    gate.add_argument("--span", type=_time, metavar="T")
    gate.add_argument("--mode", choices=["bandpass", "lowpass"], default="bandpass",
                      help="band-pass (default) or low-pass (needs a harmonic grid: the first frequency a "
                           "multiple of the step)")
    gate.add_argument("--shape", type=_window, default=("tukey", 0.5),
                      help="the gate's shape, " + WINDOW_HELP + "; default tukey:0.5")
    gate.add_argument("--window", "-w", type=_window, default=("kaiser", 6.0),
                      help="the frequency window, " + WINDOW_HELP + "; default kaiser:6")
    gate.add_argument("--notch", action="store_true", help="remove what is inside the gate instead")
    gate.add_argument("--no-compensate", dest="compensate", action="store_false",
                      help="leave the gate loss and band-edge roll-off in (as scikit-rf's time_gate)")
    gate.add_argument("--figure", metavar="FIGURE", help="also draw the response before and after: .png, .svg, .pdf")
    gate.add_argument("--parameter", "-p", type=_parameter, metavar="Sij",
                      help="the S-parameter the figure shows (default S21 of a two-port, S11 of a one-port)")
    gate.set_defaults(run=run_gate)


def _errors():
    from .main import CommandError

    return CommandError


def _read(path: str):
    from ..files import touchstone

    return touchstone.read(path)


def _check_figure_path(path: str, what: str) -> str:
    ext = os.path.splitext(path)[1].lower()
    if ext not in FIGURES:
        raise _errors()(f"{what} {path}: a figure is written as .png, .svg or .pdf, not {ext or 'no extension'}")
    folder = os.path.dirname(path) or "."
    if not os.path.isdir(folder):
        raise _errors()(f"{what} {path}: the folder {folder} does not exist")
    return ext[1:]


def _save(fig, path: str, fmt: str) -> None:
    from .._common.atomic import written_whole

    with written_whole(path, "wb", durable=False) as fp:
        fig.savefig(fp, format=fmt, dpi=150)


def _pick(s: np.ndarray, parameter, path: str):
    i, j = parameter
    if not (i < s.shape[1] and j < s.shape[1]):
        raise _errors()(f"{path}: a {s.shape[1]}-port file has no S{i + 1}{j + 1}")
    return s[:, i, j]


def run_tdr(args) -> int:
    from .. import timedomain
    from ..plots import time_response
    from ..plots._figure import detached, figure
    from .main import _refuse_overwriting

    CommandError = _errors()
    fmt = _check_figure_path(args.output, "-o")
    if args.data and os.path.splitext(args.data)[1].lower() not in (".csv", ".npz"):
        raise CommandError(f"--data {args.data}: the values are written as .csv or .npz")
    if args.mode == "bandpass" and args.response != "impulse":
        raise CommandError(f"--response {args.response} needs low-pass mode (a step needs the spectrum from 0 Hz); "
                           "band-pass mode gives the impulse response")
    if args.pad < 0:
        raise CommandError(f"--pad {args.pad}: a number of points >= 0")
    outputs = [args.output] + ([args.data] if args.data else [])     # never the same: their endings differ
    for target in outputs:
        _refuse_overwriting(target, args.files)
    if args.range and not args.range[0] < args.range[1]:
        raise CommandError(f"--range: the start ({args.range[0]:g} s) must come before the stop ({args.range[1]:g} s)")
    i, j = args.parameter
    if args.response == "impedance" and i != j:
        raise CommandError(f"--parameter S{i + 1}{j + 1}: an impedance profile is of a reflection (S11, S22, ...)")
    traces, t_common = [], None
    for path in args.files:
        f, s, z0 = _read(path)
        x = _pick(s, args.parameter, path)
        try:
            if args.mode == "lowpass" and f[0] != 0:
                below = int(round(f[0] / (f[1] - f[0]))) if len(f) > 1 else 0
                if below > 1:
                    warnings.warn(f"{path} starts at {f[0] / 1e9:.6g} GHz: the {below} points below it are "
                                  "extrapolated down to 0 Hz, so the levels of a low-pass response may not hold "
                                  "(sweep from one step above 0 Hz for a TDR, or use --mode bandpass)")
                f, x = timedomain.extrapolate_to_dc(f, x)
            kw = dict(window=args.window, pad=args.pad)
            if args.response == "impedance":         # referred to the port's own reference impedance
                t, y = timedomain.impedance_profile(f, x, z0=float(np.real(np.atleast_1d(z0)[i])), **kw)
            elif args.response == "step":
                t, y = timedomain.step_response(f, x, **kw)
            else:
                t, y = timedomain.impulse_response(f, x, mode=args.mode, **kw)
        except ValueError as e:
            raise CommandError(f"{path}: {e}") from None
        lo, hi = args.range if args.range else (0.0, t[-1])
        keep = (t >= lo) & (t <= hi)
        if np.count_nonzero(keep) < 2:
            raise CommandError(f"{path}: --range {lo:g} to {hi:g} s holds fewer than two samples of its time axis "
                               f"({t[0]:g} to {t[-1]:g} s)")
        if args.data and t_common is not None and not np.array_equal(t_common, t[keep]):
            raise CommandError(f"{path}: its time axis differs from {args.files[0]}'s, so --data cannot hold both; "
                               "give files on the same grid")
        t_common = t[keep]
        traces.append((os.path.basename(path), t[keep], y[keep]))
    kind = {"impedance": "ohm", "impulse": "db", "step": "linear"}[args.response]
    name = f"S{i + 1}{j + 1}"
    mode = {"lowpass": "low-pass", "bandpass": "band-pass"}[args.mode]
    title = {"impedance": f"TDR impedance profile from {name}", "impulse": f"{name} impulse response ({mode})",
             "step": f"{name} step response"}[args.response]
    with detached():
        fig, axes = figure(1, 1, figsize=(8.0, 4.2))
        ax = axes[0, 0]
        for label, t, y in traces:
            time_response(t, y, kind=kind, labels=[label], ax=ax, title=title)
        if args.response == "impedance":
            finite = np.concatenate([np.real(y)[np.isfinite(y)] for _, _, y in traces])
            if finite.size:      # an open's near-infinite impedance must not flatten the rest
                ax.set_ylim(max(0.0, np.min(finite) - 5), min(np.max(finite), IMPEDANCE_TOP) + 5)
        _save(fig, args.output, fmt)
    if args.data:
        _write_data(args.data, t_common, traces, args.response)
    print(f"wrote {args.output}" + (f" and {args.data}" if args.data else "") + f": {title}, of "
          f"{len(traces)} file(s)")
    return 0


def _write_data(path: str, t, traces, response: str) -> None:
    from .._common.atomic import written_whole

    unit = {"impedance": "ohm", "impulse": "linear", "step": "linear"}[response]
    values = np.stack([np.real(y) if response != "impulse" else y for _, _, y in traces], axis=1)
    if path.lower().endswith(".npz"):
        with written_whole(path, "wb", durable=False) as fp:
            np.savez(fp, t=t, values=values, labels=np.array([lab for lab, _, _ in traces]),
                     quantity=np.array(response), unit=np.array(unit))
        return
    header = ["time (s)"]
    for lab, _, _ in traces:
        lab = lab.replace('"', "'")
        if response == "impulse" and np.iscomplexobj(values):
            header += [f'"{lab} re"', f'"{lab} im"']
        else:
            header.append(f'"{lab} {response} ({unit})"')
    with written_whole(path, "w", durable=False, encoding="utf-8", newline="\n") as fp:
        fp.write(",".join(header) + "\n")
        for k in range(len(t)):
            cells = [repr(float(t[k]))]
            for v in values[k]:
                if response == "impulse" and np.iscomplexobj(values):
                    cells += [repr(float(v.real)), repr(float(v.imag))]
                else:
                    cells.append(repr(float(np.real(v))))
            fp.write(",".join(cells) + "\n")


def run_gate(args) -> int:
    from .. import timedomain
    from ..files import touchstone
    from .main import _refuse_overwriting

    CommandError = _errors()
    given = {k: getattr(args, k) for k in ("start", "stop", "center", "span") if getattr(args, k) is not None}
    if set(given) not in ({"start", "stop"}, {"center", "span"}):
        raise CommandError("give the gate as --start and --stop, or as --center and --span"
                           + (f" (given: {', '.join('--' + k for k in given)})" if given else ""))
    folder = os.path.dirname(args.output) or "."
    if not os.path.isdir(folder):
        raise CommandError(f"-o {args.output}: the folder {folder} does not exist")
    fmt = _check_figure_path(args.figure, "--figure") if args.figure else None
    for target in [args.output] + ([args.figure] if args.figure else []):
        _refuse_overwriting(target, [args.file])
    f, s, z0 = _read(args.file)
    p = s.shape[1]
    if os.path.splitext(args.output)[1].lower() != f".s{p}p":
        raise CommandError(f"-o {args.output}: the gated {p}-port file is a .s{p}p file")
    parameter = args.parameter or ((1, 0) if p == 2 else (0, 0))
    _pick(s, parameter, args.file)
    kw = dict(**given, shape=args.shape, window=args.window, keep="outside" if args.notch else "inside",
              compensate=args.compensate)
    try:
        if args.mode == "lowpass":
            f_dc, s_dc = timedomain.extrapolate_to_dc(f, s)
            if f[0] != 0 and not np.allclose(f_dc[-len(f):], f, rtol=1e-9, atol=0):
                raise ValueError(f"low-pass gating needs a harmonic grid, the first frequency ({f[0]:g} Hz) a "
                                 f"multiple of the step ({f[1] - f[0]:g} Hz); use --mode bandpass")
            gated = timedomain.gate(f_dc, s_dc, mode="lowpass", **kw)[-len(f):]
        else:
            gated = timedomain.gate(f, s, mode="bandpass", **kw)
    except ValueError as e:
        raise CommandError(f"{args.file}: {e}") from None
    touchstone.write(args.output, f, gated, z0=z0, comment=f"time-gated from {os.path.basename(args.file)}")
    if args.figure:
        _save(_gate_figure(f, s, gated, parameter, args, given), args.figure, fmt)
    print(f"wrote {args.output}" + (f" and {args.figure}" if args.figure else "")
          + f": {os.path.basename(args.file)} gated {_gate_text(given)}" + (" (notch)" if args.notch else ""))
    return 0


def _gate_text(given: dict) -> str:
    if "start" in given:
        lo, hi = given["start"], given["stop"]
    else:
        lo, hi = given["center"] - given["span"] / 2, given["center"] + given["span"] / 2
    return f"from {lo * 1e9:.4g} to {hi * 1e9:.4g} ns"


def _gate_limits(given: dict) -> tuple[float, float]:
    if "start" in given:
        return given["start"], given["stop"]
    return given["center"] - given["span"] / 2, given["center"] + given["span"] / 2


def _gate_figure(f, s, gated, parameter, args, given):
    from .. import timedomain
    from ..plots import _traces, time_response
    from ..plots._figure import detached, figure

    i, j = parameter
    name = _traces.name(i, j)
    with detached():
        fig, axes = figure(2, 1, figsize=(8.0, 6.4))
        x, g = s[:, i, j], gated[:, i, j]
        if args.mode == "lowpass":
            fx, x = timedomain.extrapolate_to_dc(f, x)
            _, g = timedomain.extrapolate_to_dc(f, g)
        else:
            fx = f
        t, y0 = timedomain.impulse_response(fx, x, mode=args.mode, window=args.window)
        _, y1 = timedomain.impulse_response(fx, g, mode=args.mode, window=args.window)
        keep = t >= 0
        time_response(t[keep], [y0[keep], y1[keep]], labels=["measured", "gated"], gate=_gate_limits(given),
                      ax=axes[0, 0], title=f"{name} impulse response ({args.mode.replace('pass', '-pass')})")
        div, unit = _traces.frequency_scale(f)
        ax = axes[1, 0]
        ax.plot(f / div, _traces.to_db(s[:, i, j]), label="measured")
        ax.plot(f / div, _traces.to_db(gated[:, i, j]), label="gated")
        ax.set_xlabel(f"Frequency ({unit})")
        ax.set_ylabel(f"|{name}| (dB)")
        ax.set_title(f"{name} before and after the gate")
        ax.grid(True, alpha=0.4)
        from ..plots._figure import legend_beside

        legend_beside(ax)
    return fig
