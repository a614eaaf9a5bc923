// LRM, TRM and LRRM at one frequency point, in the e^{jwt} convention.
//
// Port 1's error box acts on a reflection as the Moebius map of its
// eight-term adapter A = [[-de, e00], [-e11, 1]]: a standard of reflection G
// reads A(G) = (e00 - de G) / (1 - e11 G). In homogeneous coordinates
// (a reflection G as the vector [G; 1], equal up to scale) a reading is
// A [G; 1]. The measured thru's T-parameters M = A L B / q (L the thru's own)
// carry port 2's box over to port 1: the same standard on port 2, read as
// r2, satisfies
//     A L [1; G] ~ M [1; r2],
// so that with Lambda = L P (P swaps the two coordinates) the map
//     Q = A Lambda A^-1
// takes every standard's port-1 point p = [r1; 1] to its port-2 point
// q = M [1; r2]. For a symmetric thru (S11 = S22) Lambda is an involution
// (trace zero), and so is Q: two standards measured on both ports fix it,
// linearly (Q p ~ q is one linear equation in Q = [[a, b], [c, -a]]).
//
// A then maps Lambda's fixed points to Q's fixed points: A = V diag(alpha,
// beta) E^-1, E and V their fixed points as columns, in one of two pairings
// (the root choice of every self-calibration; decided by what the unknown
// reflects are like). One standard of known reflection at port 1 fixes
// alpha / beta: the match. What is left follows: each unknown reflect is
// A^-1 of its reading, port 2's adapter B = q L^-1 A^-1 M with B22 = 1.
//
// LRM and TRM: the match and one reflect on both ports fix Q; LRRM: the
// short and the open. In LRRM the match (port 1 only) is a resistance in
// series with an inductance behind an optional offset: its reflection is a
// Moebius map of x = w L, and then so is each reflect's value, G_X(x) =
// H_X (x), with H_X = E diag(d2 y1, d1 y2) E^-1 G (d = V^-1 [m1; 1],
// y = V^-1 [r1_X; 1], [N_M; D_M] = G [x; 1]). The inductance is the one value
// over the band that makes the lossless reflect(s) lossless at their own
// planes: |G_X(w L)| = g, in least squares.
//
// Everything runs over any scalar S (plain complex values, or ad::Dual for
// the derivatives to the readings and the parameters); decisions (which
// eigenvector form, which pairing) are taken on values.
#pragma once

#include <array>
#include <cmath>
#include <complex>

#include "dual.hpp"
#include "trl_solver.hpp"

namespace orvane::lrm {

using ad::cplx;
using ad::value;
template <class S> using M2 = trl::M2<S>;
template <class S> using V2 = std::array<S, 2>;

// T-parameters (1/S21) [[-det S, S11], [-S22, 1]] and 2x2 inverses with one
// reciprocal each: a division costs several products.
template <class S>
M2<S> t_parameters(const std::array<S, 4>& s) {
    const S r = 1.0 / s[2];
    const S det = s[0] * s[3] - s[1] * s[2];
    return {{{-det * r, s[0] * r}, {-s[3] * r, r}}};
}

template <class S>
M2<S> inverse(const M2<S>& x) {
    const S r = 1.0 / (x[0][0] * x[1][1] - x[0][1] * x[1][0]);
    return {{{x[1][1] * r, -x[0][1] * r}, {-x[1][0] * r, x[0][0] * r}}};
}

template <class S>
void scale_by(M2<S>& m, const S& factor) {
    for (auto& row : m)
        for (auto& x : row) x = x * factor;
}

template <class S>
V2<S> act(const M2<S>& m, const V2<S>& v) {
    return {m[0][0] * v[0] + m[0][1] * v[1], m[1][0] * v[0] + m[1][1] * v[1]};
}

template <class S>
S point_value(const V2<S>& v) { return v[0] / v[1]; }

template <class S>
M2<S> columns(const V2<S>& x, const V2<S>& y) { return {{{x[0], y[0]}, {x[1], y[1]}}}; }

template <class S>
M2<S> adjugate(const M2<S>& m) { return {{{m[1][1], -m[0][1]}, {-m[1][0], m[0][0]}}}; }

inline double weight(cplx x) { return std::norm(x); }

// The principal square root, from real roots (several times faster than the
// library's, which guards against overflow our values never come near); for
// duals the same value with its derivative.
inline cplx root(cplx z) {
    const double x = z.real(), y = z.imag();
    const double big = std::sqrt(0.5 * (std::sqrt(x * x + y * y) + std::abs(x)));
    if (big == 0) return 0.0;
    const double small = 0.5 * y / big;
    return x >= 0 ? cplx(big, small) : cplx(std::abs(small), std::copysign(big, y));
}
template <int N>
ad::Dual<N> root(const ad::Dual<N>& z) {
    const cplx r = root(z.v);
    return ad::chain(z, r, 0.5 / r);
}
template <class S>
double weight(const V2<S>& v) { return std::norm(value(v[0])) + std::norm(value(v[1])); }

// The fixed points of the involution [[a, b], [c, -a]]: its eigenvectors for
// +s and -s, s^2 = a^2 + b c, each from the row that gives the larger vector.
template <class S>
std::array<V2<S>, 2> fixed_points(const S& a, const S& b, const S& c, const S& s) {
    const V2<S> p1{b, s - a}, p2{s + a, c};
    const V2<S> m1{b, -(s + a)}, m2{s - a, -c};
    return {weight(p1) >= weight(p2) ? p1 : p2, weight(m1) >= weight(m2) ? m1 : m2};
}

template <class S>
std::array<V2<S>, 2> fixed_points(const S& a, const S& b, const S& c) {
    return fixed_points(a, b, c, root(a * a + b * c));
}

// One standard measured on both ports: its port-1 point and its port-2 point
// carried over by the measured thru.
template <class S>
struct Pair {
    V2<S> p, q;
};

template <class S>
Pair<S> standard_pair(const M2<S>& M, const S& r1, const S& r2) {
    return {{r1, S(1.0)}, {M[0][0] + M[0][1] * r2, M[1][0] + M[1][1] * r2}};
}

// What the thru and two standards on both ports fix: the thru's own and
// measured T-parameters, Lambda's fixed points (columns of E) and Q's.
template <class S>
struct Geometry {
    M2<S> M, L, E, E_inv;
    std::array<V2<S>, 2> v;
};

// thru, standard: the measured thru and its own S-parameters, S11 S12 S21
// S22 (the standard symmetric); x1, x2 and y1, y2: two standards' readings
// on port 1 and port 2.
template <class S>
Geometry<S> geometry(const std::array<S, 4>& thru, const std::array<S, 4>& standard, const S& x1, const S& x2,
                     const S& y1, const S& y2) {
    Geometry<S> g;
    g.M = t_parameters(thru);
    g.L = t_parameters(standard);
    // Lambda = L P = [[L01, L00], [L11, L10]], L10 = -L01 for a symmetric thru; s^2 = det L = S12 / S21,
    // 1 for a reciprocal one
    const auto e = value(standard[1]) == value(standard[2])
                       ? fixed_points(g.L[0][1], g.L[0][0], g.L[1][1], S(1.0))
                       : fixed_points(g.L[0][1], g.L[0][0], g.L[1][1]);
    g.E = columns(e[0], e[1]);
    g.E_inv = inverse(g.E);
    // Q p ~ q: (p0 q1 + p1 q0) a + p1 q1 b - p0 q0 c = 0 for each standard
    const auto row = [](const Pair<S>& x) {
        return std::array<S, 3>{x.p[0] * x.q[1] + x.p[1] * x.q[0], x.p[1] * x.q[1], -(x.p[0] * x.q[0])};
    };
    const auto r = row(standard_pair(g.M, x1, x2)), t = row(standard_pair(g.M, y1, y2));
    const S a = r[1] * t[2] - r[2] * t[1], b = r[2] * t[0] - r[0] * t[2], c = r[0] * t[1] - r[1] * t[0];
    g.v = fixed_points(a, b, c);
    return g;
}

// Q's fixed points as columns, in pairing 0 or 1.
template <class S>
M2<S> pairing_columns(const Geometry<S>& g, int pairing) {
    return pairing == 0 ? columns(g.v[0], g.v[1]) : columns(g.v[1], g.v[0]);
}

// Port 1's adapter A (A22 = 1) that reads the match u = [N_M; D_M] as w = [m1; 1].
template <class S>
M2<S> port1_adapter(const Geometry<S>& g, int pairing, const V2<S>& u, const V2<S>& w) {
    const M2<S> V = pairing_columns(g, pairing);
    const V2<S> c = act(g.E_inv, u), d = act(inverse(V), w);
    const S alpha = d[0] / c[0], beta = d[1] / c[1];
    M2<S> A = trl::mul(columns<S>({V[0][0] * alpha, V[1][0] * alpha}, {V[0][1] * beta, V[1][1] * beta}), g.E_inv);
    scale_by(A, 1.0 / A[1][1]);
    return A;
}

// Both pairings' adapters at once: they share every inverse (pairing 1
// swaps V's columns, and with them the coordinates d of the match's reading).
template <class S>
std::array<M2<S>, 2> port1_adapters(const Geometry<S>& g, const V2<S>& u, const V2<S>& w) {
    const V2<S> c = act(g.E_inv, u), d = act(inverse(columns(g.v[0], g.v[1])), w);
    std::array<M2<S>, 2> out;
    for (int p = 0; p < 2; ++p) {
        const V2<S>&first = g.v[p], &second = g.v[1 - p];
        const S alpha = d[p] / c[0], beta = d[1 - p] / c[1];
        M2<S> A = trl::mul(columns<S>({first[0] * alpha, first[1] * alpha}, {second[0] * beta, second[1] * beta}),
                           g.E_inv);
        scale_by(A, 1.0 / A[1][1]);
        out[p] = A;
    }
    return out;
}

// The reflection whose port-1 reading is r1: A^-1 (r1).
template <class S>
S corrected(const M2<S>& A, const S& r1) {
    return (A[1][1] * r1 - A[0][1]) / (A[0][0] - A[1][0] * r1);
}

template <class S>
struct Boxes {
    M2<S> A, B;  // the eight-term adapters: [[-de, e00], [-e11, 1]], [[-de', e22], [-e33, 1]]
    S q;         // e10 e32
};

// Port 2's adapter from port 1's and the thru: B = q L^-1 A^-1 M, B22 = 1.
template <class S>
Boxes<S> boxes(const Geometry<S>& g, const M2<S>& A) {
    M2<S> B = trl::mul(inverse(g.L), trl::mul(inverse(A), g.M));
    const S q = 1.0 / B[1][1];
    scale_by(B, q);
    return {A, B, q};
}

// The Moebius matrix of a symmetric two-port (S11 = S22 = s11, S21 = S12 =
// s21) acting on the reflection at its far end: [[-det, s11], [-s11, 1]].
template <class S>
M2<S> offset_map(const S& s11, const S& s21) {
    return {{{-(s11 * s11 - s21 * s21), s11}, {-s11, S(1.0)}}};
}

// [N_M; D_M] = G [x; 1]: the reflection against z0 of R + j x behind an
// offset line (its S11, S21).
template <class S>
M2<S> match_map(const S& resistance, double z0, const S& offset_s11, const S& offset_s21) {
    // [Z - z0; Z + z0] for Z = R + j x: [[j, R - z0], [j, R + z0]] [x; 1]
    const M2<S> bare{{{S(cplx(0, 1)), resistance - z0}, {S(cplx(0, 1)), resistance + z0}}};
    if (value(offset_s11) == 0.0 && value(offset_s21) == 1.0) return bare;
    return trl::mul(offset_map(offset_s11, offset_s21), bare);
}

// A reflect's value at its own plane as a Moebius map of x: H_X, taken
// through its offset (s11, s21) back to the standard itself.
template <class S>
M2<S> reflect_map(const Geometry<S>& g, int pairing, const V2<S>& w_match, const S& r1, const M2<S>& G,
                  const S& offset_s11, const S& offset_s21) {
    const M2<S> V_inv = inverse(pairing_columns(g, pairing));
    const V2<S> d = act(V_inv, w_match), y = act(V_inv, V2<S>{r1, S(1.0)});
    const M2<S> D{{{d[1] * y[0], S(0.0)}, {S(0.0), d[0] * y[1]}}};
    const M2<S> H = trl::mul(g.E, trl::mul(D, trl::mul(g.E_inv, G)));
    return trl::mul(adjugate(offset_map(offset_s11, offset_s21)), H);
}

// Both pairings' maps H_X at the reference plane (before the reflect's own
// offset): pairing 1 swaps the diagonal.
template <class S>
std::array<M2<S>, 2> reflect_maps(const Geometry<S>& g, const V2<S>& w_match, const S& r1, const M2<S>& G) {
    const M2<S> V_inv = inverse(columns(g.v[0], g.v[1]));
    const V2<S> d = act(V_inv, w_match), y = act(V_inv, V2<S>{r1, S(1.0)});
    const M2<S> K = trl::mul(g.E_inv, G);
    const M2<S> D0{{{d[1] * y[0], S(0.0)}, {S(0.0), d[0] * y[1]}}}, D1{{{d[0] * y[1], S(0.0)}, {S(0.0), d[1] * y[0]}}};
    return {trl::mul(g.E, trl::mul(D0, K)), trl::mul(g.E, trl::mul(D1, K))};
}

// The same for two reflects at once, sharing what they share.
template <class S>
std::array<std::array<M2<S>, 2>, 2> reflect_maps(const Geometry<S>& g, const V2<S>& w_match, const S& r1,
                                                 const S& t1, const M2<S>& G) {
    const M2<S> V_inv = inverse(columns(g.v[0], g.v[1]));
    const V2<S> d = act(V_inv, w_match);
    const M2<S> K = trl::mul(g.E_inv, G);
    std::array<std::array<M2<S>, 2>, 2> out;
    for (int i = 0; i < 2; ++i) {
        const V2<S> y = act(V_inv, V2<S>{i == 0 ? r1 : t1, S(1.0)});
        const S p0 = d[1] * y[0], p1 = d[0] * y[1];
        // E diag(p0, p1) K and E diag(p1, p0) K
        const M2<S> EK0{{{g.E[0][0] * p0, g.E[0][1] * p1}, {g.E[1][0] * p0, g.E[1][1] * p1}}};
        const M2<S> EK1{{{g.E[0][0] * p1, g.E[0][1] * p0}, {g.E[1][0] * p1, g.E[1][1] * p0}}};
        out[i] = {trl::mul(EK0, K), trl::mul(EK1, K)};
    }
    return out;
}

// |H (x)|^2 - g^2 and its first derivative to x (for real x); with
// `second`, the second derivative in values.
template <class S>
struct Residual {
    S r, dr;
    double ddr;
};

template <class S>
S real_part(const S& z) { return 0.5 * (z + ad::conj(z)); }

template <class S>
Residual<S> residual(const M2<S>& H, const S& x, const S& g) {
    const S &a = H[0][0], &b = H[0][1], &c = H[1][0], &d = H[1][1];
    const S aa = ad::norm(a), cc = ad::norm(c), ab = real_part(a * ad::conj(b)), cd = real_part(c * ad::conj(d));
    const S N = aa * x * x + 2.0 * ab * x + ad::norm(b), D = cc * x * x + 2.0 * cd * x + ad::norm(d);
    const S dN = 2.0 * aa * x + 2.0 * ab, dD = 2.0 * cc * x + 2.0 * cd;
    const S top = dN * D - N * dD;
    Residual<S> out{N / D - g * g, top / (D * D), 0.0};
    // (N/D)'' = (N'' D - N D'') / D^2 - 2 D' (N' D - N D') / D^3
    const cplx Dv = value(D);
    out.ddr = ((2.0 * value(aa) * Dv - value(N) * 2.0 * value(cc)) / (Dv * Dv) -
               2.0 * value(dD) * value(top) / (Dv * Dv * Dv)).real();
    return out;
}

}  // namespace orvane::lrm
