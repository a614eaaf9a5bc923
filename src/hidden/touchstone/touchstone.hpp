// Shared by Touchstone reading and writing.
#pragma once

#include "shell/module.hpp"

namespace hidden::touchstone {

// A path-like object (pathlib.Path, os.DirEntry, ...) as the str it names;
// an empty object for anything else.
py::object fs_path(py::handle path);

}  // namespace hidden::touchstone
