// The module shell as the subsystems see it: the function table they register
// into, the namespace they reach at call time, and traceback entries.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

namespace hidden {
namespace py = pybind11;

// Names that functions look up in the module namespace when they are called.
enum class Name : int {
    sys, matplotlib, plt, np, solve, det, inv, sp, rf, Beep,
    beep, userMsg, S2T, T2S, measure1Port, ab2G, measure2Port, ab2S_SwitchCorrect, ab2S,
    get1PortModel, get1PortResponseModel, prompt1PortMeasure, prompt2PortMeasure, prompt1PortSOL,
    count
};

// The namespace entry, falling back to the built-ins; NameError when neither has it.
py::object global(Name n);

// True while the namespace still holds the genuine object for `n`: the library
// object itself (not merely whatever was bound at import) or this module's own
// function. The native paths run only under this condition.
bool genuine(Name n);
template <class... N>
bool genuine(N... n) { return (genuine(n) && ...); }

// `input`, `range` and `print` as found among the built-ins at import.
py::handle builtin_input();
py::handle builtin_range();
py::handle builtin_print();

// How a function takes its arguments.
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

struct FunctionEntry {
    const char* name;
    int line;  // definition line reported in tracebacks
    Form form;
    std::vector<const char*> params;
    std::vector<DefaultMaker> defaults;  // for the last params, made once at import
    bool var_kwargs;
    const char* doc;  // nullptr: no docstring
    Impl impl;
};
using Registry = std::vector<FunctionEntry>;

void register_netparams(Registry&);
void register_calibration(Registry&);
void register_touchstone(Registry&);
void register_measure(Registry&);
void register_plots(Registry&);

// `a, b, ... = seq` for n names, with the interpreter's unpacking errors.
std::vector<py::object> unpack(py::handle seq, Py_ssize_t n);

// `if a OP b:` as Python runs it: the comparison, then the truth of its result.
bool truth(py::handle a, int op, py::handle b);

// Adds a traceback entry (function "orvane_ex.hidden.NAME" or "genexpr", file
// "orvane_ex\hidden") to the exception being raised.
void add_traceback(const char* funcname, int line);

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
