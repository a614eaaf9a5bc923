// The function type: one small type with vectorcall for all module functions.
// It carries the attributes of a Python function that inspect and help() read,
// including a __code__ that describes the parameters.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "function.hpp"
#include "shell/surface.hpp"

namespace hidden::runtime {

// The C stack the module's calls nested in one another may take on a thread.
// A loop through rebound names (hidden.S2T = functools.partial(hidden.deEmbed))
// nests them without any Python frame in between; the interpreter's own
// recursion count alone lets that run past the stack on some versions.
constexpr std::uintptr_t kStackBudget = 1 << 20;

// How deep this thread is in module calls, and where the outermost began.
struct Nesting {
    int depth = 0;
    std::uintptr_t base = 0;
};
static thread_local Nesting nesting;

// The stack position of the calling frame (the real stack, also under a
// sanitizer that moves locals elsewhere).
static std::uintptr_t stack_position() {
#if defined(__GNUC__) || defined(__clang__)
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
#else
    const char here = 0;
    return reinterpret_cast<std::uintptr_t>(&here);
#endif
}

// Counted like any Python call (sys.getrecursionlimit applies) and against
// the stack budget; false with RecursionError set when either runs out.
static bool enter_call() {
    const std::uintptr_t here = stack_position();
    if (nesting.depth == 0) nesting.base = here;
    const std::uintptr_t used = here > nesting.base ? here - nesting.base : nesting.base - here;
    if (used > kStackBudget) {
        PyErr_SetString(PyExc_RecursionError, "maximum recursion depth exceeded while calling a Python object");
        return false;
    }
    if (Py_EnterRecursiveCall(" while calling a Python object")) return false;
    ++nesting.depth;
    return true;
}

static void leave_call() {
    --nesting.depth;
    Py_LeaveRecursiveCall();
}

static PyObject* vectorcall(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    PyObject* bound[kMaxParams];
    PyObject* kwargs = nullptr;
    if (!bind(f, args, PyVectorcall_NARGS(nargsf), kwnames, bound, &kwargs)) {
        add_traceback(f->entry->name, f->entry->line);
        return nullptr;
    }
    PyObject* result = nullptr;
    if (!enter_call()) {
        Py_XDECREF(kwargs);
        add_traceback(f->entry->name, f->entry->line);
        return nullptr;
    }
    try {
        result = f->entry->impl(Call{bound, kwargs}).release().ptr();
    } catch (py::error_already_set& e) {
        e.restore();
    } catch (py::builtin_exception& e) {
        e.set_error();
    } catch (std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (std::exception& e) {
        PyErr_SetString(PyExc_SystemError, e.what());
    }
    leave_call();
    Py_XDECREF(kwargs);
    if (!result) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "error return without exception set");
        add_traceback(f->entry->name, f->entry->line);
    }
    return result;
}

static void dealloc(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    Py_XDECREF(f->name);
    Py_XDECREF(f->doc);
    Py_XDECREF(f->defaults);
    Py_XDECREF(f->params);
    Py_XDECREF(f->code);
    PyObject_Free(self);
}

static PyObject* repr(PyObject* self) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    return PyUnicode_FromFormat("<function %U at %p>", f->name, self);
}

static PyObject* get_name(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->name);
}
static PyObject* get_doc(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->doc);
}
static PyObject* get_defaults(PyObject* self, void*) {
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->defaults);
}
static PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }
static PyObject* get_module(PyObject*, void*) { return PyUnicode_FromString("orvane_ex.hidden"); }

// Source of a def with this function's parameter list, compiled once to give
// __code__ the argument counts, names and flags inspect.signature reads.
static std::string def_source(const FunctionEntry& s) {
    std::string src = "def " + std::string(s.name) + "(";
    for (size_t i = 0; i < s.params.size(); ++i) {
        if (i) src += ", ";
        src += s.params[i];
    }
    if (s.form == Form::single) src += ", /";
    if (s.var_kwargs) src += ", **kwargs";
    src += "): pass\n";
    return src;
}

static PyObject* get_code(PyObject* self, void*) {
    auto* f = reinterpret_cast<FunctionObject*>(self);
    if (!f->code) {
        std::string src = def_source(*f->entry);
        PyObject* mod = Py_CompileString(src.c_str(), "orvane_ex\\hidden", Py_file_input);
        if (!mod) return nullptr;
        PyObject* consts = PyObject_GetAttrString(mod, "co_consts");
        Py_DECREF(mod);
        if (!consts) return nullptr;
        PyObject* def = nullptr;
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(consts) && !def; ++i)
            if (PyCode_Check(PyTuple_GET_ITEM(consts, i))) def = PyTuple_GET_ITEM(consts, i);
        if (!def) {
            Py_DECREF(consts);
            PyErr_SetString(PyExc_SystemError, "no code object for the signature");
            return nullptr;
        }
        PyObject* replace = PyObject_GetAttrString(def, "replace");
        Py_DECREF(consts);
        if (!replace) return nullptr;
        PyObject* kw = Py_BuildValue("{s:i}", "co_firstlineno", f->entry->line);
        PyObject* empty = PyTuple_New(0);
        if (kw && empty) f->code = PyObject_Call(replace, empty, kw);
        Py_XDECREF(kw);
        Py_XDECREF(empty);
        Py_DECREF(replace);
        if (!f->code) return nullptr;
    }
    return Py_NewRef(f->code);
}

// Like a Python function, binds as a method when found on an instance; this
// also makes inspect and pydoc treat it as a routine.
static PyObject* descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (!obj || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

static PyObject* reduce(PyObject* self, PyObject*) {
    // Pickled by reference, like any module-level function.
    return Py_NewRef(reinterpret_cast<FunctionObject*>(self)->name);
}

static PyGetSetDef getset[] = {
    {"__name__", get_name, nullptr, nullptr, nullptr},
    {"__qualname__", get_name, nullptr, nullptr, nullptr},
    {"__doc__", get_doc, nullptr, nullptr, nullptr},
    {"__defaults__", get_defaults, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__module__", get_module, nullptr, nullptr, nullptr},
    {"__code__", get_code, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

static PyMethodDef methods[] = {
    {"__reduce__", reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

static PyTypeObject function_type;  // filled in by ready_function_type

}  // namespace hidden::runtime

namespace hidden {
using namespace runtime;

int ready_function_type() {
    PyTypeObject& t = function_type;
    if (t.tp_flags & Py_TPFLAGS_READY) return 0;
    Py_SET_REFCNT(reinterpret_cast<PyObject*>(&t), 1);
    t.tp_name = "orvane_ex.hidden.function";
    t.tp_basicsize = sizeof(FunctionObject);
    t.tp_dealloc = dealloc;
    t.tp_vectorcall_offset = offsetof(FunctionObject, vectorcall);
    t.tp_repr = repr;
    t.tp_call = PyVectorcall_Call;
    t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL;
    t.tp_methods = methods;
    t.tp_getset = getset;
    t.tp_descr_get = descr_get;
    return PyType_Ready(&t);
}

PyObject* make_function(const FunctionEntry& entry) {
    auto* f = PyObject_New(FunctionObject, &function_type);
    if (!f) return nullptr;
    f->vectorcall = vectorcall;
    f->entry = &entry;
    f->name = PyUnicode_InternFromString(entry.name);
    f->doc = entry.doc ? PyUnicode_FromString(entry.doc) : Py_NewRef(Py_None);
    f->nparams = Py_ssize_t(entry.params.size());
    f->nrequired = f->nparams - Py_ssize_t(entry.defaults.size());
    f->params = PyTuple_New(f->nparams);
    f->code = nullptr;
    f->defaults = nullptr;
    PyObject* self = reinterpret_cast<PyObject*>(f);
    if (!f->name || !f->doc || !f->params) {
        Py_DECREF(self);
        return nullptr;
    }
    for (Py_ssize_t i = 0; i < f->nparams; ++i) {
        PyObject* p = PyUnicode_InternFromString(entry.params[size_t(i)]);
        if (!p) {
            Py_DECREF(self);
            return nullptr;
        }
        PyTuple_SET_ITEM(f->params, i, p);
    }
    if (entry.defaults.empty()) {
        f->defaults = Py_NewRef(Py_None);
    } else {
        f->defaults = PyTuple_New(Py_ssize_t(entry.defaults.size()));
        if (!f->defaults) {
            Py_DECREF(self);
            return nullptr;
        }
        for (size_t i = 0; i < entry.defaults.size(); ++i) {
            try {
                PyTuple_SET_ITEM(f->defaults, Py_ssize_t(i), entry.defaults[i]().release().ptr());
            } catch (py::error_already_set& e) {
                e.restore();
                Py_DECREF(self);
                return nullptr;
            }
        }
    }
    return self;
}

static std::vector<FunctionEntry>& table() {
    static std::vector<FunctionEntry> t;
    return t;
}

const std::vector<FunctionEntry>& function_table() { return table(); }

Definition::Definition(Name function, FunctionEntry entry) {
    if (int(function) < surface::kFirstFunction || function >= Name::count) std::abort();  // a library's name
    const surface::Function& row = surface::function(function);
    entry.name = row.name;
    entry.line = row.line;
    entry.doc = row.doc;
    table().push_back(std::move(entry));
}

}  // namespace hidden
