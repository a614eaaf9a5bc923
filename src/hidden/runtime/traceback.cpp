// Traceback entries for failures inside the module. Each entry is a frame of
// an empty code object named after the function, whose first line is the line
// to report; the code objects are cached per (name, line).
#include <map>
#include <string>
#include <utility>

#include "runtime.hpp"

namespace hidden {

static PyObject* code_for(const char* funcname, int line) {
    static std::map<std::pair<std::string, int>, PyObject*> cache;
    auto key = std::make_pair(std::string(funcname), line);
    auto it = cache.find(key);
    if (it != cache.end()) return it->second;
    std::string full = funcname;
    if (full != "genexpr" && full.rfind("init ", 0) != 0) full = "orvane_ex.hidden." + full;
    PyCodeObject* code = PyCode_NewEmpty("orvane_ex\\hidden", full.c_str(), line);
    if (!code) return nullptr;
    cache.emplace(key, reinterpret_cast<PyObject*>(code));
    return reinterpret_cast<PyObject*>(code);
}

static PyObject* frame_globals = nullptr;

void set_traceback_globals(PyObject* globals) { frame_globals = globals; }

void add_traceback(const char* funcname, int line) {
    PyObject *type, *value, *tb;
    PyErr_Fetch(&type, &value, &tb);
    PyObject* code = code_for(funcname, line);
    PyFrameObject* frame = nullptr;
    if (code) {
        PyObject* globals = frame_globals;
        PyObject* tmp = nullptr;
        if (!globals) globals = tmp = PyDict_New();
        if (globals)
            frame = PyFrame_New(PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code), globals, nullptr);
        Py_XDECREF(tmp);
    }
    if (!frame) {
        // Keep the original error; the entry is only decoration.
        PyErr_Clear();
        PyErr_Restore(type, value, tb);
        return;
    }
    PyErr_Restore(type, value, tb);
    PyTraceBack_Here(frame);
    Py_DECREF(frame);
}

}  // namespace hidden
