// One binary carries the kernels twice: compiled for the x86-64 baseline and
// for AVX2 with FMA (CMakeLists.txt builds each kernel source once per
// target). Everything a kernel source compiles lives in an inline namespace
// named after its target, so that no inline function or template instance of
// one copy can stand in for the other's when the linker merges duplicates.
#pragma once

#if !defined(HIDDEN_TARGET)
#define HIDDEN_TARGET baseline
#endif

#define HIDDEN_CAT_(a, b) a##_##b
#define HIDDEN_CAT(a, b) HIDDEN_CAT_(a, b)
// `name_<target>`: this target's copy of a symbol kept outside the inline namespace.
#define HIDDEN_TARGET_NAME(name) HIDDEN_CAT(name, HIDDEN_TARGET)

// Inline everything a kernel's loop calls into the loop itself. Not under
// the sanitizers, whose instrumentation makes the flattened loops take
// minutes to compile.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define HIDDEN_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define HIDDEN_SANITIZED 1
#endif
#if defined(__GNUC__) && !defined(HIDDEN_SANITIZED)
#define HIDDEN_FLATTEN [[gnu::flatten]]
#else
#define HIDDEN_FLATTEN
#endif
