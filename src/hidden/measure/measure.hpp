// Shared by the prompted measurements and the standard sequences.
#pragma once

#include "shell/module.hpp"

namespace hidden::measure {

// {ports['Tx1']: 1, ports['Tx2']: 2}: the port number of each transmitter.
py::dict transmitter_numbers(py::handle ports);

}  // namespace hidden::measure
