"""The report's sections, assembled from a calibration, its devices and
verification results."""
from __future__ import annotations

import datetime
import math
import re
from collections.abc import Mapping

import numpy as np

from .._common.convention import CONVENTION_NAMES, in_convention
from ..plots import _traces
from . import figures, terms as _terms
from .html import Raw, badge, esc, facts, figure, ghz, number, page, paragraph, table

# units of the parameters calibrations keep (lengths in metres, shown in mm)
LENGTHS = {"line_lengths", "thru_length", "reflect_offset", "ref_plane", "phys_length"}
# and the others with a unit: (scale, unit) of the value shown
UNITS = {"thru_delay": (1e12, "ps"), "inductance": (1e12, "pH"), "inductance_estimate": (1e12, "pH"),
         "resistance": (1.0, "Ω"), "z0": (1.0, "Ω"), "z0_line": (1.0, "Ω"), "z0_ref": (1.0, "Ω"),
         "c0": (1e12, "pF/m")}

# what a budget's plain numbers are (the rest carry their unit in the text)
BUDGET_UNITS = {"noise.floor": "linear, relative to the source", "connector.port1": "linear",
                "connector.port2": "linear", "trl.line_length": "m", "trl.eps_eff": "relative",
                "trl.impedance": "relative", "trl.reflect_asymmetry": "relative, circular",
                "kit.data": "linear, circular"}

# the measured standards calibrations keep, by their stored names
STANDARD_NAMES = {"Gm": "open, short, load", "Gm1": "open, short, load at port 1",
                  "Gm2": "open, short, load at port 2", "G1m": "short at port 1", "G2m": "short at port 2",
                  "Tm": "thru", "Im": "isolation"}

METHOD_NAMES = {"one-port": "one-port (open, short, load)", "response": "frequency response (short, thru)",
                "eight-term": "eight-term SOLT, known thru", "unknown-thru": "eight-term SOLT, unknown thru",
                "twelve-term": "twelve-term SOLT", "trl": "TRL, one line", "multiline-trl": "multiline TRL"}


# units shown with an SI prefix, and how they are written
_PREFIXED = {"F": "F", "H": "H", "s": "s", "ohm": "Ω", "ohm/s": "Ω/s", "Hz": "Hz", "m": "m"}
_SCALES = [(1e12, "T"), (1e9, "G"), (1e6, "M"), (1e3, "k"), (1.0, ""), (1e-3, "m"), (1e-6, "µ"), (1e-9, "n"),
           (1e-12, "p"), (1e-15, "f"), (1e-18, "a")]
_QUANTITY = re.compile(r"\s*([-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?)\s*(\S*)\s*")


def quantity(value) -> str:
    """A kit's or budget's value as people write it: '4.943e-14 F' as
    '49.43 fF', numbers to six significant digits, lists joined."""
    if isinstance(value, (list, tuple)):
        return ", ".join(quantity(v) for v in value)
    if isinstance(value, bool) or not isinstance(value, (int, float, str)):
        return str(value)
    if not isinstance(value, str):
        return f"{value:.6g}"
    m = _QUANTITY.fullmatch(value)
    if not m:
        return value
    x, unit = float(m.group(1)), m.group(2)
    if unit in _PREFIXED:
        scale, prefix = next(((v, p) for v, p in _SCALES if abs(x) >= v), _SCALES[-1]) if x else (1.0, "")
        return f"{x / scale:.6g} {prefix}{_PREFIXED[unit]}"
    return f"{x:.6g} {unit}" if unit else f"{x:.6g}"


def version() -> str:
    from importlib.metadata import PackageNotFoundError
    from importlib.metadata import version as _version

    try:
        return _version("orvane_ex")
    except PackageNotFoundError:
        return "unknown"


def _grid_text(f: np.ndarray) -> str:
    div, unit = _traces.frequency_scale(f)
    text = f"{len(f)} points, {f[0] / div:.6g} to {f[-1] / div:.6g} {unit}"
    if len(f) > 1:
        steps = np.diff(f)
        if np.ptp(steps) <= 1e-6 * steps.mean():
            sd, su = _traces.frequency_scale(steps[:1])
            text += f", in steps of {steps[0] / sd:.6g} {su}"
        else:
            text += " (uneven steps)"
    return text


def _value_text(key: str, value) -> str:
    if key in LENGTHS:
        values = value if isinstance(value, (list, tuple)) else [value]
        if all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in values):
            return ", ".join(f"{v * 1e3:.6g}" for v in values) + " mm"
    if key == "er_est":
        return f"{value} (relative permittivity, an estimate)"
    if key == "offsets" and isinstance(value, Mapping):
        return "; ".join(f"{name}: {_offset_text(v)}" for name, v in value.items())
    if key in UNITS and isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value):
        scale, unit = UNITS[key]
        return f"{value * scale:.6g} {unit}"
    return str(value)


def _offset_text(offset) -> str:
    """An on-wafer standard's offset [delay s, loss ohm/s, z0 ohm or None]."""
    if not (isinstance(offset, (list, tuple)) and len(offset) == 3
            and all(isinstance(v, (int, float)) or v is None for v in offset)):
        return str(offset)
    delay, loss, z0 = offset
    if not delay and not loss:
        return "none"
    parts = [f"{delay * 1e12:.6g} ps"] + ([f"{loss / 1e9:.6g} GΩ/s loss"] if loss else [])
    return ", ".join(parts + [f"{z0:.6g} Ω" if z0 is not None else "the reference impedance"])


def _flatten(prefix: str, value, out: list) -> None:
    if isinstance(value, Mapping):
        for k, v in value.items():
            _flatten(f"{prefix}.{k}" if prefix else str(k), v, out)
    else:
        out.append((prefix, value))


def _kit_rows(kit: Mapping) -> list:
    rows = []
    for name, section in kit.items():
        if name in ("format", "name", "description"):
            continue
        if isinstance(section, Mapping):
            items: list = []
            _flatten("", section, items)
            text = "; ".join(f"{k} = {quantity(v)}" for k, v in items)
        else:
            text = quantity(section)
        rows.append((name, text))
    return rows


def calibration_section(cal, written: str, extra_facts=()) -> str:
    f = cal.f
    method = METHOD_NAMES.get(cal.method, cal.method)
    measured = [k for k in cal.standards if k not in ("G1", "G2", "T")]
    rows = [("method", method), ("ports", f"{cal.ports}"), ("frequency grid", _grid_text(f)),
            ("created", cal.created or "not recorded"), ("notes", Raw(f'<span class="pre">{esc(cal.notes)}</span>')
                                                         if cal.notes else "none"),
            ("calibration kit", cal.kit.get("name", "unnamed") if cal.kit else
             "none stored (ideal standards, or standards measured against each other)"),
            ("phase convention", CONVENTION_NAMES.get(cal.convention, cal.convention)),
            ("measured standards kept", "; ".join(STANDARD_NAMES.get(k, k) for k in measured) or "none")]
    if cal.port_extension is not None:
        rows.append(("port extension", f"on port {cal.port_extension[0]}"))
    for k, v in (cal.parameters or {}).items():
        if k == "convention":
            continue
        rows.append((k.replace("_", " "), _value_text(k, v)))
    rows.append(("uncertainty kept", ", ".join(cal.uncertainty) if cal.uncertainty else "none"))
    rows.extend(extra_facts)
    rows.append(("report written", f"{written} by orvane_ex {version()}"))
    out = facts(rows)
    if cal.kit:
        out += "<h3>Calibration kit</h3>"
        if cal.kit.get("description"):
            out += paragraph(str(cal.kit["description"]))
        out += table(["standard", "definition (SI units as written in the kit)"], _kit_rows(cal.kit))
    return out


def terms_section(cal) -> str:
    named = _terms.error_terms(cal)
    if named is None:
        return paragraph(f"A {cal.method} model holds no terms of the twelve-term names; see its error boxes "
                         "(orvane-cal export).")
    f = cal.f
    holds = [n for n in _terms.NAMES if any(n in d for d in named.values())]
    caption = ("Error terms against frequency, in dB (20 log10 of the magnitude). "
               + ("Forward: port 1 driving; reverse: port 2 driving. " if len(named) > 1 else ""))
    from ..calibration.base import EightTermModel

    if isinstance(cal, EightTermModel):
        caption += ("An eight-term model: load match and transmission tracking are its twelve-term equivalent"
                    + (", with the switch terms, as the raw analyser sees them" if "switch_f" in cal.terms else
                       " (switch-corrected data)") + "; it holds no isolation term.")
    uri = figures.rendered(figures.error_terms, f, named)
    out = figure(uri, caption, "error terms in dB against frequency: " + ", ".join(holds))
    rows = []
    for r in _terms.summary(f, named):
        if r["value"] is None:
            rows.append((r["term"], r["direction"], "not in the model" if r["term"] == "isolation"
                         and cal.method != "twelve-term" else "not measured", "", ""))
            continue
        rows.append((r["term"], r["direction"], Raw(number(r["worst"], "dB")), Raw(ghz(r["at"])),
                     Raw(f"{number(r['low'], 'dB')} to {number(r['high'], 'dB')}")))
    out += table(["term", "direction", "worst (largest match, lowest tracking)", "at", "range over the band"], rows,
                 numeric=(2, 3, 4))
    return out


def _residual_arrays(cal, values: Mapping) -> tuple[dict, dict]:
    """({standard: |misfit| [n]}, {standard: |standardised misfit| [n]}) of
    a calibration's residuals: per standard an array [n, ...], or a mapping
    with its "misfit" (and "standardised" misfit) as the least-squares fits
    keep them."""
    n = len(cal.f)
    misfits, standardised = {}, {}
    for name, value in values.items():
        parts = dict(value) if isinstance(value, Mapping) else {"misfit": value}
        for key, out in (("misfit", misfits), ("standardised", standardised)):
            if key not in parts:
                continue
            r = np.asarray(parts[key])
            if r.dtype == object or not np.issubdtype(r.dtype, np.number) or r.shape[:1] != (n,):
                raise ValueError(f"residual of {name!r}: shape {r.shape}; one value per point ({n}) is needed")
            out[str(name)] = np.max(np.abs(r.reshape(n, -1)), axis=1)
    return misfits, standardised


def residuals_section(cal, values: Mapping) -> str:
    misfits, standardised = _residual_arrays(cal, values)
    uri = figures.rendered(figures.residuals, cal.f, misfits, standardised)
    caption = ("What the over-determined model leaves unexplained in each standard's measurement, in dB "
               "(20 log10 |r|): the smaller, the better the standards agree with the model.")
    if standardised:
        caption += (" Right: the misfit over its standard deviation (dimensionless); a standard that does not "
                    "fit its model stands out there.")
    out = figure(uri, caption, "residuals against frequency")
    rows = []
    for name, x in misfits.items():
        k = int(np.argmax(x))
        row = [name, Raw(number(20 * math.log10(x[k]) if x[k] > 0 else -math.inf, "dB")), Raw(ghz(cal.f[k]))]
        if standardised:
            row.append(Raw(number(np.max(standardised[name]))) if name in standardised else "")
        rows.append(row)
    header = ["standard", "largest residual", "at"] + (["largest standardised misfit"] if standardised else [])
    return out + table(header, rows, numeric=(1, 2, 3))


ONWAFER_WARNING = 0.2          # the on-wafer calibrations' default warn_below


def lines_section(cal, q: dict) -> str:
    uri = figures.rendered(figures.lines, cal.f, q)
    parts = []
    if "condition" in q:
        parts.append("the condition figure (1 for a lossless line 90° from the thru, near 0 where the lines "
                     "cannot calibrate; the dashed line at 0.1 is where a warning is given)")
    if "eps_eff" in q:
        parts.append("the lines' effective permittivity (the real part of −(c γ / ω)²)")
    if "loss_db_per_cm" in q:
        parts.append("their loss in dB/cm")
    if "reflect" in q:
        parts.append("the reflect's |Γ| at the reference planes in dB")
    out = figure(uri, "The line standards: " + "; ".join(parts) + ".", "TRL condition and effective permittivity")
    rows = []
    if "condition" in q:
        k = int(np.argmin(q["condition"]))
        rows.append(("worst condition", Raw(f"{number(q['condition'][k])} at {ghz(cal.f[k])}")))
        low = q["condition"] < 0.1
        rows.append(("points with condition below 0.1", f"{np.count_nonzero(low)} of {len(cal.f)}"))
    if "eps_eff" in q:
        rows.append(("effective permittivity", Raw(f"{number(np.min(q['eps_eff']), digits=6)} to "
                                                   f"{number(np.max(q['eps_eff']), digits=6)} (relative)")))
    if "loss_db_per_cm" in q:
        rows.append(("line loss", Raw(f"{number(np.min(q['loss_db_per_cm']), 'dB/cm')} to "
                                      f"{number(np.max(q['loss_db_per_cm']), 'dB/cm')}")))
    return out + facts(rows)


def onwafer_section(cal, q: dict) -> str:
    """LRM, LRRM, TRM: how far apart the reflect and the match are (what
    bounds the noise's amplification) and the reflect they found."""
    uri = figures.rendered(figures.lines, cal.f, q, threshold=ONWAFER_WARNING)
    which = "the open's from the short's" if cal.method == "lrrm" else "the reflect's from the match's"
    caption = (f"The standards: the distance of {which} reflection (near 0 where they cannot calibrate; the dashed "
               f"line at {ONWAFER_WARNING:g} is where a warning is given by default)"
               + ("; the reflect's |Γ| at the reference planes in dB." if "reflect" in q else "."))
    out = figure(uri, caption, "On-wafer standards' distance")
    k = int(np.argmin(q["condition"]))
    rows = [("smallest distance", Raw(f"{number(q['condition'][k])} at {ghz(cal.f[k])}")),
            (f"points closer than {ONWAFER_WARNING:g}",
             f"{np.count_nonzero(q['condition'] < ONWAFER_WARNING)} of {len(cal.f)}")]
    inductance = (cal.parameters or {}).get("inductance")
    if isinstance(inductance, (int, float)) and np.isfinite(inductance):
        rows.append(("match inductance" + (" (fitted)" if cal.method == "lrrm" else ""),
                     Raw(number(inductance * 1e12, "pH"))))
    return out + facts(rows)


def _zero(value) -> bool:
    if isinstance(value, (list, tuple)):
        return all(_zero(v) for v in value)
    if isinstance(value, str):
        m = _QUANTITY.fullmatch(value)
        return bool(m) and float(m.group(1)) == 0
    return isinstance(value, (int, float)) and value == 0


def _budget_rows(budget: Mapping) -> tuple[list, list]:
    """(rows of the influences the budget gives, names of those it leaves at zero)."""
    items: list = []
    _flatten("", {k: v for k, v in budget.items() if k not in ("format", "name")}, items)
    rows, zero = [], []
    for key, value in items:
        if _zero(value):
            zero.append(key)
            continue
        unit = BUDGET_UNITS.get(key)
        last = key.rsplit(".", 1)[-1]
        plain = isinstance(value, (int, float, list)) and not isinstance(value, bool)
        if plain and key.startswith("kit.") and last in _PREFIXED_FIELDS:
            values = value if isinstance(value, list) else [value]
            units = _PREFIXED_FIELDS[last]
            text = ", ".join(quantity(f"{v!r} {units[min(p, len(units) - 1)]}") for p, v in enumerate(values))
        else:
            text = quantity(value) + (f" ({unit})" if unit and plain else "")
        rows.append((key, text))
    # a group left at zero altogether is named once
    groups = {}
    for key, _ in items:
        groups.setdefault(key.split(".")[0], []).append(key)
    named = [g for g, keys in groups.items() if all(k in zero for k in keys)]
    zero = named + [k for k in zero if k.split(".")[0] not in named]
    return rows, zero


# a kit coefficient's uncertainty in a budget: the units of its polynomial terms
_PREFIXED_FIELDS = {"capacitance": ["F", "F/Hz", "F/Hz^2", "F/Hz^3"], "inductance": ["H", "H/Hz", "H/Hz^2", "H/Hz^3"],
                    "resistance": ["ohm"], "delay": ["s"], "loss": ["ohm/s"], "z0": ["ohm"]}


def uncertainty_section(cal, budget) -> str:
    out = ""
    shown = budget.to_dict() if budget is not None else cal.budget
    if shown:
        title = shown.get("name") or "unnamed"
        rows, zero = _budget_rows(shown)
        out += paragraph(f"Budget: {title}. Standard uncertainties (one sigma) of the influences it gives"
                         + (f"; at zero: {', '.join(zero)}." if zero else "."))
        if rows:
            out += table(["influence", "standard uncertainty"], rows)
    if cal.uncertainty:
        largest = {name: np.sqrt(np.max(np.diagonal(np.asarray(cov), axis1=1, axis2=2), axis=1).clip(0))
                   for name, cov in cal.uncertainty.items()}
        uri = figures.rendered(figures.term_uncertainty, cal.f, largest)
        out += figure(uri, "The calibration's own uncertainty, by influence: the largest standard uncertainty of "
                           "any error term's real or imaginary part, in dB (20 log10 u).",
                      "uncertainty of the error terms by influence")
        out += table(["influence", "largest u of a term over the band"],
                     [(k, Raw(number(20 * math.log10(v.max()) if v.max() > 0 else -math.inf, "dB")))
                      for k, v in largest.items()], numeric=(1,))
    if not out:
        out = paragraph("No uncertainty is kept with this calibration.")
    return out


def device_block(cal, device, S, u, note: str = "") -> str:
    conv = cal.convention
    raw, corr = in_convention(device.raw, conv), in_convention(S, conv)
    name = device.name
    out = f"<h3>{esc(name)}</h3>"
    if device.path:
        out += paragraph(f"from {device.path}", "note")
    if note:
        out += paragraph(note, "note")
    uri = figures.rendered(lambda: _db_phase(device.f, raw, corr))
    out += figure(uri, "Raw and corrected, magnitude in dB and phase in degrees (e^{jωt} convention).",
                  f"{name}: raw and corrected S-parameters")
    p = S.shape[1]
    uri = figures.rendered(lambda: _smith(corr, p))
    out += figure(uri, "Corrected reflections on the Smith chart (impedance grid; circle: first point, "
                       "square: last).", f"{name}: Smith chart")
    if u is not None:
        pairs = [(i, j) for j in range(p) for i in range(p)]
        s3 = np.asarray(u.s).reshape(S.shape)
        std = np.asarray(u.std_magnitude()).reshape(S.shape)
        uri = figures.rendered(figures.bands, device.f, s3, std, pairs)
        out += figure(uri, "Corrected |S| in dB with the bands of k = 1 and k = 2 standard uncertainties.",
                      f"{name}: uncertainty bands")
        expanded = u.expanded(2.0)
        db = np.asarray(expanded["db"]).reshape(S.shape)
        ph = np.asarray(expanded["phase"]).reshape(S.shape)
        uri = figures.rendered(figures.expanded, device.f, db, ph, pairs)
        out += figure(uri, "Expanded uncertainties (k = 2, about 95 %) of |S| in dB and of the phase in degrees; "
                           "the phase is left out where |S| is within three standard uncertainties of zero.",
                      f"{name}: expanded uncertainties")
        rows = []
        for i, j in pairs:
            worst_db = np.nanmax(db[:, i, j]) if np.isfinite(db[:, i, j]).any() else math.nan
            worst_ph = np.nanmax(ph[:, i, j]) if np.isfinite(ph[:, i, j]).any() else math.nan
            rows.append((_traces.name(i, j), Raw(number(worst_db, "dB")), Raw(number(worst_ph, "°"))))
        out += table(["parameter", "largest U(|S|), k = 2", "largest U(phase), k = 2"], rows, numeric=(1, 2))
        contributions = [r for r in u.table(bands=[(float(device.f[0]), float(device.f[-1]))]) if r["share"] > 0]
        if contributions:
            out += table(["parameter", "influence", "largest u(|S|) over the band", "share of the variance"],
                         [(r["parameter"], r["influence"], Raw(number(r["u"], "(linear)")),
                           Raw(number(100 * r["share"], "%", 3))) for r in contributions], numeric=(2, 3))
    return out


def _db_phase(f, raw, corr):
    from ..plots import db_phase

    return db_phase(f, [raw, corr], labels=["raw", "corrected"])


def _smith(corr, p):
    from ..plots import smith

    return smith([corr[:, i, i] for i in range(p)], labels=[f"S{i + 1}{i + 1}" for i in range(p)])


# the columns a verification result's table() gives, with their units
VERIFICATION_COLUMNS = {
    "parameter": ("parameter", str),
    "worst_en": ("worst E_n", lambda v: Raw(number(v))),
    "at": ("at", lambda v: Raw(ghz(v))),
    "deviation": ("|x − x_ref| there", lambda v: Raw(number(v, "(linear)"))),
    "expanded": ("U there (combined)", lambda v: Raw(number(v, "(linear)"))),
    "passing": ("points passing", lambda v: Raw(number(100 * v, "%", 4))),
}


def _table_of(result) -> str:
    """A verification result's own table, whatever form it takes; the
    columns of `orvane_ex.uncertainty.verification` with their units."""
    if not hasattr(result, "table"):
        return ""
    t = result.table() if callable(result.table) else result.table
    if t is None:
        return ""
    if isinstance(t, str):
        return f'<div class="pre">{esc(t)}</div>'
    rows = list(t)
    if rows and all(isinstance(r, Mapping) for r in rows):
        keys: list = []
        for r in rows:
            keys.extend(k for k in r if k not in keys)

        def cell(key, v):
            if key in VERIFICATION_COLUMNS and isinstance(v, (int, float, str, np.number)):
                return VERIFICATION_COLUMNS[key][1](v)
            return Raw(number(v)) if isinstance(v, (float, np.floating)) else v

        header = [VERIFICATION_COLUMNS[k][0] if k in VERIFICATION_COLUMNS else str(k) for k in keys]
        return table(header, [[cell(k, r.get(k, "")) for k in keys] for r in rows])
    if rows and all(isinstance(r, (list, tuple)) for r in rows):
        return table([f"column {k + 1}" for k in range(max(len(r) for r in rows))], rows)
    return f'<div class="pre">{esc(t)}</div>'


def verification_block(result, index: int) -> str:
    name = str(getattr(result, "name", None) or f"verification {index + 1}")
    f = np.asarray(result.frequency, float)
    en = np.asarray(result.en)
    if en.ndim == 1:
        en = en[:, None, None]
    if en.ndim != 3 or en.shape[0] != len(f) or en.shape[1] != en.shape[2]:
        raise ValueError(f"verification {name!r}: en has shape {en.shape}; [{len(f)}, p, p] is needed")
    passed = result.passed() if callable(result.passed) else result.passed
    passed = bool(np.all(passed))
    e = np.abs(en)
    over = np.count_nonzero(~(e <= 1))
    k = np.unravel_index(int(np.nanargmax(e)) if np.isfinite(e).any() else 0, e.shape)
    out = f"<h3>{esc(name)} {badge(passed)}</h3>"
    coverage = getattr(result, "k", None)
    with_k = f" (k = {coverage:g})" if isinstance(coverage, (int, float)) else ""
    out += paragraph(f"Worst |E_n| = {e[k]:.3g} at {_traces.name(k[1], k[2])}, {f[k[0]] / 1e9:.5g} GHz; "
                     f"{over} of {e.size} values exceed 1. |E_n| ≤ 1: the measurement agrees with the reference "
                     f"within their combined expanded uncertainty{with_k}.")
    uri = figures.rendered(figures.en, f, en)
    out += figure(uri, "|E_n| of each S-parameter against frequency (dimensionless); the dashed line is the "
                       "limit 1.", f"{name}: E_n against frequency")
    return out + _table_of(result)


def build(cal, devices, verification, budget, *, title: str | None = None, interpolate: str | None = None,
          extra_facts=()) -> str:
    """The whole page, as text."""
    from .devices import corrected, on_grid

    written = datetime.datetime.now(datetime.timezone.utc).isoformat(timespec="seconds")
    sections = [("Calibration", calibration_section(cal, written, extra_facts)), ("Error terms", terms_section(cal))]
    residuals = getattr(cal, "residuals", None)
    if residuals:
        sections.append(("Residuals", residuals_section(cal, residuals)))
    q = _terms.line_quantities(cal)
    if q and "gamma" in cal.terms:
        sections.append(("TRL conditioning and effective permittivity", lines_section(cal, q)))
    elif q:
        sections.append(("On-wafer standards", onwafer_section(cal, q)))
    if cal.uncertainty or cal.budget or budget is not None:
        sections.append(("Uncertainty", uncertainty_section(cal, budget)))
    if devices:
        device_budget = budget
        if device_budget is None and cal.budget:
            from ..uncertainty import Budget

            device_budget = Budget.from_dict(cal.budget, source="the calibration's budget")
        blocks = []
        for d in devices:
            on = on_grid(cal, d, interpolate)
            note = ""
            try:
                S, u = corrected(on, d, device_budget, kept=bool(cal.uncertainty))
            except NotImplementedError as e:          # a model no propagation reaches yet: no bands
                S, u = corrected(on, d)
                note = f"No uncertainty bands: {e}."
            blocks.append(device_block(cal, d, S, u, note))
        sections.append(("Devices", "".join(blocks)))
    if verification:
        sections.append(("Verification", "".join(verification_block(v, k) for k, v in enumerate(verification))))
    f = cal.f
    heading = title or f"Calibration report: {cal.method}"
    subtitle = f"{METHOD_NAMES.get(cal.method, cal.method)} · {_grid_text(f)} · created {cal.created}"
    footer = (f"Written {written} by orvane_ex {version()}. The page is self-contained: its figures are embedded "
              "and it loads nothing from anywhere.")
    return page(heading, subtitle, sections, footer)
