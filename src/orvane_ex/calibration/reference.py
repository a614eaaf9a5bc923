"""The reference impedance of a calibration.

TRL and multiline TRL correct to the lines' characteristic impedance Zc; a
calibration is moved to another reference z_ref (50 ohm for on-wafer work)
by joining each error box to an ideal junction from Zc to z_ref. Zc is given
directly, or found from the lines' measured propagation constant and their
capacitance per length C (Marks & Williams: with the conductance per length
negligible, Zc = gamma / (j omega C)).

Waves are travelling waves, a = (V / sqrt(Z) + sqrt(Z) I) / 2, as
scikit-rf's 'traveling' definition (the one its NISTMultilineTRL uses); for
real impedances they are power waves too.

The transform is holomorphic in the error terms and in Zc, so its exact
derivatives (forward mode, `_Dual`) carry the terms' uncertainty through it.

References
----------
R. B. Marks, D. F. Williams, "Characteristic impedance determination using
propagation constant measurement", IEEE Microwave and Guided Wave Letters
1(6), 1991.
R. B. Marks, D. F. Williams, "A general waveguide circuit theory", J. Res.
NIST 97(5), 1992.
"""
from __future__ import annotations

import numpy as np


class _Dual:
    """Values [n] with their complex derivatives [n, m] along m inputs."""

    def __init__(self, v, d):
        self.v, self.d = np.asarray(v, complex), np.asarray(d, complex)

    @staticmethod
    def of(v, m):
        v = np.asarray(v, complex)
        return _Dual(v, np.zeros(v.shape + (m,), complex))

    def __add__(self, o):
        o = _lift(o, self)
        return _Dual(self.v + o.v, self.d + o.d)

    __radd__ = __add__

    def __sub__(self, o):
        o = _lift(o, self)
        return _Dual(self.v - o.v, self.d - o.d)

    def __rsub__(self, o):
        return _lift(o, self) - self

    def __neg__(self):
        return _Dual(-self.v, -self.d)

    def __mul__(self, o):
        o = _lift(o, self)
        return _Dual(self.v * o.v, self.d * o.v[..., None] + self.v[..., None] * o.d)

    __rmul__ = __mul__

    def __truediv__(self, o):
        o = _lift(o, self)
        q = self.v / o.v
        return _Dual(q, (self.d - q[..., None] * o.d) / o.v[..., None])

    def __rtruediv__(self, o):
        return _lift(o, self) / self

    def sqrt(self):
        r = np.sqrt(self.v)
        return _Dual(r, self.d / (2 * r[..., None]))


def _lift(o, like: _Dual) -> _Dual:
    return o if isinstance(o, _Dual) else _Dual.of(np.broadcast_to(o, like.v.shape), like.d.shape[-1])


def line_impedance(f, gamma, *, c0=None, z0_line=None) -> np.ndarray:
    """The lines' characteristic impedance [n] (ohm, e^{jwt}): `z0_line`
    (a number or [n]) given, or gamma / (j omega c0) from the capacitance per
    length `c0` (F/m, a number or [n]) and the propagation constant gamma
    [n] (1/m, e^{jwt})."""
    f = np.asarray(f, float)
    if (c0 is None) == (z0_line is None):
        raise ValueError("give the lines' capacitance per length (c0, F/m) or their impedance (z0_line, ohm), "
                         "one of the two")
    if c0 is not None:
        c = np.broadcast_to(np.asarray(c0, float), f.shape)
        if not (np.isfinite(c).all() and (c > 0).all()):
            raise ValueError(f"c0 must be a positive capacitance per length (F/m), not {c0!r}")
        return np.asarray(gamma, complex) / (2j * np.pi * f * c)
    z = np.broadcast_to(np.asarray(z0_line, complex), f.shape).copy()
    if not (np.isfinite(z).all() and (z.real > 0).all()):
        raise ValueError(f"z0_line must be an impedance with a positive real part (ohm), not {z0_line!r}")
    return z


def reference(f, z_ref) -> np.ndarray:
    z = np.broadcast_to(np.asarray(z_ref, complex), np.shape(f)).copy()
    if not (np.isfinite(z).all() and (z.real > 0).all()):
        raise ValueError(f"z0_ref must be an impedance with a positive real part (ohm), not {z_ref!r}")
    return z


def _junction(r):
    """The cascading parameters of the joint from Zc (port 1) to z_ref (port
    2), r = sqrt(Zc / z_ref): 1/2 [[r + 1/r, 1/r - r], [1/r - r, r + 1/r]];
    returned as (diagonal, off-diagonal) entries."""
    return (r + 1 / r) * 0.5, (1 / r - r) * 0.5


def _eight_term(A11, A12, A21, B11, B12, B21, q, z_line, z_ref):
    """(A11', A12', A21', B11', B12', B21', q') of S2T(Sm) = A T B / q with
    T referenced to z_ref instead of z_line; works on arrays or `_Dual`s."""
    r = z_line / z_ref
    r = r.sqrt() if isinstance(r, _Dual) else np.sqrt(r)
    p, o = _junction(r)                       # P = [[p, o], [o, p]], P^-1 = [[p, -o], [-o, p]] (det P = 1)
    # A P, then normalised by its lower-right entry
    a11, a12, a21, a22 = A11 * p + A12 * o, A11 * o + A12 * p, A21 * p + o, A21 * o + p
    # P^-1 B
    b11, b12, b21, b22 = p * B11 - o * B21, p * B12 - o, p * B21 - o * B11, p - o * B12
    return a11 / a22, a12 / a22, a21 / a22, b11 / b22, b12 / b22, b21 / b22, q / (a22 * b22)


def eight_term(A, B, q, z_line, z_ref):
    """The eight-term model (A, B, q) correcting to z_ref instead of z_line
    ([n] each, e^{jwt} values, as the terms are)."""
    A, B, q = (np.asarray(x, complex) for x in (A, B, q))
    out = _eight_term(A[:, 0, 0], A[:, 0, 1], A[:, 1, 0], B[:, 0, 0], B[:, 0, 1], B[:, 1, 0], q, z_line, z_ref)
    A2, B2 = np.ones_like(A), np.ones_like(B)
    A2[:, 0, 0], A2[:, 0, 1], A2[:, 1, 0] = out[:3]
    B2[:, 0, 0], B2[:, 0, 1], B2[:, 1, 0] = out[3:6]
    return A2, B2, out[6]


def eight_term_jacobian(A, B, q, z_line, z_ref) -> np.ndarray:
    """d (A11' A12' A21' B11' B12' B21' q') / d (A11 A12 A21 B11 B12 B21 q
    z_line), [n, 7, 8] complex: the transform is holomorphic."""
    A, B, q = (np.asarray(x, complex) for x in (A, B, q))
    inputs = [A[:, 0, 0], A[:, 0, 1], A[:, 1, 0], B[:, 0, 0], B[:, 0, 1], B[:, 1, 0], q, z_line]
    seeded = []
    for i, v in enumerate(inputs):
        d = np.zeros(np.shape(v) + (8,), complex)
        d[..., i] = 1
        seeded.append(_Dual(v, d))
    out = _eight_term(*seeded, np.asarray(z_ref, complex))
    return np.stack([o.d for o in out], axis=1)


def one_port(e, z_line, z_ref):
    """One-port terms e [n,3] (e00, e11, delta_e) correcting to z_ref
    instead of z_line, e^{jwt} values."""
    e = np.asarray(e, complex)
    out = _one_port(e[:, 0], e[:, 1], e[:, 2], z_line, z_ref)
    return np.stack(out, axis=1)


def _one_port(e00, e11, delta, z_line, z_ref):
    # the error box's T = (1/e10) [[-delta, e00], [-e11, 1]], times P
    r = z_line / z_ref
    r = r.sqrt() if isinstance(r, _Dual) else np.sqrt(r)
    p, o = _junction(r)
    a11, a12, a21, a22 = -delta * p + e00 * o, -delta * o + e00 * p, -e11 * p + o, -e11 * o + p
    return a12 / a22, -a21 / a22, -a11 / a22


def one_port_jacobian(e, z_line, z_ref) -> np.ndarray:
    """d (e00' e11' delta_e') / d (e00 e11 delta_e z_line), [n, 3, 4] complex."""
    e = np.asarray(e, complex)
    inputs = [e[:, 0], e[:, 1], e[:, 2], z_line]
    seeded = []
    for i, v in enumerate(inputs):
        d = np.zeros(np.shape(v) + (4,), complex)
        d[..., i] = 1
        seeded.append(_Dual(v, d))
    return np.stack([o.d for o in _one_port(*seeded, np.asarray(z_ref, complex))], axis=1)
