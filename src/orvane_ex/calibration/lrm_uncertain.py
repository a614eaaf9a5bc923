"""Uncertainty of LRM, TRM and LRRM calibrations: the factors of their error
terms' covariance from an uncertainty budget, with the native solver's exact
derivatives.

Influences: every standard's readings (noise, linearity), each connection
of a standard (connector repeatability: its actual value moved), the
reflects' asymmetry between the ports, the match's resistance and (where it
is given) inductance, the thru's delay, and LRRM's lossless reflect's
|Gamma|. LRRM's inductance is fitted over the band, so each point's terms
move with every point's readings: at point k their covariance takes point
k's readings through the fit and the point's own solution together, and the
other points' as one more column (their part of the inductance's variance),
which keeps the per-point marginals exact."""
from __future__ import annotations

import numpy as np

from ..uncertainty import linear
from ..uncertainty.budget import Budget
from .uncertain import _chain_parts, _reading_parts, _t2s_derivative, _through_switch

# The solver's directions: the blocks of each standard's readings (real and
# imaginary parts), and its parameters.
LRM_BLOCKS = {"thru": (0, 8), "reflect": (8, 12), "match": (12, 16)}
LRM_PARAMETERS = {"thru delay": 16, "resistance": 17, "inductance": 18}
LRRM_BLOCKS = {"thru": (0, 8), "short": (8, 12), "open": (12, 16), "match": (16, 18)}
LRRM_PARAMETERS = {"thru delay": 18, "resistance": 19, "magnitude": 20, "inductance": 21}
OWN = 18          # LRRM: the point's own reading directions


def layout(cal) -> tuple[dict, dict]:
    return (LRRM_BLOCKS, LRRM_PARAMETERS) if cal.method == "lrrm" else (LRM_BLOCKS, LRM_PARAMETERS)


def s2t(S):
    det = S[:, 0, 0] * S[:, 1, 1] - S[:, 0, 1] * S[:, 1, 0]
    T = np.empty_like(S)
    T[:, 0, 0], T[:, 0, 1] = -det / S[:, 1, 0], S[:, 0, 0] / S[:, 1, 0]
    T[:, 1, 0], T[:, 1, 1] = -S[:, 1, 1] / S[:, 1, 0], 1 / S[:, 1, 0]
    return T


def t2s(T):
    det = T[:, 0, 0] * T[:, 1, 1] - T[:, 0, 1] * T[:, 1, 0]
    S = np.empty_like(T)
    S[:, 0, 0], S[:, 0, 1] = T[:, 0, 1] / T[:, 1, 1], det / T[:, 1, 1]
    S[:, 1, 0], S[:, 1, 1] = 1 / T[:, 1, 1], -T[:, 1, 0] / T[:, 1, 1]
    return S


def embed(A, B, q, S):
    """What the analyser reads (switch-corrected) of a two-port S through
    the eight-term adapters."""
    return t2s(A @ s2t(S) @ B / q[:, None, None])


def reading_maps(A, B):
    """(port 1, port 2): each port's reading of a reflection G, and the
    reading's derivative to G."""
    e00, e11 = A[:, 0, 1], -A[:, 1, 0]
    e33, e22 = -B[:, 1, 0], B[:, 0, 1]
    t1, t2 = A[:, 0, 0] + e00 * e11, B[:, 0, 0] + e22 * e33

    def port1(G):
        return e00 + t1 * G / (1 - e11 * G)

    def port2(G):
        return e33 + t2 * G / (1 - e22 * G)

    def slopes(G):
        return t1 / (1 - e11 * G) ** 2, t2 / (1 - e22 * G) ** 2

    return port1, port2, slopes


def one_port_standards(cal) -> list[tuple[str, int, np.ndarray]]:
    """(standard, port, its actual value at the reference plane) of every
    connection of a one-port standard, in the calibration's convention."""
    t = cal.terms
    if cal.method == "lrrm":
        return [("short", 1, t["short"]), ("short", 2, t["short"]), ("open", 1, t["open"]), ("open", 2, t["open"]),
                ("match", 1, t["match"])]
    return [("reflect", 1, t["reflect"]), ("reflect", 2, t["reflect"]), ("match", 1, t["match"]),
            ("match", 2, t["match"])]


def _in_convention(J, cal, reading_columns: int, real=False):
    """Derivatives along the solver's directions (e^{jwt}) for data in the
    calibration's convention: board data conjugated, so d/d Im negated."""
    if cal.convention != "board":
        return J
    J = np.array(J if real else np.conj(J))
    J[..., 1:reading_columns:2] *= -1
    return J


def _complex_moves(J, moves):
    """Derivatives along real directions J [n, K, 2m] (Re, Im of m readings)
    and complex moves [n, m] of those readings per unit of a real and of an
    imaginary perturbation: [n, K, 2]."""
    re, im = J[:, :, 0::2], J[:, :, 1::2]
    out = np.empty(J.shape[:2] + (2,), complex)
    for part, unit in enumerate((1.0, 1j)):
        d = moves * unit
        out[:, :, part] = np.einsum("nkm,nm->nk", re, d.real) + np.einsum("nkm,nm->nk", im, d.imag)
    return out


def term_factors(cal, budget: Budget, left=None) -> dict:
    """{influence: factor [n, 14, r]} of the covariance of A11 A12 A21 B11
    B12 B21 q; with `left` [n, m, 7], of what it derives from them."""
    f, n = cal.f, len(cal.f)
    blocks, parameters = layout(cal)
    lrrm = cal.method == "lrrm"
    result = cal.solve(cal.solver_inputs(), sensitivities=True)
    own = max(b[1] for b in blocks.values())
    J = _in_convention(result["jacobian"][:, :7], cal, own)
    h = J[:, :, parameters["inductance"]]                      # d terms / d L
    fitted = lrrm and cal.parameters["fitted"]
    dL = dL_globals = None
    if fitted:
        dL = _in_convention(result["inductance_jacobian"], cal, own, real=True)           # [n, 18]
        dL_globals = dict(zip(("thru delay", "resistance", "magnitude"), result["inductance_globals"]))
        J = J.copy()
        J[:, :, :OWN] += h[:, :, None] * dL[:, None, :]
    if left is not None:
        J, h = left @ J, np.einsum("nmk,nk->nm", left, h)
    out: dict = {}

    def add(name, F):
        out[name] = np.concatenate([out[name], F], axis=2) if name in out else F

    switch = (cal.terms["switch_f"], cal.terms["switch_r"]) if "switch_f" in cal.terms else None

    def to_raw(Jx, name):
        """Derivatives to the solver's inputs turned into derivatives to the
        raw readings (through the switch correction)."""
        x = np.asarray(cal.standards[name], complex)
        if switch is None or x.ndim != 3:
            return Jx
        if name == "thru":
            return _through_switch(Jx, x, switch)
        return _chain_parts(Jx, 1 / (1 - x[:, 0, 1] * x[:, 1, 0] * switch[0] * switch[1]))

    def entries(name):
        x = np.asarray(cal.standards[name], complex)
        if x.ndim == 1:
            return x[:, None]
        return x.reshape(n, 4) if name == "thru" else x[:, [0, 1], [0, 1]]

    # Per point: each influence's factor, and with a fitted inductance that
    # point's share of the inductance's variance (its factor through the fit).
    shares: dict = {}

    def point(influence, F, G=None):
        add(influence, F)
        if fitted:
            shares[influence] = shares.get(influence, 0) + np.sum(G ** 2, axis=tuple(range(1, G.ndim)))

    def inductance_moves(cols):
        """The fitted inductance's derivatives to the directions `cols`, as
        a complex J [n, 1, c] (zero without a fit)."""
        return (dL[:, None, cols] if fitted else np.zeros((n, 1, cols.stop - cols.start))).astype(complex)

    # the readings of every standard
    for name, (a, b) in blocks.items():
        Jx = to_raw(J[:, :, a:b], name)
        g = to_raw(inductance_moves(slice(a, b)), name).real
        for influence, C in _reading_parts(entries(name), f, budget).items():
            point(influence, linear.of_readings(linear.real_column(Jx), C), linear.of_readings(g, C))
    # the connections of the standards, and the reflects' asymmetry: their actual values moved
    A, B = (np.asarray(cal.terms[k], complex) for k in "AB")
    q = np.asarray(cal.terms["q"], complex)
    _, _, slopes = reading_maps(A, B)
    u1, u2 = budget.connector
    asymmetry = budget.onwafer.reflect_asymmetry
    for name, port, G in one_port_standards(cal):
        a, _ = blocks[name]
        column = a if port == 1 or (name == "match" and lrrm) else a + 2      # its S11 or its S22
        Jx, gx = J[:, :, column:column + 2], inductance_moves(slice(column, column + 2))
        slope = slopes(G)[port - 1]
        for influence, u, move in (("connector", u1 if port == 1 else u2, slope),
                                   ("reflect asymmetry", asymmetry if port == 2 and name != "match" else 0,
                                    slope * G)):
            if u:
                point(influence, linear.real_column(_chain_parts(Jx, move)) * (u / np.sqrt(2)),
                      _chain_parts(gx, move).real * (u / np.sqrt(2)))
    if u1 or u2:                                               # the thru's S11 at port 1, its S22 at port 2
        T = np.asarray(cal.standards["T"], complex)
        M = A @ s2t(T) @ B / q[:, None, None]
        a, b = blocks["thru"]
        for u, dT in ((u1, _dT_dS11(T)), (u2, _dT_dS22(T))):
            if u:
                dS = _t2s_derivative(M, A @ dT @ B / q[:, None, None])
                point("connector", linear.real_column(_complex_moves(J[:, :, a:b], dS)) * (u / np.sqrt(2)),
                      _complex_moves(inductance_moves(slice(a, b)), dS).real * (u / np.sqrt(2)))
    if fitted:
        # each point's share of the inductance is in its own columns above; the other points' is one more
        hr = linear.real_column(h[:, :, None])
        for influence, share in shares.items():
            add(influence, hr * np.sqrt(np.maximum(share.sum() - share, 0))[:, None, None])
    # the parameters
    o = budget.onwafer
    full = _in_convention(result["jacobian"][:, :7], cal, own)
    if left is not None:
        full = left @ full

    def along(parameter):
        column = full[:, :, parameters[parameter]]
        if fitted and parameter in dL_globals:
            column = column + h * dL_globals[parameter]
        return linear.real_column(column[:, :, None])

    if o.match_resistance:
        add("match resistance", along("resistance") * o.match_resistance)
    if o.match_inductance and not fitted:
        add("match inductance", along("inductance") * o.match_inductance)
    if o.thru_delay and cal.parameters.get("thru_delay") is not None:
        add("thru delay", along("thru delay") * o.thru_delay)
    if o.reflect_magnitude and fitted:
        add("reflect magnitude", along("magnitude") * o.reflect_magnitude)
    return out


def _dT_dS11(S):
    """d s2t(S) / d S11, [n, 2, 2]."""
    d = np.zeros_like(S)
    d[:, 0, 0], d[:, 0, 1] = -S[:, 1, 1] / S[:, 1, 0], 1 / S[:, 1, 0]
    return d


def _dT_dS22(S):
    d = np.zeros_like(S)
    d[:, 0, 0], d[:, 1, 0] = -S[:, 0, 0] / S[:, 1, 0], -1 / S[:, 1, 0]
    return d
