// The module namespace as the functions see it at call time.
#include "state.hpp"

namespace hidden {
namespace shell {

State& state() {
    static State s;
    return s;
}

void init_names() {
    State& s = state();
    for (int i = 0; i < int(Name::count); ++i) {
        if (s.name[i]) continue;
        s.name[i] = PyUnicode_InternFromString(surface::kNames[i]);
        if (!s.name[i]) throw py::error_already_set();
    }
}

}  // namespace shell

py::object global(Name n) {
    shell::State& s = shell::state();
    PyObject* key = s.name[int(n)];
    PyObject* v = PyDict_GetItemWithError(s.ns, key);
    if (v) return py::reinterpret_borrow<py::object>(v);
    if (PyErr_Occurred()) throw py::error_already_set();
    v = PyObject_GetAttr(s.builtins, key);
    if (v) return py::reinterpret_steal<py::object>(v);
    if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
        PyErr_Clear();
        PyErr_Format(PyExc_NameError, "name '%U' is not defined", key);
    }
    throw py::error_already_set();
}

bool genuine(Name n) {
    shell::State& s = shell::state();
    PyObject* want = s.genuine[int(n)];
    return want && PyDict_GetItemWithError(s.ns, s.name[int(n)]) == want;
}

py::handle builtin_input() { return shell::state().input; }
py::handle builtin_range() { return shell::state().range; }
py::handle builtin_print() { return shell::state().print; }
bool on_windows() { return shell::state().windows; }

}  // namespace hidden
