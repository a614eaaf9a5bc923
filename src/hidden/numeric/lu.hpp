// Per-point 2x2 and 3x3 kernels: LU with partial pivoting on |re| + |im|, as
// LAPACK's getrf does. An exactly zero pivot sets `singular`; the caller then
// leaves the work to numpy, which raises its LinAlgError (or returns 0 for det).
#pragma once

#include "cplx.hpp"

namespace hidden::numeric {

template <class T>
struct M2 {
    T m[2][2];
};

template <class T>
inline T det2(const M2<T>& a, bool& singular) {
    const T &a00 = a.m[0][0], &a01 = a.m[0][1], &a10 = a.m[1][0], &a11 = a.m[1][1];
    if (abs1(a10) > abs1(a00)) {
        const T l = a00 / a10;
        const T lu = l * a11;
        const T u = a01 - lu;
        singular |= is_zero(u);
        const T d = a10 * u;
        return -d;
    }
    if (is_zero(a00)) {
        singular = true;
        return a00;
    }
    const T l = a10 / a00;
    const T lu = l * a01;
    const T u = a11 - lu;
    singular |= is_zero(u);
    return a00 * u;
}

}  // namespace hidden::numeric
