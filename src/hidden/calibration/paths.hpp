// The error models on whole arrays (numpy path: module functions called
// through the namespace) and on kinds (the dtypes numpy gives the results).
#pragma once

#include "evaluation/evaluation.hpp"
#include "points.hpp"

namespace hidden::calibration {
using namespace evaluation;
using numeric::KindPath;
using numeric::kReal;

// measured / actual over two [n] vectors of one kind (response models, port
// extension), for `function`.
py::object vector_ratio(Name function, py::handle measured, py::handle actual);

struct CalNumpy : NumpyPath {
    int genexpr_line = 0;  // of the function's column generator (shell/surface.hpp)

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
