// writeSnP: a frequency vector and S-parameters to a Touchstone file, 50 ohm.
#include "runtime/defaults.hpp"
#include "touchstone/touchstone.hpp"

namespace hidden::touchstone {

// filename = path[path.rfind('/') + 1:]; dir = path[:path.rfind('/')] when
// that "/" stands past the first character, else None. Only "/" separates.
static void split_at_slash(py::handle path, py::object& filename, py::object& dir) {
    py::object last = path.attr("rfind")("/");
    py::object start = last + py::int_(1);
    auto tail = py::reinterpret_steal<py::object>(PySlice_New(start.ptr(), nullptr, nullptr));
    if (!tail) throw py::error_already_set();
    filename = path[tail];
    if (truth(path.attr("rfind")("/"), Py_GT, py::int_(0))) {
        auto head = py::reinterpret_steal<py::object>(PySlice_New(nullptr, path.attr("rfind")("/").ptr(), nullptr));
        if (!head) throw py::error_already_set();
        dir = path[head];
    }
}

static py::object writeSnP(const Call& c) {
    py::handle freq_vec = c[0], S_data = c[1], path = c[2], freq_unit = c[3];
    py::module_ skrf = py::module_::import("skrf");
    py::object filename, dir = py::none();
    if (py::object file = fs_path(path)) {
        // A path object: split by the platform's own separators.
        auto parts = unpack(py::module_::import("os").attr("path").attr("split")(file), 2);
        filename = parts[1];
        if (py::len(parts[0])) dir = parts[0];
    } else {
        split_at_slash(path, filename, dir);
    }
    py::object frequency = skrf.attr("Frequency").attr("from_f")(freq_vec, py::arg("unit") = freq_unit);
    py::object network = skrf.attr("network").attr("Network")(py::arg("frequency") = frequency,
                                                              py::arg("s") = S_data, py::arg("z0") = 50);
    network.attr("write_touchstone")(py::arg("filename") = filename, py::arg("dir") = dir);
    return py::none();
}

static const Definition writeSnP_definition{
    Name::writeSnP, {.params = {"freq_vec", "S_data", "path", "freq_unit"},
                     .defaults = {[]() -> py::object { return py::str("Hz"); }}, .impl = writeSnP}};

}  // namespace hidden::touchstone
