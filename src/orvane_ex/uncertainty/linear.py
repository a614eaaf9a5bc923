"""Linear propagation (GUM), per frequency point.

A complex quantity's uncertainty is the 2x2 covariance of its real and
imaginary parts; a vector of K complex quantities is ordered
[Re z0, Im z0, Re z1, Im z1, ...]. The native sensitivities come as complex
derivatives, along complex inputs (holomorphic models: a perturbation dz
moves the output by J dz) or along real parameters (dp moves it by J dp);
`complex_block` and `real_column` turn them into real Jacobians, and every
influence's covariance is C_out = J C_in J^T."""
from __future__ import annotations

import math

import numpy as np

from .budget import Budget

LN10_20 = math.log(10) / 20


def complex_block(J: np.ndarray) -> np.ndarray:
    """[n, m, k] complex derivatives along complex inputs -> [n, 2m, 2k] real."""
    n, m, k = J.shape
    out = np.empty((n, m, 2, k, 2))
    out[:, :, 0, :, 0], out[:, :, 0, :, 1] = J.real, -J.imag
    out[:, :, 1, :, 0], out[:, :, 1, :, 1] = J.imag, J.real
    return out.reshape(n, 2 * m, 2 * k)


def real_column(J: np.ndarray) -> np.ndarray:
    """[n, m, k] complex derivatives along real parameters -> [n, 2m, k] real."""
    n, m, k = J.shape
    return np.stack([J.real, J.imag], axis=2).reshape(n, 2 * m, k)


def sandwich(J: np.ndarray, C: np.ndarray) -> np.ndarray:
    """J C J^T per point: J [n, a, b], C [n, b, b] -> [n, a, a]."""
    return np.einsum("nab,nbc,ndc->nad", J, C, J, optimize=True)


def scaled(J: np.ndarray, u: np.ndarray) -> np.ndarray:
    """J diag(u^2) J^T per point, for independent real inputs of standard
    uncertainties u [n, b] (or [b])."""
    Ju = J * np.asarray(u)[..., None, :] if np.ndim(u) > 1 else J * np.asarray(u)
    return np.einsum("nab,ndb->nad", Ju, Ju, optimize=True)


def circular(variance) -> np.ndarray:
    """The 2x2 covariance of a complex value whose total variance
    E|dz|^2 = `variance` [n] spreads evenly over every direction."""
    v = np.asarray(variance, float) / 2
    return v[..., None, None] * np.eye(2)


def reading(S: np.ndarray, f: np.ndarray, budget: Budget) -> np.ndarray:
    """The covariance [..., 2, 2] of raw readings S [n, ...] from the
    budget's noise (floor; magnitude and phase noise along and across the
    reading) and linearity (magnitude, per dB of level)."""
    S = np.asarray(S, complex)
    shape = (len(f),) + (1,) * (S.ndim - 1)
    floor = budget.noise.floor.at(f).reshape(shape)
    along = np.abs(S) * LN10_20 * budget.noise.magnitude.at(f).reshape(shape)
    across = np.abs(S) * budget.noise.phase.at(f).reshape(shape)
    if budget.linearity:
        level = 20 * np.log10(np.maximum(np.abs(S), 1e-300))
        along = np.hypot(along, np.abs(S) * LN10_20 * budget.linearity * np.abs(level))
    c, s = np.cos(np.angle(S)), np.sin(np.angle(S))
    rot = np.stack([np.stack([c, -s], -1), np.stack([s, c], -1)], -2)          # columns: along, across
    diag = np.zeros(S.shape + (2, 2))
    diag[..., 0, 0], diag[..., 1, 1] = along ** 2, across ** 2
    return rot @ diag @ np.swapaxes(rot, -1, -2) + circular(floor ** 2 * np.ones(S.shape))


def of_readings(J: np.ndarray, C: np.ndarray) -> np.ndarray:
    """sum_i J_i C_i J_i^T: J [n, a, 2k] real along k complex readings
    (their real and imaginary parts), C [n, k, 2, 2] their covariances."""
    n, a, _ = J.shape
    k = C.shape[1]
    Jk = J.reshape(n, a, k, 2)
    return np.einsum("nakx,nkxy,nbky->nab", Jk, C, Jk, optimize=True)


def stability(directivity: np.ndarray, Sm: np.ndarray, ports) -> np.ndarray:
    """Raw perturbations [n, 4 (S11 S12 S21 S22), 4 (port 1 magnitude, port 1
    phase, port 2 magnitude, port 2 phase)] of a two-port reading when each
    port's transmission changes by (1 + c), c = ln(10)/20 dB + j rad: the
    reflections beyond the directivity by (1 + c)^2, transmissions by
    (1 + c_i)(1 + c_j); scaled by the ports' standard uncertainties."""
    n = len(Sm)
    out = np.zeros((n, 4, 4), complex)
    d1, d2 = directivity
    for port, (mag, phase) in enumerate(ports):
        for j, unit in ((2 * port, LN10_20 * mag), (2 * port + 1, 1j * phase)):
            if port == 0:
                out[:, 0, j] = 2 * (Sm[:, 0, 0] - d1) * unit
            else:
                out[:, 3, j] = 2 * (Sm[:, 1, 1] - d2) * unit
            out[:, 1, j] = Sm[:, 0, 1] * unit
            out[:, 2, j] = Sm[:, 1, 0] * unit
    return out
