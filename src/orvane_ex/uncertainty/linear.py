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
    return J @ C @ np.swapaxes(J, 1, 2)


def gram(F: np.ndarray) -> np.ndarray:
    """F F^T per point: the covariance an influence of factor F [n, a, r] gives."""
    return F @ np.swapaxes(F, 1, 2)


# Influences are kept as factors F (covariance F F^T): a factor moves through a
# Jacobian J as J F, so that an influence on many inputs costs one product.

def scaled(J: np.ndarray, u) -> np.ndarray:
    """The factor of independent real inputs of standard uncertainties u [n, b]
    (or [b], or a number) moved by J [n, a, b]."""
    u = np.asarray(u, float)
    return J * (u[:, None, :] if u.ndim == 2 else u)


def root(C: np.ndarray) -> np.ndarray:
    """L [..., 2, 2] with L L^T = C for covariances C [..., 2, 2]: Cholesky,
    in closed form (a zero variance allowed)."""
    a, b, c = C[..., 0, 0], C[..., 0, 1], C[..., 1, 1]
    l00 = np.sqrt(np.maximum(a, 0))
    safe = np.where(l00 > 0, l00, 1.0)
    l10 = np.where(l00 > 0, b / safe, 0.0)
    L = np.zeros(C.shape)
    L[..., 0, 0], L[..., 1, 0] = l00, l10
    L[..., 1, 1] = np.sqrt(np.maximum(c - l10 ** 2, 0))
    return L


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
    # along the reading (u = S/|S|) and across it (j u), and the floor in every direction
    magnitude = np.abs(S)
    u = np.divide(S, magnitude, out=np.ones_like(S), where=magnitude > 0)
    c, s = u.real, u.imag
    a2, b2 = along ** 2, across ** 2
    f2 = np.broadcast_to(floor ** 2 / 2, S.shape)
    out = np.empty(S.shape + (2, 2))
    out[..., 0, 0] = a2 * c * c + b2 * s * s + f2
    out[..., 1, 1] = a2 * s * s + b2 * c * c + f2
    out[..., 0, 1] = out[..., 1, 0] = (a2 - b2) * c * s
    return out


def of_readings(J: np.ndarray, C: np.ndarray) -> np.ndarray:
    """The factor [n, a, 2k] of k independent complex readings of
    covariances C [n, k, 2, 2], moved by J [n, a, 2k] real along their real
    and imaginary parts."""
    n, a, _ = J.shape
    k = C.shape[1]
    L = root(C)[:, None]                                         # [n, 1, k, 2, 2]
    Jk = J.reshape(n, a, k, 2)
    F = np.empty((n, a, k, 2))
    F[..., 0] = Jk[..., 0] * L[..., 0, 0] + Jk[..., 1] * L[..., 1, 0]
    F[..., 1] = Jk[..., 1] * L[..., 1, 1]                       # L[0, 1] is zero
    return F.reshape(n, a, 2 * k)


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
