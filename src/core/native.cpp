#include "native.hpp"

#include <stdexcept>

#include "fpguard.hpp"
#include "probe.hpp"

namespace hidden::numeric {

NativeCall& NativeCall::scalar(double x) {
    if (nscalar_ == 3) throw std::logic_error("a kernel takes at most three numbers");
    job_.scalar[nscalar_++] = x;
    return *this;
}

NativeCall& NativeCall::flag(int x) {
    if (nflag_ == 2) throw std::logic_error("a kernel takes at most two flags");
    job_.flag[nflag_++] = x;
    return *this;
}

bool NativeCall::any_complex() const {
    bool c = false;
    for (int i = 0; i < nin_; ++i) c |= job_.in[i].complex;
    return c;
}

bool NativeCall::one_kind() const {
    for (int i = 1; i < nin_; ++i)
        if (job_.in[i].complex != job_.in[0].complex) return false;
    return true;
}

void NativeCall::result(Result&& r) {
    if (nout_ == 3) throw std::logic_error("a kernel writes at most three results");
    results_[nout_] = std::move(r.array);
    job_.out[nout_++] = r.out;
}

py::object NativeCall::run(Kernel kernel) {
    if (!ok_ || fp_traps_enabled()) return py::object();
    // Allocating the results may have run Python code: read the arguments
    // again from the objects this call owns, and decline if any changed.
    for (int i = 0; i < nin_; ++i)
        if (!still(owned_[i], ndim_[i], job_.in[i])) return py::object();
    job_.complex = any_complex();
    if (job_.complex) {
        const CmulMode mode = cmul_mode();
        if (mode == CmulMode::unknown) return py::object();
        job_.fused = mode == CmulMode::fused;
    }
    if (!kernel(job_)) return py::object();
    if (nout_ == 1) return std::move(results_[0]);
    py::tuple t(nout_);
    for (int i = 0; i < nout_; ++i) t[size_t(i)] = std::move(results_[i]);
    return t;
}

}  // namespace hidden::numeric
