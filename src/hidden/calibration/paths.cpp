#include "paths.hpp"

namespace hidden::calibration {

py::object CalNumpy::system3(py::handle a00, py::handle a01, py::handle a02, py::handle a10, py::handle a11,
                             py::handle a12, py::handle a20, py::handle a21, py::handle a22) {
    py::object array = global(Name::np).attr("array");
    py::list rows = list_of({list_of({a00, a01, a02}), list_of({a10, a11, a12}), list_of({a20, a21, a22})});
    return array(rows).attr("swapaxes")(0, 1).attr("T");
}

py::object CalNumpy::rhs3(py::handle b0, py::handle b1, py::handle b2) {
    py::object array = global(Name::np).attr("array");
    py::list rows = list_of({list_of({b0}), list_of({b1}), list_of({b2})});
    return array(rows).attr("T").attr("swapaxes")(1, 2);
}

py::object CalNumpy::squeeze_rhs(py::handle x) {
    py::object squeeze = global(Name::np).attr("squeeze");
    return squeeze(x, py::arg("axis") = 2);
}

std::array<py::object, 2> CalNumpy::isolation_terms(py::handle isolation, py::handle e00) {
    if (!isolation.is_none()) return {at(isolation, 1, 0), at(isolation, 0, 1)};
    return {zeros_for(e00), zeros_for(e00)};
}

py::object CalNumpy::terms(py::handle e00, py::handle e11, py::handle e10e01, py::handle e10e32, py::handle e22,
                           py::handle e30, py::handle ep33, py::handle ep22, py::handle ep23ep32,
                           py::handle ep23ep01, py::handle ep11, py::handle ep03) {
    py::object fwd = global(Name::np).attr("array")(list_of({e00, e11, e10e01, e10e32, e22, e30})).attr("T");
    py::object rev = global(Name::np).attr("array")(list_of({ep33, ep22, ep23ep32, ep23ep01, ep11, ep03})).attr("T");
    return py::make_tuple(fwd, rev);
}

}  // namespace hidden::calibration
