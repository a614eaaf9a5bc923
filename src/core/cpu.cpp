#include "cpu.hpp"

#include <cstdlib>
#include <cstring>

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#endif

namespace hidden::numeric {

bool cpu_has_avx2_fma() {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#elif defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
    int r[4];
    __cpuid(r, 1);
    const bool fma = r[2] & (1 << 12), osxsave = r[2] & (1 << 27), avx = r[2] & (1 << 28);
    if (!fma || !osxsave || !avx || (_xgetbv(0) & 6) != 6) return false;  // the OS saves the YMM state
    __cpuidex(r, 7, 0);
    return r[1] & (1 << 5);
#else
    return false;
#endif
}

bool has_avx2_kernels() {
#if defined(HIDDEN_HAVE_AVX2)
    return true;
#else
    return false;
#endif
}

static Target choose() {
    const char* forced = std::getenv("ORVANE_EX_KERNELS");
    if (forced && std::strcmp(forced, "baseline") == 0) return Target::baseline;
    return has_avx2_kernels() && cpu_has_avx2_fma() ? Target::avx2 : Target::baseline;
}

Target active_target() {
    static const Target t = choose();
    return t;
}

const char* target_name(Target t) { return t == Target::avx2 ? "avx2" : "baseline"; }

}  // namespace hidden::numeric
