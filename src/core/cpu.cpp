#include "cpu.hpp"

#include <cstdlib>
#include <cstring>

#if defined(_MSC_VER) && (defined(_M_X64) || defined(_M_IX86))
#include <immintrin.h>
#include <intrin.h>
#define HIDDEN_X86 1
static void cpuid(int leaf, int sub, unsigned r[4]) {
    int v[4];
    __cpuidex(v, leaf, sub);
    for (int i = 0; i < 4; ++i) r[i] = unsigned(v[i]);
}
static unsigned long long xcr0() { return _xgetbv(0); }
#elif (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define HIDDEN_X86 1
static void cpuid(int leaf, int sub, unsigned r[4]) { __cpuid_count(leaf, sub, r[0], r[1], r[2], r[3]); }
static unsigned long long xcr0() {
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (static_cast<unsigned long long>(hi) << 32) | lo;
}
#endif

namespace hidden::numeric {

// From the CPU's own answers (cpuid, xgetbv) rather than the compiler
// runtime's __builtin_cpu_supports: the runtime of the wheels' toolchain
// (zig) reported no AVX2 on a CPU that has it.
bool cpu_has_avx2_fma() {
#if defined(HIDDEN_X86)
    unsigned r[4];
    cpuid(0, 0, r);
    if (r[0] < 7) return false;
    cpuid(1, 0, r);
    const bool fma = r[2] & (1u << 12), osxsave = r[2] & (1u << 27), avx = r[2] & (1u << 28);
    if (!fma || !osxsave || !avx || (xcr0() & 6) != 6) return false;  // the OS saves the YMM state
    cpuid(7, 0, r);
    return r[1] & (1u << 5);
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
