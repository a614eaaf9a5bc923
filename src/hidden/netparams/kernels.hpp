// The native loops of the network-parameter conversions: one table per CPU
// target (kernels.cpp is compiled once for each).
#pragma once

#include "core/cpu.hpp"
#include "core/job.hpp"

namespace hidden::netparams {

struct Kernels {
    numeric::Kernel S2T;                 // in: S [n,2,2]; out: T, assembled
    numeric::Kernel T2S;                 // in: T; out: S, assembled
    numeric::Kernel ab2S;                // in: a1 b1 a2 b2 of each recording; out: S, assembled
    numeric::Kernel ab2S_SwitchCorrect;  // as ab2S
    numeric::Kernel ratio;               // in: x [n], y [n]; out: x / y
};

extern const Kernels kernels_baseline;
extern const Kernels kernels_avx2;  // x86-64 builds only

// The table for the CPU this process runs on.
inline const Kernels& kernels() { return HIDDEN_FOR_CPU(kernels); }

}  // namespace hidden::netparams
