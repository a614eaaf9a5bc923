// Shared plumbing of the native paths of the error models.
#pragma once

#include "paths.hpp"

namespace hidden::calibration {

// Equal point counts across the arguments of one call.
inline bool same_points(std::initializer_list<const std::optional<ArrayIn>*> args) {
    Py_ssize_t n = -1;
    for (auto* a : args) {
        if (!*a) return false;
        if (n >= 0 && (*a)->n != n) return false;
        n = (*a)->n;
    }
    return true;
}

inline bool any_complex(std::initializer_list<const std::optional<ArrayIn>*> args) {
    bool c = false;
    for (auto* a : args) c |= (*a)->complex;
    return c;
}

// Element-wise formulas stay bit-exact only when numpy would not mix real and
// complex arithmetic: all arguments real, or all complex.
inline bool one_kind(std::initializer_list<const std::optional<ArrayIn>*> args) {
    bool first = (*args.begin())->value().complex;
    for (auto* a : args)
        if ((*a)->complex != first) return false;
    return true;
}

// A real or complex point into a complex128 result, as numpy's assignment casts it.
template <class T>
inline void put_complex(std::complex<double>& dst, const T& v) {
    if constexpr (is_complex<T>::value) dst = {v.re, v.im};
    else dst = {v, 0.0};
}

// Runs body.template operator()<T>(p, finite) inside an FpGuard; the result
// stands only if nothing overflowed, divided by zero, met a non-finite input
// or a zero pivot.
template <class Body>
py::object run_native(bool complex, Body&& body) {
    return dispatch(complex, [&]<class T>() -> py::object {
        CalPoint p;
        bool finite = true;
        FpGuard fp;
        py::object r = body.template operator()<T>(p, finite);
        if (!fp.clean() || !finite || p.singular) return py::object();
        return r;
    });
}

}  // namespace hidden::calibration
