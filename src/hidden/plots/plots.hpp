// Comparison plots of several S-parameter stacks.
#pragma once

#include "shell/module.hpp"

namespace hidden::plots {

py::object plotCompareDb(const Call& c);
py::object plotCompareDeg(const Call& c);
py::object plotCompareDbDeg(const Call& c);

}  // namespace hidden::plots
