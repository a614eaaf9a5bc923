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

// How many of a Dual's N directions a computation uses: the others are
// neither cleared nor computed. Set per thread (Directions below).
inline thread_local int active_directions = 1 << 30;

template <int N>
inline int used() {
    return active_directions < N ? active_directions : N;
}

// While it lives, duals of this thread carry `count` directions.
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
    // the derivatives' real and imaginary parts apart, so that the loops over
    // them vectorise
    std::array<double, N> re, im;

    Dual() : v(0.0) { clear(); }
    Dual(cplx x) : v(x) { clear(); }    // NOLINT: a constant converts implicitly
    Dual(double x) : v(x) { clear(); }  // NOLINT

    cplx d(int k) const { return {re[k], im[k]}; }
    void set(int k, cplx x) { re[k] = x.real(), im[k] = x.imag(); }

    void clear() {
        const int n = used<N>();
        for (int k = 0; k < n; ++k) re[k] = 0.0, im[k] = 0.0;
    }
    Dual& operator+=(const Dual& y) {
        v += y.v;
        const int n = used<N>();
        for (int k = 0; k < n; ++k) re[k] += y.re[k], im[k] += y.im[k];
        return *this;
    }
    Dual& operator-=(const Dual& y) {
        v -= y.v;
        const int n = used<N>();
        for (int k = 0; k < n; ++k) re[k] -= y.re[k], im[k] -= y.im[k];
        return *this;
    }
    Dual& operator*=(const Dual& y) { return *this = *this * y; }
    Dual& operator/=(const Dual& y) { return *this = *this / y; }

    friend Dual operator+(Dual x, const Dual& y) { return x += y; }
    friend Dual operator-(Dual x, const Dual& y) { return x -= y; }
    friend Dual operator-(Dual x) {
        x.v = -x.v;
        const int n = used<N>();
        for (int k = 0; k < n; ++k) x.re[k] = -x.re[k], x.im[k] = -x.im[k];
        return x;
    }
    // r.d = a x.d + b y.d, for complex a, b
    static Dual combination(cplx value, cplx a, const Dual& x, cplx b, const Dual& y) {
        Dual r(Uninitialised{});
        r.v = value;
        const double ar = a.real(), ai = a.imag(), br = b.real(), bi = b.imag();
        const int n = used<N>();
        for (int k = 0; k < n; ++k) {
            r.re[k] = ar * x.re[k] - ai * x.im[k] + br * y.re[k] - bi * y.im[k];
            r.im[k] = ar * x.im[k] + ai * x.re[k] + br * y.im[k] + bi * y.re[k];
        }
        return r;
    }
    // r.d = a x.d
    static Dual scaled(cplx value, cplx a, const Dual& x) {
        Dual r(Uninitialised{});
        r.v = value;
        const double ar = a.real(), ai = a.imag();
        const int n = used<N>();
        for (int k = 0; k < n; ++k) {
            r.re[k] = ar * x.re[k] - ai * x.im[k];
            r.im[k] = ar * x.im[k] + ai * x.re[k];
        }
        return r;
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

    struct Uninitialised {};
    explicit Dual(Uninitialised) {}
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
    const int n = used<N>();
    for (int k = 0; k < n; ++k) x.im[k] = -x.im[k];
    return x;
}
inline cplx norm(cplx x) { return std::norm(x); }
template <int N> Dual<N> norm(const Dual<N>& x) { return x * conj(x); }

// x seeded as direction k (its derivative along k is 1).
template <int N> Dual<N> seed(cplx x, int k, cplx direction = 1.0) {
    Dual<N> r(x);
    if (k >= 0 && k < used<N>()) r.set(k, direction);
    return r;
}

// A complex input as two real directions, k (its real part) and k + 1 (its
// imaginary part).
template <int N> Dual<N> seed_parts(cplx x, int k) {
    Dual<N> r(x);
    if (k >= 0 && k + 1 < used<N>()) r.set(k, 1.0), r.set(k + 1, cplx(0.0, 1.0));
    return r;
}

}  // namespace orvane::ad
