// Forward-mode automatic differentiation over complex numbers.
//
// A Dual<N> carries a value and its derivatives along up to N directions. The
// calibration formulas are holomorphic in their complex inputs (rational
// functions, square roots, exponentials, logarithms) and analytic in their
// real parameters, so one complex derivative per direction is the exact
// first-order sensitivity: a direction may be a complex input (dz) or a real
// parameter (dp), and d(out) = sum_k d[k] dz_k. Where a formula also takes
// conjugates or magnitudes, the directions must be real (a complex input as
// its real and imaginary parts: `seed_parts`). Decisions (pivots, roots,
// branches) are taken on values, never differentiated.
//
// Formulas are templates over the scalar type: `cplx` runs them plainly,
// Dual<N> runs them with their derivatives.
#pragma once

#include <array>
#include <cmath>
#include <complex>

namespace orvane::ad {

using cplx = std::complex<double>;

// How many directions the duals seeded on this thread carry (set by
// Directions; all N where none is set): every dual derived from them carries
// as many, and a constant none, so that no loop runs over directions nobody
// uses.
inline thread_local int active_directions = 0;

// While it lives, duals seeded on this thread carry `count` directions.
class Directions {
public:
    explicit Directions(int count) : saved_(active_directions) { active_directions = count; }
    ~Directions() { active_directions = saved_; }
    Directions(const Directions&) = delete;
    Directions& operator=(const Directions&) = delete;

private:
    int saved_;
};

template <int N>
struct Dual {
    static constexpr int size = N;
    cplx v;
    int n = 0;  // directions carried: 0 for a constant
    // the derivatives' real and imaginary parts apart, so that the loops over
    // them vectorise; only the first n are meaningful
    std::array<double, N> re, im;

    Dual() : v(0.0) {}
    Dual(cplx x) : v(x) {}    // NOLINT: a constant converts implicitly
    Dual(double x) : v(x) {}  // NOLINT

    cplx d(int k) const { return k < n ? cplx(re[k], im[k]) : cplx(0.0); }

    // r.d = a x.d + b y.d, for complex a, b
    static Dual combination(cplx value, cplx a, const Dual& x, cplx b, const Dual& y) {
        if (!y.n) return scaled(value, a, x);
        if (!x.n) return scaled(value, b, y);
        Dual r(value);
        r.n = x.n;
        const double ar = a.real(), ai = a.imag(), br = b.real(), bi = b.imag();
        for (int k = 0; k < r.n; ++k) {
            r.re[k] = ar * x.re[k] - ai * x.im[k] + br * y.re[k] - bi * y.im[k];
            r.im[k] = ar * x.im[k] + ai * x.re[k] + br * y.im[k] + bi * y.re[k];
        }
        return r;
    }
    // r.d = a x.d
    static Dual scaled(cplx value, cplx a, const Dual& x) {
        Dual r(value);
        r.n = x.n;
        const double ar = a.real(), ai = a.imag();
        for (int k = 0; k < r.n; ++k) {
            r.re[k] = ar * x.re[k] - ai * x.im[k];
            r.im[k] = ar * x.im[k] + ai * x.re[k];
        }
        return r;
    }

    Dual& operator+=(const Dual& y) {
        v += y.v;
        if (!n) {
            n = y.n;
            for (int k = 0; k < n; ++k) re[k] = y.re[k], im[k] = y.im[k];
        } else {
            for (int k = 0; k < y.n; ++k) re[k] += y.re[k], im[k] += y.im[k];
        }
        return *this;
    }
    Dual& operator-=(const Dual& y) {
        v -= y.v;
        if (!n) {
            n = y.n;
            for (int k = 0; k < n; ++k) re[k] = -y.re[k], im[k] = -y.im[k];
        } else {
            for (int k = 0; k < y.n; ++k) re[k] -= y.re[k], im[k] -= y.im[k];
        }
        return *this;
    }
    Dual& operator*=(const Dual& y) { return *this = *this * y; }
    Dual& operator/=(const Dual& y) { return *this = *this / y; }

    friend Dual operator+(Dual x, const Dual& y) { return x += y; }
    friend Dual operator-(Dual x, const Dual& y) { return x -= y; }
    friend Dual operator-(Dual x) {
        x.v = -x.v;
        for (int k = 0; k < x.n; ++k) x.re[k] = -x.re[k], x.im[k] = -x.im[k];
        return x;
    }
    friend Dual operator*(const Dual& x, const Dual& y) { return combination(x.v * y.v, y.v, x, x.v, y); }
    friend Dual operator/(const Dual& x, const Dual& y) {
        const cplx inv = 1.0 / y.v;
        const cplx q = x.v / y.v;  // rounded as a plain quotient, so that decisions taken on it match
        return combination(q, inv, x, -q * inv, y);
    }
    // a constant on either side
    friend Dual operator+(Dual x, cplx c) { x.v += c; return x; }
    friend Dual operator+(cplx c, Dual x) { x.v += c; return x; }
    friend Dual operator-(Dual x, cplx c) { x.v -= c; return x; }
    friend Dual operator-(cplx c, const Dual& x) { return -x + c; }
    friend Dual operator*(const Dual& x, cplx c) { return scaled(x.v * c, c, x); }
    friend Dual operator*(cplx c, const Dual& x) { return x * c; }
    friend Dual operator/(const Dual& x, cplx c) { return scaled(x.v / c, 1.0 / c, x); }
    friend Dual operator/(cplx c, const Dual& y) {
        const cplx q = c / y.v;
        return scaled(q, -q / y.v, y);
    }
    friend Dual operator+(Dual x, double c) { return x + cplx(c); }
    friend Dual operator+(double c, Dual x) { return x + cplx(c); }
    friend Dual operator-(Dual x, double c) { return x - cplx(c); }
    friend Dual operator-(double c, const Dual& x) { return cplx(c) - x; }
    friend Dual operator*(const Dual& x, double c) { return x * cplx(c); }
    friend Dual operator*(double c, const Dual& x) { return x * cplx(c); }
    friend Dual operator/(const Dual& x, double c) { return x / cplx(c); }
    friend Dual operator/(double c, const Dual& y) { return cplx(c) / y; }
};

// The value a decision is taken on.
inline cplx value(cplx x) { return x; }
template <int N> cplx value(const Dual<N>& x) { return x.v; }

// f(x) with derivative f'(x): the chain rule for one argument.
template <int N>
Dual<N> chain(const Dual<N>& x, cplx fx, cplx dfx) {
    return Dual<N>::scaled(fx, dfx, x);
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

// Conjugate and squared magnitude: not holomorphic, so exact only where the
// directions are real parameters (a complex input as its real and imaginary
// parts, seeded 1 and j): d conj(f) / dx = conj(df / dx) for real x.
inline cplx conj(cplx x) { return std::conj(x); }
template <int N> Dual<N> conj(Dual<N> x) {
    x.v = std::conj(x.v);
    for (int k = 0; k < x.n; ++k) x.im[k] = -x.im[k];
    return x;
}
inline cplx norm(cplx x) { return std::norm(x); }
template <int N> Dual<N> norm(const Dual<N>& x) { return x * conj(x); }

// x seeded as direction k (its derivative along k is `direction`), carrying
// the thread's active directions.
template <int N> Dual<N> seed(cplx x, int k, cplx direction = 1.0) {
    Dual<N> r(x);
    r.n = active_directions > 0 && active_directions < N ? active_directions : N;
    for (int i = 0; i < r.n; ++i) r.re[i] = 0.0, r.im[i] = 0.0;
    if (k >= 0 && k < r.n) r.re[k] = direction.real(), r.im[k] = direction.imag();
    return r;
}

// A complex input as two real directions, k (its real part) and k + 1 (its
// imaginary part).
template <int N> Dual<N> seed_parts(cplx x, int k) {
    Dual<N> r = seed<N>(x, k);
    if (k + 1 < r.n) r.im[k + 1] = 1.0;
    return r;
}

}  // namespace orvane::ad
