// readSnP: a Touchstone file or a loaded network, as it is or resampled onto a
// wanted frequency grid.
#include "runtime/defaults.hpp"
#include "touchstone/touchstone.hpp"

namespace hidden::touchstone {

static bool exact_type(py::handle obj, py::handle type) {
    return truth(py::handle(reinterpret_cast<PyObject*>(Py_TYPE(obj.ptr()))), Py_EQ, type);
}

py::object fs_path(py::handle path) {
    if (PyUnicode_Check(path.ptr()) || PyBytes_Check(path.ptr()) || !PyObject_HasAttrString(path.ptr(), "__fspath__"))
        return py::object();
    auto fs = py::reinterpret_steal<py::object>(PyOS_FSPath(path.ptr()));
    if (!fs) throw py::error_already_set();
    if (PyBytes_Check(fs.ptr())) return py::module_::import("os").attr("fsdecode")(fs);
    return fs;
}

static py::object interp1d(py::handle x, py::handle y, bool along_axis0) {
    py::object f = global(Name::sp).attr("interpolate").attr("interp1d");
    if (along_axis0) return f(x, y, py::arg("axis") = 0);
    return f(x, y);
}

static py::object readSnP(const Call& c) {
    py::handle path = c[0], freq_desired = c[1], kind = c[2];
    py::object ntwk;
    if (exact_type(path, py::handle(reinterpret_cast<PyObject*>(&PyUnicode_Type)))) {
        ntwk = global(Name::rf).attr("Network")(path);
    } else if (exact_type(path, global(Name::rf).attr("network").attr("Network"))) {
        ntwk = py::reinterpret_borrow<py::object>(path);
    } else if (py::object file = fs_path(path)) {
        ntwk = global(Name::rf).attr("Network")(file);
    }
    auto need_ntwk = [&] {
        if (!ntwk) {
            PyErr_Format(PyExc_UnboundLocalError, "local variable '%s' referenced before assignment", "ntwk");
            throw py::error_already_set();
        }
    };
    if (freq_desired.is_none()) {
        need_ntwk();
        py::object s = ntwk.attr("s");
        return py::make_tuple(s, ntwk.attr("f"));
    }
    need_ntwk();
    py::object freq_actual = ntwk.attr("f");
    py::object m = ntwk.attr("s").attr("shape")[py::int_(1)];
    py::object n = ntwk.attr("s").attr("shape")[py::int_(2)];
    py::handle all = full_slice();

    if (truth(kind.attr("upper")(), Py_EQ, py::str("RI"))) {
        if (truth(py::make_tuple(m, n), Py_EQ, py::make_tuple(1, 1))) {
            py::object interp = interp1d(freq_actual, ntwk.attr("s")[py::make_tuple(all, 0, 0)], false);
            return interp(freq_desired);
        }
        py::object S = global(Name::np).attr("zeros")(py::make_tuple(py::len(freq_desired), m, n),
                                                      py::arg("dtype") = complex_type());
        for (auto i : builtin_range()(m)) {
            for (auto j : builtin_range()(n)) {
                py::object interp = interp1d(freq_actual, ntwk.attr("s")[py::make_tuple(all, i, j)], false);
                S[py::make_tuple(all, i, j)] = interp(freq_desired);
            }
        }
        return S;
    }
    const bool db = truth(kind.attr("upper")(), Py_EQ, py::str("DB"));
    if (db || truth(kind.attr("upper")(), Py_EQ, py::str("MA"))) {
        py::object interp_mag = interp1d(freq_actual, ntwk.attr(db ? "s_db" : "s_mag"), true);
        py::object interp_angle = interp1d(freq_actual, ntwk.attr("s_deg_unwrap"), true);
        py::object mags = interp_mag(freq_desired);
        py::object pi = global(Name::np).attr("pi");
        py::object degrees = pi * interp_angle(freq_desired);
        py::object angles = degrees / py::int_(180);
        if (db) {
            py::object exponent = mags / py::int_(20);
            mags = py::reinterpret_steal<py::object>(PyNumber_Power(py::int_(10).ptr(), exponent.ptr(), Py_None));
            if (!mags) throw py::error_already_set();
        }
        auto j = py::reinterpret_steal<py::object>(PyComplex_FromDoubles(0.0, 1.0));
        py::object phase = global(Name::np).attr("exp")(j * angles);
        py::object S = mags * phase;
        return global(Name::np).attr("squeeze")(S);
    }
    builtin_print()("Invalid option for kind. Please choose 'MA', 'DB', or 'RI'");
    return py::none();
}

static const Definition readSnP_definition{
    Name::readSnP, {.params = {"path", "freq_desired", "kind"},
                    .defaults = {defaults::none, []() -> py::object { return py::str("dB"); }}, .impl = readSnP}};

}  // namespace hidden::touchstone
