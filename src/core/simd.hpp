// Four frequency points side by side in AVX2 registers. Every lane performs
// exactly the scalar operations of cplx.hpp, so results are bit-identical to
// the scalar kernels (and to numpy); the gain is four divisions at a time and
// four independent dependency chains in flight.
#pragma once

#include <cmath>
#include <limits>

#include "cplx.hpp"

// The AVX2 copy of the kernels is compiled with AVX2 and FMA enabled.
#if defined(__AVX2__)
#define HIDDEN_LANES4 1
#include <immintrin.h>

namespace hidden::numeric {
inline namespace HIDDEN_TARGET {

using v4d = __m256d;

struct R4 {
    v4d v;
    R4() = default;
    R4(v4d x) : v(x) {}
    R4(double x) : v(_mm256_set1_pd(x)) {}
};

template <bool F>
struct C4 {
    v4d re, im;
    C4() = default;
    C4(v4d r, v4d i) : re(r), im(i) {}
    C4(double x) : re(_mm256_set1_pd(x)), im(_mm256_setzero_pd()) {}
    C4(R4 x) : re(x.v), im(_mm256_setzero_pd()) {}
};

struct Mask4 {
    v4d m;
};

inline R4 operator+(R4 a, R4 b) { return _mm256_add_pd(a.v, b.v); }
inline R4 operator-(R4 a, R4 b) { return _mm256_sub_pd(a.v, b.v); }
inline R4 operator*(R4 a, R4 b) { return _mm256_mul_pd(a.v, b.v); }
inline R4 operator/(R4 a, R4 b) { return _mm256_div_pd(a.v, b.v); }
inline R4 operator-(R4 a) { return _mm256_xor_pd(a.v, _mm256_set1_pd(-0.0)); }
inline Mask4 operator>(R4 a, R4 b) { return {_mm256_cmp_pd(a.v, b.v, _CMP_GT_OQ)}; }
inline R4 abs_of(R4 a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a.v); }
inline R4 pick(Mask4 c, R4 a, R4 b) { return _mm256_blendv_pd(b.v, a.v, c.m); }
inline bool any(Mask4 c) { return _mm256_movemask_pd(c.m) != 0; }

template <bool F> inline C4<F> operator+(C4<F> a, C4<F> b) { return {_mm256_add_pd(a.re, b.re), _mm256_add_pd(a.im, b.im)}; }
template <bool F> inline C4<F> operator-(C4<F> a, C4<F> b) { return {_mm256_sub_pd(a.re, b.re), _mm256_sub_pd(a.im, b.im)}; }
template <bool F> inline C4<F> operator-(C4<F> a) { return {(-R4(a.re)).v, (-R4(a.im)).v}; }

template <bool F>
inline C4<F> operator*(C4<F> a, C4<F> b) {
    if constexpr (F) {
        const v4d ii = _mm256_mul_pd(a.im, b.im), ir = _mm256_mul_pd(a.im, b.re);
        return {_mm256_fmsub_pd(a.re, b.re, ii), _mm256_fmadd_pd(a.re, b.im, ir)};
    } else {
        const v4d rr = _mm256_mul_pd(a.re, b.re), ii = _mm256_mul_pd(a.im, b.im);
        const v4d ri = _mm256_mul_pd(a.re, b.im), ir = _mm256_mul_pd(a.im, b.re);
        return {_mm256_sub_pd(rr, ii), _mm256_add_pd(ri, ir)};
    }
}

// The lane-wise form of Cx's division (numpy's Smith branches as selections).
template <bool F>
inline C4<F> operator/(C4<F> a, C4<F> b) {
    const v4d re_major = _mm256_cmp_pd(abs_of(R4(b.re)).v, abs_of(R4(b.im)).v, _CMP_GE_OQ);
    const v4d p = _mm256_blendv_pd(b.im, b.re, re_major);
    const v4d q = _mm256_blendv_pd(b.re, b.im, re_major);
    const v4d rat = _mm256_div_pd(q, p);
    const v4d scl = _mm256_div_pd(_mm256_set1_pd(1.0), _mm256_add_pd(p, _mm256_mul_pd(q, rat)));
    const v4d x = _mm256_blendv_pd(a.im, a.re, re_major);
    const v4d y = _mm256_blendv_pd(a.re, a.im, re_major);
    const v4d re = _mm256_add_pd(x, _mm256_mul_pd(y, rat));
    const v4d im1 = _mm256_sub_pd(a.im, _mm256_mul_pd(a.re, rat));
    const v4d im2 = _mm256_sub_pd(_mm256_mul_pd(a.im, rat), a.re);
    const v4d im = _mm256_blendv_pd(im2, im1, re_major);
    return {_mm256_mul_pd(re, scl), _mm256_mul_pd(im, scl)};
}

// Real lanes meet complex lanes as numpy casts them: x + 0j.
template <bool F> inline C4<F> operator+(R4 a, C4<F> b) { return C4<F>(a) + b; }
template <bool F> inline C4<F> operator-(R4 a, C4<F> b) { return C4<F>(a) - b; }
template <bool F> inline C4<F> operator*(R4 a, C4<F> b) { return C4<F>(a) * b; }
template <bool F> inline C4<F> operator/(R4 a, C4<F> b) { return C4<F>(a) / b; }
template <bool F> inline C4<F> operator+(C4<F> a, R4 b) { return a + C4<F>(b); }
template <bool F> inline C4<F> operator-(C4<F> a, R4 b) { return a - C4<F>(b); }
template <bool F> inline C4<F> operator*(C4<F> a, R4 b) { return a * C4<F>(b); }
template <bool F> inline C4<F> operator/(C4<F> a, R4 b) { return a / C4<F>(b); }
#define HIDDEN_SCALAR_OPS(V)                                                   \
    inline V operator+(double a, V b) { return V(a) + b; }                      \
    inline V operator-(double a, V b) { return V(a) - b; }                      \
    inline V operator*(double a, V b) { return V(a) * b; }                      \
    inline V operator/(double a, V b) { return V(a) / b; }                      \
    inline V operator+(V a, double b) { return a + V(b); }                      \
    inline V operator-(V a, double b) { return a - V(b); }                      \
    inline V operator*(V a, double b) { return a * V(b); }                      \
    inline V operator/(V a, double b) { return a / V(b); }
HIDDEN_SCALAR_OPS(R4)
HIDDEN_SCALAR_OPS(C4<true>)
HIDDEN_SCALAR_OPS(C4<false>)
#undef HIDDEN_SCALAR_OPS

inline R4 abs1(R4 a) { return abs_of(a); }
template <bool F> inline R4 abs1(C4<F> a) { return abs_of(R4(a.re)) + abs_of(R4(a.im)); }
template <bool F> inline C4<F> pick(Mask4 c, C4<F> a, C4<F> b) {
    return {_mm256_blendv_pd(b.re, a.re, c.m), _mm256_blendv_pd(b.im, a.im, c.m)};
}
inline bool any_zero(R4 a) { return any({_mm256_cmp_pd(a.v, _mm256_setzero_pd(), _CMP_EQ_OQ)}); }
template <bool F> inline bool any_zero(C4<F> a) {
    const v4d zr = _mm256_cmp_pd(a.re, _mm256_setzero_pd(), _CMP_EQ_OQ);
    const v4d zi = _mm256_cmp_pd(a.im, _mm256_setzero_pd(), _CMP_EQ_OQ);
    return any({_mm256_and_pd(zr, zi)});
}

template <> struct is_complex<C4<true>> { static constexpr bool value = true; };
template <> struct is_complex<C4<false>> { static constexpr bool value = true; };

// True when every lane of the vectors is finite (checked without raising any
// floating-point flag).
inline bool all_finite(v4d a, v4d b) {
    const v4d inf = _mm256_set1_pd(std::numeric_limits<double>::infinity());
    const v4d fa = _mm256_cmp_pd(abs_of(R4(a)).v, inf, _CMP_LT_OQ);
    const v4d fb = _mm256_cmp_pd(abs_of(R4(b)).v, inf, _CMP_LT_OQ);
    return _mm256_movemask_pd(_mm256_and_pd(fa, fb)) == 0xF;
}

// Four consecutive complex values in memory <-> real and imaginary lanes.
inline void deinterleave(const double* p, v4d& re, v4d& im) {
    const v4d v0 = _mm256_loadu_pd(p), v1 = _mm256_loadu_pd(p + 4);  // (r0 i0 r1 i1) (r2 i2 r3 i3)
    const v4d lo = _mm256_permute2f128_pd(v0, v1, 0x20);            // r0 i0 r2 i2
    const v4d hi = _mm256_permute2f128_pd(v0, v1, 0x31);            // r1 i1 r3 i3
    re = _mm256_unpacklo_pd(lo, hi);                                // r0 r1 r2 r3
    im = _mm256_unpackhi_pd(lo, hi);
}
inline void interleave(double* p, v4d re, v4d im) {
    const v4d lo = _mm256_unpacklo_pd(re, im);                      // r0 i0 r2 i2
    const v4d hi = _mm256_unpackhi_pd(re, im);                      // r1 i1 r3 i3
    _mm256_storeu_pd(p, _mm256_permute2f128_pd(lo, hi, 0x20));
    _mm256_storeu_pd(p + 4, _mm256_permute2f128_pd(lo, hi, 0x31));
}

// Complex values at four addresses <-> real and imaginary lanes.
inline void gather(const double* p0, const double* p1, const double* p2, const double* p3, v4d& re, v4d& im) {
    const v4d x01 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p0)), _mm_loadu_pd(p1), 1);
    const v4d x23 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_loadu_pd(p2)), _mm_loadu_pd(p3), 1);
    const v4d lo = _mm256_permute2f128_pd(x01, x23, 0x20);  // r0 i0 r2 i2
    const v4d hi = _mm256_permute2f128_pd(x01, x23, 0x31);  // r1 i1 r3 i3
    re = _mm256_unpacklo_pd(lo, hi);
    im = _mm256_unpackhi_pd(lo, hi);
}
inline void scatter(double* p0, double* p1, double* p2, double* p3, v4d re, v4d im) {
    const v4d lo = _mm256_unpacklo_pd(re, im);  // r0 i0 r2 i2
    const v4d hi = _mm256_unpackhi_pd(re, im);  // r1 i1 r3 i3
    _mm_storeu_pd(p0, _mm256_castpd256_pd128(lo));
    _mm_storeu_pd(p1, _mm256_castpd256_pd128(hi));
    _mm_storeu_pd(p2, _mm256_extractf128_pd(lo, 1));
    _mm_storeu_pd(p3, _mm256_extractf128_pd(hi, 1));
}

// Lane-by-lane application of a scalar function of one or two arguments.
template <class Fn>
inline R4 per_lane(R4 x, Fn fn) {
    alignas(32) double a[4];
    _mm256_store_pd(a, x.v);
    return _mm256_set_pd(fn(a[3]), fn(a[2]), fn(a[1]), fn(a[0]));
}
template <class Fn>
inline R4 per_lane(R4 x, R4 y, Fn fn) {
    alignas(32) double a[4], b[4];
    _mm256_store_pd(a, x.v);
    _mm256_store_pd(b, y.v);
    return _mm256_set_pd(fn(a[3], b[3]), fn(a[2], b[2]), fn(a[1], b[1]), fn(a[0], b[0]));
}

}  // namespace HIDDEN_TARGET
}  // namespace hidden::numeric
#endif
