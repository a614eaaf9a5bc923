// The extension's entry point.
#include <Python.h>

namespace hidden::shell {
PyObject* module_def_init();
}

PyMODINIT_FUNC PyInit_hidden(void) { return hidden::shell::module_def_init(); }
