// The native loops of the error models: one table per CPU target
// (kernels.cpp is compiled once for each). Arguments and results in the
// order of the function's parameters and results.
#pragma once

#include "core/cpu.hpp"
#include "core/job.hpp"

namespace hidden::calibration {

struct Kernels {
    numeric::Kernel get1PortModel;          // G, Gm [n,>=3] -> [n,3] C-contiguous
    numeric::Kernel correct1Port;           // Gm [n], err [n,>=3] -> [n]
    numeric::Kernel get2PortResponseModel;  // G1 G1m G2 G2m [n], T Tm [n,2,2] -> [n,2,2] complex
    numeric::Kernel correctResponse;        // Sm, H [n,2,2] -> Sm / H, laid out like Sm
    numeric::Kernel get8TermModel;          // G1 Gm1 G2 Gm2 [n,>=3], T Tm -> A, B assembled, q [n]
    numeric::Kernel get8TermModelUThru;     // G1 Gm1 G2 Gm2, Tm, f [n]; length, c, pi -> A, B, q
    numeric::Kernel correct8Term;           // Sm A B [n,2,2], q [n] -> assembled
    numeric::Kernel get12TermModel;         // G1 Gm1 G2 Gm2, T, Tm[, isolation if flag 0] -> fwd, rev [n,6]
    numeric::Kernel correct12Term;          // Sm, fwd, rev [n,>=6] -> assembled
    numeric::Kernel deEmbed;                // S, S_A (if flag 0), S_B (if flag 1) -> assembled
    numeric::Kernel correctPortExt;         // S [n,2,2], e10e01 [n]; flag 0: the port's index -> complex [n,2,2]
};

extern const Kernels kernels_baseline;
extern const Kernels kernels_avx2;  // x86-64 builds only

// The table for the CPU this process runs on.
inline const Kernels& kernels() { return HIDDEN_FOR_CPU(kernels); }

}  // namespace hidden::calibration
