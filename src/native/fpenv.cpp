// The floating-point environment, held for Python code: numpy's own loops
// raise signals, not only flags, when the caller has enabled traps, and a
// NaN compared in our checks would then kill the process.
#include <cfenv>
#include <cstring>
#include <string>

#include "native.hpp"

namespace orvane {

void register_fpenv(py::module_& m) {
    m.def(
        "hold_fp_traps",
        [] {
            std::fenv_t saved;
            std::feholdexcept(&saved);
            return py::bytes(reinterpret_cast<const char*>(&saved), sizeof saved);
        },
        "hold_fp_traps() -> bytes\n\nHolds floating-point traps off in this thread; returns the environment it\n"
        "replaced, for restore_fp.");
    m.def(
        "restore_fp",
        [](const py::bytes& saved) {
            const std::string raw = saved;
            if (raw.size() != sizeof(std::fenv_t)) throw std::invalid_argument("not an environment hold_fp_traps gave");
            std::fenv_t env;
            std::memcpy(&env, raw.data(), sizeof env);
            std::fesetenv(&env);
        },
        py::arg("saved"), "restore_fp(saved) -> None\n\nRestores the environment hold_fp_traps replaced.");
}

}  // namespace orvane
