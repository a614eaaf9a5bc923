// Touchstone reading (with resampling) and writing through scikit-rf.
#pragma once

#include "shell/module.hpp"

namespace hidden::touchstone {

py::object readSnP(const Call& c);
py::object writeSnP(const Call& c);

py::object fs_path(py::handle path);

}  // namespace hidden::touchstone
