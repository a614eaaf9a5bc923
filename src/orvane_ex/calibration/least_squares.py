"""One-port error terms from three or more known reflection standards, by
weighted least squares, with each standard's misfit.

The model Gm = e00 + e10e01 G / (1 - e11 G) is linear in (e00, e11,
delta_e) once multiplied out: Gm = e00 + e11 G Gm - delta_e G. Its residual
for a standard is (1 - e11 G) times the standard's misfit in the reading,
Gm_model - Gm, so the fit weights each equation by sqrt(w) / |1 - e11 G|
(iterated from the unweighted fit): it then minimises sum w |Gm_model - Gm|^2,
the misfits in what the analyser read. w = 1 / u^2 from each standard's
standard uncertainty u (equal by default).

Each standard's misfit says how far its reading is from what the other
standards, through the model, say it should read. A standard whose model is
wrong (a mislabelled or damaged standard, a wrong kit entry) pulls the fit
towards itself, so its raw misfit need not be the largest; its standardised
misfit |Gm_model - Gm| sqrt(w) / sqrt(1 - h), h its leverage, is. With four
standards there is one (complex) degree of freedom and all standardised
misfits are equal: it takes five or more to tell which standard is off.

With exactly three standards the fit is the exact solution of
`orvane_ex.hidden.get1PortModel`, and every misfit is zero.
"""
from __future__ import annotations

import numpy as np

# Reweighting passes after the unweighted fit: the weights depend on e11 only
# through |1 - e11 G|, so two passes settle them to rounding for any sound port.
PASSES = 3


def _weights(weights, n: int, m: int) -> np.ndarray:
    if weights is None:
        return np.ones((n, m))
    w = np.asarray(weights, float)
    if w.shape not in ((m,), (n, m)):
        raise ValueError(f"weights: shape {w.shape}; one per standard ({m}) or [{n}, {m}]")
    w = np.broadcast_to(w, (n, m))
    if not (np.isfinite(w).all() and (w > 0).all()):
        raise ValueError("weights must be positive and finite, one per standard (or [n, m])")
    return w


def one_port(G, Gm, weights=None) -> dict:
    """The weighted least-squares one-port terms of m >= 3 standards.

    Parameters
    ----------
    G, Gm : array_like, shape (n, m)
        Actual and measured reflection coefficients, the standards in the
        same column order.
    weights : array_like, shape (m,) or (n, m), optional
        Each standard's weight, 1 / u^2 for its standard uncertainty u
        (equal by default).

    Returns
    -------
    dict
        ``e`` [n,3] (e00, e11, delta_e, as `get1PortModel` orders them),
        ``misfit`` [n,m] (Gm_model - Gm, complex), ``standardised`` [n,m]
        (|misfit| sqrt(w) / sqrt(1 - leverage), real; 0 where the fit is
        exact) and ``leverage`` [n,m].
    """
    G, Gm = np.asarray(G, complex), np.asarray(Gm, complex)
    if G.ndim != 2 or G.shape != Gm.shape or G.shape[1] < 3:
        raise ValueError(f"G and Gm must both be [n, m] with m >= 3 standards, not {G.shape} and {Gm.shape}")
    if not (np.isfinite(G).all() and np.isfinite(Gm).all()):
        raise ValueError("the standards' values must be finite")
    n, m = G.shape
    w = _weights(weights, n, m)
    A = np.stack([np.ones_like(G), G * Gm, -G], axis=2)            # [n, m, 3]
    e11 = np.zeros(n, complex)
    for _ in range(PASSES):
        s = np.sqrt(w) / np.abs(1 - e11[:, None] * G)
        Q, R = np.linalg.qr(s[:, :, None] * A)
        x = np.linalg.solve(R, np.einsum("nmk,nm->nk", Q.conj(), s * Gm)[:, :, None])[:, :, 0]
        e11 = x[:, 1]
    misfit = reading(x, G) - Gm
    leverage = np.sum(np.abs(Q) ** 2, axis=2).clip(0, 1)
    free = np.clip(1 - leverage, 0, None)
    with np.errstate(divide="ignore", invalid="ignore"):
        standardised = np.where(free > 1e-12, np.abs(misfit) * np.sqrt(w) / np.sqrt(free), 0.0)
    return {"e": x, "misfit": misfit, "standardised": standardised, "leverage": leverage}


def reading(e, G) -> np.ndarray:
    """What a port of terms e [n,3] reads for standards G [n] or [n, m]."""
    e = np.asarray(e, complex)
    G = np.asarray(G, complex)
    e00, e11, delta = (e[:, k] if G.ndim == 1 else e[:, k, None] for k in range(3))
    return (e00 - delta * G) / (1 - e11 * G)


def summary(names, misfit, standardised) -> list[str]:
    """One line per standard: its largest misfit over the band, and which
    one fits worst (when the standards can tell)."""
    worst_misfit = np.max(np.abs(misfit), axis=0)
    worst_std = np.max(standardised, axis=0)
    lines = [f"{name}: misfit up to {a:.3g} (standardised {b:.3g})" for name, a, b in
             zip(names, worst_misfit, worst_std)]
    if len(names) >= 5 and worst_std.max() > 1e-9:
        lines.append(f"fits worst: {names[int(np.argmax(worst_std))]}")
    elif len(names) == 4:
        lines.append("four standards cannot tell which one is off (their standardised misfits are equal)")
    return lines
