// Direct access to numpy arrays for the native paths: which arguments qualify,
// how a point is read, and how results are laid out so that they look exactly
// like what the numpy path builds.
#pragma once

#include <pybind11/numpy.h>

#include <cmath>
#include <array>
#include <optional>

#include "cplx.hpp"
#include "lu.hpp"
#include "simd.hpp"

namespace hidden::numeric {
namespace py = pybind11;

// An exact numpy.ndarray of float64 or complex128 in native byte order,
// aligned, with at least one point.
struct ArrayIn {
    const char* data;
    Py_ssize_t n;           // points (size of axis 0)
    Py_ssize_t stride[3];   // bytes
    Py_ssize_t shape[3];
    bool complex;
};

std::optional<ArrayIn> array_in(py::handle obj, int ndim);

// The 2x2 stack [n,2,2] the native paths take.
inline std::optional<ArrayIn> stack_in(py::handle obj) {
    auto a = array_in(obj, 3);
    if (a && (a->shape[1] != 2 || a->shape[2] != 2)) return std::nullopt;
    return a;
}

template <class T>
inline T load(const ArrayIn& a, Py_ssize_t offset, bool& finite) {
    const char* p = a.data + offset;
    if constexpr (is_complex<T>::value) {
        T v;
        if (a.complex) {
            v = {reinterpret_cast<const double*>(p)[0], reinterpret_cast<const double*>(p)[1]};
        } else {
            v = {*reinterpret_cast<const double*>(p), 0.0};
        }
        finite &= std::isfinite(v.re) & std::isfinite(v.im);
        return v;
    } else {
        const double v = *reinterpret_cast<const double*>(p);
        finite &= std::isfinite(v);
        return v;
    }
}

// Points per group for a value type: 4 for the AVX2 lanes, 1 for scalars.
template <class V> struct lanes_of { static constexpr int value = 1; };
#if defined(HIDDEN_AVX2)
template <> struct lanes_of<R4> { static constexpr int value = 4; };
template <bool F> struct lanes_of<C4<F>> { static constexpr int value = 4; };
#endif

// The scalar type of one lane.
template <class V> struct scalar_of { using type = V; };
#if defined(HIDDEN_AVX2)
template <> struct scalar_of<R4> { using type = double; };
template <bool F> struct scalar_of<C4<F>> { using type = Cx<F>; };
#endif

// The real counterpart of a value type (frequencies, signs, phases).
template <class V> struct real_of_t { using type = double; };
#if defined(HIDDEN_AVX2)
template <> struct real_of_t<R4> { using type = R4; };
template <bool F> struct real_of_t<C4<F>> { using type = R4; };
#endif
template <class V> using real_of = typename real_of_t<V>::type;

// Value at byte offset `o` of points k..k+W-1 (W = lanes_of<V>).
template <class V>
inline V load_at(const ArrayIn& a, Py_ssize_t k, Py_ssize_t o, bool& finite) {
    using S = typename scalar_of<V>::type;
    if constexpr (lanes_of<V>::value == 1) {
        return load<S>(a, k * a.stride[0] + o, finite);
    } else {
#if defined(HIDDEN_AVX2)
        if constexpr (is_complex<V>::value) {
            if (a.complex && a.stride[0] == 16) {  // consecutive complex values
                V v;
                deinterleave(reinterpret_cast<const double*>(a.data + k * 16 + o), v.re, v.im);
                finite &= all_finite(v.re, v.im);
                return v;
            }
        } else if (a.stride[0] == 8) {
            const v4d x = _mm256_loadu_pd(reinterpret_cast<const double*>(a.data + k * 8 + o));
            finite &= all_finite(x, x);
            return V(x);
        }
#endif
#if defined(HIDDEN_AVX2)
        if constexpr (is_complex<V>::value) {
            if (a.complex) {
                const char* p = a.data + k * a.stride[0] + o;
                const Py_ssize_t s0 = a.stride[0];
                V v;
                gather(reinterpret_cast<const double*>(p), reinterpret_cast<const double*>(p + s0),
                       reinterpret_cast<const double*>(p + 2 * s0), reinterpret_cast<const double*>(p + 3 * s0), v.re,
                       v.im);
                finite &= all_finite(v.re, v.im);
                return v;
            }
        }
#endif
        // a gather; finiteness is checked once on the vectors
        bool unchecked = true;
        S s[4];
        for (int l = 0; l < 4; ++l) s[l] = load<S>(a, (k + l) * a.stride[0] + o, unchecked);
        if constexpr (is_complex<V>::value) {
            const V v(_mm256_set_pd(s[3].re, s[2].re, s[1].re, s[0].re), _mm256_set_pd(s[3].im, s[2].im, s[1].im, s[0].im));
            finite &= all_finite(v.re, v.im);
            return v;
        } else {
            const V v(_mm256_set_pd(s[3], s[2], s[1], s[0]));
            finite &= all_finite(v.v, v.v);
            return v;
        }
    }
}

template <class V>
inline V load_vec(const ArrayIn& a, Py_ssize_t k, bool& finite) {
    return load_at<V>(a, k, 0, finite);
}

// Columns 0..K-1 of row k of a [n, >=K] array.
template <class V, size_t K>
inline std::array<V, K> load_row(const ArrayIn& a, Py_ssize_t k, bool& finite) {
    std::array<V, K> r;
    for (size_t j = 0; j < K; ++j) r[j] = load_at<V>(a, k, Py_ssize_t(j) * a.stride[1], finite);
    return r;
}

template <class V>
inline M2<V> load_stack(const ArrayIn& a, Py_ssize_t k, bool& finite) {
    M2<V> m;
#if defined(HIDDEN_AVX2)
    if constexpr (lanes_of<V>::value == 4 && is_complex<V>::value) {
        if (a.complex && a.stride[0] == 64 && a.stride[1] == 32 && a.stride[2] == 16) {
            // Four C-contiguous 2x2 matrices: a 4x4 transpose of complex values.
            const double* p = reinterpret_cast<const double*>(a.data + k * 64);
            for (int half = 0; half < 2; ++half) {           // entries (half,0) and (half,1)
                const v4d r0 = _mm256_loadu_pd(p + 4 * half), r1 = _mm256_loadu_pd(p + 8 + 4 * half);
                const v4d r2 = _mm256_loadu_pd(p + 16 + 4 * half), r3 = _mm256_loadu_pd(p + 24 + 4 * half);
                for (int j = 0; j < 2; ++j) {
                    const v4d x = j ? _mm256_permute2f128_pd(r0, r2, 0x31) : _mm256_permute2f128_pd(r0, r2, 0x20);
                    const v4d y = j ? _mm256_permute2f128_pd(r1, r3, 0x31) : _mm256_permute2f128_pd(r1, r3, 0x20);
                    m.m[half][j].re = _mm256_unpacklo_pd(x, y);
                    m.m[half][j].im = _mm256_unpackhi_pd(x, y);
                    finite &= all_finite(m.m[half][j].re, m.m[half][j].im);
                }
            }
            return m;
        }
    }
#endif
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) m.m[i][j] = load_at<V>(a, k, i * a.stride[1] + j * a.stride[2], finite);
    return m;
}

// Stores points k..k+W-1 at out[k * step + offset] (elements, not bytes).
template <class T, class V>
inline void put(T* out, Py_ssize_t k, Py_ssize_t step, Py_ssize_t offset, const V& v) {
    if constexpr (lanes_of<V>::value == 1) {
        if constexpr (is_complex<T>::value) {
            // two double stores: a struct copy may be treated as one that
            // aliases everything, reloading the loop's state on every point
            double* d = reinterpret_cast<double*>(out + k * step + offset);
            d[0] = v.re;
            d[1] = v.im;
        } else {
            out[k * step + offset] = v;
        }
    } else {
#if defined(HIDDEN_AVX2)
        if (step == 1) {
            if constexpr (is_complex<T>::value) {
                interleave(reinterpret_cast<double*>(out + k + offset), v.re, v.im);
                return;
            } else {
                _mm256_storeu_pd(out + k + offset, v.v);
                return;
            }
        }
#endif
#if defined(HIDDEN_AVX2)
        if constexpr (is_complex<T>::value) {
            T* p = out + k * step + offset;
            scatter(reinterpret_cast<double*>(p), reinterpret_cast<double*>(p + step),
                    reinterpret_cast<double*>(p + 2 * step), reinterpret_cast<double*>(p + 3 * step), v.re, v.im);
            return;
        }
#endif
        for (int l = 0; l < 4; ++l) {
            if constexpr (is_complex<T>::value) {
                double* d = reinterpret_cast<double*>(out + (k + l) * step + offset);
                d[0] = v.re[l];
                d[1] = v.im[l];
            } else {
                out[(k + l) * step + offset] = v.v[l];
            }
        }
    }
}

template <class T, class V>
inline void store_vec(T* out, Py_ssize_t k, const V& v) {
    put(out, k, 1, 0, v);
}

// A [n, >=k] matrix (standards, error terms).
inline std::optional<ArrayIn> columns_in(py::handle obj, Py_ssize_t k) {
    auto a = array_in(obj, 2);
    if (a && a->shape[1] < k) return std::nullopt;
    return a;
}

py::dtype dtype_of(bool complex);

// A new C-contiguous array of float64 or complex128.
py::array new_array(bool complex, std::initializer_list<Py_ssize_t> shape);

// The stack numpy builds from four [n] vectors with
// np.array([[x00, x01], [x10, x11]]).swapaxes(0, 1).T: a [n,2,2] view of a
// [2,2,n] array. plane[2*i+j] holds x_ij.
struct Assembled {
    py::array view;
    char* plane[4];

    template <class T, class V>
    void store(Py_ssize_t k, const M2<V>& r) {
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) store_vec(reinterpret_cast<T*>(plane[2 * i + j]), k, r.m[i][j]);
    }
};
Assembled new_assembled(bool complex, Py_ssize_t n);

// np.array([row0, ..., row{rows-1}]).T for [n] rows: a [n, rows] view of a
// [rows, n] array; `base` points at row 0.
struct Transposed {
    py::array view;
    char* base;
};
Transposed new_transposed(bool complex, Py_ssize_t rows, Py_ssize_t n);

// A new array shaped like `a` whose axes lie in memory in the order of a's
// strides, as numpy lays out the result of an element-wise operation.
py::array new_like(const ArrayIn& a, int ndim);

// The real parts of a complex result, laid out like it: what numpy returns
// where a step the native path ran in complex arithmetic is real.
py::array real_part(const py::array& a);

}  // namespace hidden::numeric
