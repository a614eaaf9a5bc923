// The numpy path: each value of a formula is a whole numpy vector or stack,
// each step a numpy call reached through the module namespace, so that
// rebound names are honoured and numpy has its say on values, warnings and
// errors. The same formulas also run on single points (core/points.hpp,
// the native path) and on kinds (core/kinds.hpp, the dtypes of results).
#pragma once

#include "shell/module.hpp"

namespace hidden::evaluation {

struct NumpyPath {
    static py::object at(py::handle s, int i, int j);      // s[:, i, j]
    static py::object col(py::handle g, int i);             // g[:, i]
    static py::object det(py::handle s);                    // det(s)
    static py::object inv(py::handle s);                    // inv(s)
    static py::object matmul(py::handle a, py::handle b);  // np.matmul(a, b)
    static py::object ones_for(py::handle s);               // np.ones(s.shape[0])
    static py::object zeros_for(py::handle q);              // np.zeros(q.shape)
    static py::object assemble(py::handle x00, py::handle x01, py::handle x10, py::handle x11);
    static py::object one() { return py::int_(1); }
    static py::object np_call(const char* name, py::handle x);  // np.<name>(x)
    static py::object sign(py::handle x) { return np_call("sign", x); }
    static py::object real(py::handle x) { return np_call("real", x); }
    static py::object sqrt(py::handle x) { return np_call("sqrt", x); }
    static py::object angle(py::handle x) { return np_call("angle", x); }
    static py::object cos(py::handle x) { return np_call("cos", x); }
};

}  // namespace hidden::evaluation
