// Small pieces of Python semantics the functions need in C++.
#include "runtime.hpp"

namespace hidden {

[[noreturn]] static void too_few(Py_ssize_t got) {
    PyErr_Format(PyExc_ValueError, "need more than %zd value%.1s to unpack", got, got == 1 ? "" : "s");
    throw py::error_already_set();
}

[[noreturn]] static void too_many(Py_ssize_t n) {
    PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zd)", n);
    throw py::error_already_set();
}

std::vector<py::object> unpack(py::handle seq, Py_ssize_t n) {
    std::vector<py::object> out;
    out.reserve(size_t(n));
    PyObject* s = seq.ptr();
    if (PyTuple_CheckExact(s) || PyList_CheckExact(s)) {
        const Py_ssize_t size = PySequence_Fast_GET_SIZE(s);
        if (size > n) too_many(n);
        if (size < n) too_few(size);
        for (Py_ssize_t i = 0; i < n; ++i) out.push_back(py::reinterpret_borrow<py::object>(PySequence_Fast_GET_ITEM(s, i)));
        return out;
    }
    auto it = py::reinterpret_steal<py::object>(PyObject_GetIter(s));
    if (!it) throw py::error_already_set();
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* v = PyIter_Next(it.ptr());
        if (!v) {
            if (PyErr_Occurred()) throw py::error_already_set();
            too_few(i);
        }
        out.push_back(py::reinterpret_steal<py::object>(v));
    }
    PyObject* extra = PyIter_Next(it.ptr());
    if (extra) {
        Py_DECREF(extra);
        too_many(n);
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    return out;
}

bool truth(py::handle a, int op, py::handle b) {
    auto r = py::reinterpret_steal<py::object>(PyObject_RichCompare(a.ptr(), b.ptr(), op));
    if (!r) throw py::error_already_set();
    const int t = PyObject_IsTrue(r.ptr());
    if (t < 0) throw py::error_already_set();
    return t != 0;
}

py::list list_of(std::initializer_list<py::handle> items) {
    py::list l;
    for (py::handle h : items) l.append(h);
    return l;
}

py::handle full_slice() {
    static PyObject* s = PySlice_New(nullptr, nullptr, nullptr);
    if (!s) throw py::error_already_set();
    return s;
}

}  // namespace hidden
