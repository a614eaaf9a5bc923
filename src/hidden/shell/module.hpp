// What the subsystems see of the module: the function runtime they define
// their functions into, and the namespace they reach at call time.
#pragma once

#include "surface.hpp"
#include "runtime/runtime.hpp"

namespace hidden {

// The namespace entry, falling back to the built-ins; NameError when neither has it.
py::object global(Name n);

// True while the namespace still holds the genuine object for `n`: the library
// object itself (not merely whatever was bound at import) or this module's own
// function. The native paths run only under this condition.
bool genuine(Name n);

// `input`, `range` and `print` as found among the built-ins at import.
py::handle builtin_input();
py::handle builtin_range();
py::handle builtin_print();

// sys.platform == 'win32', as found at import.
bool on_windows();

}  // namespace hidden
