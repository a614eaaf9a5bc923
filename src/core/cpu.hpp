// Which copy of the kernels this process runs: chosen once, from the running
// CPU (never the build host), unless ORVANE_EX_KERNELS=baseline asks for the
// baseline copy (for tests and bug reports).
#pragma once

namespace hidden::numeric {

enum class Target { baseline, avx2 };

Target active_target();
const char* target_name(Target t);
// The CPU and its operating system support AVX2 and FMA.
bool cpu_has_avx2_fma();
// This build holds the AVX2 copy of the kernels (x86-64 builds do).
bool has_avx2_kernels();

// The kernel table of the active target, from the copies a kernel source
// defines as <table>_baseline and (x86-64 builds) <table>_avx2.
template <class Table>
const Table& for_target(const Table& baseline, const Table* avx2) {
    return avx2 && active_target() == Target::avx2 ? *avx2 : baseline;
}
#if defined(HIDDEN_HAVE_AVX2)
#define HIDDEN_FOR_CPU(table) ::hidden::numeric::for_target(table##_baseline, &table##_avx2)
#else
#define HIDDEN_FOR_CPU(table) ::hidden::numeric::for_target(table##_baseline, decltype(&table##_baseline)(nullptr))
#endif

}  // namespace hidden::numeric
