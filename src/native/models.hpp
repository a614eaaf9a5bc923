// The coaxial error models at one point, over any scalar (plain complex
// values or ad::Dual for their derivatives), in the order of operations of
// orvane_ex.hidden's own model functions, whose values they reproduce.
// Root choices take the value's branch, as the models do.
#pragma once

#include <array>
#include <cmath>
#include <utility>

#include "dual.hpp"

namespace orvane::models {

using ad::cplx;
using ad::value;

template <class S> using V3 = std::array<S, 3>;
template <class S> using V4 = std::array<S, 4>;  // S11 S12 S21 S22, or a 2x2 matrix row by row

// x = [e00, e11, delta_e] from rows [1, G_i Gm_i, -G_i] x = Gm_i: Gaussian
// elimination with the pivot the values choose.
template <class S>
V3<S> one_port(const V3<S>& G, const V3<S>& Gm) {
    S a[3][4];
    for (int i = 0; i < 3; ++i) a[i][0] = S(1.0), a[i][1] = G[i] * Gm[i], a[i][2] = -G[i], a[i][3] = Gm[i];
    for (int k = 0; k < 3; ++k) {
        int p = k;
        for (int i = k + 1; i < 3; ++i)
            if (std::abs(value(a[i][k])) > std::abs(value(a[p][k]))) p = i;
        if (p != k)
            for (int j = 0; j < 4; ++j) std::swap(a[k][j], a[p][j]);
        for (int i = k + 1; i < 3; ++i) {
            const S factor = a[i][k] / a[k][k];
            for (int j = k; j < 4; ++j) a[i][j] = a[i][j] - factor * a[k][j];
        }
    }
    V3<S> x;
    for (int k = 2; k >= 0; --k) {
        S r = a[k][3];
        for (int j = k + 1; j < 3; ++j) r = r - a[k][j] * x[j];
        x[k] = r / a[k][k];
    }
    return x;
}

template <class S>
S correct_one_port(const S& gm, const V3<S>& e) {
    return (gm - e[0]) / (gm * e[1] - e[2]);
}

template <class S>
V4<S> s2t(const V4<S>& s) {
    const S det = s[0] * s[3] - s[1] * s[2];
    return {-det / s[2], s[0] / s[2], -s[3] / s[2], 1.0 / s[2]};
}

template <class S>
V4<S> t2s(const V4<S>& t) {
    const S det = t[0] * t[3] - t[1] * t[2];
    return {t[1] / t[3], det / t[3], 1.0 / t[3], -t[2] / t[3]};
}

template <class S>
V4<S> mul(const V4<S>& x, const V4<S>& y) {
    return {x[0] * y[0] + x[1] * y[2], x[0] * y[1] + x[1] * y[3], x[2] * y[0] + x[3] * y[2],
            x[2] * y[1] + x[3] * y[3]};
}

template <class S>
V4<S> inverse(const V4<S>& x) {
    const S det = x[0] * x[3] - x[1] * x[2];
    return {x[3] / det, -x[1] / det, -x[2] / det, x[0] / det};
}

template <class S>
S det(const V4<S>& x) {
    return x[0] * x[3] - x[1] * x[2];
}

// The eight-term model: A = [[-de, e00], [-e11, 1]] from port 1's terms,
// B = [[-de', e22], [-e33, 1]] from port 2's (whose columns 0 and 1 swap).
template <class S>
struct EightTerm {
    V4<S> A, B;
    S q;
};

template <class S>
V4<S> adapter1(const V3<S>& x) { return {-x[2], x[0], -x[1], S(1.0)}; }
template <class S>
V4<S> adapter2(const V3<S>& y) { return {-y[2], y[1], -y[0], S(1.0)}; }

// get8TermModel from both ports' one-port terms x, y: q = sign(Re Q00)
// sqrt(det Q), Q = A (Tt (B inv(Tmt))).
template <class S>
EightTerm<S> eight_term(const V3<S>& x, const V3<S>& y, const V4<S>& T, const V4<S>& Tm) {
    const V4<S> A = adapter1(x), B = adapter2(y);
    const V4<S> Q = mul(A, mul(s2t(T), mul(B, inverse(s2t(Tm)))));
    const double s = value(Q[0]).real() > 0 ? 1.0 : value(Q[0]).real() < 0 ? -1.0 : 0.0;
    return {A, B, s * ad::sqrt(det(Q))};
}

// The unknown thru's adapters with q = sign sqrt(det A det B / det Tmt), the
// sign chosen beforehand (from the data).
template <class S>
EightTerm<S> unknown_thru(const V3<S>& x, const V3<S>& y, const V4<S>& Tm, double sign) {
    const V4<S> A = adapter1(x), B = adapter2(y);
    return {A, B, sign * ad::sqrt(det(A) * det(B) / det(s2t(Tm)))};
}

// correct8Term: T2S(q inv(A) (Tm inv(B))).
template <class S>
V4<S> correct_eight_term(const V4<S>& Sm, const EightTerm<S>& m) {
    V4<S> t = mul(inverse(m.A), mul(s2t(Sm), inverse(m.B)));
    for (auto& x : t) x = m.q * x;
    return t2s(t);
}

// get12TermModel from both ports' one-port terms x, y: fwd e00 e11 e10e01
// e10e32 e22 e30, rev ep33 ep22 ep23ep32 ep23ep01 ep11 ep03.
template <class S>
std::array<S, 12> twelve_term(const V3<S>& x, const V3<S>& y, const V4<S>& T, const V4<S>& Tm, const S& e30,
                              const S& ep03) {
    const S e00 = x[0], e11 = x[1], ep33 = y[0], ep22 = y[1];
    const S e10e01 = e00 * e11 - x[2], ep23ep32 = ep33 * ep22 - y[2];
    const S dT = det(T);
    const S e22 = (e10e01 * T[0] - (Tm[0] - e00) * (1.0 - e11 * T[0])) /
                  ((e11 * dT - T[3]) * (Tm[0] - e00) + e10e01 * dT);
    const S ep11 = (ep23ep32 * T[3] - (Tm[3] - ep33) * (1.0 - ep22 * T[3])) /
                   ((ep22 * dT - T[0]) * (Tm[3] - ep33) + ep23ep32 * dT);
    const S e10e32 = ((Tm[2] - e30) / T[2]) * (1.0 - e11 * T[0] - e22 * T[3] + (e11 * e22) * dT);
    const S ep23ep01 = ((Tm[1] - ep03) / T[1]) * (1.0 - ep22 * T[3] - ep11 * T[0] + (ep11 * ep22) * dT);
    return {e00, e11, e10e01, e10e32, e22, e30, ep33, ep22, ep23ep32, ep23ep01, ep11, ep03};
}

template <class S>
V4<S> correct_twelve_term(const V4<S>& Sm, const std::array<S, 12>& e) {
    const S x = (Sm[0] - e[0]) / e[2], y = (Sm[1] - e[11]) / e[9], z = (Sm[2] - e[5]) / e[3],
            w = (Sm[3] - e[6]) / e[8];
    const S D = (1.0 + x * e[1]) * (1.0 + w * e[7]) - ((z * y) * e[4]) * e[10];
    return {(x * (1.0 + w * e[7]) - (e[4] * y) * z) / D, y * (1.0 + x * (e[1] - e[10])) / D,
            z * (1.0 + w * (e[7] - e[4])) / D, (w * (1.0 + x * e[1]) - (e[10] * y) * z) / D};
}

// get2PortResponseModel: H11 = G1m/G1, H22 = G2m/G2, H12 = Tm12/T12, H21 = Tm21/T21.
template <class S>
V4<S> response(const S& G1, const S& G1m, const S& G2, const S& G2m, const V4<S>& T, const V4<S>& Tm) {
    return {G1m / G1, Tm[1] / T[1], Tm[2] / T[2], G2m / G2};
}

template <class S>
V4<S> correct_response(const V4<S>& Sm, const V4<S>& H) {
    return {Sm[0] / H[0], Sm[1] / H[1], Sm[2] / H[2], Sm[3] / H[3]};
}

// correctPortExt at port 1 (n = 0) or 2 (n = 1).
template <class S>
V4<S> correct_port_extension(const V4<S>& Sm, const S& e10e01, int port) {
    const S root = ad::sqrt(e10e01);
    V4<S> s = Sm;
    const int nn = port == 1 ? 0 : 3, nk = port == 1 ? 1 : 2, kn = port == 1 ? 2 : 1;
    s[nn] = Sm[nn] / e10e01, s[nk] = Sm[nk] / root, s[kn] = Sm[kn] / root;
    return s;
}

// deEmbed: T2S(inv(TA) T inv(TB)) for the adapters given.
template <class S>
V4<S> de_embed(const V4<S>& S_chain, const V4<S>* SA, const V4<S>* SB) {
    V4<S> t = s2t(S_chain);
    if (SA) t = mul(inverse(s2t(*SA)), t);
    if (SB) t = mul(t, inverse(s2t(*SB)));
    return t2s(t);
}

}  // namespace orvane::models
