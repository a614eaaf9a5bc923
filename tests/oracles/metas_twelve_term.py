"""Twelve-term calibration and correction, propagated with the METAS
uncertainty library (linear propagation, its own derivatives): the oracle
of tests/test_uncertainty_metas.py. Run in its own process (the library hosts a
.NET runtime); reads the inputs from an .npz, writes the covariances to
another.

    python metas_twelve_term.py inputs.npz outputs.npz
"""
import sys
import time

import numpy as np
from metas_unclib import get_covariance, get_value, ucomplex, use_linprop


def uncertain(value, cov):
    return ucomplex(complex(value), covariance=[[float(cov[0, 0]), float(cov[0, 1])],
                                                [float(cov[1, 0]), float(cov[1, 1])]])


def one_port(G, M):
    """e00, e11, delta_e from rows [1, G M, -G] x = M (Cramer's rule)."""
    rows = [[1.0, g * m, -g] for g, m in zip(G, M)]

    def det3(a):
        return (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0])
                + a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0]))

    d = det3(rows)
    out = []
    for k in range(3):
        a = [[M[i] if j == k else rows[i][j] for j in range(3)] for i in range(3)]
        out.append(det3(a) / d)
    return out


def point(z, k):
    c = z["C"]

    def read(name, index):
        return uncertain(z[name][k].ravel()[index], z[f"C_{name}"][k].reshape(-1, 2, 2)[index])

    def actual(name, index, u):
        value = complex(z[name][k].ravel()[index])
        return uncertain(value, np.eye(2) * u ** 2 / 2) if u else value

    u1, u2 = c
    G1 = [actual("G1", i, u1) for i in range(3)]
    G2 = [actual("G2", i, u2) for i in range(3)]
    Gm1 = [read("Gm1", i) for i in range(3)]
    Gm2 = [read("Gm2", i) for i in range(3)]
    T = [actual("T", 0, u1), actual("T", 1, 0), actual("T", 2, 0), actual("T", 3, u2)]
    Tm = [read("Tm", i) for i in range(4)]
    e30, ep03 = read("Im", 0), read("Im", 1)                   # isolation S21, S12
    e00, e11, d1 = one_port(G1, Gm1)
    ep33, ep22, d2 = one_port(G2, Gm2)
    e10e01, ep23ep32 = e00 * e11 - d1, ep33 * ep22 - d2
    dT = T[0] * T[3] - T[1] * T[2]
    e22 = (e10e01 * T[0] - (Tm[0] - e00) * (1 - e11 * T[0])) / ((e11 * dT - T[3]) * (Tm[0] - e00) + e10e01 * dT)
    ep11 = (ep23ep32 * T[3] - (Tm[3] - ep33) * (1 - ep22 * T[3])) / ((ep22 * dT - T[0]) * (Tm[3] - ep33)
                                                                     + ep23ep32 * dT)
    e10e32 = ((Tm[2] - e30) / T[2]) * (1 - e11 * T[0] - e22 * T[3] + e11 * e22 * dT)
    ep23ep01 = ((Tm[1] - ep03) / T[1]) * (1 - ep22 * T[3] - ep11 * T[0] + ep11 * ep22 * dT)
    S = [read("Sm", i) for i in range(4)]
    x, y = (S[0] - e00) / e10e01, (S[1] - ep03) / ep23ep01
    zz, w = (S[2] - e30) / e10e32, (S[3] - ep33) / ep23ep32
    D = (1 + x * e11) * (1 + w * ep22) - zz * y * e22 * ep11
    out = [(x * (1 + w * ep22) - e22 * y * zz) / D, y * (1 + x * (e11 - ep11)) / D,
           zz * (1 + w * (ep22 - e22)) / D, (w * (1 + x * e11) - ep11 * y * zz) / D]
    # the device's own connections, on its corrected reflections
    if u1:
        out[0] = out[0] + uncertain(0, np.eye(2) * u1 ** 2 / 2)
    if u2:
        out[3] = out[3] + uncertain(0, np.eye(2) * u2 ** 2 / 2)
    return np.array([complex(get_value(s)) for s in out]), np.array(get_covariance(out))


def main(source, target):
    use_linprop()
    with np.load(source) as f:
        z = {k: f[k] for k in f.files}
    n = len(z["Sm"])
    values, covs = [], []
    start = time.perf_counter()
    for k in range(n):
        v, c = point(z, k)
        values.append(v)
        covs.append(c)
    elapsed = time.perf_counter() - start
    np.savez(target, s=np.array(values), cov=np.array(covs), seconds=elapsed)


if __name__ == "__main__":
    main(*sys.argv[1:3])
