// Running a kernel on the arguments of a Python call. The helper takes the
// arguments (strong references to the arrays, so that nothing can free them
// mid-call), allocates the results, then reads the arrays again and runs the
// kernel with no Python code in between: whatever a garbage collection or a
// finaliser did while the results were allocated, the kernel sees arrays
// this call owns, exactly as they were checked.
#pragma once

#include "arrays.hpp"
#include "kinds.hpp"

namespace hidden::numeric {

class NativeCall {
public:
    NativeCall() {
        // Only what a kernel may read without being given it; the rest of
        // the job is filled in as arguments and results are declared.
        job_.n = 0;
        job_.scalar[0] = job_.scalar[1] = job_.scalar[2] = 0.0;
        job_.flag[0] = job_.flag[1] = 0;
    }
    // Arguments, in the kernel's order. Each must be an exact ndarray of
    // float64 or complex128 (see array_in) with as many points as the others;
    // the first that is not makes the whole call decline.
    NativeCall& stack(py::handle obj) { return take(obj, 3, 0, false); }                // [n,2,2]
    NativeCall& columns(py::handle obj, Index count) { return take(obj, 2, count, false); }  // [n,>=count]
    NativeCall& vector(py::handle obj) { return take(obj, 1, 0, false); }               // [n]
    NativeCall& real_vector(py::handle obj) { return take(obj, 1, 0, true); }           // [n], float64
    NativeCall& scalar(double x);
    NativeCall& flag(int x);
    NativeCall& decline() { ok_ = false; return *this; }

    explicit operator bool() const { return ok_; }
    Index points() const { return job_.n; }
    const ArrayIn& arg(int i) const { return job_.in[i]; }
    Kind kind(int i) const { return {job_.in[i].complex}; }
    bool any_complex() const;
    // All arguments real, or all complex: element-wise formulas stay
    // bit-exact only when numpy would not mix real and complex arithmetic.
    bool one_kind() const;

    // Results, in the kernel's order.
    void result(Result&& r);

    // The results (one array, or a tuple of them) when the kernel's run
    // stands; otherwise an empty object, and the caller takes the numpy path.
    py::object run(Kernel kernel);

private:
#if defined(__GNUC__)
    [[gnu::always_inline]]
#endif
    NativeCall& take(py::handle obj, int ndim, Index min_cols, bool real_only) {
        if (!ok_) return *this;
        ArrayIn& a = job_.in[nin_ < 8 ? nin_ : 7];
        ok_ = nin_ < 8 && read_array(obj, ndim, a) && (nin_ == 0 || a.n == job_.n) && !(real_only && a.complex) &&
              (ndim != 3 || (a.shape[1] == 2 && a.shape[2] == 2)) && (ndim != 2 || a.shape[1] >= min_cols);
        if (!ok_) return *this;
        job_.n = a.n;
        ndim_[nin_] = ndim;
        owned_[nin_++] = py::reinterpret_borrow<py::object>(obj);
        return *this;
    }

    Job job_;
    py::object owned_[8];
    int ndim_[8];
    int nin_ = 0, nscalar_ = 0, nflag_ = 0;
    py::object results_[3];  // empty handles until declared: no array is made for them
    int nout_ = 0;
    bool ok_ = true;
};

}  // namespace hidden::numeric
