"""Multiline TRL calibration and correction, propagated with the METAS
uncertainty library (linear propagation, its own derivatives): the oracle
of tests/test_uncertainty_metas.py. Run in its own process (the library hosts a
.NET runtime); reads the inputs from an .npz, writes the corrected device
and its covariances to another.

    python metas_multiline_trl.py inputs.npz outputs.npz

The method is Marks' multiline TRL as DeGroot, Jargon and Marks lay it
out ("Multiline TRL revealed", 2002): every line is paired with one common
line; the eigenvalues of M_i M_c^-1 give each pair's gamma (l_i - l_c),
combined by least squares weighted for the common line's share (V = I +
1 1^T); their eigenvectors give each port's B and C/A, combined with the
Gauss-Markov weights of the method's covariances (which follow gamma and
the lengths, and so are propagated too); the thru gives A1 A2, the reflect
(the same on both ports) A1 / A2. The choices (common line, roots,
periods, which eigenvalue is which) are taken on values, as the published
method takes them. Every influence enters as an uncertain input where it
physically acts: the raw readings, each length, each line's permittivity
and impedance, the reflect's asymmetry, the device's connections and
cables.
"""
import cmath
import math
import sys
import time

import numpy as np
from metas_unclib import get_covariance, get_value, ucomplex, ufloat, umath, use_linprop

C0 = 299792458.0
LN10_20 = math.log(10) / 20
UNCERTAIN = (ucomplex, ufloat)


def _fn(name):
    def call(x):
        return getattr(umath, name)(x) if isinstance(x, UNCERTAIN) else getattr(cmath, name)(x)
    return call


sqrt, log, exp = _fn("sqrt"), _fn("log"), _fn("exp")


def conj(x):
    return umath.conj(x) if isinstance(x, UNCERTAIN) else complex(x).conjugate()


def val(x) -> complex:
    return complex(get_value(x)) if isinstance(x, UNCERTAIN) else complex(x)


def uncertain(value, cov):
    return ucomplex(complex(value), covariance=[[float(cov[0, 0]), float(cov[0, 1])],
                                                [float(cov[1, 0]), float(cov[1, 1])]])


def circular(u):
    """A complex zero whose total variance u^2 spreads evenly."""
    return ucomplex(0j, covariance=[[u * u / 2, 0.0], [0.0, u * u / 2]])


# -- 2x2 algebra, T-parameters T = (1/S21) [[-det S, S11], [-S22, 1]] -------------------

def s2t(s):
    s11, s12, s21, s22 = s
    return [[-(s11 * s22 - s12 * s21) / s21, s11 / s21], [-s22 / s21, 1 / s21]]


def t2s(t):
    det = t[0][0] * t[1][1] - t[0][1] * t[1][0]
    return [t[0][1] / t[1][1], det / t[1][1], 1 / t[1][1], -t[1][0] / t[1][1]]


def mul(x, y):
    return [[x[i][0] * y[0][j] + x[i][1] * y[1][j] for j in range(2)] for i in range(2)]


def inv(x):
    det = x[0][0] * x[1][1] - x[0][1] * x[1][0]
    return [[x[1][1] / det, -x[0][1] / det], [-x[1][0] / det, x[0][0] / det]]


def eig(m):
    half = (m[0][0] + m[1][1]) / 2
    root = sqrt(half * half - (m[0][0] * m[1][1] - m[0][1] * m[1][0]))
    return [half + root, half - root]


def gauss_markov(V, x):
    """sum w_i x_i with w^T = 1^H V^-1 / (1^H V^-1 1): the best linear
    unbiased estimate of a constant observed as x (covariance V, Hermitian
    positive definite, so elimination needs no pivoting)."""
    m = len(x)
    a = [row[:] + [1.0] for row in V]
    for k in range(m):
        for i in range(k + 1, m):
            factor = a[i][k] / a[k][k]
            for j in range(k, m + 1):
                a[i][j] = a[i][j] - factor * a[k][j]
    z = [None] * m
    for k in reversed(range(m)):
        s = a[k][m]
        for j in range(k + 1, m):
            s = s - a[k][j] * z[j]
        z[k] = s / a[k][k]
    w = [conj(zk) for zk in z]
    total = w[0]
    for wk in w[1:]:
        total = total + wk
    out = w[0] * x[0]
    for wk, xk in zip(w[1:], x[1:]):
        out = out + wk * xk
    return out / total


# -- the calibration at one point -----------------------------------------------------------

def common_line(lengths, g_est):
    """The line whose worst pair is best, each pair scored by its effective
    phase asin|sinh(g D)| (at most 90 degrees); near-ties to the first."""
    n = len(lengths)
    scores = []
    for c in range(n):
        worst = math.pi / 2
        for i in range(n):
            if i != c:
                s = abs(cmath.sinh(g_est * (lengths[i] - lengths[c])))
                worst = min(worst, math.asin(s) if s < 1 else math.pi / 2)
        scores.append(worst)
    top = max(scores)
    return next(c for c in range(n) if scores[c] >= top * (1 - 1e-9))


def eigenvector_ratio(P, lam, top):
    """x / y (top) or y / x of the eigenvector of P for eigenvalue lam,
    from the better conditioned row."""
    if top:
        d = lam - P[0][0]
        return P[0][1] / d if abs(val(d)) >= abs(val(P[1][0])) else (lam - P[1][1]) / P[1][0]
    d = lam - P[1][1]
    return P[1][0] / d if abs(val(d)) >= abs(val(P[0][1])) else (lam - P[0][0]) / P[0][1]


def calibrate(lines, lengths, reflect, g_est, reflect_est, ref_plane, asymmetry=0.0):
    """lines: each line's S11 S12 S21 S22 (the thru first), lengths: each
    one's beyond the thru (the thru's 0), reflect: its S11 and S22.
    Returns (A, B, q, gamma, reflect) of the eight-term model
    M = A T B / q with A = [[-de, e00], [-e11, 1]], B = [[-de', e22], [-e33, 1]]."""
    n = len(lines)
    lv = [val(x).real for x in lengths]
    c = common_line(lv, g_est)
    others = [i for i in range(n) if i != c]
    port1 = [s2t(s) for s in lines]
    port2 = [s2t([s[3], s[2], s[1], s[0]]) for s in lines]       # the same lines seen from port 2
    P1 = [mul(port1[i], inv(port1[c])) for i in others]
    P2 = [mul(port2[i], inv(port2[c])) for i in others]
    # each pair's gamma D: the eigenvalues are e^{-+ g D}; root and period nearest the estimate
    D = [lengths[i] - lengths[c] for i in others]
    gD = []
    for P, Dk in zip(P1, D):
        e = eig(P)
        target = g_est * val(Dk).real
        best = None
        for r in range(2):
            g = -log((e[r] + 1 / e[1 - r]) / 2)
            g = g + 2j * math.pi * round((target.imag - val(g).imag) / (2 * math.pi))
            if best is None or abs(val(g) - target) < abs(val(best) - target):
                best = g
        gD.append(best)
    # weighted least squares gD_k = gamma D_k, V = I + 1 1^T: V^-1 = I - 1 1^T / n
    sd, sg = sum(D[1:], D[0]), sum(gD[1:], gD[0])
    num = sum((Dk * gk for Dk, gk in zip(D[1:], gD[1:])), D[0] * gD[0]) - sd * sg / n
    den = sum((Dk * Dk for Dk in D[1:]), D[0] * D[0]) - sd * sd / n
    gamma = num / den
    # each pair's B and C/A, eigenvalues told apart by the combined gamma
    E = [exp(-gamma * x) for x in lengths]
    b1, a1, b2, a2 = [], [], [], []
    for k, i in enumerate(others):
        down = val(E[i]) / val(E[c])
        for P, b, a in ((P1[k], b1, a1), (P2[k], b2, a2)):
            e = eig(P)
            dist = [abs(cmath.log(val(x) / y)) for x, y in ((e[0], down), (e[1], 1 / down), (e[1], down),
                                                             (e[0], 1 / down))]
            if dist[0] + dist[1] > dist[2] + dist[3]:
                e = e[::-1]
            b.append(eigenvector_ratio(P, e[1], top=True))       # (e00, 1) for e^{+g D}
            a.append(eigenvector_ratio(P, e[0], top=False))      # (-de, -e11) for e^{-g D}
    # the covariances of the pairs' estimates (up to a common factor)
    Ec2 = E[c] * conj(E[c])
    m = len(others)
    Vb = [[None] * m for _ in range(m)]
    Vc = [[None] * m for _ in range(m)]
    for x in range(m):
        lx = E[others[x]]
        ex = lx / E[c]
        for y in range(m):
            ly = E[others[y]]
            ey = ly / E[c]
            norm = (ex - 1 / ex) * conj(ey - 1 / ey)
            if x == y:
                e2 = ex * conj(ex)
                l2 = lx * conj(lx)
                Vb[x][y] = (e2 + 1 / e2 + 2 * l2 * Ec2) / norm
                Vc[x][y] = (e2 + 1 / e2 + 2 / (l2 * Ec2)) / norm
            else:
                Vb[x][y] = (ex * conj(ey) + Ec2 * lx * conj(ly)) / norm
                Vc[x][y] = (1 / (ex * conj(ey)) + 1 / (Ec2 * lx * conj(ly))) / norm
    B1, B2 = gauss_markov(Vb, b1), gauss_markov(Vb, b2)
    CA1, CA2 = gauss_markov(Vc, a1), gauss_markov(Vc, a2)
    # A1 A2 from the thru, A1 / A2 from the reflect, the root from the reflect's estimate
    t11, t12, t21, t22 = lines[0]
    det_t = t11 * t22 - t12 * t21
    denom = 1 - CA1 * t11 - CA2 * t22 + CA1 * CA2 * det_t
    a1a2 = -(B1 * B2 - B1 * t22 - B2 * t11 + det_t) / denom
    r11, r22 = reflect
    ratio = (r11 - B1) / (1 - r11 * CA1) * (1 - r22 * CA2) / (r22 - B2) * (1 + asymmetry)
    A1 = sqrt(a1a2 * ratio)
    gamma_r = (r11 - B1) / (A1 * (1 - r11 * CA1))
    if (val(gamma_r) * reflect_est.conjugate()).real < 0:
        A1, gamma_r = -A1, -gamma_r
    A2 = A1 / ratio
    A = [[A1, B1], [CA1 * A1, 1.0]]
    B = [[A2, -CA2 * A2], [-B2, 1.0]]
    q = A1 * A2 * denom / t12
    if ref_plane:
        h2 = exp(-2 * gamma * ref_plane)
        A[0][0], A[1][0], B[0][0], B[0][1] = A[0][0] * h2, A[1][0] * h2, B[0][0] * h2, B[0][1] * h2
        q, gamma_r = q * h2, gamma_r / h2
    return A, B, q, gamma, gamma_r


def mismatched(A, B, q, gamma, D, delta):
    """What a line of length D whose impedance is off the reference by the
    relative delta reads through the error boxes (A, B, q)."""
    g = (delta / (2 + delta))
    e = exp(-gamma * D)
    d = 1 - g * g * e * e
    s11 = g * (1 - e * e) / d
    s21 = e * (1 - g * g) / d
    T = s2t([s11, s21, s21, s11])
    M = mul(A, mul(T, B))
    return t2s([[x / q for x in row] for row in M])


def correct(A, B, q, Sm):
    t = mul(inv(A), mul(s2t(Sm), inv(B)))
    return t2s([[q * x for x in row] for row in t])


def unterminate(s, gf, gr):
    """A switching analyser's raw two-port reading S11 S12 S21 S22 corrected
    for its switch terms gf = a2/b2 (port 1 driving), gr = a1/b1 (Marks 1997)."""
    s11, s12, s21, s22 = s
    d = 1 - s12 * s21 * gf * gr
    return [(s11 - s12 * s21 * gf) / d, (s12 - s11 * s12 * gr) / d, (s21 - s22 * s21 * gf) / d,
            (s22 - s12 * s21 * gr) / d]


def point(z, k, g_est):
    count = len(z["lengths"])
    u = {name: float(z[name]) for name in ("u_length", "u_eps", "u_impedance", "u_asymmetry")}
    switch = tuple(complex(x) for x in z["switch"][k]) if "switch" in z else None

    def read(name, index, entry):
        return uncertain(z[name][index][k][entry] if index is not None else z[name][k][entry],
                         (z[f"C_{name}"][index][k] if index is not None else z[f"C_{name}"][k])[entry])

    def used(s):
        return unterminate(s, *switch) if switch else s

    lines = [used([read("L", i, j) for j in range(4)]) for i in range(count)]
    # the reflect: its S11 and S22 read, its (near zero) transmissions taken as they are
    r = z["R"][k]
    reflect = used([uncertain(r[0], z["C_R"][k][0]), complex(r[1]), complex(r[2]), uncertain(r[3], z["C_R"][k][1])])
    reflect = [reflect[0], reflect[3]]
    # each length: its own uncertainty, and its line's permittivity as an electrical length
    absolute = []
    for i, length in enumerate(z["lengths"]):
        x = ufloat(float(length), u["u_length"]) if u["u_length"] else float(length)
        if u["u_eps"] and length:
            x = x * umath.sqrt(1 + ufloat(0.0, u["u_eps"]))
        absolute.append(x)
    beyond = [0.0] + [x - absolute[0] for x in absolute[1:]]
    estimate = float(z["reflect_estimate"]) * cmath.exp(-2 * g_est * float(z["reflect_offset"]))
    ref_plane = float(z["ref_plane"])
    asymmetry = circular(u["u_asymmetry"]) if u["u_asymmetry"] else 0.0
    if u["u_impedance"]:
        # each line's impedance mismatch moves its (switch-corrected) reading, through the solved boxes
        plain = [used([complex(x) for x in z["L"][i][k]]) for i in range(count)]
        plain_reflect = used([complex(x) for x in r])
        lv = [0.0] + [float(x - z["lengths"][0]) for x in z["lengths"][1:]]
        A0, B0, q0, g0, _ = calibrate(plain, lv, [plain_reflect[0], plain_reflect[3]], g_est, estimate, ref_plane)
        for i in range(1, count):
            D = float(z["lengths"][i] - z["lengths"][0]) - 2 * ref_plane
            moved = mismatched(A0, B0, q0, g0, D, ufloat(0.0, u["u_impedance"]))
            still = mismatched(A0, B0, q0, g0, D, 0.0)
            lines[i] = [x + (y - s) for x, y, s in zip(lines[i], moved, still)]
    A, B, q, gamma, _ = calibrate(lines, beyond, reflect, g_est, estimate, ref_plane, asymmetry)
    # the device: its reading, then its cables and drift, then its connections
    Sm = [read("Sm", None, j) for j in range(4)]
    directivity = (val(A[0][1]), -val(B[1][0]))
    for name in ("cable", "drift"):
        ports = z[name]
        if not ports.any():
            continue
        c = [LN10_20 * ufloat(0.0, float(mag)) + 1j * ufloat(0.0, float(ph)) for mag, ph in ports]
        Sm = [directivity[0] + (Sm[0] - directivity[0]) * (1 + c[0]) ** 2, Sm[1] * (1 + c[0]) * (1 + c[1]),
              Sm[2] * (1 + c[0]) * (1 + c[1]), directivity[1] + (Sm[3] - directivity[1]) * (1 + c[1]) ** 2]
    S = correct(A, B, q, used(Sm))
    u1, u2 = (float(x) for x in z["connector"])
    if u1:
        S[0] = S[0] + circular(u1)
    if u2:
        S[3] = S[3] + circular(u2)
    return np.array([val(s) for s in S]), np.array(get_covariance(S)), val(gamma)


def main(source, target):
    use_linprop()
    with np.load(source) as f:
        z = {k: f[k] for k in f.files}
    values, covs = [], []
    start = time.perf_counter()
    er = complex(z["er_est"])
    known = None                       # the last solved point: (f, gamma)
    for k, fk in enumerate(z["f"]):
        # the estimate follows the band: er_est first, then the last point's gamma, its phase scaled
        g_est = (complex(known[1].real, known[1].imag * fk / known[0]) if known
                 else 2j * math.pi * fk / C0 * cmath.sqrt(er))
        v, c, g = point(z, k, g_est)
        if cmath.isfinite(g):
            known = (float(fk), g)
        values.append(v)
        covs.append(c)
    elapsed = time.perf_counter() - start
    np.savez(target, s=np.array(values), cov=np.array(covs), seconds=elapsed)


if __name__ == "__main__":
    main(*sys.argv[1:3])
