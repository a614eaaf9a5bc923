// Forward-mode automatic differentiation over complex numbers.
//
// A Dual<N> carries a value and its derivatives along N directions. The
// calibration formulas are holomorphic in their complex inputs (rational
// functions, square roots, exponentials, logarithms) and analytic in their
// real parameters, so one complex derivative per direction is the exact
// first-order sensitivity: a direction may be a complex input (dz) or a real
// parameter (dp), and d(out) = sum_k d[k] dz_k. Decisions (pivots, roots,
// branches) are taken on values, never differentiated; weights that are
// functions of the data (Gauss-Markov) enter as constants, as linear
// propagation treats them.
//
// Formulas are templates over the scalar type: `cplx` runs them plainly,
// Dual<N> runs them with their derivatives.
#pragma once

#include <array>
#include <cmath>
#include <complex>

namespace orvane::ad {

using cplx = std::complex<double>;

template <int N>
struct Dual {
    cplx v;
    std::array<cplx, N> d;

    Dual() : v(0.0), d{} {}
    Dual(cplx x) : v(x), d{} {}  // NOLINT: a constant converts implicitly
    Dual(double x) : v(x), d{} {}  // NOLINT

    Dual& operator+=(const Dual& y) {
        v += y.v;
        for (int k = 0; k < N; ++k) d[k] += y.d[k];
        return *this;
    }
    Dual& operator-=(const Dual& y) {
        v -= y.v;
        for (int k = 0; k < N; ++k) d[k] -= y.d[k];
        return *this;
    }
    Dual& operator*=(const Dual& y) { return *this = *this * y; }
    Dual& operator/=(const Dual& y) { return *this = *this / y; }

    friend Dual operator+(Dual x, const Dual& y) { return x += y; }
    friend Dual operator-(Dual x, const Dual& y) { return x -= y; }
    friend Dual operator-(Dual x) {
        x.v = -x.v;
        for (int k = 0; k < N; ++k) x.d[k] = -x.d[k];
        return x;
    }
    friend Dual operator*(const Dual& x, const Dual& y) {
        Dual r;
        r.v = x.v * y.v;
        for (int k = 0; k < N; ++k) r.d[k] = x.d[k] * y.v + x.v * y.d[k];
        return r;
    }
    friend Dual operator/(const Dual& x, const Dual& y) {
        Dual r;
        const cplx inv = 1.0 / y.v;
        r.v = x.v * inv;
        for (int k = 0; k < N; ++k) r.d[k] = (x.d[k] - r.v * y.d[k]) * inv;
        return r;
    }
    // a constant on either side
    friend Dual operator+(Dual x, cplx c) { x.v += c; return x; }
    friend Dual operator+(cplx c, Dual x) { x.v += c; return x; }
    friend Dual operator-(Dual x, cplx c) { x.v -= c; return x; }
    friend Dual operator-(cplx c, const Dual& x) { return -x + c; }
    friend Dual operator*(Dual x, cplx c) {
        x.v *= c;
        for (int k = 0; k < N; ++k) x.d[k] *= c;
        return x;
    }
    friend Dual operator*(cplx c, const Dual& x) { return x * c; }
    friend Dual operator/(const Dual& x, cplx c) { return x * (1.0 / c); }
    friend Dual operator/(cplx c, const Dual& y) { return Dual(c) / y; }
    friend Dual operator+(Dual x, double c) { return x + cplx(c); }
    friend Dual operator+(double c, Dual x) { return x + cplx(c); }
    friend Dual operator-(Dual x, double c) { return x - cplx(c); }
    friend Dual operator-(double c, const Dual& x) { return cplx(c) - x; }
    friend Dual operator*(Dual x, double c) { return x * cplx(c); }
    friend Dual operator*(double c, const Dual& x) { return x * cplx(c); }
    friend Dual operator/(const Dual& x, double c) { return x * cplx(1.0 / c); }
    friend Dual operator/(double c, const Dual& y) { return cplx(c) / y; }
};

// The value a decision is taken on.
inline cplx value(cplx x) { return x; }
template <int N> cplx value(const Dual<N>& x) { return x.v; }

// f(x) with derivative f'(x): the chain rule for one argument.
template <int N>
Dual<N> chain(const Dual<N>& x, cplx fx, cplx dfx) {
    Dual<N> r;
    r.v = fx;
    for (int k = 0; k < N; ++k) r.d[k] = dfx * x.d[k];
    return r;
}

// The principal root for plain values; for duals the root of the value's
// choice, so that a root decided elsewhere (a sign flip) carries over.
inline cplx sqrt(cplx x) { return std::sqrt(x); }
template <int N> Dual<N> sqrt(const Dual<N>& x) {
    const cplx r = std::sqrt(x.v);
    return chain(x, r, 0.5 / r);
}

inline cplx exp(cplx x) { return std::exp(x); }
template <int N> Dual<N> exp(const Dual<N>& x) {
    const cplx e = std::exp(x.v);
    return chain(x, e, e);
}

// ln z from ln |z|^2 and the angle: the C library's complex log is far
// slower for |z| near 1, where the calibration ratios lie.
inline cplx log(cplx z) { return {0.5 * std::log(std::norm(z)), std::arg(z)}; }
template <int N> Dual<N> log(const Dual<N>& x) { return chain(x, log(x.v), 1.0 / x.v); }

// x seeded as direction k (its derivative along k is 1).
template <int N> Dual<N> seed(cplx x, int k) {
    Dual<N> r(x);
    if (k >= 0 && k < N) r.d[k] = 1.0;
    return r;
}

}  // namespace orvane::ad
