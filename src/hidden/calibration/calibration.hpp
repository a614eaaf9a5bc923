// Implementations of the error models.
#pragma once

#include "shell/module.hpp"

namespace hidden::calibration {

py::object get1PortModel(const Call& c);
py::object correct1Port(const Call& c);
py::object get1PortResponseModel(const Call& c);
py::object get2PortResponseModel(const Call& c);
py::object correctResponse(const Call& c);
py::object get8TermModel(const Call& c);
py::object get8TermModelUThru(const Call& c);
py::object correct8Term(const Call& c);
py::object get12TermModel(const Call& c);
py::object correct12Term(const Call& c);
py::object getPortExtModel(const Call& c);
py::object correctPortExt(const Call& c);
py::object deEmbed(const Call& c);

}  // namespace hidden::calibration
