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

// Entry `offset` of points k.. of a C-contiguous [n, 2, 2] complex128 result,
// real values cast as numpy's assignment casts them (x + 0j).
template <class V>
inline void put_complex(std::complex<double>* out, Py_ssize_t k, Py_ssize_t offset, const V& v) {
    using S = typename scalar_of<V>::type;
    if constexpr (is_complex<V>::value) {
        put(reinterpret_cast<S*>(out), k, 4, offset, v);
    } else {
        double* d = reinterpret_cast<double*>(out);
        S re[lanes_of<V>::value];
        put(re, 0, 1, 0, v);
        for (int l = 0; l < lanes_of<V>::value; ++l) {
            d[2 * (4 * (k + l) + offset)] = re[l];
            d[2 * (4 * (k + l) + offset) + 1] = 0.0;
        }
    }
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
