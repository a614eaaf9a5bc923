#include "docs.hpp"
#include "touchstone.hpp"
#include "shell/defaults.hpp"

namespace hidden {

void register_touchstone(Registry& r) {
    using namespace touchstone;
    r.push_back({"readSnP", 40, Form::normal, {"path", "freq_desired", "kind"},
                 {defaults::none, []() -> py::object { return py::str("dB"); }}, false, readSnP_doc, readSnP});
    r.push_back({"writeSnP", 99, Form::normal, {"freq_vec", "S_data", "path", "freq_unit"},
                 {[]() -> py::object { return py::str("Hz"); }}, false, writeSnP_doc, writeSnP});
}

}  // namespace hidden
