#include "arrays.hpp"

#include <complex>
#include <cstdlib>
#include <utility>

namespace hidden::numeric {

enum : int { kDouble = 12, kCDouble = 15, kAligned = 0x0100 };

std::optional<ArrayIn> array_in(py::handle obj, int ndim) {
    auto& api = py::detail::npy_api::get();
    if (Py_TYPE(obj.ptr()) != api.PyArray_Type_) return std::nullopt;
    auto* a = py::detail::array_proxy(obj.ptr());
    if (a->nd != ndim || !(a->flags & kAligned)) return std::nullopt;
    auto* d = py::detail::array_descriptor_proxy(a->descr);
    if (d->type_num != kDouble && d->type_num != kCDouble) return std::nullopt;
#if PY_LITTLE_ENDIAN
    if (d->byteorder == '>') return std::nullopt;
#else
    if (d->byteorder == '<') return std::nullopt;
#endif
    if (a->dimensions[0] < 1) return std::nullopt;
    ArrayIn r{a->data, a->dimensions[0], {0, 0, 0}, {0, 0, 0}, d->type_num == kCDouble};
    for (int i = 0; i < ndim; ++i) {
        r.shape[i] = a->dimensions[i];
        r.stride[i] = a->strides[i];
    }
    return r;
}

py::dtype dtype_of(bool complex) {
    static py::dtype f64 = py::dtype::of<double>();
    static py::dtype c128 = py::dtype::of<std::complex<double>>();
    return complex ? c128 : f64;
}

// PyArray_NewFromDescr without pybind11's conversions: these sit on the
// per-call path of every native result.
static py::array new_from_descr(bool complex, int nd, Py_ssize_t* shape, Py_ssize_t* strides, void* data,
                                PyObject* base) {
    auto& api = py::detail::npy_api::get();
    PyObject* descr = dtype_of(complex).inc_ref().ptr();  // stolen
    const int flags = data ? (api.NPY_ARRAY_WRITEABLE_ | api.NPY_ARRAY_ALIGNED_) : 0;
    PyObject* a = api.PyArray_NewFromDescr_(api.PyArray_Type_, descr, nd, shape, strides, data, flags, nullptr);
    if (!a) throw py::error_already_set();
    if (base && api.PyArray_SetBaseObject_(a, Py_NewRef(base)) < 0) {
        Py_DECREF(a);
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::array>(a);
}

py::array new_array(bool complex, std::initializer_list<Py_ssize_t> shape) {
    Py_ssize_t dims[3];
    int nd = 0;
    for (Py_ssize_t d : shape) dims[nd++] = d;
    return new_from_descr(complex, nd, dims, nullptr, nullptr, nullptr);
}

Assembled new_assembled(bool complex, Py_ssize_t n) {
    py::array base = new_array(complex, {2, 2, n});
    const Py_ssize_t es = complex ? 16 : 8;
    char* p = static_cast<char*>(base.mutable_data());
    Py_ssize_t shape[3] = {n, 2, 2}, strides[3] = {es, 2 * n * es, n * es};
    return Assembled{new_from_descr(complex, 3, shape, strides, p, base.ptr()), {p, p + n * es, p + 2 * n * es, p + 3 * n * es}};
}

}  // namespace hidden::numeric

namespace hidden::numeric {

Transposed new_transposed(bool complex, Py_ssize_t rows, Py_ssize_t n) {
    py::array base = new_array(complex, {rows, n});
    const Py_ssize_t es = complex ? 16 : 8;
    char* p = static_cast<char*>(base.mutable_data());
    Py_ssize_t shape[2] = {n, rows}, strides[2] = {es, n * es};
    return Transposed{new_from_descr(complex, 2, shape, strides, p, base.ptr()), p};
}

py::array new_like(const ArrayIn& a, int ndim) {
    int order[3] = {0, 1, 2};
    // axes sorted by decreasing stride (stable, so ties keep C order)
    for (int i = 1; i < ndim; ++i)
        for (int j = i; j > 0 && std::abs(a.stride[order[j]]) > std::abs(a.stride[order[j - 1]]); --j)
            std::swap(order[j], order[j - 1]);
    bool c_order = true;
    for (int i = 0; i < ndim; ++i) c_order &= order[i] == i;
    if (c_order) {
        Py_ssize_t dims[3] = {a.shape[0], a.shape[1], a.shape[2]};
        return new_from_descr(a.complex, ndim, dims, nullptr, nullptr, nullptr);
    }
    const Py_ssize_t es = a.complex ? 16 : 8;
    Py_ssize_t shape[3], strides[3], step = es;
    for (int i = ndim - 1; i >= 0; --i) {
        strides[order[i]] = step;
        step *= a.shape[order[i]];
    }
    for (int i = 0; i < ndim; ++i) shape[i] = a.shape[i];
    Py_ssize_t base_shape[1] = {step / es};
    py::array base = new_from_descr(a.complex, 1, base_shape, nullptr, nullptr, nullptr);
    return new_from_descr(a.complex, ndim, shape, strides, base.mutable_data(), base.ptr());
}

py::array real_part(const py::array& a) {
    // The complex results are dense, so halving every stride lays the real
    // parts out in the same order in a buffer of as many doubles.
    auto* p = py::detail::array_proxy(a.ptr());
    const int nd = p->nd;
    Py_ssize_t shape[3], strides[3], total = 1;
    for (int i = 0; i < nd; ++i) {
        shape[i] = p->dimensions[i];
        strides[i] = p->strides[i] / 2;
        total *= shape[i];
    }
    py::array base = new_from_descr(false, 1, &total, nullptr, nullptr, nullptr);
    char* out = static_cast<char*>(base.mutable_data());
    py::array r = new_from_descr(false, nd, shape, strides, out, base.ptr());
    for (Py_ssize_t i = 0; i < shape[0]; ++i)
        for (Py_ssize_t j = 0; j < (nd > 1 ? shape[1] : 1); ++j)
            for (Py_ssize_t k = 0; k < (nd > 2 ? shape[2] : 1); ++k) {
                Py_ssize_t to = i * strides[0];
                if (nd > 1) to += j * strides[1];
                if (nd > 2) to += k * strides[2];
                *reinterpret_cast<double*>(out + to) = *reinterpret_cast<const double*>(p->data + 2 * to);
            }
    return r;
}

}  // namespace hidden::numeric
