// correctPortExt: moves one port's reference plane past an extension.
#include "calibration.hpp"
#include "native.hpp"

namespace hidden::calibration {

py::object correctPortExt(const Call& c) {
    py::handle S_ext = c[0], e10e01 = c[1], port_num = c[2];
    int n_, k_;
    if (truth(port_num, Py_EQ, py::int_(1))) {
        n_ = 0, k_ = 1;
    } else if (truth(port_num, Py_EQ, py::int_(2))) {
        n_ = 1, k_ = 0;
    } else {
        builtin_print()("Invalid Port Number. Options are 1 or 2");
        // No port to correct: returning a half-filled stack would pass off
        // zeros as a measurement.
        return py::none();
    }
    if (genuine(Name::np)) {
        auto S = stack_in(S_ext), e = array_in(e10e01, 1);
        // A real e10e01 under a complex stack would take numpy's real sqrt.
        if (same_points({&S, &e}) && (e->complex || !S->complex)) {
            const Py_ssize_t n = S->n;
            py::object r = run_native(S->complex || e->complex, [&]<class T>(CalPoint& p, bool& finite) -> py::object {
                py::array out = new_array(true, {n, 2, 2});
                auto* d = static_cast<std::complex<double>*>(out.mutable_data());
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    const M2<V> s = load_stack<V>(*S, k, ok);
                    const V ek = load_vec<V>(*e, k, ok);
                    put_complex(d, k, 2 * n_ + n_, s.m[n_][n_] / ek);
                    const V root = p.sqrt(ek);  // the same value numpy computes twice
                    put_complex(d, k, 2 * n_ + k_, s.m[n_][k_] / root);
                    put_complex(d, k, 2 * k_ + n_, s.m[k_][n_] / root);
                    put_complex(d, k, 2 * k_ + k_, s.m[k_][k_]);
                });
                return out;
            });
            if (r) return r;
        }
    }
    // The result starts as a complex128 stack of zeros.
    py::object len = py::int_(py::len(S_ext));
    py::object S_dut = global(Name::np).attr("zeros")(py::make_tuple(len, 2, 2),
                                                       py::arg("dtype") = py::module_::import("numpy").attr("complex128"));
    auto all = py::reinterpret_steal<py::object>(PySlice_New(nullptr, nullptr, nullptr));
    if (!all) throw py::error_already_set();
    auto idx = [&](int i, int j) { return py::make_tuple(all, i, j); };
    S_dut[idx(n_, n_)] = py::object(S_ext[idx(n_, n_)]) / py::reinterpret_borrow<py::object>(e10e01);
    S_dut[idx(n_, k_)] = py::object(S_ext[idx(n_, k_)]) / NumpyPath::sqrt(e10e01);
    S_dut[idx(k_, n_)] = py::object(S_ext[idx(k_, n_)]) / NumpyPath::sqrt(e10e01);
    S_dut[idx(k_, k_)] = S_ext[idx(k_, k_)];
    return S_dut;
}

}  // namespace hidden::calibration
