// numpy arrays as the native path sees them: which arguments qualify, and
// results allocated with the layout numpy's own steps would give them.
#pragma once

#include <pybind11/numpy.h>

#include <initializer_list>
#include <optional>

#include "job.hpp"

namespace hidden::numeric {
namespace py = pybind11;

// An exact numpy.ndarray of float64 or complex128 of rank `ndim`, in native
// byte order, aligned, with at least one point. Reads the array's fields and
// nothing else: no Python code runs.
std::optional<ArrayIn> array_in(py::handle obj, int ndim);

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
