// The two evaluation paths every numeric function is written for. A formula is
// a template over a path object P:
//  - NumpyPath: each value is a whole numpy vector or stack and each step is
//    the documented numpy call, reached through the module namespace;
//  - PointPath<T>: each value is one frequency point (double or complex), and
//    the formula runs inside one fused loop over the points.
// Write formulas one operation per statement, in the documented order: C++
// leaves the order of operands unspecified where Python goes left to right.
#pragma once

#include "arrays.hpp"
#include "fpguard.hpp"
#include "probe.hpp"
#include "shell/module.hpp"

namespace hidden::numeric {

struct NumpyPath {
    static py::object at(py::handle s, int i, int j);  // s[:, i, j]
    static py::object det(py::handle s);                // det(s)
    static py::object ones_for(py::handle s);           // np.ones(s.shape[0])
    static py::object assemble(py::handle x00, py::handle x01, py::handle x10, py::handle x11);
    static py::object one() { return py::int_(1); }
};

template <class T>
struct PointPath {
    bool singular = false;
    static T at(const M2<T>& s, int i, int j) { return s.m[i][j]; }
    T det(const M2<T>& s) { return det2(s, singular); }
    static double ones_for(const M2<T>&) { return 1.0; }
    static M2<T> assemble(T x00, T x01, T x10, T x11) { return {{{x00, x01}, {x10, x11}}}; }
    static double one() { return 1.0; }
};

// body(k) for k = 0..n-1, everything it calls inlined into one loop. Complex
// work in numpy's fused mode is compiled with FMA so std::fma is one instruction
// (that mode is only chosen when numpy itself runs FMA code on this CPU).
template <class F>
[[gnu::flatten]] inline void loop_plain(Py_ssize_t n, F&& body) {
    for (Py_ssize_t k = 0; k < n; ++k) body(k);
}
#if defined(__x86_64__) && defined(__GNUC__)
template <class F>
[[gnu::flatten, gnu::target("fma")]] inline void loop_fused(Py_ssize_t n, F&& body) {
    for (Py_ssize_t k = 0; k < n; ++k) body(k);
}
#else
template <class F>
inline void loop_fused(Py_ssize_t n, F&& body) { loop_plain(n, body); }
#endif

template <class T, class F>
inline void for_points(Py_ssize_t n, F&& body) {
    if constexpr (std::is_same_v<T, Cx<true>>) loop_fused(n, body);
    else loop_plain(n, body);
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
