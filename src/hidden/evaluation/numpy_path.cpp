#include "numpy_path.hpp"

namespace hidden::evaluation {


py::object NumpyPath::at(py::handle s, int i, int j) {
    return s[py::make_tuple(full_slice(), i, j)];
}

py::object NumpyPath::col(py::handle g, int i) { return g[py::make_tuple(full_slice(), i)]; }

py::object NumpyPath::det(py::handle s) { return global(Name::det)(s); }

py::object NumpyPath::inv(py::handle s) { return global(Name::inv)(s); }

py::object NumpyPath::matmul(py::handle a, py::handle b) { return global(Name::np).attr("matmul")(a, b); }

py::object NumpyPath::zeros_for(py::handle q) {
    py::object zeros = global(Name::np).attr("zeros");
    return zeros(q.attr("shape"));
}

py::object NumpyPath::np_call(const char* name, py::handle x) { return global(Name::np).attr(name)(x); }

py::object NumpyPath::ones_for(py::handle s) {
    py::object ones = global(Name::np).attr("ones");
    py::object n = s.attr("shape")[py::int_(0)];
    return ones(n);
}

py::object NumpyPath::assemble(py::handle x00, py::handle x01, py::handle x10, py::handle x11) {
    py::object array = global(Name::np).attr("array");
    return array(list_of({list_of({x00, x01}), list_of({x10, x11})})).attr("swapaxes")(0, 1).attr("T");
}

}  // namespace hidden::evaluation
