// Port extension: the extension's response from a known reflection
// (getPortExtModel), then one port's reference plane moved past it
// (correctPortExt).
#include "kernels.hpp"
#include "paths.hpp"

namespace hidden::calibration {

static py::object getPortExtModel(const Call& c) { return vector_ratio(Name::getPortExtModel, c[0], c[1]); }

static const Definition getPortExtModel_definition{
    Name::getPortExtModel, {.params = {"gamma", "gamma_listed"}, .impl = getPortExtModel}};

static py::object correctPortExt(const Call& c) {
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
    return evaluate(
        Name::correctPortExt,
        [&] {
            NativeCall call;
            if (!call.stack(S_ext).vector(e10e01)) return py::object();
            // A real e10e01 under a complex stack would take numpy's real sqrt.
            if (call.kind(0).complex && !call.kind(1).complex) return py::object();
            call.flag(n_);
            call.result(numeric::stack_result(true, call.points()));
            return call.run(kernels().correctPortExt);
        },
        [&] {
            // The result starts as a complex128 stack of zeros.
            py::object len = py::int_(py::len(S_ext));
            py::object S_dut = global(Name::np).attr("zeros")(
                py::make_tuple(len, 2, 2), py::arg("dtype") = py::module_::import("numpy").attr("complex128"));
            auto idx = [&](int i, int j) { return py::make_tuple(full_slice(), i, j); };
            S_dut[idx(n_, n_)] = py::object(S_ext[idx(n_, n_)]) / py::reinterpret_borrow<py::object>(e10e01);
            S_dut[idx(n_, k_)] = py::object(S_ext[idx(n_, k_)]) / NumpyPath::sqrt(e10e01);
            S_dut[idx(k_, n_)] = py::object(S_ext[idx(k_, n_)]) / NumpyPath::sqrt(e10e01);
            S_dut[idx(k_, k_)] = S_ext[idx(k_, k_)];
            return S_dut;
        });
}

static const Definition correctPortExt_definition{
    Name::correctPortExt, {.params = {"S_ext_dut", "e10e01", "port_num"}, .impl = correctPortExt}};

}  // namespace hidden::calibration
