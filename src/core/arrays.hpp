// numpy arrays as the native path sees them: which arguments qualify, and
// results allocated with the layout numpy's own steps would give them.
#pragma once

#include <pybind11/numpy.h>

#include <initializer_list>
#include <optional>

#include "job.hpp"

namespace hidden::numeric {
namespace py = pybind11;

// numpy's type numbers and flag bits (stable parts of its C API)
enum : int { kDouble = 12, kCDouble = 15, kAligned = 0x0100 };

inline bool native_order(const py::detail::PyArrayDescr_Proxy* d) {
#if PY_LITTLE_ENDIAN
    return d->byteorder != '>';
#else
    return d->byteorder != '<';
#endif
}

// An exact numpy.ndarray of float64 or complex128 of rank `ndim`, in native
// byte order, aligned, with at least one point: true, and its description in
// `r`. Reads the array's fields and nothing else: no Python code runs. Inline:
// it sits on the per-call path of every native call.
inline bool read_array(py::handle obj, int ndim, ArrayIn& r) {
    auto& api = py::detail::npy_api::get();
    if (Py_TYPE(obj.ptr()) != api.PyArray_Type_) return false;
    auto* a = py::detail::array_proxy(obj.ptr());
    if (a->nd != ndim || !(a->flags & kAligned)) return false;
    auto* d = py::detail::array_descriptor_proxy(a->descr);
    if ((d->type_num != kDouble && d->type_num != kCDouble) || !native_order(d)) return false;
    if (a->dimensions[0] < 1) return false;
    r.data = a->data;
    r.n = a->dimensions[0];
    r.complex = d->type_num == kCDouble;
    for (int i = 0; i < 3; ++i) {
        r.shape[i] = i < ndim ? a->dimensions[i] : 1;
        r.stride[i] = i < ndim ? a->strides[i] : 0;
    }
    return true;
}

// The object is still the array `r` describes (same type, data, dtype, shape,
// strides, alignment): nothing changed it since read_array.
inline bool still(py::handle obj, int ndim, const ArrayIn& r) {
    if (Py_TYPE(obj.ptr()) != py::detail::npy_api::get().PyArray_Type_) return false;
    auto* a = py::detail::array_proxy(obj.ptr());
    if (a->data != r.data || a->nd != ndim || !(a->flags & kAligned)) return false;
    auto* d = py::detail::array_descriptor_proxy(a->descr);
    if (d->type_num != (r.complex ? kCDouble : kDouble) || !native_order(d)) return false;
    for (int i = 0; i < ndim; ++i)
        if (a->dimensions[i] != r.shape[i] || a->strides[i] != r.stride[i]) return false;
    return true;
}

// read_array as an optional.
inline std::optional<ArrayIn> array_in(py::handle obj, int ndim) {
    ArrayIn a;
    if (!read_array(obj, ndim, a)) return std::nullopt;
    return a;
}

py::dtype dtype_of(bool complex);

// A new C-contiguous array of float64 or complex128.
py::array new_array(bool complex, std::initializer_list<Index> shape);

// A result array and where a kernel writes each of its components.
struct Result {
    py::array array;
    ArrayOut out;
};

// [n,2,2] as np.array([[x00, x01], [x10, x11]]).swapaxes(0, 1).T builds it
// from four [n] vectors: a view of a [2,2,n] array.
Result assembled(bool complex, Index n);
// [n,rows] as np.array([row0, row1, ...]).T builds it: a view of [rows,n].
Result transposed(bool complex, Index rows, Index n);
// A C-contiguous [n] vector, [n,cols] matrix or [n,2,2] stack: the
// components of a point side by side.
Result vector_result(bool complex, Index n);
Result dense(bool complex, Index n, Index cols);
inline Result stack_result(bool complex, Index n) { return dense(complex, n, 4); }
// [n,2,2] laid out as numpy lays out an element-wise result of `like`: its
// axes in memory in the order of like's strides.
Result like(bool complex, const ArrayIn& like);

}  // namespace hidden::numeric
