// The areas of orvane_ex._native, each registering its functions.
#pragma once

#include <pybind11/pybind11.h>

#include <cfenv>

namespace orvane {
namespace py = pybind11;

// Floating-point traps a caller enabled (feenableexcept, from a debugger or
// another extension) must not kill the process inside our loops, whose
// non-finite intermediate values are checked or reported: while it lives,
// no operation traps; the caller's mode and flags are restored after.
class FpHold {
public:
    FpHold() { std::feholdexcept(&saved_); }
    ~FpHold() { std::fesetenv(&saved_); }
    FpHold(const FpHold&) = delete;
    FpHold& operator=(const FpHold&) = delete;

private:
    std::fenv_t saved_;
};

inline constexpr double kPi = 3.14159265358979323846;

void register_info(py::module_& m);
void register_touchstone(py::module_& m);
void register_calkit(py::module_& m);
void register_trl(py::module_& m);
void register_fpenv(py::module_& m);
void register_sensitivity(py::module_& m);
void register_lrm(py::module_& m);
void register_fixture(py::module_& m);
void register_surface(py::module_& m);

}  // namespace orvane
