// Per-point 2x2 and 3x3 kernels: LU with partial pivoting on |re| + |im|, as
// LAPACK's getrf does. An exactly zero pivot sets `singular`; the caller then
// leaves the work to numpy, which raises its LinAlgError (or returns 0 for det).
#pragma once

#include <array>

#include "cplx.hpp"

namespace hidden::numeric {
inline namespace HIDDEN_TARGET {

template <class T>
struct M2 {
    T m[2][2];
};

// det via getrf's LU: the row with the larger |re| + |im| in column 0 pivots.
template <class T>
inline T det2(const M2<T>& a, bool& singular) {
    const auto swap = abs1(a.m[1][0]) > abs1(a.m[0][0]);
    const T pivot = pick(swap, a.m[1][0], a.m[0][0]);
    const T other = pick(swap, a.m[0][0], a.m[1][0]);
    const T upper = pick(swap, a.m[1][1], a.m[0][1]);  // pivot row, column 1
    const T lower = pick(swap, a.m[0][1], a.m[1][1]);
    const T l = other / pivot;
    const T lu = l * upper;
    const T u = lower - lu;
    singular |= any_zero(pivot) || any_zero(u);
    const T d = pivot * u;
    return pick(swap, T(-d), d);
}


template <class T>
inline M2<T> matmul2(const M2<T>& a, const M2<T>& b) {
    M2<T> r;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
            const T p0 = a.m[i][0] * b.m[0][j];
            const T p1 = a.m[i][1] * b.m[1][j];
            r.m[i][j] = p0 + p1;
        }
    return r;
}

// inv via getrf and getrs on the identity, as numpy.linalg.inv does.
template <class T>
inline M2<T> inv2(const M2<T>& a, bool& singular) {
    const auto swap = abs1(a.m[1][0]) > abs1(a.m[0][0]);
    const T p0 = pick(swap, a.m[1][0], a.m[0][0]);
    const T p1 = pick(swap, a.m[1][1], a.m[0][1]);
    const T o0 = pick(swap, a.m[0][0], a.m[1][0]);
    const T o1 = pick(swap, a.m[0][1], a.m[1][1]);
    const T l = o0 / p0;
    const T lp1 = l * p1;
    const T u11 = o1 - lp1;
    singular |= any_zero(p0) || any_zero(u11);
    M2<T> r;
    const T one(1.0), zero(0.0);
    for (int c = 0; c < 2; ++c) {
        // permuted right-hand side: column c of the identity
        const T y0 = pick(swap, c == 1 ? one : zero, c == 0 ? one : zero);
        const T r1 = pick(swap, c == 0 ? one : zero, c == 1 ? one : zero);
        const T ly0 = l * y0;
        const T y1 = r1 - ly0;
        const T x1 = y1 / u11;
        const T px1 = p1 * x1;
        const T y0b = y0 - px1;
        const T x0 = y0b / p0;
        r.m[0][c] = x0;
        r.m[1][c] = x1;
    }
    return r;
}

// A 3x3 system whose first column is all ones (the one-port model's): the
// first elimination step is a plain subtraction of row 0, which leaves a 2x2
// block for LU with partial pivoting.
template <class T>
struct M3UnitCol0 {
    T m[3][2];  // columns 1 and 2
};

template <class T>
inline std::array<T, 3> solve3(const M3UnitCol0<T>& a, const std::array<T, 3>& b, bool& singular) {
    T u[2][2], c[2];
    for (int r = 0; r < 2; ++r) {
        u[r][0] = a.m[r + 1][0] - a.m[0][0];
        u[r][1] = a.m[r + 1][1] - a.m[0][1];
        c[r] = b[size_t(r) + 1] - b[0];
    }
    const auto swap = abs1(u[1][0]) > abs1(u[0][0]);
    const T p0 = pick(swap, u[1][0], u[0][0]), p1 = pick(swap, u[1][1], u[0][1]), pc = pick(swap, c[1], c[0]);
    const T o0 = pick(swap, u[0][0], u[1][0]), o1 = pick(swap, u[0][1], u[1][1]), oc = pick(swap, c[0], c[1]);
    singular |= any_zero(p0);
    const T recip = T(1.0) / p0;
    const T l = o0 * recip;
    const T lp1 = l * p1;
    const T u11 = o1 - lp1;
    const T lpc = l * pc;
    const T c1 = oc - lpc;
    singular |= any_zero(u11);
    const T x2 = c1 / u11;
    const T p1x2 = p1 * x2;
    const T r1 = pc - p1x2;
    const T x1 = r1 * recip;
    const T a1x1 = a.m[0][0] * x1;
    const T a2x2 = a.m[0][1] * x2;
    const T r0 = b[0] - a1x1;
    const T x0 = r0 - a2x2;
    return {x0, x1, x2};
}

}  // namespace HIDDEN_TARGET
}  // namespace hidden::numeric
