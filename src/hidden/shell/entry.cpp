// The extension's entry point. Built without AVX so that a CPU the kernels
// cannot run on is told so instead of faulting.
#include <Python.h>

namespace hidden::shell {
PyObject* module_def_init();
}

PyMODINIT_FUNC PyInit_hidden(void) {
#if defined(HIDDEN_AVX2)
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma")) {
        PyErr_SetString(PyExc_ImportError,
                        "orvane_ex.hidden was built for CPUs with AVX2 and FMA, which this one lacks; "
                        "reinstall it on this machine (pip install --force-reinstall --no-binary :all: orvane_ex)");
        return nullptr;
    }
#endif
    return hidden::shell::module_def_init();
}
