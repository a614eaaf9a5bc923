// The one function type behind all module functions.
#pragma once

#include "runtime.hpp"

namespace hidden::runtime {

constexpr int kMaxParams = 8;

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const FunctionEntry* entry;
    PyObject* name;       // str
    PyObject* doc;        // str or None
    PyObject* defaults;   // tuple or None
    PyObject* params;     // tuple of interned parameter names
    PyObject* code;       // made on first access of __code__
    Py_ssize_t nparams;
    Py_ssize_t nrequired;
};

// Binds one call's arguments into `out` (nparams entries, borrowed) and, for
// functions with **kwargs, a new dict into `*kwargs`. Returns false with the
// TypeError set.
bool bind(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out, PyObject** kwargs);

}  // namespace hidden::runtime
