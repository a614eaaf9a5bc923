// complex128 arithmetic that rounds exactly as numpy's loops do, so that the
// native path and the numpy path agree to the last bit on element-wise work.
//  - division: Smith's method with numpy's branch on |re| >= |im|, numpy's
//    special case for 0/0 aside (see operator/);
//  - multiplication: (ac - bd, ad + bc), or, where numpy's SIMD loop fuses it,
//    fma(a, c, -(b d)) and fma(a, d, b c). Which one numpy uses depends on the
//    CPU it dispatched to; probe.cpp finds out once at import.
#pragma once

#include <cmath>

#include "target.hpp"

namespace hidden::numeric {
inline namespace HIDDEN_TARGET {

template <bool Fused>
struct Cx {
    double re, im;
    Cx() = default;
    constexpr Cx(double r, double i = 0.0) : re(r), im(i) {}
};

template <bool F> inline Cx<F> operator+(Cx<F> a, Cx<F> b) { return {a.re + b.re, a.im + b.im}; }
template <bool F> inline Cx<F> operator-(Cx<F> a, Cx<F> b) { return {a.re - b.re, a.im - b.im}; }
template <bool F> inline Cx<F> operator-(Cx<F> a) { return {-a.re, -a.im}; }

template <bool F>
inline Cx<F> operator*(Cx<F> a, Cx<F> b) {
    if constexpr (F) {
        return {std::fma(a.re, b.re, -(a.im * b.im)), std::fma(a.re, b.im, a.im * b.re)};
    } else {
        const double rr = a.re * b.re, ii = a.im * b.im, ri = a.re * b.im, ir = a.im * b.re;
        return {rr - ii, ri + ir};
    }
}

// numpy's branches, written as selections so that the work that depends only
// on the divisor (rat, scl) is shared by every division by the same value.
// A zero divisor is not special-cased: 0/0 raises the invalid flag, and any
// flag sends the call to numpy, which then produces its own inf/nan.
template <bool F>
inline Cx<F> operator/(Cx<F> a, Cx<F> b) {
    const bool re_major = std::fabs(b.re) >= std::fabs(b.im);
    const double p = re_major ? b.re : b.im;
    const double q = re_major ? b.im : b.re;
    const double rat = q / p;
    const double scl = 1.0 / (p + q * rat);
    const double x = re_major ? a.re : a.im;
    const double y = re_major ? a.im : a.re;
    const double re = x + y * rat;  // a.re + a.im*rat, or a.im + a.re*rat (= a.re*rat + a.im)
    const double im = re_major ? a.im - a.re * rat : a.im * rat - a.re;
    return {re * scl, im * scl};
}

// A real operand meets a complex one as numpy casts it: x + 0j.
template <bool F> inline Cx<F> promote(double x) { return {x, 0.0}; }
template <bool F> inline Cx<F> operator+(double a, Cx<F> b) { return promote<F>(a) + b; }
template <bool F> inline Cx<F> operator-(double a, Cx<F> b) { return promote<F>(a) - b; }
template <bool F> inline Cx<F> operator*(double a, Cx<F> b) { return promote<F>(a) * b; }
template <bool F> inline Cx<F> operator/(double a, Cx<F> b) { return promote<F>(a) / b; }
template <bool F> inline Cx<F> operator+(Cx<F> a, double b) { return a + promote<F>(b); }
template <bool F> inline Cx<F> operator-(Cx<F> a, double b) { return a - promote<F>(b); }
template <bool F> inline Cx<F> operator*(Cx<F> a, double b) { return a * promote<F>(b); }
template <bool F> inline Cx<F> operator/(Cx<F> a, double b) { return a / promote<F>(b); }

// |re| + |im|, the magnitude LAPACK pivots on.
inline double abs1(double x) { return std::fabs(x); }
template <bool F> inline double abs1(Cx<F> x) { return std::fabs(x.re) + std::fabs(x.im); }

inline bool is_zero(double x) { return x == 0; }
template <bool F> inline bool is_zero(Cx<F> x) { return x.re == 0 && x.im == 0; }

// The scalar side of the lane-wise helpers in simd.hpp.
template <class T> inline T pick(bool c, const T& a, const T& b) { return c ? a : b; }
inline bool any_zero(double x) { return x == 0; }
template <bool F> inline bool any_zero(Cx<F> x) { return is_zero(x); }

template <class T> struct is_complex { static constexpr bool value = false; };
template <bool F> struct is_complex<Cx<F>> { static constexpr bool value = true; };

}  // namespace HIDDEN_TARGET
}  // namespace hidden::numeric
