// Implementations of the measurement workflow.
#pragma once

#include "shell/module.hpp"

namespace hidden::measure {

py::object beep(const Call& c);
py::object userMsg(const Call& c);
py::object measure1Port(const Call& c);
py::object measure2Port(const Call& c);
py::object prompt1PortMeasure(const Call& c);
py::object prompt2PortMeasure(const Call& c);
py::object prompt1PortSOL(const Call& c);
py::object prompt2PortSOLT(const Call& c);

}  // namespace hidden::measure
