// Argument binding for every module function, with the interpreter's own
// wording for each kind of wrong call.
#include "function.hpp"

namespace hidden::runtime {

static void count_error(FunctionObject* f, Py_ssize_t given) {
    const Py_ssize_t lo = f->nrequired, hi = f->nparams;
    const bool exact = lo == hi;
    Py_ssize_t expected;
    const char* word;
    if (given < lo) {
        expected = lo;
        word = exact ? "exactly" : "at least";
    } else {
        expected = hi;
        word = exact ? "exactly" : "at most";
    }
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 f->entry->name, word, expected, expected == 1 ? "" : "s", given);
}

static bool same_name(PyObject* a, PyObject* b) {
    if (a == b) return true;
    return PyUnicode_Check(a) && PyUnicode_Compare(a, b) == 0;
}

// Index of the keyword named like parameter `p`, or -1.
static Py_ssize_t find_keyword(PyObject* kwnames, Py_ssize_t nkw, PyObject* p) {
    for (Py_ssize_t i = 0; i < nkw; ++i)
        if (PyTuple_GET_ITEM(kwnames, i) == p) return i;
    for (Py_ssize_t i = 0; i < nkw; ++i) {
        PyObject* k = PyTuple_GET_ITEM(kwnames, i);
        if (PyUnicode_Check(k) && PyUnicode_Compare(k, p) == 0) return i;
        if (PyErr_Occurred()) PyErr_Clear();
    }
    return -1;
}

bool bind(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out, PyObject** kwargs) {
    const char* fname = f->entry->name;
    const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    *kwargs = nullptr;

    if (f->entry->form != Form::normal) {
        if (nkw) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes no keyword arguments", fname);
            return false;
        }
        if (f->entry->form == Form::none) {
            if (nargs == 0) return true;
            PyErr_Format(PyExc_TypeError, "%.200s() takes no arguments (%zd given)", fname, nargs);
            return false;
        }
        if (nargs != 1) {
            PyErr_Format(PyExc_TypeError, "%.200s() takes exactly one argument (%zd given)", fname, nargs);
            return false;
        }
        out[0] = args[0];
        return true;
    }

    const Py_ssize_t np_ = f->nparams, nreq = f->nrequired;
    if (nkw == 0) {
        if (nargs < nreq || nargs > np_) {
            count_error(f, nargs);
            return false;
        }
        for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
        for (Py_ssize_t i = nargs; i < np_; ++i) out[i] = PyTuple_GET_ITEM(f->defaults, i - nreq);
        return true;
    }

    if (nargs > np_) {
        count_error(f, nargs);
        return false;
    }
    PyObject* const* kwvalues = args + nargs;
    Py_ssize_t matched[kMaxParams];
    int nmatched = 0;
    for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
    for (Py_ssize_t i = nargs; i < np_; ++i) {
        PyObject* pname = PyTuple_GET_ITEM(f->params, i);
        Py_ssize_t k = find_keyword(kwnames, nkw, pname);
        if (k >= 0) {
            out[i] = kwvalues[k];
            matched[nmatched++] = k;
        } else if (i < nreq) {
            count_error(f, i);
            return false;
        } else {
            out[i] = PyTuple_GET_ITEM(f->defaults, i - nreq);
        }
    }
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        bool taken = false;
        for (int m = 0; m < nmatched && !taken; ++m) taken = matched[m] == k;
        if (taken) continue;
        PyObject* key = PyTuple_GET_ITEM(kwnames, k);
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", fname);
            Py_CLEAR(*kwargs);
            return false;
        }
        bool positional = false;
        for (Py_ssize_t i = 0; i < nargs && !positional; ++i)
            positional = same_name(key, PyTuple_GET_ITEM(f->params, i));
        if (positional) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'", fname, key);
            Py_CLEAR(*kwargs);
            return false;
        }
        if (!f->entry->var_kwargs) {
            PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", fname, key);
            return false;
        }
        if (!*kwargs && !(*kwargs = PyDict_New())) return false;
        if (PyDict_SetItem(*kwargs, key, kwvalues[k]) < 0) {
            Py_CLEAR(*kwargs);
            return false;
        }
    }
    return true;
}

}  // namespace hidden::runtime
