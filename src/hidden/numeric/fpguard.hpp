// Floating-point exception flags around a native loop. Any divide-by-zero,
// invalid, overflow or underflow means numpy would have its own say
// (warnings, errstate), so the call goes to the numpy path instead.
#pragma once

#include <cfenv>

namespace hidden::numeric {

class FpGuard {
public:
    FpGuard() { std::feclearexcept(FE_ALL_EXCEPT); }
    bool clean() const { return !std::fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW | FE_UNDERFLOW); }
};

}  // namespace hidden::numeric
