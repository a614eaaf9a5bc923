// Per-point 2x2 and 3x3 kernels: LU with partial pivoting on |re| + |im|, as
// LAPACK's getrf does. An exactly zero pivot sets `singular`; the caller then
// leaves the work to numpy, which raises its LinAlgError (or returns 0 for det).
#pragma once

#include <array>
#include <utility>

#include "cplx.hpp"

namespace hidden::numeric {

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

}  // namespace hidden::numeric

namespace hidden::numeric {

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

template <class T>
struct M3 {
    T m[3][3];
};

// x of A x = b by LU with partial pivoting on |re| + |im|.
template <class T>
inline std::array<T, 3> solve3(M3<T> a, std::array<T, 3> b, bool& singular) {
    T recip[3];
    for (int c = 0; c < 3; ++c) {
        // Bring the largest |re| + |im| of column c to row c; the first of equal
        // maxima wins, as in LAPACK.
        for (int r = c + 1; r < 3; ++r) {
            const auto swap = abs1(a.m[r][c]) > abs1(a.m[c][c]);
            for (int j = 0; j < 3; ++j) {
                const T top = pick(swap, a.m[r][j], a.m[c][j]);
                a.m[r][j] = pick(swap, a.m[c][j], a.m[r][j]);
                a.m[c][j] = top;
            }
            const T top = pick(swap, b[size_t(r)], b[size_t(c)]);
            b[size_t(r)] = pick(swap, b[size_t(c)], b[size_t(r)]);
            b[size_t(c)] = top;
        }
        singular |= any_zero(a.m[c][c]);
        // like getf2: one reciprocal of the pivot, then multiplications
        recip[c] = T(1.0) / a.m[c][c];
        for (int r = c + 1; r < 3; ++r) {
            const T l = a.m[r][c] * recip[c];
            for (int j = c + 1; j < 3; ++j) {
                const T lu = l * a.m[c][j];
                a.m[r][j] = a.m[r][j] - lu;
            }
            const T lb = l * b[size_t(c)];
            b[size_t(r)] = b[size_t(r)] - lb;
        }
    }
    std::array<T, 3> x;
    for (int r = 2; r >= 0; --r) {
        T s = b[size_t(r)];
        for (int j = r + 1; j < 3; ++j) {
            const T t = a.m[r][j] * x[size_t(j)];
            s = s - t;
        }
        x[size_t(r)] = s * recip[r];
    }
    return x;
}

}  // namespace hidden::numeric
