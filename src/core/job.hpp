// What a kernel reads and writes: plain descriptions of numpy arrays and a
// few numbers, no Python object in sight. The Python side (native.hpp) fills
// them in; every target's kernels take the same Job.
#pragma once

#include <cstddef>

namespace hidden::numeric {

using Index = std::ptrdiff_t;  // Py_ssize_t

// A float64 or complex128 array argument, with at least one point.
struct ArrayIn {
    const char* data;
    Index n;          // points (size of axis 0)
    Index stride[3];  // bytes
    Index shape[3];
    bool complex;
};

// One result array: component c of point k lies at data + k * step + offset[c].
struct ArrayOut {
    char* data;
    Index step;
    Index offset[12];
    bool complex;
};

struct Job {
    ArrayIn in[8];
    double scalar[3];
    int flag[2];
    ArrayOut out[3];
    Index n;
    bool complex;  // compute in complex arithmetic: some argument is complex
    bool fused;    // complex products fused, as numpy's loop on this CPU does them
};

// Runs one function's formula over every point of the job. True when the
// results stand: no floating-point exception, no non-finite input, no zero
// pivot. Otherwise the caller takes the numpy path.
using Kernel = bool (*)(const Job&);

}  // namespace hidden::numeric
