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
//
// The solver runs over any scalar S: plain complex values, or ad::Dual for
// the derivatives of the result to the measurements and the lengths. Its
// choices (common line, roots, rows) are taken on values. The Gauss-Markov
// weights are functions of the data through the propagation constant and
// are differentiated too, so the derivatives are exact where the directions
// are real (a complex measurement as its real and imaginary parts).
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <vector>

#include "dual.hpp"

namespace orvane::trl {

using ad::cplx;
using ad::value;
template <class S> using M2 = std::array<std::array<S, 2>, 2>;
constexpr double kPi = 3.14159265358979323846;
// Up to this many lines, the thru included.
constexpr int kMaxLines = 32;

template <class S>
M2<S> s2t(const S* s) {  // s: S11 S12 S21 S22
    const S det = s[0] * s[3] - s[1] * s[2];
    return {{{-det / s[2], s[0] / s[2]}, {-s[3] / s[2], 1.0 / s[2]}}};
}

template <class S>
M2<S> s2t_swapped(const S* s) {  // the same two-port seen from port 2
    const S swapped[4] = {s[3], s[2], s[1], s[0]};
    return s2t(swapped);
}

template <class S>
M2<S> mul(const M2<S>& x, const M2<S>& y) {
    M2<S> r;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) r[i][j] = x[i][0] * y[0][j] + x[i][1] * y[1][j];
    return r;
}

template <class S>
M2<S> inverse(const M2<S>& x) {
    const S det = x[0][0] * x[1][1] - x[0][1] * x[1][0];
    return {{{x[1][1] / det, -x[0][1] / det}, {-x[1][0] / det, x[0][0] / det}}};
}

template <class S>
std::array<S, 2> eigenvalues(const M2<S>& m) {
    const S half = 0.5 * (m[0][0] + m[1][1]);
    const S root = ad::sqrt(half * half - (m[0][0] * m[1][1] - m[0][1] * m[1][0]));
    return {half + root, half - root};
}

// |ln(x / y)|, the phase difference wrapped into (-pi, pi].
inline double log_distance(cplx x, cplx y) {
    const cplx d = ad::log(x / y);
    return std::sqrt(std::norm(d));
}

// x / y of the eigenvector (x, y) of eigenvalue `lambda`, from the row
// whose coefficient is larger.
template <class S>
S x_over_y(const M2<S>& m, const S& lambda) {
    const S d0 = lambda - m[0][0];
    return std::norm(value(d0)) >= std::norm(value(m[1][0])) ? m[0][1] / d0 : (lambda - m[1][1]) / m[1][0];
}

// y / x of the same.
template <class S>
S y_over_x(const M2<S>& m, const S& lambda) {
    const S d1 = lambda - m[1][1];
    return std::norm(value(d1)) >= std::norm(value(m[0][1])) ? m[1][0] / d1 : (lambda - m[0][0]) / m[0][1];
}

// The Gauss-Markov weights conj(V^-1 1) / 1^T V^-1 1 for Hermitian positive
// definite V (n x n, row major, overwritten): sum_i w_i x_i estimates a
// constant observed as x_i with covariance V. Returns 1 / its variance.
template <class S>
double gauss_markov_weights(S* V, int n, S* w) {
    for (int i = 0; i < n; ++i) w[i] = S(1.0);
    // Gaussian elimination with partial pivoting: V w = 1
    for (int k = 0; k < n; ++k) {
        int p = k;
        for (int i = k + 1; i < n; ++i)
            if (std::norm(value(V[i * n + k])) > std::norm(value(V[p * n + k]))) p = i;
        if (p != k) {
            for (int j = 0; j < n; ++j) std::swap(V[k * n + j], V[p * n + j]);
            std::swap(w[k], w[p]);
        }
        for (int i = k + 1; i < n; ++i) {
            const S factor = V[i * n + k] / V[k * n + k];
            for (int j = k; j < n; ++j) V[i * n + j] -= factor * V[k * n + j];
            w[i] -= factor * w[k];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        for (int j = k + 1; j < n; ++j) w[k] -= V[k * n + j] * w[j];
        w[k] /= V[k * n + k];
    }
    S den(0.0);
    for (int i = 0; i < n; ++i) w[i] = ad::conj(w[i]), den += w[i];
    for (int i = 0; i < n; ++i) w[i] /= den;
    return value(den).real();
}

template <class S>
S combine(const S* w, const S* x, int n) {
    S sum = w[0] * x[0];
    for (int i = 1; i < n; ++i) sum += w[i] * x[i];
    return sum;
}

// One point's inputs: the lines' measured S-parameters (index 0 the thru),
// each S11 S12 S21 S22, the reflect's, and each line's length beyond the
// thru (0 for the thru itself).
template <class S>
struct Point {
    std::vector<std::array<S, 4>> line;
    std::array<S, 4> reflect;
    std::vector<S> length;
    explicit Point(int n) : line(n), length(n) {}
};

// Buffers for one point, sized once for the number of lines and reused, so
// that a point costs no allocation and no clearing of unused space.
template <class S>
struct Workspace {
    explicit Workspace(int n)
        : T1(n), T2(n), P1(n), P2(n), b1(n), a1(n), b2(n), a2(n), Vb(size_t(n) * n), Vc(size_t(n) * n), w(n) {}
    std::vector<M2<S>> T1, T2, P1, P2;
    std::vector<S> b1, a1, b2, a2, Vb, Vc, w;
};

template <class S>
struct Solution {
    M2<S> A, B;    // the eight-term adapters: [[-de, e00], [-e11, 1]], [[-de', e22], [-e33, 1]]
    S q;           // e10 e32
    S gamma;       // the lines' propagation constant (1/m)
    S reflect;     // the reflect's value at the reference planes
    double condition;
    int common;
};

// The common line: the one whose worst pair is best, each pair scored by its
// effective phase asin(|sinh(g D)|) (at most 90 degrees), as the published
// method chooses it. Scores equal to rounding are ties, settled the same
// way every time (the first line), so that the choice does not flicker
// between lines that serve equally well.
template <class S>
int common_line(const std::vector<S>& l, int n, cplx g_est) {
    cplx e[kMaxLines];
    for (int i = 0; i < n; ++i) e[i] = std::exp(-g_est * value(l[i]));
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

// One point. g_est estimates the propagation constant; reflect_est is the
// reflect's expected value at the reference planes (only its quadrant
// matters); asymmetry scales the reflect's port-2 value against its port-1
// value (0 for the symmetric reflect the method assumes).
template <class S>
Solution<S> solve_point(const Point<S>& in, int n, cplx g_est, cplx reflect_est, double ref_plane, Workspace<S>& ws,
                        const S& asymmetry = S(0.0)) {
    Solution<S> out{};
    const auto& l = in.length;
    const int c = common_line(l, n, g_est);
    out.common = c;
    auto &T1 = ws.T1, &T2 = ws.T2, &P1 = ws.P1, &P2 = ws.P2;
    for (int i = 0; i < n; ++i) T1[i] = s2t(in.line[i].data()), T2[i] = s2t_swapped(in.line[i].data());
    const M2<S> inv1 = inverse(T1[c]), inv2 = inverse(T2[c]);

    // the propagation constant: each pair's g D from its eigenvalues, the
    // root and the period that follow the estimate, then Gauss-Markov with
    // V = I + 1 1^T (the common line in every pair)
    int others[kMaxLines], m = 0;
    for (int i = 0; i < n; ++i)
        if (i != c) others[m++] = i;
    S s_d(0.0), s_dd(0.0), s_g(0.0), s_dg(0.0);
    for (int k = 0; k < m; ++k) {
        const int i = others[k];
        const S D = l[i] - l[c];
        P1[k] = mul(T1[i], inv1), P2[k] = mul(T2[i], inv2);
        const auto e = eigenvalues(P1[k]);
        const cplx target = g_est * value(D);
        S best(0.0);
        double distance = INFINITY;
        for (int r = 0; r < 2; ++r) {
            S g = -ad::log(0.5 * (e[r] + 1.0 / e[1 - r]));
            g += cplx(0, 2 * kPi * std::round((target.imag() - value(g).imag()) / (2 * kPi)));
            if (std::abs(value(g) - target) < distance) distance = std::abs(value(g) - target), best = g;
        }
        s_d += D, s_dd += D * D, s_g += best, s_dg += D * best;
    }
    const double inv_n = 1.0 / n;
    out.gamma = (s_dg - inv_n * s_d * s_g) / (s_dd - inv_n * s_d * s_d);
    const S g = out.gamma;

    // each pair's four ratios, the eigenvalues told apart by the combined g
    std::array<S, kMaxLines> e;  // e^{-g l_i}
    for (int i = 0; i < n; ++i) e[i] = ad::exp(-g * l[i]);
    S *b1 = ws.b1.data(), *a1 = ws.a1.data(), *b2 = ws.b2.data(), *a2 = ws.a2.data();
    for (int k = 0; k < m; ++k) {
        const cplx down = value(e[others[k]]) / value(e[c]), up = 1.0 / down;
        for (int port = 0; port < 2; ++port) {
            const M2<S>& P = port == 0 ? P1[k] : P2[k];
            auto ev = eigenvalues(P);
            if (log_distance(value(ev[0]), down) + log_distance(value(ev[1]), up) >
                log_distance(value(ev[1]), down) + log_distance(value(ev[0]), up))
                std::swap(ev[0], ev[1]);
            (port == 0 ? b1 : b2)[k] = x_over_y(P, ev[1]);
            (port == 0 ? a1 : a2)[k] = y_over_x(P, ev[0]);
        }
    }

    // their covariances (up to a common factor): Vb for B, Vc for C/A; with
    // the propagation constant, they vary with the data, and so the weights
    S *Vb = ws.Vb.data(), *Vc = ws.Vc.data(), *w = ws.w.data();
    const S lc2 = ad::norm(e[c]);
    for (int x = 0; x < m; ++x) {
        const S lx = e[others[x]], ex = lx / e[c];
        const S sx = ex - 1.0 / ex;
        for (int y = x; y < m; ++y) {
            const S ly = e[others[y]], ey = ly / e[c];
            const S norm = sx * ad::conj(ey - 1.0 / ey);
            S vb, vc;
            if (x == y) {
                const S e2 = ad::norm(ex);
                vb = (e2 + 1.0 / e2 + 2.0 * ad::norm(lx) * lc2) / norm;
                vc = (e2 + 1.0 / e2 + 2.0 / (ad::norm(lx) * lc2)) / norm;
            } else {
                vb = (ex * ad::conj(ey) + lc2 * lx * ad::conj(ly)) / norm;
                vc = (1.0 / (ex * ad::conj(ey)) + 1.0 / (lc2 * lx * ad::conj(ly))) / norm;
            }
            Vb[x * m + y] = vb, Vb[y * m + x] = ad::conj(vb);
            Vc[x * m + y] = vc, Vc[y * m + x] = ad::conj(vc);
        }
    }
    const double info_b = gauss_markov_weights(Vb, m, w);
    const S bb1 = combine(w, b1, m), bb2 = combine(w, b2, m);
    const double info_c = gauss_markov_weights(Vc, m, w);
    const S ca1 = combine(w, a1, m), ca2 = combine(w, a2, m);
    out.condition = 2 / (std::sqrt(1 / info_b) + std::sqrt(1 / info_c));

    // A1 A2 from the thru, A1 / A2 from the reflect
    const auto& t = in.line[0];
    const S det_t = t[0] * t[3] - t[1] * t[2];
    const S denom = 1.0 - ca1 * t[0] - ca2 * t[3] + ca1 * ca2 * det_t;
    const S a1a2 = -(bb1 * bb2 - bb1 * t[3] - bb2 * t[0] + det_t) / denom;
    const S r11 = in.reflect[0], r22 = in.reflect[3];
    const S ratio = (r11 - bb1) / (1.0 - r11 * ca1) * (1.0 - r22 * ca2) / (r22 - bb2) * (1.0 + asymmetry);
    S A1 = ad::sqrt(a1a2 * ratio);
    S reflect = (r11 - bb1) / (A1 * (1.0 - r11 * ca1));
    if (std::real(value(reflect) * std::conj(reflect_est)) < 0) A1 = -A1, reflect = -reflect;
    const S A2 = A1 / ratio, C1 = ca1 * A1, C2 = ca2 * A2;

    // the eight-term form: A = [[A1, B1], [C1, 1]], B = [[A2, -C2], [-B2, 1]],
    // and e10 e32 with the transmission terms the thru gives
    out.A = {{{A1, bb1}, {C1, S(1.0)}}};
    out.B = {{{A2, -C2}, {-bb2, S(1.0)}}};
    out.q = A1 * A2 * denom / t[1];
    out.reflect = reflect;
    if (ref_plane != 0) {  // planes moved by ref_plane (negative: towards the analyser)
        const S h2 = ad::exp(-2.0 * g * ref_plane);
        out.A[0][0] *= h2, out.A[1][0] *= h2, out.B[0][0] *= h2, out.B[0][1] *= h2;
        out.q *= h2;
        out.reflect /= h2;
    }
    return out;
}

}  // namespace orvane::trl
