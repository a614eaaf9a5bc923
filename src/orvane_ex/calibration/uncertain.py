"""Calibrations with uncertainty: the covariance of a method's error terms
from an uncertainty budget (what the standards, the kit and the connections
contribute), and a corrected measurement with its covariance (adding what
the device's own reading, connection and cables contribute).

Every derivative is exact, from the native models (`_native`'s
sensitivities); each influence is propagated on its own, so that its share
of the result is known."""
from __future__ import annotations

import numpy as np

from .. import _native
from .._common.convention import in_convention
from ..uncertainty import linear
from ..uncertainty.budget import Budget
from ..uncertainty.result import UncertainS

# Influences on the standards (the error terms), then on the device.
NOISE, LINEARITY = "noise", "linearity"


# -- the readings' own influences --------------------------------------------------

def _reading_parts(S, f, budget: Budget) -> dict:
    """{influence: covariance [..., 2, 2]} of raw readings S: noise and
    linearity apart, so that each shows in the budget table."""
    parts = {}
    noise_only = Budget(noise=budget.noise)
    if not (budget.noise.floor.zero and budget.noise.magnitude.zero and budget.noise.phase.zero):
        parts[NOISE] = linear.reading(S, f, noise_only)
    if budget.linearity:
        parts[LINEARITY] = linear.reading(S, f, Budget(linearity=budget.linearity))
    return parts


# -- the coaxial methods ---------------------------------------------------------------

# The model's complex inputs, in the native order, and which reading or
# actual value each is.
_SOLT_INPUTS = {
    "one-port": [("G1", 3), ("Gm1", 3)],
    "response": [("G1", 1), ("Gm1", 1), ("G2", 1), ("Gm2", 1), ("T", 4), ("Tm", 4)],
    "eight-term": [("G1", 3), ("Gm1", 3), ("G2", 3), ("Gm2", 3), ("T", 4), ("Tm", 4)],
    "unknown-thru": [("G1", 3), ("Gm1", 3), ("G2", 3), ("Gm2", 3), ("Tm", 4)],
    "twelve-term": [("G1", 3), ("Gm1", 3), ("G2", 3), ("Gm2", 3), ("T", 4), ("Tm", 4), ("Im", 2)],
}
MEASURED = ("Gm1", "Gm2", "Tm", "Im")


def _solt_values(cal) -> dict:
    """The model's inputs [n, k] from what the calibration keeps."""
    s = cal.standards
    n = len(cal.f)
    needed = {"one-port": ("G1",), "unknown-thru": ("G1", "G2")}.get(cal.method, ("G1", "G2", "T"))
    missing = [k for k in needed if k not in s]
    if missing:
        raise ValueError(f"this {cal.method} calibration does not keep its standards' actual values "
                         f"({', '.join(missing)}), which propagation needs: build it again")
    if cal.method == "one-port":
        return {"G1": s["G1"], "Gm1": s["Gm"]}
    if cal.method == "response":
        return {"G1": s["G1"].reshape(n, 1), "G2": s["G2"].reshape(n, 1), "Gm1": s["G1m"].reshape(n, 1),
                "Gm2": s["G2m"].reshape(n, 1), "T": s["T"].reshape(n, 4), "Tm": s["Tm"].reshape(n, 4)}
    v = {"G1": s["G1"], "G2": s["G2"], "Gm1": s["Gm1"], "Gm2": s["Gm2"], "Tm": s["Tm"].reshape(n, 4)}
    if cal.method != "unknown-thru":
        v["T"] = s["T"].reshape(n, 4)
    if "Im" in s:
        v["Im"] = s["Im"][:, [1, 0], [0, 1]]              # its S21 then S12
    return v


def _solt_jacobian(cal, v: dict):
    n = len(cal.f)
    blank3, blank4 = np.zeros((n, 3), complex), np.zeros((n, 2, 2), complex)
    model = cal.method
    # the model functions need a thru's T-parameters even where they read none
    blank4[:, 0, 1] = blank4[:, 1, 0] = 1
    if model == "one-port":
        return _native.model_sensitivities(model, v["G1"], v["Gm1"], blank3, blank3, blank4, blank4)[1]
    if model == "response":
        return _native.model_sensitivities(model, v["G1"][:, 0], v["Gm1"][:, 0], v["G2"][:, 0], v["Gm2"][:, 0],
                                           v["T"].reshape(n, 2, 2), v["Tm"].reshape(n, 2, 2))[1]
    Tm = v["Tm"].reshape(n, 2, 2)
    if model == "unknown-thru":
        from .thru_root import thru_transmission

        q0, _ = thru_transmission(cal.terms["A"], cal.terms["B"], Tm)
        sign = np.where((cal.terms["q"] / q0).real >= 0, 1.0, -1.0)
        return _native.model_sensitivities(model, v["G1"], v["Gm1"], v["G2"], v["Gm2"], blank4, Tm, sign=sign)[1]
    isolation = None
    if "Im" in v:
        isolation = np.zeros((n, 2, 2), complex)
        isolation[:, 1, 0], isolation[:, 0, 1] = v["Im"][:, 0], v["Im"][:, 1]
    return _native.model_sensitivities(model, v["G1"], v["Gm1"], v["G2"], v["Gm2"], v["T"].reshape(n, 2, 2), Tm,
                                       isolation=isolation)[1]


def _slices(model: str, v: dict) -> dict:
    """{input: slice of the model's complex inputs}."""
    out, at = {}, 0
    for name, k in _SOLT_INPUTS[model]:
        if name == "Im" and "Im" not in v:
            continue
        out[name] = slice(at, at + k)
        at += k
    return out


def solt_term_factors(cal, budget: Budget, left=None) -> dict:
    """{influence: factor [n, 2K, r] of the covariance of the model's error
    terms (the covariance is F F^T)}; with `left` [n, m, K] (complex, the
    derivatives of something to the terms), the factors of that instead,
    [n, 2m, r]: far cheaper than the terms' own when m < K."""
    f, n = cal.f, len(cal.f)
    v = _solt_values(cal)
    J = _solt_jacobian(cal, v)                       # [n, K, inputs], along complex inputs
    if left is not None:
        J = left @ J
    Jr = linear.complex_block(J)
    at = _slices(cal.method, v)
    out: dict = {}

    def add(name, F):
        out[name] = np.concatenate([out[name], F], axis=2) if name in out else F

    # the standards' readings, all at once
    read = [name for name in MEASURED if name in at]
    if read:
        cols = np.concatenate([np.arange(2 * at[name].start, 2 * at[name].stop) for name in read])
        values = np.concatenate([v[name].reshape(n, -1) for name in read], axis=1)
        for influence, C in _reading_parts(values, f, budget).items():
            add(influence, linear.of_readings(Jr[:, :, cols], C))
    # each connection of a standard to its port
    u1, u2 = budget.connector
    repeat = np.zeros((n, J.shape[2]))
    for name, u in (("G1", u1), ("G2", u2)):
        if name in at:
            repeat[:, at[name]] = u ** 2
    if "T" in at and cal.method != "response":
        repeat[:, at["T"].start] = u1 ** 2                     # the thru's S11 at port 1
        repeat[:, at["T"].start + 3] = u2 ** 2                 # its S22 at port 2
    if repeat.any():
        keep = np.flatnonzero(repeat.any(axis=0))
        cols = np.stack([2 * keep, 2 * keep + 1], axis=1).ravel()
        add("connector", linear.of_readings(Jr[:, :, cols], linear.circular(repeat[:, keep])))
    # the kit's coefficients: each moves its standard's actual value on both ports alike
    for direction, u in _kit_directions(cal, at, budget):
        col = linear.real_column(np.einsum("nki,ni->nk", J, direction)[:, :, None])
        add("kit", linear.scaled(col, np.full((n, 1), u)))
    return out


def _kit_directions(cal, at: dict, budget: Budget):
    """(d inputs / d coefficient [n, inputs], standard uncertainty) for every
    kit coefficient the budget gives an uncertainty, and the data standards'
    values (two real directions each)."""
    if not cal.kit:
        return
    from .kit import CalKit

    z0, models = CalKit.models_of(cal.kit)
    if not (budget.kit or budget.data or any(m is not None and m.uncertainty for m in models.values())):
        return
    f, n = cal.f, len(cal.f)
    width = max(s.stop for s in at.values())
    column = {"open": 0, "short": 1, "load": 2}
    for std_name in ("open", "short", "load", "thru"):
        if cal.method == "response" and std_name != "short" and std_name != "thru":
            continue
        standard = models[std_name]
        if standard is None:                              # a data standard
            if budget.data:
                for unit in (1.0, 1j):
                    d = np.zeros((n, width), complex)
                    _place(d, at, std_name, column, cal.method, unit * np.ones(n), cal.convention)
                    yield d, budget.data / np.sqrt(2)
            continue
        # the kit file's own uncertainties, the budget's in their place where it gives any
        given = {**standard.uncertainty, **budget.kit.get(std_name, {})}
        if not given:
            continue
        derivatives = standard.sensitivities(f, z0)
        for field, u in given.items():
            if field not in derivatives:
                raise ValueError(f"the budget gives the {std_name}'s {field} an uncertainty; its model has "
                                 f"{', '.join(derivatives)}")
            pairs = zip(derivatives[field], u) if isinstance(u, list) else [(derivatives[field], u)]
            for dvalue, uu in pairs:
                if uu:
                    d = np.zeros((n, width), complex)
                    _place(d, at, std_name, column, cal.method, dvalue, cal.convention)
                    yield d, uu


def _place(d, at, std_name, column, method, dvalue, convention):
    """Where a kit standard's value enters the model's inputs."""
    dvalue = in_convention(np.asarray(dvalue, complex), convention)
    if std_name == "thru":
        if "T" in at:
            d[:, at["T"]] = dvalue.reshape(len(d), 4) if dvalue.ndim == 3 else dvalue[:, None]
        return
    k = 0 if method == "response" else column[std_name]
    for name in ("G1", "G2"):
        if name in at:
            d[:, at[name].start + k] = dvalue


# -- TRL ----------------------------------------------------------------------------------

def trl_term_factors(cal, budget: Budget, left=None) -> dict:
    """{influence: factor [n, 14, r] of the covariance of A11 A12 A21 B11
    B12 B21 q}; with `left`, as for `solt_term_factors`."""
    from .base import unterminate

    f, n = cal.f, len(cal.f)
    p = cal.parameters
    names = ["thru", "reflect"] + [f"line{i + 1}" for i in range(len(p["line_lengths"]))]
    raw = [np.asarray(cal.standards[k], complex) for k in names]
    switch = (cal.terms["switch_f"], cal.terms["switch_r"]) if "switch_f" in cal.terms else None
    used = [unterminate(x, *switch) if switch else x for x in raw]
    flip = cal.convention == "board"
    engineering = [np.conj(x) if flip else x for x in used]
    er = p["er_est"] if not isinstance(p["er_est"], list) else complex(*p["er_est"])
    sign = 1.0 if p["reflect_like"] == "open" else -1.0
    result = _native.multiline_trl(f, engineering[0], engineering[1], np.stack(engineering[2:]),
                                   np.array(p["line_lengths"]), thru_length=p["thru_length"], er_est=er,
                                   reflect_estimate=sign, reflect_offset=p["reflect_offset"],
                                   ref_plane=p["ref_plane"], sensitivities=True)
    J = result["jacobian"]                                # [n, 9, dirs], e^{jwt}, along real directions
    # the reflect's sign as the calibration settled it
    flipped = ~np.isclose(result["reflect"], in_convention(cal.terms["reflect"], cal.convention))
    J = np.where(flipped[:, None, None] & np.isin(np.arange(9), [0, 2, 3, 4, 8])[None, :, None], -J, J)
    if "z_line" in cal.terms:                             # terms moved to another reference impedance
        J = _through_reference(cal, result, flipped, J)
    count = len(engineering) - 1                          # the thru and the lines
    base = 8 * count
    if flip:                                              # board data: d/dRe conjugated, d/dIm negated too
        J = np.conj(J)
        J[:, :, 1:base:2] *= -1
        J[:, :, base + 1:base + 4:2] *= -1
    J = J[:, :7]                                          # the error terms
    if left is not None:
        J = left @ J
    out: dict = {}

    def add(name, F):
        out[name] = np.concatenate([out[name], F], axis=2) if name in out else F

    # readings of every standard, through the switch correction where there is one
    jacobians, readings = [], []
    for index, (name, x) in enumerate(zip(names, raw)):
        if name == "reflect":
            Jx = J[:, :, base:base + 4]
            entries = x[:, [0, 1], [0, 1]]                # its S11, S22
            if switch:
                Jx = _chain_parts(Jx, 1 / (1 - x[:, 0, 1] * x[:, 1, 0] * switch[0] * switch[1]))
        else:
            first = 8 * (0 if index == 0 else index - 1)  # the thru, then line1, line2, ...
            Jx = J[:, :, first:first + 8]
            entries = x.reshape(n, 4)
            if switch:
                Jx = _through_switch(Jx, x, switch)
        jacobians.append(Jx)
        readings.append(entries)
    for influence, C in _reading_parts(np.concatenate(readings, axis=1), f, budget).items():
        add(influence, linear.of_readings(_realise(np.concatenate(jacobians, axis=2)), C))
    t = budget.trl
    lengths = [p["thru_length"]] + list(p["line_lengths"])
    length_cols = [base + 4 + k for k in range(count)]
    for k, col in enumerate(length_cols):
        c = _realise(J[:, :, [col]])
        if t.line_length:
            add("line length", linear.scaled(c, np.full((n, 1), t.line_length)))
        if t.eps_eff and lengths[k]:
            add("effective permittivity", linear.scaled(c, np.full((n, 1), abs(lengths[k]) * t.eps_eff / 2)))
    if t.reflect_asymmetry:
        d = J[:, :, [base + 4 + count]]
        cols = np.concatenate([_realise(d), _realise(1j * d)], axis=2)
        add("reflect asymmetry", linear.scaled(cols, np.full((n, 2), t.reflect_asymmetry / np.sqrt(2))))
    if t.impedance:
        add("impedance", _impedance(cal, J, result, count, n, t.impedance, flip))
    return out


def _through_reference(cal, result, flipped, J):
    """J [n, 9, dirs] of the terms at the lines' impedance, chained through
    the move to the reference impedance (holomorphic in the terms and in the
    lines' impedance, which follows gamma when it came from c0)."""
    from . import reference

    p, f = cal.parameters, cal.f
    A, B = result["A"].copy(), result["B"].copy()
    A[flipped, :, 0] *= -1                                # the reflect's sign as the calibration settled it
    B[flipped, 0, :] *= -1
    z_line = np.asarray(cal.terms["z_line"], complex)
    z_ref = p["z0_ref"] if not isinstance(p["z0_ref"], list) else complex(*p["z0_ref"])
    G = reference.eight_term_jacobian(A, B, result["q"], z_line, np.full(len(f), complex(z_ref)))   # [n, 7, 8]
    out = J.copy()
    out[:, :7] = G[:, :, :7] @ J[:, :7]
    if "c0" in p:                                         # z_line = gamma / (j w c0)
        dz = 1 / (2j * np.pi * f * p["c0"])
        out[:, :7] += G[:, :, 7:8] * dz[:, None, None] * J[:, 7:8]
    return out


def _realise(Jx: np.ndarray) -> np.ndarray:
    """Derivatives along real directions, complex outputs -> [n, 2K, dirs] real."""
    return linear.real_column(Jx)


def _chain_parts(Jx, scale):
    """Real-direction derivatives to (Re, Im) of two readings scaled each by
    the complex factor `scale` [n] between them and what the solver took."""
    out = np.empty_like(Jx)
    for j in range(Jx.shape[2] // 2):
        re, im = Jx[:, :, 2 * j], Jx[:, :, 2 * j + 1]
        out[:, :, 2 * j] = re * scale.real[:, None] + im * scale.imag[:, None]
        out[:, :, 2 * j + 1] = re * (-scale.imag)[:, None] + im * scale.real[:, None]
    return out


def _through_switch(Jx, x, switch):
    """Derivatives to the switch-corrected S11 S12 S21 S22 (Re, Im) turned
    into derivatives to the raw ones: the switch correction is holomorphic."""
    D = _unterminate_jacobian(x, *switch)               # [n, 4 corrected, 4 raw], complex
    Jre, Jim = Jx[:, :, 0::2], Jx[:, :, 1::2]
    out = np.empty_like(Jx)
    for part, unit in ((0, 1.0), (1, 1j)):               # d / d Re, d / d Im of each raw entry
        du = D * unit
        out[:, :, part::2] = np.einsum("noj,njk->nok", Jre, du.real) + np.einsum("noj,njk->nok", Jim, du.imag)
    return out


def _unterminate_jacobian(S, gf, gr) -> np.ndarray:
    """d unterminate(S) / d S, [n, 4, 4] (S11 S12 S21 S22 each)."""
    s11, s12, s21, s22 = S[:, 0, 0], S[:, 0, 1], S[:, 1, 0], S[:, 1, 1]
    d = 1 - s12 * s21 * gf * gr
    num = [s11 - s12 * s21 * gf, s12 - s11 * s12 * gr, s21 - s22 * s21 * gf, s22 - s12 * s21 * gr]
    # d num / d (s11, s12, s21, s22), d d / d (...)
    dnum = [[1, -s21 * gf, -s12 * gf, 0], [-s12 * gr, 1 - s11 * gr, 0, 0], [0, 0, 1 - s22 * gf, -s21 * gf],
            [0, -s21 * gr, -s12 * gr, 1]]
    dd = [0, -s21 * gf * gr, -s12 * gf * gr, 0]
    out = np.empty((len(S), 4, 4), complex)
    for i in range(4):
        for k in range(4):
            out[:, i, k] = (np.asarray(dnum[i][k]) * d - num[i] * np.asarray(dd[k])) / d ** 2
    return out


def _impedance(cal, J, result, count, n, u, flip) -> np.ndarray:
    """Each line's characteristic impedance off the reference by a relative
    u: it reflects (u/2)(1 - e^{-2 gamma l}) at both ends; what the
    measurement of it then moves, through the solved error boxes."""
    g = result["gamma"]
    p = cal.parameters
    A, B, q = result["A"], result["B"], result["q"]
    columns = []
    for i, length in enumerate(p["line_lengths"]):
        D = length - p["thru_length"] - 2 * p["ref_plane"]
        e = np.exp(-g * D)
        delta = (1 - e ** 2) / 2                         # dS11 = dS22 per unit of relative impedance
        dT = np.zeros((n, 2, 2), complex)
        dT[:, 0, 1], dT[:, 1, 0] = delta / e, -delta / e
        T = np.zeros((n, 2, 2), complex)
        T[:, 0, 0], T[:, 1, 1] = e, 1 / e
        M = (A @ T @ B) / q[:, None, None]
        dM = (A @ dT @ B) / q[:, None, None]
        dS = _t2s_derivative(M, dM)                      # [n, 4], e^{jwt}
        first = 8 * (i + 1)
        Jline = J[:, :, first:first + 8]
        if flip:                                         # J is for board data: the perturbation too
            dS = np.conj(dS)
        col = sum(Jline[:, :, 2 * j] * dS[:, j].real[:, None] + Jline[:, :, 2 * j + 1] * dS[:, j].imag[:, None]
                  for j in range(4))
        columns.append(linear.scaled(_realise(col[:, :, None]), u))
    return np.concatenate(columns, axis=2)


def _t2s_derivative(M, dM) -> np.ndarray:
    """d t2s(M) for dM: [n, 4] (S11 S12 S21 S22)."""
    m11, m12, m21, m22 = M[:, 0, 0], M[:, 0, 1], M[:, 1, 0], M[:, 1, 1]
    d11, d12, d21, d22 = dM[:, 0, 0], dM[:, 0, 1], dM[:, 1, 0], dM[:, 1, 1]
    det = m11 * m22 - m12 * m21
    ddet = d11 * m22 + m11 * d22 - d12 * m21 - m12 * d21
    return np.stack([d12 / m22 - m12 * d22 / m22 ** 2, ddet / m22 - det * d22 / m22 ** 2, -d22 / m22 ** 2,
                     -d21 / m22 + m21 * d22 / m22 ** 2], axis=1)


# -- a corrected measurement ---------------------------------------------------------

def corrected(cal, Sm: np.ndarray, budget: Budget | None) -> UncertainS:
    """The corrected measurement Sm [n,2,2] (one-port: [n]) with its
    covariance: the calibration's own (kept, or from `budget`) and the
    device's reading, connection, cables and drift from `budget`."""
    from .base import unterminate

    f, n = cal.f, len(cal.f)
    one = cal.ports == 1
    S4 = np.zeros((n, 2, 2), complex)
    if one:
        S4[:, 0, 0] = Sm
    else:
        S4[:] = Sm
    used = S4
    switch = "switch_f" in cal.terms
    if switch:
        used = unterminate(S4, cal.terms["switch_f"], cal.terms["switch_r"])
    model = cal.SENSITIVITY_MODEL
    S, Jc = _native.correction_sensitivities(model, used, cal.term_vector())
    K = Jc.shape[2] - 4
    Jt, Jm = Jc[:, :, :K], Jc[:, :, K:]
    if switch:
        Jm = np.einsum("nij,njk->nik", Jm, _unterminate_jacobian(S4, cal.terms["switch_f"], cal.terms["switch_r"]))
    if cal.port_extension is not None:
        port, e10e01 = cal.port_extension
        S, Jp = _native.correction_sensitivities("port-extension", S.reshape(n, 2, 2),
                                                  np.asarray(e10e01, complex)[:, None], port=port)
        Jpe = Jp[:, :, 1:]
        Jt, Jm = np.einsum("nij,njk->nik", Jpe, Jt), np.einsum("nij,njk->nik", Jpe, Jm)
    keep = [0] if one else [0, 1, 2, 3]
    Jt, Jm = Jt[:, keep], Jm[:, keep][:, :, keep]
    Jtr, Jmr = linear.complex_block(Jt), linear.complex_block(Jm)
    parts: dict = {}

    def add(name, cov):
        parts[name] = parts.get(name, 0) + cov

    if cal.uncertainty:
        for name, cov in cal.uncertainty.items():
            add(f"{name} (calibration)", linear.sandwich(Jtr, cov))
    elif budget is not None:
        # straight to the corrected values: the inputs' factors moved by the model and the correction at once
        for name, F in cal.term_factors(budget, left=Jt).items():
            add(f"{name} (calibration)", linear.gram(F))
    if budget is not None:
        readings = S4.reshape(n, 4)[:, keep]
        for name, C in _reading_parts(readings, f, budget).items():
            add(f"{name} (device)", linear.gram(linear.of_readings(Jmr, C)))
        u1, u2 = budget.connector
        if u1 or u2:
            size = 2 * len(keep)
            cov = np.zeros((n, size, size))
            cov[:, 0:2, 0:2] = linear.circular(np.full(n, u1 ** 2))
            if not one:
                cov[:, 6:8, 6:8] = linear.circular(np.full(n, u2 ** 2))
            add("connector (device)", cov)
        directivity = _directivity(cal)
        for name, ports in (("cable", budget.cable), ("drift", budget.drift)):
            units = [(p.magnitude, p.phase) for p in ports]
            if not any(a or b for a, b in units):
                continue
            moves = linear.stability(directivity, S4, units)[:, keep]              # [n, k, 4] complex
            add(name, linear.gram(linear.real_column(np.einsum("nij,njd->nid", Jm, moves))))
    # the values as apply gives them (the sensitivities' own evaluation rounds otherwise)
    shaped = cal.apply(Sm)
    size = 2 * len(keep)
    cov = sum(parts.values()) if parts else np.zeros((n, size, size))
    return UncertainS(f, shaped, cov, parts, cal.convention)


def _directivity(cal) -> tuple:
    t = cal.terms
    n = len(cal.f)
    if cal.SENSITIVITY_MODEL == "twelve-term":
        return t["fwd"][:, 0], t["rev"][:, 0]
    if cal.SENSITIVITY_MODEL == "eight-term":
        return t["A"][:, 0, 1], -t["B"][:, 1, 0]
    if cal.SENSITIVITY_MODEL == "one-port":
        return t["e"][:, 0], np.zeros(n)
    return np.zeros(n), np.zeros(n)
