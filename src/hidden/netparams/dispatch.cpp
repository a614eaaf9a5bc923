// The netparams kernel table for the CPU this process runs on.
#include "core/cpu.hpp"
#include "kernels.hpp"

namespace hidden::netparams {

extern const Kernels kernels_baseline;
#if defined(HIDDEN_HAVE_AVX2)
extern const Kernels kernels_avx2;
#endif

const Kernels& kernels() {
#if defined(HIDDEN_HAVE_AVX2)
    return numeric::for_target(kernels_baseline, &kernels_avx2);
#else
    return kernels_baseline;
#endif
}

}  // namespace hidden::netparams
