"""The sign of e10 e32 in an unknown-thru calibration, from the data.

The unknown thru fixes e10 e32 only up to its sign: q^2 = det A det B /
det T_m. With either sign the thru's own transmission follows,
S21 = 1 / (q U[1,1]) with U = A^-1 T_m B^-1, so the right sign is the one
whose thru is a physical two-port: its transmission phase continuous across
the band, and zero at DC. Continuity settles each point against its
neighbours (each within 90 degrees of the one before it); the phase
extrapolated to DC settles the one sign left. An approximate length of the
thru, if given, settles that sign only where the extrapolation cannot.
"""
from __future__ import annotations

import numpy as np

from .._common.constants import SPEED_OF_LIGHT

# get8TermModelUThru's velocity factor, for a length given as a hint
VELOCITY_FACTOR = 0.695
# a step of the thru's phase this close to 90 degrees between neighbouring
# points leaves its sign unsure
UNSURE = np.radians(50)


def thru_transmission(A, B, Tm) -> tuple[np.ndarray, np.ndarray]:
    """(q0, p): the principal root q0 of q^2 and p = q S21 of the thru."""
    A, B, Tm = (np.asarray(x, complex) for x in (A, B, Tm))
    det_a = A[:, 0, 0] * A[:, 1, 1] - A[:, 0, 1] * A[:, 1, 0]
    det_b = B[:, 0, 0] * B[:, 1, 1] - B[:, 0, 1] * B[:, 1, 0]
    s11, s12, s21, s22 = Tm[:, 0, 0], Tm[:, 0, 1], Tm[:, 1, 0], Tm[:, 1, 1]
    q0 = np.sqrt(det_a * det_b * s21 / s12)           # det T_m = S12 / S21
    # U[1,1] of A^-1 T_m B^-1, with T_m = (1/S21) [[-det S, S11], [-S22, 1]]
    row = np.stack([-A[:, 1, 0], A[:, 0, 0]], axis=1) / det_a[:, None]          # second row of A^-1
    col = np.stack([-B[:, 0, 1], B[:, 0, 0]], axis=1) / det_b[:, None]          # second column of B^-1
    Tmt = np.empty_like(Tm)
    Tmt[:, 0, 0], Tmt[:, 0, 1] = -(s11 * s22 - s12 * s21) / s21, s11 / s21
    Tmt[:, 1, 0], Tmt[:, 1, 1] = -s22 / s21, 1 / s21
    u11 = np.einsum("ni,nij,nj->n", row, Tmt, col)
    return q0, 1 / u11


def continuous_signs(phase: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """Signs s (+1/-1) making s e^{j phase} continuous: each point within 90
    degrees of the one before it. Where the step comes within `UNSURE` of 90
    degrees, the grid is too coarse to be sure (a step beyond 90 degrees
    looks like a small one of the other sign): those points are returned too."""
    n = len(phase)
    s = np.ones(n)
    unsure = np.zeros(n, bool)
    for k in range(1, n):
        d = _wrap(phase[k] - (phase[k - 1] + (0 if s[k - 1] > 0 else np.pi)))
        s[k] = 1.0 if abs(d) <= np.pi / 2 else -1.0
        step = d if s[k] > 0 else _wrap(d + np.pi)
        unsure[k] = abs(step) > np.pi / 2 - UNSURE
    return s, unsure


def _wrap(x):
    return (x + np.pi) % (2 * np.pi) - np.pi


def choose_q(f, A, B, Tm, phys_length: float | None = None):
    """e10 e32 [n] of an unknown-thru model, its sign chosen from the data;
    and the points where the choice is unsure (a grid too coarse for the
    thru's delay, or a sign at DC that neither the data nor the hint settle)."""
    f = np.asarray(f, float)
    q0, p = thru_transmission(A, B, Tm)
    thru = p / q0                                   # the thru's S21 for the root q0
    good = np.isfinite(thru) & (thru != 0)
    q = np.full(len(f), np.nan, complex)
    unsure = ~good
    if not good.any():
        return q, unsure
    idx = np.flatnonzero(good)
    signs, jumpy = continuous_signs(np.angle(thru[idx]))
    phase = np.unwrap(np.angle(signs * thru[idx]))
    low = max(3, len(idx) // 10)
    fit = np.polyfit(f[idx[:low]], phase[:low], 1) if len(idx) >= 2 else np.array([0.0, phase[0]])
    at_dc = _wrap(fit[1])                           # 0 for the right sign, pi for the other
    flip = abs(at_dc) > np.pi / 2
    if np.pi / 2 - np.radians(30) < abs(at_dc) < np.pi / 2 + np.radians(30) and phys_length is not None:
        # the hint's delay, with the slope's sign (the data's phase convention)
        delay = phys_length / (SPEED_OF_LIGHT * VELOCITY_FACTOR)
        expected = np.sign(fit[0]) * 2 * np.pi * f[idx[0]] * delay
        flip = abs(_wrap(phase[0] - expected)) > np.pi / 2
    elif np.pi / 2 - np.radians(30) < abs(at_dc) < np.pi / 2 + np.radians(30):
        unsure[idx] = True
    signs = -signs if flip else signs
    q[idx] = signs * q0[idx]
    unsure[idx] |= jumpy
    return q, unsure
