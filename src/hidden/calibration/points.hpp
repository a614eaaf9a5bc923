// The error models on single points (the native path): module functions that
// a formula calls are inlined as formulas, and the structural steps (3x3
// systems, column unpacking, results) work on values.
#pragma once

#include <utility>

#include "core/points.hpp"
#include "formulas.hpp"

namespace hidden::calibration {
inline namespace HIDDEN_TARGET {
using namespace numeric;

// The value type that holds both, as their sum has it: complex wins over
// real, lanes over single points.
template <class A, class B> using wider_t = decltype(std::declval<A>() + std::declval<B>());

struct NoIsolation {};

template <class V>
struct EightTerm {
    M2<V> A, B;
    V q;
};

struct CalPoint : PointPath {
    static double real_constant(double x) { return x; }
    static double int_constant(long x) { return double(x); }
    template <class V> M2<V> S2T(const M2<V>& s) { return netparams::S2T(*this, s); }
    template <class V> M2<V> T2S(const M2<V>& t) { return netparams::T2S(*this, t); }
    template <class V> std::array<V, 3> get1PortModel(const std::array<V, 3>& g, const std::array<V, 3>& gm) {
        return calibration::get1PortModel(*this, g, gm);
    }

    // The one-port system's first column is PointPath's ones_for: 1.0.
    template <class V>
    static M3UnitCol0<V> system3(double, V a01, V a02, double, V a11, V a12, double, V a21, V a22) {
        return {{{a01, a02}, {a11, a12}, {a21, a22}}};
    }
    template <class V> static std::array<V, 3> rhs3(V b0, V b1, V b2) { return {b0, b1, b2}; }
    template <class A, class V> std::array<V, 3> solve(const A& a, const std::array<V, 3>& b) {
        return solve3(a, b, singular);
    }
    template <class V> static const std::array<V, 3>& squeeze_rhs(const std::array<V, 3>& x) { return x; }
    template <class V> static const std::array<V, 3>& columns3(const std::array<V, 3>& x) { return x; }
    template <class V> static const std::array<V, 6>& columns6(const std::array<V, 6>& x) { return x; }

    template <class V> static std::array<double, 2> isolation_terms(NoIsolation, const V&) { return {0.0, 0.0}; }
    template <class V> static std::array<V, 2> isolation_terms(const M2<V>& iso, const V&) {
        return {iso.m[1][0], iso.m[0][1]};
    }
    // The twelve terms, fwd then rev, in one value type.
    template <class V, class... X>
    static std::array<V, 12> terms(const V& e00, const X&... rest) {
        return {e00, V(rest)...};
    }

    template <class A, class B, class C, class D>
    static auto assemble(A x00, B x01, C x10, D x11) {
        using V = wider_t<wider_t<A, B>, wider_t<C, D>>;
        return M2<V>{{{V(x00), V(x01)}, {V(x10), V(x11)}}};
    }
    template <class V> static EightTerm<V> result(const M2<V>& A, const M2<V>& B, V q) { return {A, B, q}; }
};

template <class V>
inline void store(const Job& j, Index k, const EightTerm<V>& m) {
    numeric::store(j.out[0], k, m.A);
    numeric::store(j.out[1], k, m.B);
    numeric::store(j.out[2], k, m.q);
}

}  // namespace HIDDEN_TARGET
}  // namespace hidden::calibration
