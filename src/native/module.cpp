// orvane_ex._native: the native code beyond orvane_ex.hidden, as ordinary
// Python functions. Each area registers its own functions.
#include <pybind11/pybind11.h>

#include "core/setup.hpp"
#include "native.hpp"

PYBIND11_MODULE(_native, m) {
    m.doc() = "Native core of orvane_ex beyond orvane_ex.hidden (calibration kits, Touchstone I/O, TRL).";
    hidden::numeric::set_up_core();
    orvane::register_info(m);
    orvane::register_touchstone(m);
    orvane::register_calkit(m);
    orvane::register_trl(m);
    orvane::register_fpenv(m);
    orvane::register_sensitivity(m);
    orvane::register_lrm(m);
    orvane::register_fixture(m);
    orvane::register_surface(m);
}
