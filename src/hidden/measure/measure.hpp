// Implementations of the measurement workflow.
#pragma once

#include "shell/module.hpp"

namespace hidden::measure {

py::object beep(const Call& c);

}  // namespace hidden::measure
