// One numeric function of the module: the native path when nobody could tell
// it from the numpy path, the numpy path otherwise.
//  - `function`: whose row of the surface (shell/surface.hpp) lists every
//    namespace name the numpy path would reach; the native path stands in for
//    them only while each is still the genuine object.
//  - `native`: takes the arguments into a NativeCall, declares the results and
//    runs the kernel; an empty result declines.
//  - `numpy`: the formula on NumpyPath.
#pragma once

#include "core/kinds.hpp"
#include "core/native.hpp"
#include "numpy_path.hpp"

namespace hidden::evaluation {
using numeric::Kind;
using numeric::NativeCall;

// True while every name `function` reaches is still the genuine object.
inline bool native_allowed(Name function) {
    for (Name n : surface::function(function).reaches)
        if (!genuine(n)) return false;
    return true;
}

template <class Native, class Numpy>
py::object evaluate(Name function, Native&& native, Numpy&& numpy) {
    if (native_allowed(function))
        if (py::object r = native()) return r;
    return numpy();
}

}  // namespace hidden::evaluation
