// Implementations of the network-parameter conversions.
#pragma once

#include "shell/module.hpp"

namespace hidden::netparams {

py::object S2T(const Call& c);
py::object T2S(const Call& c);
py::object getIdealSparams(const Call& c);
py::object ab2G(const Call& c);
py::object ab2S(const Call& c);
py::object ab2S_SwitchCorrect(const Call& c);

}  // namespace hidden::netparams
