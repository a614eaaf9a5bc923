// Touchstone reading (with resampling) and writing through scikit-rf.
#pragma once

#include "shell/module.hpp"

namespace hidden::touchstone {

py::object readSnP(const Call& c);
py::object writeSnP(const Call& c);

}  // namespace hidden::touchstone
