// The two paths as the error models need them: module functions called
// through the namespace (numpy path) or inlined as formulas (native path), and
// the few structural steps (3x3 systems, column unpacking, results).
#pragma once

#include <tuple>
#include <utility>

#include "formulas.hpp"
#include "numeric/kinds.hpp"

namespace hidden::calibration {
using namespace numeric;

// Lines of the generator expressions that unpack error-term columns.
constexpr int kGet12TermGenexprLine = 530;
constexpr int kCorrect12TermGenexprLine = 569;

struct CalNumpy : NumpyPath {
    int genexpr_line = 0;

    static py::object S2T(py::handle s) { return global(Name::S2T)(s); }
    static py::object T2S(py::handle t) { return global(Name::T2S)(t); }
    static py::object get1PortModel(py::handle g, py::handle gm) { return global(Name::get1PortModel)(g, gm); }
    static py::object get1PortResponseModel(py::handle g, py::handle gm) {
        return global(Name::get1PortResponseModel)(g, gm);
    }
    static py::object solve(py::handle a, py::handle b) { return global(Name::solve)(a, b); }
    static py::object real_constant(double x) { return py::float_(x); }
    static py::object int_constant(long x) { return py::int_(x); }

    // np.array([[a00, a01, a02], [a10, ...], ...]).swapaxes(0, 1).T: [n, row, coefficient]
    static py::object system3(py::handle a00, py::handle a01, py::handle a02, py::handle a10, py::handle a11,
                              py::handle a12, py::handle a20, py::handle a21, py::handle a22);
    // np.array([[b0], [b1], [b2]]).T.swapaxes(1, 2): [n, 3, 1]
    static py::object rhs3(py::handle b0, py::handle b1, py::handle b2);
    // np.squeeze(x, axis=2)
    static py::object squeeze_rhs(py::handle x);

    // (x[:, i] for i in (0, 1, ...)), unpacked into as many names
    template <size_t N>
    std::array<py::object, N> columns(py::handle x) const {
        return in_genexpr(genexpr_line, [&] {
            std::array<py::object, N> c;
            for (size_t i = 0; i < N; ++i) c[i] = col(x, int(i));
            return c;
        });
    }
    std::array<py::object, 3> columns3(py::handle x) const { return columns<3>(x); }
    std::array<py::object, 6> columns6(py::handle x) const { return columns<6>(x); }

    static std::array<py::object, 2> isolation_terms(py::handle isolation, py::handle e00);
    // (np.array([fwd...]).T, np.array([rev...]).T)
    static py::object terms(py::handle e00, py::handle e11, py::handle e10e01, py::handle e10e32, py::handle e22,
                            py::handle e30, py::handle ep33, py::handle ep22, py::handle ep23ep32,
                            py::handle ep23ep01, py::handle ep11, py::handle ep03);
    template <class... X>
    static py::object result(const X&... x) { return py::make_tuple(x...); }
};

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

// The formulas on kinds: which results numpy gives as complex.
struct CalKind : KindPath {
    static double real_constant(double x) { return x; }
    static double int_constant(long x) { return double(x); }
    Kind S2T(Kind s) { return netparams::S2T(*this, s); }
    Kind T2S(Kind t) { return netparams::T2S(*this, t); }
    Kind get1PortModel(Kind g, Kind gm) { return calibration::get1PortModel(*this, g, gm); }
    static Kind system3(Kind a00, Kind a01, Kind a02, Kind a10, Kind a11, Kind a12, Kind a20, Kind a21, Kind a22) {
        return a00 | a01 | a02 | a10 | a11 | a12 | a20 | a21 | a22;
    }
    static Kind rhs3(Kind b0, Kind b1, Kind b2) { return b0 | b1 | b2; }
    static Kind solve(Kind a, Kind b) { return a | b; }
    static Kind squeeze_rhs(Kind x) { return x; }
    static std::array<Kind, 3> columns3(Kind x) { return {x, x, x}; }
    static std::array<Kind, 6> columns6(Kind x) { return {x, x, x, x, x, x}; }
    static std::array<Kind, 2> isolation_terms(NoIsolation, Kind) { return {kReal, kReal}; }
    static std::array<Kind, 2> isolation_terms(Kind iso, Kind) { return {iso, iso}; }
    // np.array([fwd...]).T and np.array([rev...]).T: one dtype each.
    static std::array<Kind, 2> terms(Kind e00, Kind e11, Kind e10e01, Kind e10e32, Kind e22, Kind e30, Kind ep33,
                                     Kind ep22, Kind ep23ep32, Kind ep23ep01, Kind ep11, Kind ep03) {
        return {e00 | e11 | e10e01 | e10e32 | e22 | e30, ep33 | ep22 | ep23ep32 | ep23ep01 | ep11 | ep03};
    }
    static std::array<Kind, 3> result(Kind A, Kind B, Kind q) { return {A, B, q}; }
};

}  // namespace hidden::calibration
