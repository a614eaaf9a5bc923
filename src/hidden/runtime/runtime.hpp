// The function runtime: module functions as Python sees them (one function
// type, argument binding with the module's error texts, traceback entries)
// and the table every subsystem defines its functions into.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

namespace hidden {
namespace py = pybind11;

// How a function takes its arguments: no parameters, one positional-only
// parameter, or positional-or-keyword parameters with defaults.
enum class Form { none, single, normal };

// The bound arguments of one call, in parameter order. They are borrowed from
// the caller or from the defaults and stay alive for the whole call.
struct Call {
    PyObject* const* arg;
    PyObject* kwargs;  // the collected extra keywords, or nullptr
    py::handle operator[](size_t i) const { return arg[i]; }
};
using Impl = py::object (*)(const Call&);
using DefaultMaker = py::object (*)();

// The namespace names, the module's functions among them (shell/surface.hpp).
enum class Name : int;

// One function of the module.
struct FunctionEntry {
    const char* name = nullptr;
    int line = 0;  // definition line reported in tracebacks
    Form form = Form::normal;
    std::vector<const char*> params = {};
    std::vector<DefaultMaker> defaults = {};  // for the last params, made once at import
    bool var_kwargs = false;                  // collects extra keywords into kwargs
    const char* doc = nullptr;                // nullptr: no docstring
    Impl impl = nullptr;
};

// Every function defined so far; the module is set up from it, in order of
// definition line.
const std::vector<FunctionEntry>& function_table();

// Defines a function of the module: one static Definition beside each
// implementation, e.g.
//   static const Definition def{Name::S2T, {.form = Form::single, .params = {"S"}, .impl = S2T}};
// Its name, definition line and docstring are the surface's (shell/surface.hpp).
struct Definition {
    Definition(Name function, FunctionEntry entry);
};

// Function objects for the module's namespace.
PyObject* make_function(const FunctionEntry& entry);
int ready_function_type();

// `a, b, ... = seq` for n names, with the interpreter's unpacking errors.
std::vector<py::object> unpack(py::handle seq, Py_ssize_t n);

// `if a OP b:` as Python runs it: the comparison, then the truth of its result.
bool truth(py::handle a, int op, py::handle b);

// [a, b, ...]: a new list of the items.
py::list list_of(std::initializer_list<py::handle> items);

// The slice [:] for x[:, i] and friends.
py::handle full_slice();

// dtype=complex: the built-in complex type, numpy's complex128.
inline py::handle complex_type() { return reinterpret_cast<PyObject*>(&PyComplex_Type); }

// Adds a traceback entry (function "orvane_ex.hidden.NAME" or "genexpr", file
// "orvane_ex\hidden") to the exception being raised. The frames see `globals`
// (the module's namespace, set once it exists).
void add_traceback(const char* funcname, int line);
void set_traceback_globals(PyObject* globals);

// Runs `body`; if it raises, adds a "genexpr" entry at `line` before the error
// travels on, as a generator expression's frame would.
template <class F>
auto in_genexpr(int line, F&& body) {
    try {
        return body();
    } catch (py::error_already_set& e) {
        e.restore();
        add_traceback("genexpr", line);
        throw py::error_already_set();
    }
}

}  // namespace hidden
