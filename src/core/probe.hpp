// Which complex multiplication numpy's loops use on this machine.
#pragma once

namespace hidden::numeric {

enum class CmulMode { plain, fused, unknown };

// Multiplies and divides a fixed set of complex numbers with numpy and
// compares with our complex arithmetic. Run once, when the module is set up.
void probe_numpy_arithmetic();
inline CmulMode probed_mode = CmulMode::unknown;  // set by probe_numpy_arithmetic
inline CmulMode cmul_mode() { return probed_mode; }

}  // namespace hidden::numeric
