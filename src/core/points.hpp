// The native path's side of a formula: values are single frequency points
// (double or Cx) or, in the AVX2 copy, groups of four in lanes (R4, C4); the
// formula runs inside one fused loop over the points of a Job, reading its
// arguments and writing its results in place.
#pragma once

#include <array>
#include <cmath>

#include "fpguard.hpp"
#include "job.hpp"
#include "lu.hpp"
#include "simd.hpp"

namespace hidden::numeric {
inline namespace HIDDEN_TARGET {

// Points per group for a value type: 4 for the AVX2 lanes, 1 for scalars.
template <class V> struct lanes_of { static constexpr int value = 1; };
// The scalar type of one lane, and the real counterpart of a value type
// (frequencies, signs, phases).
template <class V> struct scalar_of { using type = V; };
template <class V> struct real_of_t { using type = double; };
// The lane group used for a scalar type.
template <class T> struct group { using type = T; };
#if defined(HIDDEN_LANES4)
template <> struct lanes_of<R4> { static constexpr int value = 4; };
template <bool F> struct lanes_of<C4<F>> { static constexpr int value = 4; };
template <> struct scalar_of<R4> { using type = double; };
template <bool F> struct scalar_of<C4<F>> { using type = Cx<F>; };
template <> struct real_of_t<R4> { using type = R4; };
template <bool F> struct real_of_t<C4<F>> { using type = R4; };
template <> struct group<double> { using type = R4; };
template <bool F> struct group<Cx<F>> { using type = C4<F>; };
#endif
template <class V> using real_of = typename real_of_t<V>::type;

// -- reading arguments --------------------------------------------------------

template <class T>
inline T load(const ArrayIn& a, Index offset, bool& finite) {
    const double* p = reinterpret_cast<const double*>(a.data + offset);
    if constexpr (is_complex<T>::value) {
        const T v = a.complex ? T{p[0], p[1]} : T{p[0], 0.0};
        finite &= std::isfinite(v.re) && std::isfinite(v.im);
        return v;
    } else {
        const double v = p[0];
        finite &= std::isfinite(v);
        return v;
    }
}

// Value at byte offset `o` of points k..k+W-1 (W = lanes_of<V>).
template <class V>
inline V load_at(const ArrayIn& a, Index k, Index o, bool& finite) {
    using S = typename scalar_of<V>::type;
    if constexpr (lanes_of<V>::value == 1) {
        return load<S>(a, k * a.stride[0] + o, finite);
    } else {
#if defined(HIDDEN_LANES4)
        const char* p = a.data + k * a.stride[0] + o;
        const Index s0 = a.stride[0];
        if constexpr (is_complex<V>::value) {
            if (a.complex) {
                V v;
                if (s0 == 16)  // consecutive complex values
                    deinterleave(reinterpret_cast<const double*>(p), v.re, v.im);
                else
                    gather(reinterpret_cast<const double*>(p), reinterpret_cast<const double*>(p + s0),
                           reinterpret_cast<const double*>(p + 2 * s0), reinterpret_cast<const double*>(p + 3 * s0),
                           v.re, v.im);
                finite &= all_finite(v.re, v.im);
                return v;
            }
        }
        const v4d x = s0 == 8 ? _mm256_loadu_pd(reinterpret_cast<const double*>(p))
                              : _mm256_set_pd(*reinterpret_cast<const double*>(p + 3 * s0),
                                              *reinterpret_cast<const double*>(p + 2 * s0),
                                              *reinterpret_cast<const double*>(p + s0),
                                              *reinterpret_cast<const double*>(p));
        finite &= all_finite(x, x);
        return V(R4(x));
#endif
    }
}

template <class V>
inline V load_vec(const ArrayIn& a, Index k, bool& finite) {
    return load_at<V>(a, k, 0, finite);
}

// Columns 0..K-1 of row k of a [n, >=K] array.
template <class V, size_t K>
inline std::array<V, K> load_row(const ArrayIn& a, Index k, bool& finite) {
    std::array<V, K> r;
    for (size_t j = 0; j < K; ++j) r[j] = load_at<V>(a, k, Index(j) * a.stride[1], finite);
    return r;
}

template <class V>
inline M2<V> load_stack(const ArrayIn& a, Index k, bool& finite) {
    M2<V> m;
#if defined(HIDDEN_LANES4)
    if constexpr (lanes_of<V>::value == 4 && is_complex<V>::value) {
        if (a.complex && a.stride[0] == 64 && a.stride[1] == 32 && a.stride[2] == 16) {
            // Four C-contiguous 2x2 matrices: a 4x4 transpose of complex values.
            const double* p = reinterpret_cast<const double*>(a.data + k * 64);
            for (int half = 0; half < 2; ++half) {  // entries (half,0) and (half,1)
                const v4d r0 = _mm256_loadu_pd(p + 4 * half), r1 = _mm256_loadu_pd(p + 8 + 4 * half);
                const v4d r2 = _mm256_loadu_pd(p + 16 + 4 * half), r3 = _mm256_loadu_pd(p + 24 + 4 * half);
                for (int j = 0; j < 2; ++j) {
                    const v4d x = j ? _mm256_permute2f128_pd(r0, r2, 0x31) : _mm256_permute2f128_pd(r0, r2, 0x20);
                    const v4d y = j ? _mm256_permute2f128_pd(r1, r3, 0x31) : _mm256_permute2f128_pd(r1, r3, 0x20);
                    m.m[half][j].re = _mm256_unpacklo_pd(x, y);
                    m.m[half][j].im = _mm256_unpackhi_pd(x, y);
                    finite &= all_finite(m.m[half][j].re, m.m[half][j].im);
                }
            }
            return m;
        }
    }
#endif
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) m.m[i][j] = load_at<V>(a, k, i * a.stride[1] + j * a.stride[2], finite);
    return m;
}

// -- writing results ----------------------------------------------------------

// Component c of points k..k+W-1. A complex value goes into a real result as
// its real part (the formula's value there is real, computed in complex
// arithmetic); a real value into a complex result as x + 0j.
template <class V>
inline void put(const ArrayOut& o, Index k, int c, const V& v) {
    char* p = o.data + k * o.step + o.offset[c];
    if constexpr (lanes_of<V>::value == 1) {
        double* d = reinterpret_cast<double*>(p);
        if constexpr (is_complex<V>::value) {
            d[0] = v.re;
            if (o.complex) d[1] = v.im;
        } else {
            d[0] = v;
            if (o.complex) d[1] = 0.0;
        }
    } else {
#if defined(HIDDEN_LANES4)
        v4d re, im;
        if constexpr (is_complex<V>::value) {
            re = v.re;
            im = v.im;
        } else {
            re = v.v;
            im = _mm256_setzero_pd();
        }
        const Index s = o.step;
        if (o.complex) {
            if (s == 16) {
                interleave(reinterpret_cast<double*>(p), re, im);
            } else {
                scatter(reinterpret_cast<double*>(p), reinterpret_cast<double*>(p + s),
                        reinterpret_cast<double*>(p + 2 * s), reinterpret_cast<double*>(p + 3 * s), re, im);
            }
        } else if (s == 8) {
            _mm256_storeu_pd(reinterpret_cast<double*>(p), re);
        } else {
            alignas(32) double r[4];
            _mm256_store_pd(r, re);
            for (int l = 0; l < 4; ++l) *reinterpret_cast<double*>(p + l * s) = r[l];
        }
#endif
    }
}

template <class V> inline void store(const ArrayOut& o, Index k, const V& v) { put(o, k, 0, v); }
template <class V> inline void store(const ArrayOut& o, Index k, const M2<V>& m) {
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) put(o, k, 2 * i + j, m.m[i][j]);
}
template <class V, size_t K> inline void store(const ArrayOut& o, Index k, const std::array<V, K>& r) {
    for (size_t c = 0; c < K; ++c) put(o, k, int(c), r[c]);
}

// -- the point path -----------------------------------------------------------

// sign as numpy has it: +0.0 for either zero, NaN for NaN.
inline double sign_of(double x) { return x > 0 ? 1.0 : x < 0 ? -1.0 : x == 0 ? 0.0 : x; }

// The principal square root, computed the same way for a single point and in
// lanes so that a point's value never depends on its position: t =
// sqrt((|x| + |z|) / 2), then (t, y / 2t) for x >= 0 and (|y| / 2t, t with
// the sign of y) otherwise. Accurate to an ulp or two, as numpy's csqrt; z = 0
// raises the invalid flag (0/0) and so goes to numpy.
template <bool F>
inline Cx<F> csqrt(Cx<F> z) {
    const double x2 = z.re * z.re, y2 = z.im * z.im;
    const double mod = std::sqrt(x2 + y2);
    const double t = std::sqrt((std::fabs(z.re) + mod) * 0.5);
    const double two_t = t + t;
    if (z.re >= 0) return {t, z.im / two_t};
    return {std::fabs(z.im) / two_t, std::copysign(t, z.im)};
}

struct PointPath {
    bool singular = false;
    template <class V> static V at(const M2<V>& s, int i, int j) { return s.m[i][j]; }
    template <class V, size_t N> static V col(const std::array<V, N>& g, int i) { return g[size_t(i)]; }
    template <class V> V det(const M2<V>& s) { return det2(s, singular); }
    template <class V> M2<V> inv(const M2<V>& s) { return inv2(s, singular); }
    template <class V> static M2<V> matmul(const M2<V>& a, const M2<V>& b) { return matmul2(a, b); }
    template <class X> static double ones_for(const X&) { return 1.0; }
    template <class X> static double zeros_for(const X&) { return 0.0; }
    template <class V> static M2<V> assemble(V x00, V x01, V x10, V x11) { return {{{x00, x01}, {x10, x11}}}; }
    static double one() { return 1.0; }
    static double sign(double x) { return sign_of(x); }
    template <bool F> static double real(Cx<F> x) { return x.re; }
    static double real(double x) { return x; }
    template <bool F> static Cx<F> sqrt(Cx<F> x) { return csqrt(x); }
    static double sqrt(double x) { return std::sqrt(x); }
    template <bool F> static double angle(Cx<F> x) { return std::atan2(x.im, x.re); }
    static double angle(double x) { return std::atan2(0.0, x); }
    static double cos(double x) { return std::cos(x); }
#if defined(HIDDEN_LANES4)
    // Lane by lane with exactly the scalar operations above.
    static R4 sign(R4 x) { return per_lane(x, sign_of); }
    static R4 real(R4 x) { return x; }
    template <bool F> static R4 real(C4<F> x) { return x.re; }
    static R4 sqrt(R4 x) { return _mm256_sqrt_pd(x.v); }
    template <bool F> static C4<F> sqrt(C4<F> z) {
        const v4d x2 = _mm256_mul_pd(z.re, z.re), y2 = _mm256_mul_pd(z.im, z.im);
        const v4d mod = _mm256_sqrt_pd(_mm256_add_pd(x2, y2));
        const v4d ax = abs_of(R4(z.re)).v, ay = abs_of(R4(z.im)).v;
        const v4d t = _mm256_sqrt_pd(_mm256_mul_pd(_mm256_add_pd(ax, mod), _mm256_set1_pd(0.5)));
        const v4d two_t = _mm256_add_pd(t, t);
        const v4d sign_y = _mm256_and_pd(z.im, _mm256_set1_pd(-0.0));
        const v4d nonneg = _mm256_cmp_pd(z.re, _mm256_setzero_pd(), _CMP_GE_OQ);
        const v4d re = _mm256_blendv_pd(_mm256_div_pd(ay, two_t), t, nonneg);
        const v4d im = _mm256_blendv_pd(_mm256_or_pd(t, sign_y), _mm256_div_pd(z.im, two_t), nonneg);
        return {re, im};
    }
    template <bool F> static R4 angle(C4<F> x) {
        return per_lane(R4(x.im), R4(x.re), [](double y, double r) { return std::atan2(y, r); });
    }
    static R4 angle(R4 x) { return per_lane(x, [](double v) { return std::atan2(0.0, v); }); }
    static R4 cos(R4 x) { return per_lane(x, [](double v) { return std::cos(v); }); }
#endif
};

// body.template operator()<V>(k, ok) over all points: V = the lane group of T
// for whole groups of points starting at k, then V = T for the points left
// over. Everything the body calls is inlined into the one loop; the body
// clears `ok` on a non-finite input, and `finite` learns of it at the end (a
// local flag stays in a register).
template <class T, class F>
HIDDEN_FLATTEN inline void for_points(Index n, bool& finite, F&& body) {
    using G = typename group<T>::type;
    constexpr int w = lanes_of<G>::value;
    bool ok = true;
    Index k = 0;
    if constexpr (w > 1)
        for (; k + w <= n; k += w) body.template operator()<G>(k, ok);
    for (; k < n; ++k) body.template operator()<T>(k, ok);
    finite &= ok;
}

// A kernel's whole run: body.template operator()<V>(path, k, ok) for every
// point in the job's arithmetic (real, or complex with numpy's products),
// inside a floating-point guard. Nothing here allocates or calls Python.
template <class Path, class Body>
inline bool run(const Job& j, Body&& body) {
    auto go = [&]<class T>() -> bool {
        Path p;
        bool finite = true;
        FpGuard fp;
        for_points<T>(j.n, finite, [&]<class V>(Index k, bool& ok) { body.template operator()<V>(p, k, ok); });
        return fp.clean() && finite && !p.singular;
    };
    if (!j.complex) return go.template operator()<double>();
    return j.fused ? go.template operator()<Cx<true>>() : go.template operator()<Cx<false>>();
}

}  // namespace HIDDEN_TARGET
}  // namespace hidden::numeric
