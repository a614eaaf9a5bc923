#include "native.hpp"

#include <cstring>
#include <stdexcept>

#include "fpguard.hpp"
#include "probe.hpp"

namespace hidden::numeric {

NativeCall& NativeCall::take(py::handle obj, int ndim, Index min_cols, bool real_only) {
    if (!ok_) return *this;
    auto a = array_in(obj, ndim);
    ok_ = a && nin_ < 8 && (nin_ == 0 || a->n == job_.n) && !(real_only && a->complex);
    if (ok_ && ndim == 3) ok_ = a->shape[1] == 2 && a->shape[2] == 2;
    if (ok_ && ndim == 2) ok_ = a->shape[1] >= min_cols;
    if (!ok_) return *this;
    job_.n = a->n;
    job_.in[nin_] = *a;
    ndim_[nin_] = ndim;
    owned_[nin_++] = py::reinterpret_borrow<py::object>(obj);
    return *this;
}

NativeCall& NativeCall::stack(py::handle obj) { return take(obj, 3, 0, false); }
NativeCall& NativeCall::columns(py::handle obj, Index count) { return take(obj, 2, count, false); }
NativeCall& NativeCall::vector(py::handle obj) { return take(obj, 1, 0, false); }
NativeCall& NativeCall::real_vector(py::handle obj) { return take(obj, 1, 0, true); }

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

void NativeCall::result(Result r) {
    if (nout_ == 3) throw std::logic_error("a kernel writes at most three results");
    results_[nout_] = std::move(r.array);
    job_.out[nout_++] = r.out;
}

static bool same(const ArrayIn& a, const ArrayIn& b) {
    return a.data == b.data && a.n == b.n && a.complex == b.complex &&
           std::memcmp(a.stride, b.stride, sizeof a.stride) == 0 && std::memcmp(a.shape, b.shape, sizeof a.shape) == 0;
}

py::object NativeCall::run(Kernel kernel) {
    if (!ok_ || fp_traps_enabled()) return py::object();
    // Allocating the results may have run Python code: read the arguments
    // again from the objects this call owns, and decline if any changed.
    for (int i = 0; i < nin_; ++i) {
        auto a = array_in(owned_[i], ndim_[i]);
        if (!a || !same(*a, job_.in[i])) return py::object();
    }
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
