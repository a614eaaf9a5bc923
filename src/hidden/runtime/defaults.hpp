// Makers for the default values of parameters, each called once at import.
#pragma once

#include "runtime.hpp"

namespace hidden::defaults {

inline py::object none() { return py::none(); }
inline py::object true_() { return py::bool_(true); }
inline py::object false_() { return py::bool_(false); }
inline py::object empty_list() { return py::list(); }

}  // namespace hidden::defaults
