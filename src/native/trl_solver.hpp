// Multiline TRL at one frequency point, in the e^{jwt} convention: Marks'
// multiline method as "Multiline TRL revealed" (DeGroot, Jargon, Marks 2002)
// lays it out.
//
// With T-parameters T = (1/S21) [[-det S, S11], [-S22, 1]], the measurement
// of line i is M_i = X L_i Y, L_i = diag(e^{-g l_i}, e^{g l_i}) with l_i the
// length beyond the thru (the reference planes at the thru's centre), X the
// port-1 error box and Y the port-2 box. For a pair (i, c):
//   M_i M_c^-1 = X diag(e^{-g D}, e^{g D}) X^-1,  D = l_i - l_c,
// so X's columns are its eigenvectors: (e00, 1) for e^{g D} gives the
// directivity B = e00, (-de, -e11) for e^{-g D} the ratio C/A = e11/de
// (de = e00 e11 - e10 e01). The same pair with both ports swapped gives
// port 2's B = e33 and C/A = e22/de'. Every line is paired with one common
// line; g and each of the four ratios are the Gauss-Markov combinations of
// the pairs' estimates, with the covariances of the method (the common
// line's noise shared by all pairs). The thru gives A1 A2, the reflect
// (the same on both ports) A1 / A2, and the reflect's estimate the root.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

namespace orvane::trl {

using cplx = std::complex<double>;
using M2 = std::array<std::array<cplx, 2>, 2>;
constexpr double kPi = 3.14159265358979323846;
// Up to this many lines, the thru included.
constexpr int kMaxLines = 32;

inline M2 s2t(const cplx* s) {  // s: S11 S12 S21 S22
    const cplx det = s[0] * s[3] - s[1] * s[2];
    return {{{-det / s[2], s[0] / s[2]}, {-s[3] / s[2], 1.0 / s[2]}}};
}

inline M2 s2t_swapped(const cplx* s) {  // the same two-port seen from port 2
    const cplx swapped[4] = {s[3], s[2], s[1], s[0]};
    return s2t(swapped);
}

inline M2 mul(const M2& x, const M2& y) {
    M2 r;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) r[i][j] = x[i][0] * y[0][j] + x[i][1] * y[1][j];
    return r;
}

inline M2 inverse(const M2& x) {
    const cplx det = x[0][0] * x[1][1] - x[0][1] * x[1][0];
    return {{{x[1][1] / det, -x[0][1] / det}, {-x[1][0] / det, x[0][0] / det}}};
}

inline std::array<cplx, 2> eigenvalues(const M2& m) {
    const cplx half = 0.5 * (m[0][0] + m[1][1]);
    const cplx root = std::sqrt(half * half - (m[0][0] * m[1][1] - m[0][1] * m[1][0]));
    return {half + root, half - root};
}

// ln z from ln |z|^2 and the angle: the complex log of the C library is far
// slower for |z| near 1, where every ratio of ours lies.
inline cplx log(cplx z) { return {0.5 * std::log(std::norm(z)), std::arg(z)}; }

// |ln(x / y)|, the phase difference wrapped into (-pi, pi].
inline double log_distance(cplx x, cplx y) {
    const cplx d = log(x / y);
    return std::sqrt(std::norm(d));
}

// x / y of the eigenvector (x, y) of eigenvalue `lambda`, from the row
// whose coefficient is larger.
inline cplx x_over_y(const M2& m, cplx lambda) {
    const cplx d0 = lambda - m[0][0];
    return std::norm(d0) >= std::norm(m[1][0]) ? m[0][1] / d0 : (lambda - m[1][1]) / m[1][0];
}

// y / x of the same.
inline cplx y_over_x(const M2& m, cplx lambda) {
    const cplx d1 = lambda - m[1][1];
    return std::norm(d1) >= std::norm(m[0][1]) ? m[1][0] / d1 : (lambda - m[0][0]) / m[0][1];
}

// 1^T V^-1 x / 1^T V^-1 1 for Hermitian positive definite V (n x n, row
// major, overwritten): the Gauss-Markov estimate of a constant observed as
// x_i with covariance V, here for two such observations x and y (both
// ports) at once. Returns both estimates and 1 / their variance.
struct Combined {
    cplx value, second;
    double information;
};

inline Combined gauss_markov(cplx* V, int n, const cplx* x, const cplx* y) {
    cplx w[kMaxLines];
    for (int i = 0; i < n; ++i) w[i] = 1.0;
    // Gaussian elimination with partial pivoting: V w = 1
    for (int k = 0; k < n; ++k) {
        int p = k;
        for (int i = k + 1; i < n; ++i)
            if (std::norm(V[i * n + k]) > std::norm(V[p * n + k])) p = i;
        if (p != k) {
            for (int j = 0; j < n; ++j) std::swap(V[k * n + j], V[p * n + j]);
            std::swap(w[k], w[p]);
        }
        for (int i = k + 1; i < n; ++i) {
            const cplx factor = V[i * n + k] / V[k * n + k];
            for (int j = k; j < n; ++j) V[i * n + j] -= factor * V[k * n + j];
            w[i] -= factor * w[k];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        for (int j = k + 1; j < n; ++j) w[k] -= V[k * n + j] * w[j];
        w[k] /= V[k * n + k];
    }
    cplx nx = 0, ny = 0, den = 0;
    for (int i = 0; i < n; ++i) {
        const cplx weight = std::conj(w[i]);
        nx += weight * x[i], ny += weight * y[i], den += weight;
    }
    return {nx / den, ny / den, den.real()};
}

struct Point {
    // inputs: the lines' measured S-parameters (index 0 the thru) and the
    // reflect's, each S11 S12 S21 S22
    const cplx* line[kMaxLines];
    const cplx* reflect;
};

// Buffers for one point, sized once for the number of lines and reused, so
// that a point costs no allocation and no clearing of unused space.
struct Workspace {
    explicit Workspace(int n)
        : T1(n), T2(n), P1(n), P2(n), b1(n), a1(n), b2(n), a2(n), Vb(size_t(n) * n), Vc(size_t(n) * n) {}
    std::vector<M2> T1, T2, P1, P2;
    std::vector<cplx> b1, a1, b2, a2, Vb, Vc;
};

struct Solution {
    M2 A, B;       // the eight-term adapters: [[-de, e00], [-e11, 1]], [[-de', e22], [-e33, 1]]
    cplx q;        // e10 e32
    cplx gamma;    // the lines' propagation constant (1/m)
    cplx reflect;  // the reflect's value at the reference planes
    double condition;
    int common;
};

// The common line: the one whose worst pair is best, each pair scored by its
// effective phase asin(|sinh(g D)|) (at most 90 degrees), as the published
// method chooses it. Scores equal to rounding are ties, settled the same
// way every time (the first line), so that the choice does not flicker
// between lines that serve equally well.
inline int common_line(const double* l, int n, cplx g_est) {
    cplx e[kMaxLines];
    for (int i = 0; i < n; ++i) e[i] = std::exp(-g_est * l[i]);
    double score[kMaxLines], top = 0;
    for (int c = 0; c < n; ++c) {
        score[c] = kPi / 2;
        for (int i = 0; i < n; ++i) {
            if (i == c) continue;
            const cplx pair = e[i] / e[c];
            const double pd = std::abs(pair - 1.0 / pair) / 2;
            score[c] = std::min(score[c], pd < 1 ? std::asin(pd) : kPi / 2);
        }
        top = std::max(top, score[c]);
    }
    int c = 0;
    while (c < n - 1 && !(score[c] >= top * (1 - 1e-9))) ++c;
    return c;
}

// One point. l: lengths beyond the thru (l[0] = 0); g_est estimates the
// propagation constant; reflect_est is the reflect's expected value at the
// reference planes (only its quadrant matters).
inline Solution solve_point(const Point& in, const double* l, int n, cplx g_est, cplx reflect_est, double ref_plane,
                            Workspace& ws) {
    Solution out{};
    const int c = common_line(l, n, g_est);
    out.common = c;
    std::vector<M2>&T1 = ws.T1, &T2 = ws.T2, &P1 = ws.P1, &P2 = ws.P2;
    for (int i = 0; i < n; ++i) T1[i] = s2t(in.line[i]), T2[i] = s2t_swapped(in.line[i]);
    const M2 inv1 = inverse(T1[c]), inv2 = inverse(T2[c]);

    // the propagation constant: each pair's g D from its eigenvalues, the
    // root and the period that follow the estimate, then Gauss-Markov with
    // V = I + 1 1^T (the common line in every pair)
    int others[kMaxLines], m = 0;
    for (int i = 0; i < n; ++i)
        if (i != c) others[m++] = i;
    double s_d = 0, s_dd = 0;
    cplx s_g = 0, s_dg = 0;
    for (int k = 0; k < m; ++k) {
        const int i = others[k];
        const double D = l[i] - l[c];
        P1[k] = mul(T1[i], inv1), P2[k] = mul(T2[i], inv2);
        const auto e = eigenvalues(P1[k]);
        const cplx target = g_est * D;
        cplx best = 0;
        double distance = INFINITY;
        for (int r = 0; r < 2; ++r) {
            cplx g = -log(0.5 * (e[r] + 1.0 / e[1 - r]));
            g += cplx(0, 2 * kPi * std::round((target.imag() - g.imag()) / (2 * kPi)));
            if (std::abs(g - target) < distance) distance = std::abs(g - target), best = g;
        }
        s_d += D, s_dd += D * D, s_g += best, s_dg += D * best;
    }
    const double inv_n = 1.0 / n;
    out.gamma = (s_dg - inv_n * s_d * s_g) / (s_dd - inv_n * s_d * s_d);
    const cplx g = out.gamma;

    // each pair's four ratios, the eigenvalues told apart by the combined g
    cplx e[kMaxLines];  // e^{-g l_i}
    for (int i = 0; i < n; ++i) e[i] = std::exp(-g * l[i]);
    cplx *b1 = ws.b1.data(), *a1 = ws.a1.data(), *b2 = ws.b2.data(), *a2 = ws.a2.data();
    for (int k = 0; k < m; ++k) {
        const cplx down = e[others[k]] / e[c], up = 1.0 / down;
        for (int port = 0; port < 2; ++port) {
            const M2& P = port == 0 ? P1[k] : P2[k];
            auto ev = eigenvalues(P);
            if (log_distance(ev[0], down) + log_distance(ev[1], up) > log_distance(ev[1], down) + log_distance(ev[0], up))
                std::swap(ev[0], ev[1]);
            (port == 0 ? b1 : b2)[k] = x_over_y(P, ev[1]);
            (port == 0 ? a1 : a2)[k] = y_over_x(P, ev[0]);
        }
    }

    // their covariances (up to a common factor): Vb for B, Vc for C/A
    cplx *Vb = ws.Vb.data(), *Vc = ws.Vc.data();
    const double lc2 = std::norm(e[c]);
    for (int x = 0; x < m; ++x) {
        const cplx lx = e[others[x]], ex = lx / e[c];
        const cplx sx = ex - 1.0 / ex;
        for (int y = x; y < m; ++y) {
            const cplx ly = e[others[y]], ey = ly / e[c];
            const cplx norm = sx * std::conj(ey - 1.0 / ey);
            cplx vb, vc;
            if (x == y) {
                const double e2 = std::norm(ex);
                vb = (e2 + 1 / e2 + 2 * std::norm(lx) * lc2) / norm;
                vc = (e2 + 1 / e2 + 2 / (std::norm(lx) * lc2)) / norm;
            } else {
                vb = (ex * std::conj(ey) + lc2 * lx * std::conj(ly)) / norm;
                vc = (1.0 / (ex * std::conj(ey)) + 1.0 / (lc2 * lx * std::conj(ly))) / norm;
            }
            Vb[x * m + y] = vb, Vb[y * m + x] = std::conj(vb);
            Vc[x * m + y] = vc, Vc[y * m + x] = std::conj(vc);
        }
    }
    const Combined B1 = gauss_markov(Vb, m, b1, b2), CoA1 = gauss_markov(Vc, m, a1, a2);
    const double sigma = (std::sqrt(1 / B1.information) + std::sqrt(1 / CoA1.information)) / 2;
    const Combined B2{B1.second, B1.information}, CoA2{CoA1.second, CoA1.information};
    out.condition = 1 / sigma;

    // A1 A2 from the thru, A1 / A2 from the reflect
    const cplx* t = in.line[0];
    const cplx det_t = t[0] * t[3] - t[1] * t[2];
    const cplx ca1 = CoA1.value, ca2 = CoA2.value, bb1 = B1.value, bb2 = B2.value;
    const cplx denom = 1.0 - ca1 * t[0] - ca2 * t[3] + ca1 * ca2 * det_t;
    const cplx a1a2 = -(bb1 * bb2 - bb1 * t[3] - bb2 * t[0] + det_t) / denom;
    const cplx r11 = in.reflect[0], r22 = in.reflect[3];
    const cplx ratio = (r11 - bb1) / (1.0 - r11 * ca1) * (1.0 - r22 * ca2) / (r22 - bb2);
    cplx A1 = std::sqrt(a1a2 * ratio);
    cplx reflect = (r11 - bb1) / (A1 * (1.0 - r11 * ca1));
    if (std::real(reflect * std::conj(reflect_est)) < 0) A1 = -A1, reflect = -reflect;
    const cplx A2 = A1 / ratio, C1 = ca1 * A1, C2 = ca2 * A2;

    // the eight-term form: A = [[A1, B1], [C1, 1]], B = [[A2, -C2], [-B2, 1]],
    // and e10 e32 with the transmission terms the thru gives
    out.A = {{{A1, bb1}, {C1, 1.0}}};
    out.B = {{{A2, -C2}, {-bb2, 1.0}}};
    out.q = A1 * A2 * denom / t[1];
    out.reflect = reflect;
    if (ref_plane != 0) {  // planes moved by ref_plane (negative: towards the analyser)
        const cplx h2 = std::exp(-2.0 * g * ref_plane);
        out.A[0][0] *= h2, out.A[1][0] *= h2, out.B[0][0] *= h2, out.B[0][1] *= h2;
        out.q *= h2;
        out.reflect /= h2;
    }
    return out;
}

}  // namespace orvane::trl
