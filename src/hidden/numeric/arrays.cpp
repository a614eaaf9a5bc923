#include "arrays.hpp"

#include <complex>

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

py::array new_array(bool complex, std::initializer_list<Py_ssize_t> shape) {
    return py::array(dtype_of(complex), std::vector<Py_ssize_t>(shape));
}

Assembled new_assembled(bool complex, Py_ssize_t n) {
    py::array base = new_array(complex, {2, 2, n});
    const Py_ssize_t es = complex ? 16 : 8;
    char* p = static_cast<char*>(base.mutable_data());
    Assembled out{py::array(dtype_of(complex), {n, Py_ssize_t(2), Py_ssize_t(2)}, {es, 2 * n * es, n * es}, p, base),
                  {p, p + n * es, p + 2 * n * es, p + 3 * n * es}};
    return out;
}

}  // namespace hidden::numeric
