// The two evaluation paths every numeric function is written for. A formula is
// a template over a path object P:
//  - NumpyPath: each value is a whole numpy vector or stack and each step is
//    a numpy call, reached through the module namespace;
//  - PointPath: each value is one frequency point (double or Cx) or a group of
//    four in AVX2 lanes (R4, C4), and the formula runs inside one fused loop
//    over the points.
// Write formulas one operation per statement, in numpy's order: C++
// leaves the order of operands unspecified where Python goes left to right.
#pragma once

#include <complex>

#include "arrays.hpp"
#include "fpguard.hpp"
#include "probe.hpp"
#include "shell/module.hpp"

namespace hidden::numeric {

struct NumpyPath {
    static py::object at(py::handle s, int i, int j);  // s[:, i, j]
    static py::object col(py::handle g, int i);         // g[:, i]
    static py::object det(py::handle s);                // det(s)
    static py::object inv(py::handle s);                // inv(s)
    static py::object matmul(py::handle a, py::handle b);  // np.matmul(a, b)
    static py::object ones_for(py::handle s);           // np.ones(s.shape[0])
    static py::object zeros_for(py::handle q);          // np.zeros(q.shape)
    static py::object assemble(py::handle x00, py::handle x01, py::handle x10, py::handle x11);
    static py::object one() { return py::int_(1); }
    static py::object np_call(const char* name, py::handle x);  // np.<name>(x)
    static py::object sign(py::handle x) { return np_call("sign", x); }
    static py::object real(py::handle x) { return np_call("real", x); }
    static py::object sqrt(py::handle x) { return np_call("sqrt", x); }
    static py::object angle(py::handle x) { return np_call("angle", x); }
    static py::object cos(py::handle x) { return np_call("cos", x); }
};

// Values are single points: double or Cx.
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
    static double sign(double x) { return x > 0 ? 1.0 : x < 0 ? -1.0 : x; }
    template <bool F> static double real(Cx<F> x) { return x.re; }
    static double real(double x) { return x; }
    template <bool F> static Cx<F> sqrt(Cx<F> x) {
        const std::complex<double> r = std::sqrt(std::complex<double>(x.re, x.im));
        return {r.real(), r.imag()};
    }
    static double sqrt(double x) { return std::sqrt(x); }
    template <bool F> static double angle(Cx<F> x) { return std::atan2(x.im, x.re); }
    static double angle(double x) { return std::atan2(0.0, x); }
    static double cos(double x) { return std::cos(x); }
#if defined(HIDDEN_AVX2)
    // Lane by lane with the scalar functions above.
    static R4 sign(R4 x) { return per_lane(x, [](double v) { return sign(v); }); }
    static R4 real(R4 x) { return x; }
    template <bool F> static R4 real(C4<F> x) { return x.re; }
    static R4 sqrt(R4 x) { return per_lane(x, [](double v) { return std::sqrt(v); }); }
    // Principal root: t = sqrt((|x| + |z|) / 2), then (t, y / 2t) for x >= 0 and
    // (|y| / 2t, t with the sign of y) otherwise. Accurate to an ulp or two, as
    // numpy's csqrt; z = 0 raises the invalid flag (0/0) and so goes to numpy.
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
        return _mm256_set_pd(std::atan2(x.im[3], x.re[3]), std::atan2(x.im[2], x.re[2]), std::atan2(x.im[1], x.re[1]),
                             std::atan2(x.im[0], x.re[0]));
    }
    static R4 angle(R4 x) { return per_lane(x, [](double v) { return angle(v); }); }
    static R4 cos(R4 x) { return per_lane(x, [](double v) { return std::cos(v); }); }
#endif
};

// The lane group used for a scalar value type: four points at a time where
// the CPU has AVX2, one otherwise.
template <class T> struct group { using type = T; };
#if defined(HIDDEN_AVX2)
template <> struct group<double> { using type = R4; };
template <bool F> struct group<Cx<F>> { using type = C4<F>; };
#endif

// body.template operator()<V>(k, ok) over all points: V = the lane group of T
// for whole groups of points starting at k, then V = T for the points left
// over. Everything the body calls is inlined into the one loop; the body
// clears `ok` on a non-finite input, and `finite` learns of it at the end (a
// local flag stays in a register).
template <class T, class F>
[[gnu::flatten]] inline void for_points(Py_ssize_t n, bool& finite, F&& body) {
    using G = typename group<T>::type;
    constexpr int w = lanes_of<G>::value;
    bool ok = true;
    Py_ssize_t k = 0;
    if constexpr (w > 1)
        for (; k + w <= n; k += w) body.template operator()<G>(k, ok);
    for (; k < n; ++k) body.template operator()<T>(k, ok);
    finite &= ok;
}

// Runs native.template operator()<T>() with T = double for real inputs and
// numpy's complex arithmetic otherwise. An empty result means "use the numpy
// path" (also when numpy's complex arithmetic could not be matched).
template <class Native>
py::object dispatch(bool complex, Native&& native) {
    if (!complex) return native.template operator()<double>();
    switch (cmul_mode()) {
        case CmulMode::fused: return native.template operator()<Cx<true>>();
        case CmulMode::plain: return native.template operator()<Cx<false>>();
        default: return py::object();
    }
}

}  // namespace hidden::numeric
