// Module set-up: one module object per process, created once and set up once,
// with the import sequence that fills its namespace.
#include <algorithm>
#include <cstring>

#include "core/setup.hpp"
#include "state.hpp"

namespace hidden::shell {

static bool set_up = false;

// Line of the statement being run, for the "init orvane_ex.hidden" entry.
static int current_line = surface::kImportLines.start;

static void copy_spec_attr(PyObject* spec, PyObject* dict, const char* from, const char* to, bool none_ok) {
    PyObject* v = PyObject_GetAttrString(spec, from);
    if (!v) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
        PyErr_Clear();
        return;
    }
    int rc = 0;
    if (none_ok || v != Py_None) rc = PyDict_SetItemString(dict, to, v);
    Py_DECREF(v);
    if (rc < 0) throw py::error_already_set();
}

static PyObject* create(PyObject* spec, PyModuleDef*) {
    // The module's state is the process's: only the main interpreter may
    // load it, and it is told so before anything else runs.
    if (PyInterpreterState_Get() != PyInterpreterState_Main()) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one interpreter per process.");
        return nullptr;
    }
    State& s = state();
    if (s.module) return Py_NewRef(s.module);
    try {
        py::object name = py::reinterpret_steal<py::object>(PyObject_GetAttrString(spec, "name"));
        if (!name) throw py::error_already_set();
        py::object module = py::reinterpret_steal<py::object>(PyModule_NewObject(name.ptr()));
        if (!module) throw py::error_already_set();
        PyObject* dict = PyModule_GetDict(module.ptr());
        copy_spec_attr(spec, dict, "loader", "__loader__", true);
        copy_spec_attr(spec, dict, "origin", "__file__", true);
        copy_spec_attr(spec, dict, "parent", "__package__", true);
        copy_spec_attr(spec, dict, "submodule_search_locations", "__path__", false);
        s.module = module.release().ptr();
        s.ns = dict;
        set_traceback_globals(dict);
        return Py_NewRef(s.module);
    } catch (py::error_already_set& e) {
        e.restore();
        return nullptr;
    }
}

// `import name` (or `from name import fromlist`): first relative to the
// package, so that a module of the same name inside orvane_ex wins, then as
// the absolute name.
static py::object import_module(const char* name, py::handle fromlist) {
    State& s = state();
    py::str pyname(name);
    py::dict locals;
    PyObject* m = PyImport_ImportModuleLevelObject(pyname.ptr(), s.ns, locals.ptr(), fromlist.ptr(), 1);
    if (!m) {
        if (!PyErr_ExceptionMatches(PyExc_ImportError)) throw py::error_already_set();
        PyErr_Clear();
        m = PyImport_ImportModuleLevelObject(pyname.ptr(), s.ns, locals.ptr(), fromlist.ptr(), 0);
        if (!m) throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(m);
}

static py::object import_from(py::handle module, const char* name) {
    PyObject* v = PyObject_GetAttrString(module.ptr(), name);
    if (!v) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name %S", py::str(name).ptr());
        }
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(v);
}

static void bind(const char* name, py::handle value) {
    if (PyDict_SetItemString(state().ns, name, value.ptr()) < 0) throw py::error_already_set();
}

static PyObject* fetch_builtin(const char* name) {
    PyObject* v = PyObject_GetAttrString(state().builtins, name);
    if (!v) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        }
        throw py::error_already_set();
    }
    return v;
}

static void warn_on_version_mismatch() {
    // The build is tied to one minor version; compare major and minor in full.
    const unsigned long rt = Py_Version;
    const int rt_major = int((rt >> 24) & 0xff), rt_minor = int((rt >> 16) & 0xff);
    if (rt_major == PY_MAJOR_VERSION && rt_minor == PY_MINOR_VERSION) return;
    char built[16], running[16];
    PyOS_snprintf(built, sizeof built, "%d.%d", PY_MAJOR_VERSION, PY_MINOR_VERSION);
    PyOS_snprintf(running, sizeof running, "%d.%d", rt_major, rt_minor);
    if (PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                         "compiletime version %s of module '%.100s' does not match runtime version %s", built,
                         "orvane_ex.hidden", running) < 0)
        throw py::error_already_set();
}

static void set_genuine(Name n, py::handle obj) {
    PyObject*& slot = state().genuine[int(n)];
    Py_XSETREF(slot, Py_NewRef(obj.ptr()));
}

static void import_sequence() {
    State& s = state();
    const surface::ImportLines& line = surface::kImportLines;
    current_line = line.start;
    warn_on_version_mismatch();
    init_names();

    py::object modules = py::module_::import("sys").attr("modules");
    if (!modules.contains("orvane_ex.hidden")) modules["orvane_ex.hidden"] = py::handle(s.module);

    if (!s.builtins) s.builtins = PyImport_ImportModule("builtins");
    if (!s.builtins) throw py::error_already_set();
    bind("__builtins__", s.builtins);
    s.input = fetch_builtin("input");
    s.range = fetch_builtin("range");
    s.print = fetch_builtin("print");

    py::none none;
    current_line = line.sys;
    py::object sys = import_module("sys", none);
    bind("sys", sys);

    if (!modules.contains("matplotlib")) {
        current_line = line.matplotlib;
        py::object mpl = import_module("matplotlib", none);
        bind("matplotlib", mpl);
        current_line = line.use_tkagg;
        mpl.attr("use")("TkAgg");
    } else {
        current_line = line.matplotlib_loaded;
        bind("matplotlib", import_module("matplotlib", none));
    }
    current_line = line.pyplot;
    bind("plt", import_module("matplotlib.pyplot", py::make_tuple("*")));
    current_line = line.numpy;
    bind("np", import_module("numpy", none));
    current_line = line.linalg;
    py::object linalg = import_module("numpy.linalg", py::make_tuple("solve", "det", "inv"));
    bind("solve", import_from(linalg, "solve"));
    bind("det", import_from(linalg, "det"));
    bind("inv", import_from(linalg, "inv"));
    current_line = line.scipy;
    bind("sp", import_module("scipy", none));
    current_line = line.skrf;
    bind("rf", import_module("skrf", none));

    s.windows = std::string(py::str(sys.attr("platform"))) == "win32";
    if (s.windows) {
        current_line = line.winsound;
        py::object winsound = import_module("winsound", py::make_tuple("Beep"));
        bind("Beep", import_from(winsound, "Beep"));
    }

    // Function objects point at their entries, so each set-up keeps its own
    // copy of the table for the life of the process. beep is defined at one
    // of two lines, with a docstring only on Windows.
    auto& functions = *new std::vector<FunctionEntry>(function_table());
    for (FunctionEntry& f : functions)
        if (std::strcmp(f.name, surface::name_of(Name::beep)) == 0) {
            if (s.windows) f.line = surface::kBeepLineOnWindows;
            else f.doc = nullptr;
        }
    std::stable_sort(functions.begin(), functions.end(),
                     [](const FunctionEntry& a, const FunctionEntry& b) { return a.line < b.line; });
    for (const FunctionEntry& f : functions) {
        current_line = f.line;
        PyObject* fn = make_function(f);
        if (!fn) throw py::error_already_set();
        py::object owned = py::reinterpret_steal<py::object>(fn);
        bind(f.name, owned);
    }

    // What the native paths stand in for: the libraries themselves and this
    // module's own functions.
    py::module_ numpy = py::module_::import("numpy");
    py::module_ nplinalg = py::module_::import("numpy.linalg");
    set_genuine(Name::np, numpy);
    set_genuine(Name::solve, nplinalg.attr("solve"));
    set_genuine(Name::det, nplinalg.attr("det"));
    set_genuine(Name::inv, nplinalg.attr("inv"));
    set_genuine(Name::sp, py::module_::import("scipy"));
    for (int i = surface::kFirstFunction; i < int(Name::count); ++i) {
        PyObject* fn = PyDict_GetItemWithError(s.ns, s.name[i]);
        if (fn) set_genuine(Name(i), fn);
        else if (PyErr_Occurred()) throw py::error_already_set();
    }
    numeric::set_up_core();
}

static int exec(PyObject* module) {
    State& s = state();
    if (set_up) {
        if (module == s.module) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'hidden' has already been imported. Re-initialisation is not supported.");
        return -1;
    }
    if (module != s.module) {
        // A module object made elsewhere (not by our create slot) becomes the one.
        Py_XSETREF(s.module, Py_NewRef(module));
        s.ns = PyModule_GetDict(module);
        set_traceback_globals(s.ns);
    }
    if (ready_function_type() < 0) return -1;
    try {
        import_sequence();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (std::exception& e) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "init orvane_ex.hidden");
    }
    if (PyErr_Occurred()) {
        add_traceback("init orvane_ex.hidden", current_line);
        // The half-built module is dropped; a later import starts afresh.
        Py_CLEAR(s.module);
        s.ns = nullptr;
        set_traceback_globals(nullptr);
        return -1;
    }
    set_up = true;
    return 0;
}

static PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create)},
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
#if PY_VERSION_HEX >= 0x030C0000
    // Every sub-interpreter, isolated ones (own GIL) included, reaches
    // create(), which refuses it with the module's own message before
    // anything else runs; without this CPython refuses isolated ones itself,
    // with its own message.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

static PyModuleDef moduledef = {
    PyModuleDef_HEAD_INIT, "hidden", surface::kModuleDoc, 0, nullptr, slots, nullptr, nullptr, nullptr,
};

PyObject* module_def_init() { return PyModuleDef_Init(&moduledef); }

}  // namespace hidden::shell
