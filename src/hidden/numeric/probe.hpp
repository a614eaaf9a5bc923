// Which complex multiplication numpy's loops use on this machine.
#pragma once

namespace hidden::numeric {

enum class CmulMode { plain, fused, unknown };

// Multiplies and divides a fixed set of complex numbers with numpy and
// compares with our kernels. Run once at import.
void probe_numpy_arithmetic();
CmulMode cmul_mode();

}  // namespace hidden::numeric
