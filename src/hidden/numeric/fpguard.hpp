// Floating-point exception flags around a native loop. Any divide-by-zero,
// invalid, overflow or underflow means numpy would have its own say
// (warnings, errstate), so the call goes to the numpy path instead.
#pragma once

#include <cfenv>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace hidden::numeric {

#if defined(__SSE2__)
// All double arithmetic here runs on SSE/AVX, whose flags live in MXCSR: reading
// and writing it directly is far cheaper than the x87-and-SSE fenv calls.
class FpGuard {
public:
    FpGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ & ~kAll); }
    ~FpGuard() { _mm_setcsr(_mm_getcsr() | (saved_ & kAll)); }
    bool clean() const { return (_mm_getcsr() & kWatched) == 0; }

private:
    static constexpr unsigned kAll = 0x3f;  // IE DE ZE OE UE PE
    static constexpr unsigned kWatched = 0x01 | 0x04 | 0x08 | 0x10;  // invalid, zero-divide, overflow, underflow
    unsigned saved_;
};
#else
class FpGuard {
public:
    FpGuard() { std::feclearexcept(FE_ALL_EXCEPT); }
    bool clean() const { return !std::fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW | FE_UNDERFLOW); }
};
#endif

}  // namespace hidden::numeric
