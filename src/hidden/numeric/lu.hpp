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

// det via getrf's LU: the row with the larger |re| + |im| in column 0 pivots.
template <class T>
inline T det2(const M2<T>& a, bool& singular) {
    const bool swap = abs1(a.m[1][0]) > abs1(a.m[0][0]);
    const T pivot = swap ? a.m[1][0] : a.m[0][0];
    const T other = swap ? a.m[0][0] : a.m[1][0];
    const T upper = swap ? a.m[1][1] : a.m[0][1];  // pivot row, column 1
    const T lower = swap ? a.m[0][1] : a.m[1][1];
    const T l = other / pivot;
    const T lu = l * upper;
    const T u = lower - lu;
    singular |= is_zero(pivot) || is_zero(u);
    const T d = pivot * u;
    return swap ? -d : d;
}

}  // namespace hidden::numeric
