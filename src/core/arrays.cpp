#include "arrays.hpp"

#include <complex>
#include <cstdlib>
#include <utility>

namespace hidden::numeric {

py::dtype dtype_of(bool complex) {
    static py::dtype f64 = py::dtype::of<double>();
    static py::dtype c128 = py::dtype::of<std::complex<double>>();
    return complex ? c128 : f64;
}

// PyArray_NewFromDescr without pybind11's conversions: these sit on the
// per-call path of every native result. The two descriptors are numpy's
// own, kept for the life of the process.
static py::array new_from_descr(bool complex, int nd, Index* shape, Index* strides, void* data, PyObject* base) {
    static PyObject* const f64 = dtype_of(false).release().ptr();
    static PyObject* const c128 = dtype_of(true).release().ptr();
    auto& api = py::detail::npy_api::get();
    PyObject* descr = Py_NewRef(complex ? c128 : f64);  // stolen
    const int flags = data ? (api.NPY_ARRAY_WRITEABLE_ | api.NPY_ARRAY_ALIGNED_) : 0;
    PyObject* a = api.PyArray_NewFromDescr_(api.PyArray_Type_, descr, nd, shape, strides, data, flags, nullptr);
    if (!a) throw py::error_already_set();
    if (base && api.PyArray_SetBaseObject_(a, Py_NewRef(base)) < 0) {
        Py_DECREF(a);
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::array>(a);
}

py::array new_array(bool complex, std::initializer_list<Index> shape) {
    Index dims[3];
    int nd = 0;
    for (Index d : shape) dims[nd++] = d;
    return new_from_descr(complex, nd, dims, nullptr, nullptr, nullptr);
}

static char* data_of(const py::array& a) { return static_cast<char*>(py::detail::array_proxy(a.ptr())->data); }

// Components at planes of n points each: component c of point k at
// (c * n + k) * es.
static ArrayOut planes(char* data, bool complex, Index n, Index count) {
    const Index es = complex ? 16 : 8;
    ArrayOut o{data, es, {}, complex};
    for (Index c = 0; c < count; ++c) o.offset[c] = c * n * es;
    return o;
}

Result assembled(bool complex, Index n) {
    py::array base = new_array(complex, {2, 2, n});
    const Index es = complex ? 16 : 8;
    Index shape[3] = {n, 2, 2}, strides[3] = {es, 2 * n * es, n * es};
    char* p = data_of(base);
    return {new_from_descr(complex, 3, shape, strides, p, base.ptr()), planes(p, complex, n, 4)};
}

Result transposed(bool complex, Index rows, Index n) {
    py::array base = new_array(complex, {rows, n});
    const Index es = complex ? 16 : 8;
    Index shape[2] = {n, rows}, strides[2] = {es, n * es};
    char* p = data_of(base);
    return {new_from_descr(complex, 2, shape, strides, p, base.ptr()), planes(p, complex, n, rows)};
}

Result vector_result(bool complex, Index n) {
    py::array a = new_array(complex, {n});
    return {a, planes(data_of(a), complex, n, 1)};
}

Result dense(bool complex, Index n, Index cols) {
    py::array a = cols == 4 ? new_array(complex, {n, 2, 2}) : new_array(complex, {n, cols});
    const Index es = complex ? 16 : 8;
    ArrayOut o{data_of(a), cols * es, {}, complex};
    for (Index c = 0; c < cols; ++c) o.offset[c] = c * es;
    return {a, o};
}

Result like(bool complex, const ArrayIn& a) {
    int order[3] = {0, 1, 2};
    // axes sorted by decreasing stride (stable, so ties keep C order)
    for (int i = 1; i < 3; ++i)
        for (int j = i; j > 0 && std::abs(a.stride[order[j]]) > std::abs(a.stride[order[j - 1]]); --j)
            std::swap(order[j], order[j - 1]);
    const Index es = complex ? 16 : 8;
    Index shape[3] = {a.shape[0], a.shape[1], a.shape[2]}, strides[3], step = es;
    for (int i = 2; i >= 0; --i) {
        strides[order[i]] = step;
        step *= a.shape[order[i]];
    }
    if (order[0] == 0 && order[1] == 1 && order[2] == 2) return stack_result(complex, a.shape[0]);
    Index total = step / es;
    py::array base = new_from_descr(complex, 1, &total, nullptr, nullptr, nullptr);
    char* p = data_of(base);
    py::array view = new_from_descr(complex, 3, shape, strides, p, base.ptr());
    ArrayOut o{p, strides[0], {}, complex};
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) o.offset[2 * i + j] = i * strides[1] + j * strides[2];
    return {view, o};
}

}  // namespace hidden::numeric
