// _hidden_surface(): orvane_ex.hidden's fixed surface as written down in
// src/hidden/shell/surface.hpp, for the tests that hold the module to it.
// Private: hidden's own namespace may not grow, so the table is shown here.
#include "native.hpp"
#include "shell/surface.hpp"

namespace orvane {

namespace surface = hidden::surface;
using hidden::Name;

static py::dict hidden_surface() {
    py::list libraries;
    for (int i = 0; i < surface::kFirstFunction; ++i) libraries.append(surface::kNames[i]);
    py::list functions;
    for (const surface::Function& f : surface::kFunctions) {
        py::list reaches;
        for (Name n : f.reaches) reaches.append(surface::name_of(n));
        py::dict row;
        row["name"] = f.name;
        row["line"] = f.line;
        row["genexpr_line"] = f.genexpr_line ? py::object(py::int_(f.genexpr_line)) : py::object(py::none());
        row["doc"] = f.doc;
        row["reaches"] = reaches;
        functions.append(row);
    }
    const surface::ImportLines& l = surface::kImportLines;
    py::dict import_lines;
    import_lines["start"] = l.start;
    import_lines["sys"] = l.sys;
    import_lines["matplotlib"] = l.matplotlib;
    import_lines["use_tkagg"] = l.use_tkagg;
    import_lines["matplotlib_loaded"] = l.matplotlib_loaded;
    import_lines["pyplot"] = l.pyplot;
    import_lines["numpy"] = l.numpy;
    import_lines["linalg"] = l.linalg;
    import_lines["scipy"] = l.scipy;
    import_lines["skrf"] = l.skrf;
    import_lines["winsound"] = l.winsound;
    py::dict out;
    out["doc"] = surface::kModuleDoc;
    out["libraries"] = libraries;
    out["functions"] = functions;
    out["beep_line_on_windows"] = surface::kBeepLineOnWindows;
    out["import_lines"] = import_lines;
    return out;
}

void register_surface(py::module_& m) {
    m.def("_hidden_surface", &hidden_surface,
          "orvane_ex.hidden's fixed surface: its docstring, library names, functions (name, definition line, "
          "generator-expression line, docstring, names reached) and import-sequence lines. For the tests.");
}

}  // namespace orvane
