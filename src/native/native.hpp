// The areas of orvane_ex._native, each registering its functions.
#pragma once

#include <pybind11/pybind11.h>

namespace orvane {
namespace py = pybind11;

inline constexpr double kPi = 3.14159265358979323846;

void register_info(py::module_& m);
void register_touchstone(py::module_& m);
void register_calkit(py::module_& m);
void register_trl(py::module_& m);

}  // namespace orvane
