// beep: a short tone through winsound.Beep on Windows, nothing elsewhere.
#include "measure.hpp"

namespace hidden::measure {

static py::object beep(const Call&) {
    if (on_windows()) global(Name::Beep)(1000, 120);
    return py::none();
}

static const Definition beep_definition{Name::beep, {.form = Form::none, .impl = beep}};

}  // namespace hidden::measure
