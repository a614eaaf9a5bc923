// writeSnP: a frequency vector and S-parameters to a Touchstone file, 50 ohm.
#include "touchstone.hpp"

namespace hidden::touchstone {

py::object writeSnP(const Call& c) {
    py::handle freq_vec = c[0], S_data = c[1], path = c[2], freq_unit = c[3];
    py::module_ skrf = py::module_::import("skrf");
    py::object last = path.attr("rfind")("/");
    py::object start = last + py::int_(1);
    auto tail = py::reinterpret_steal<py::object>(PySlice_New(start.ptr(), nullptr, nullptr));
    if (!tail) throw py::error_already_set();
    py::object filename = path[tail];
    // Only "/" separates; a "/" in first place (or none) means no directory.
    py::object dir = py::none();
    if (truth(path.attr("rfind")("/"), Py_GT, py::int_(0))) {
        auto head = py::reinterpret_steal<py::object>(PySlice_New(nullptr, path.attr("rfind")("/").ptr(), nullptr));
        if (!head) throw py::error_already_set();
        dir = path[head];
    }
    py::object frequency = skrf.attr("Frequency").attr("from_f")(freq_vec, py::arg("unit") = freq_unit);
    py::object network = skrf.attr("network").attr("Network")(py::arg("frequency") = frequency,
                                                              py::arg("s") = S_data, py::arg("z0") = 50);
    network.attr("write_touchstone")(py::arg("filename") = filename, py::arg("dir") = dir);
    return py::none();
}

}  // namespace hidden::touchstone
