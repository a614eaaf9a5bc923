// One numeric function of the module: the native path when nobody could tell
// it from the numpy path, the numpy path otherwise.
//  - `names`: every namespace name the numpy path would reach; the native path
//    stands in for them only while each is still the genuine object.
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

template <class Native, class Numpy>
py::object evaluate(std::initializer_list<Name> names, Native&& native, Numpy&& numpy) {
    bool all = true;
    for (Name n : names) all = all && genuine(n);
    if (all)
        if (py::object r = native()) return r;
    return numpy();
}

}  // namespace hidden::evaluation
