// Shell-internal state shared by the module set-up and the namespace look-ups.
#pragma once

#include "module.hpp"

namespace hidden::shell {

struct State {
    PyObject* module = nullptr;     // the one module object of this process
    PyObject* ns = nullptr;         // its __dict__
    PyObject* builtins = nullptr;   // the builtins module
    PyObject* name[int(Name::count)] = {};      // interned names
    PyObject* genuine[int(Name::count)] = {};   // the objects the native paths stand in for
    PyObject* input = nullptr;
    PyObject* range = nullptr;
    PyObject* print = nullptr;
    bool windows = false;
};
State& state();

// Interns the names; called once before the import sequence.
void init_names();

}  // namespace hidden::shell
