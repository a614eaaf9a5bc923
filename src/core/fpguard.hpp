// Floating-point exception flags around a native loop. Any divide-by-zero,
// invalid, overflow or underflow means numpy would have its own say
// (warnings, errstate), so the call goes to the numpy path instead.
#pragma once

#include <cfenv>

#include "target.hpp"

// HIDDEN_FENV_GUARD selects the portable <cfenv> guard on x86-64 too, so
// that a build can test it.
#if (defined(__SSE2__) || defined(_M_X64)) && !defined(HIDDEN_FENV_GUARD)
#include <immintrin.h>
#define HIDDEN_MXCSR 1
#endif

namespace hidden::numeric {
inline namespace HIDDEN_TARGET {

#if defined(HIDDEN_MXCSR)
// All double arithmetic here runs on SSE/AVX, whose flags live in MXCSR:
// reading and writing it directly is far cheaper than the fenv calls.
class FpGuard {
public:
    FpGuard() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ & ~kFlags); }
    ~FpGuard() { _mm_setcsr(saved_); }
    bool clean() const { return (_mm_getcsr() & kWatched) == 0; }

private:
    static constexpr unsigned kFlags = 0x3f;  // IE DE ZE OE UE PE
    static constexpr unsigned kWatched = 0x01 | 0x04 | 0x08 | 0x10;  // invalid, zero-divide, overflow, underflow
    unsigned saved_;
};

// True when the caller unmasked a floating-point exception (feenableexcept):
// a native loop would then trap where numpy's loops avoid or handle it.
inline bool fp_traps_enabled() { return (_mm_getcsr() & 0x1f80) != 0x1f80; }
#else
class FpGuard {
public:
    FpGuard() { std::fegetexceptflag(&saved_, FE_ALL_EXCEPT); std::feclearexcept(FE_ALL_EXCEPT); }
    ~FpGuard() { std::fesetexceptflag(&saved_, FE_ALL_EXCEPT); }
    bool clean() const { return !std::fetestexcept(FE_DIVBYZERO | FE_INVALID | FE_OVERFLOW | FE_UNDERFLOW); }

private:
    std::fexcept_t saved_;
};

#if defined(__GLIBC__)
inline bool fp_traps_enabled() { return fegetexcept() != 0; }
#else
inline bool fp_traps_enabled() { return false; }
#endif
#endif

}  // namespace HIDDEN_TARGET
}  // namespace hidden::numeric
