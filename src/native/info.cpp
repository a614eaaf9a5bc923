// build_info(): what this build is and which kernels this process runs.
#include <Python.h>

#include "core/cpu.hpp"
#include "core/probe.hpp"
#include "native.hpp"

namespace orvane {
using namespace hidden::numeric;

static std::string compiler() {
#if defined(__clang__)
    return "Clang " __clang_version__;
#elif defined(__GNUC__)
    return "GCC " __VERSION__;
#elif defined(_MSC_VER)
    return "MSVC " + std::to_string(_MSC_VER);
#else
    return "unknown";
#endif
}

static py::dict build_info() {
    py::dict d;
    d["kernels"] = target_name(active_target());
    d["cpu_has_avx2_fma"] = cpu_has_avx2_fma();
    d["avx2_kernels_built"] = has_avx2_kernels();
    const CmulMode mode = cmul_mode();
    d["complex_products"] = mode == CmulMode::fused ? "fused" : mode == CmulMode::plain ? "plain" : "unknown";
    d["compiler"] = compiler();
    d["python"] = PY_VERSION;
    return d;
}

void register_info(py::module_& m) {
    m.def("build_info", &build_info,
          "build_info() -> dict\n\n"
          "What this build holds and what this process runs:\n"
          "  kernels: the kernel copy in use, 'avx2' or 'baseline' (ORVANE_EX_KERNELS=baseline forces the latter)\n"
          "  cpu_has_avx2_fma: whether this CPU could run the AVX2 copy\n"
          "  avx2_kernels_built: whether this build holds the AVX2 copy\n"
          "  complex_products: how numpy's loops round complex products here, 'fused' or 'plain'\n"
          "  compiler, python: what the extension was built with and for");
}

}  // namespace orvane
