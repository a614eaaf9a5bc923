// ab2G, ab2S and ab2S_SwitchCorrect: wave recordings to reflection
// coefficients and S-parameter stacks.
#include "evaluation/evaluation.hpp"
#include "formulas.hpp"
#include "kernels.hpp"

namespace hidden::netparams {
using namespace evaluation;

// A recording and the port map, as the numpy path reads them.
struct Recording {
    py::handle rec, ports;
};

struct NumpyWaves : NumpyPath {
    int genexpr_line = 0;
    // np.array(rec[ports[key]])
    static py::object wave(const Recording& r, Rx key) {
        py::object array = global(Name::np).attr("array");
        py::object port = r.ports[rx_key(key)];
        py::object v = r.rec[port];
        return array(v);
    }
    // (np.array(rec[ports[k]]) for k in ('Rx1A', 'Rx1B', 'Rx2A', 'Rx2B')), unpacked
    std::array<py::object, 4> waves(const Recording& r) const {
        return in_genexpr(genexpr_line, [&] {
            std::array<py::object, 4> w;
            for (int i = 0; i < 4; ++i) w[size_t(i)] = wave(r, Rx(i));
            return w;
        });
    }
};

// -- what the native path may read -------------------------------------------
// Look-ups in a dict whose keys all have exact built-in types compare only
// those keys, so no Python code (a key's __eq__ or __hash__) runs during
// them. The native path reads recordings and port maps only under that rule.

// A recording keyed by exact ints.
static bool plain_recording(PyObject* rec) {
    if (!PyDict_CheckExact(rec)) return false;
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(rec, &pos, &k, &v))
        if (!PyLong_CheckExact(k)) return false;
    return true;
}

// A port map of exact str keys and exact int values.
static bool plain_ports(PyObject* ports) {
    if (!PyDict_CheckExact(ports)) return false;
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(ports, &pos, &k, &v))
        if (!PyUnicode_CheckExact(k) || !PyLong_CheckExact(v)) return false;
    return true;
}

// The port map's keys, in the order of Rx, then the transmitters.
enum class Key : int { Rx1A, Rx1B, Rx2A, Rx2B, Tx1, Tx2 };

// ports[key] of a plain port map, or nullptr. Borrowed: valid while no
// Python code runs. The keys are interned once; a look-up among exact str
// keys compares strings only and cannot fail or run Python code.
static PyObject* port_of(PyObject* ports, Key key) {
    static const char* const names[6] = {"Rx1A", "Rx1B", "Rx2A", "Rx2B", "Tx1", "Tx2"};
    static PyObject* interned[6] = {};
    PyObject*& name = interned[int(key)];
    if (!name && !(name = PyUnicode_InternFromString(names[int(key)]))) throw py::error_already_set();
    return PyDict_GetItemWithError(ports, name);
}
static PyObject* port_of(PyObject* ports, Rx rx) { return port_of(ports, Key(int(rx))); }

// rec[port] of a recording keyed by exact ints, or nullptr (int keys: no
// Python code, no error).
static PyObject* wave_of(PyObject* rec, PyObject* port) { return port ? PyDict_GetItemWithError(rec, port) : nullptr; }

// The four receiver vectors of one recording, in the order of Rx.
static void take_waves(NativeCall& call, PyObject* rec, PyObject* ports) {
    if (!plain_recording(rec)) {
        call.decline();
        return;
    }
    for (int i = 0; i < 4; ++i) {
        PyObject* v = wave_of(rec, port_of(ports, Rx(i)));
        if (!v) {
            call.decline();
            return;
        }
        call.vector(v);
    }
}

template <class Formula>
static py::object two_port(Name function, const Call& c, numeric::Kernel kernel, NumpyWaves numpy,
                           Formula&& formula) {
    return evaluate(
        function,
        [&] {
            NativeCall call;
            if (!plain_ports(c[2].ptr())) return py::object();
            take_waves(call, c[0].ptr(), c[2].ptr());
            take_waves(call, c[1].ptr(), c[2].ptr());
            // Mixed real and complex waves take numpy's mixed arithmetic.
            if (!call || !call.one_kind()) return py::object();
            call.result(numeric::assembled(call.any_complex(), call.points()));
            return call.run(kernel);
        },
        [&] { return formula(numpy, Recording{c[0], c[2]}, Recording{c[1], c[2]}); });
}

static py::object ab2S(const Call& c) {
    return two_port(Name::ab2S, c, kernels().ab2S, NumpyWaves{},
                    [](auto& p, const auto& r1, const auto& r2) { return netparams::ab2S(p, r1, r2); });
}

static const Definition ab2S_definition{Name::ab2S, {.params = {"rec_tx1", "rec_tx2", "ports"}, .impl = ab2S}};

static py::object ab2S_SwitchCorrect(const Call& c) {
    NumpyWaves numpy;
    numpy.genexpr_line = surface::function(Name::ab2S_SwitchCorrect).genexpr_line;
    return two_port(Name::ab2S_SwitchCorrect, c, kernels().ab2S_SwitchCorrect, numpy,
                    [](auto& p, const auto& r1, const auto& r2) { return netparams::ab2S_SwitchCorrect(p, r1, r2); });
}

static const Definition ab2S_SwitchCorrect_definition{
    Name::ab2S_SwitchCorrect, {.params = {"rec_tx1", "rec_tx2", "ports"}, .impl = ab2S_SwitchCorrect}};

// b/a of the transmitting port, the recording's own transmitter found by the
// exact zero its vector starts with. Anything unusual (no transmitter found,
// a missing key, a value that is no plain array) is left to the numpy path,
// which gives the module's own result or error.
static py::object ab2G_native(PyObject* rec, PyObject* ports) {
    if (!plain_ports(ports) || !PyDict_CheckExact(rec)) return py::object();
    // one pass: exact int keys, array values, and the last whose first value is zero
    PyObject* tx = nullptr;
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    numeric::ArrayIn a;
    while (PyDict_Next(rec, &pos, &k, &v)) {
        if (!PyLong_CheckExact(k) || !numeric::read_array(v, 1, a)) return py::object();
        const double* first = reinterpret_cast<const double*>(a.data);
        if (first[0] == 0 && (!a.complex || first[1] == 0)) tx = k;
    }
    PyObject* t1 = port_of(ports, Key::Tx1);
    PyObject* t2 = port_of(ports, Key::Tx2);
    Rx b_key, a_key;
    if (tx && tx == t1) {
        b_key = Rx::B1, a_key = Rx::A1;
    } else if (tx && t1 && tx == t2) {
        b_key = Rx::B2, a_key = Rx::A2;
    } else {
        return py::object();
    }
    PyObject* b = wave_of(rec, port_of(ports, b_key));
    PyObject* a_wave = wave_of(rec, port_of(ports, a_key));
    if (!a_wave || !b) return py::object();
    NativeCall call;
    // b / a: numpy casts a real operand beside a complex one to x + 0j, as
    // the kernel's loads do
    if (!call.vector(b).vector(a_wave)) return py::object();
    call.result(numeric::vector_result(call.any_complex(), call.points()));
    return call.run(kernels().ratio);
}

static py::object ab2G(const Call& c) {
    py::handle rec = c[0], ports = c[1];
    return evaluate(
        Name::ab2G, [&] { return ab2G_native(rec.ptr(), ports.ptr()); },
        [&]() -> py::object {
            py::object tx = py::int_(0);
            py::object zero = py::int_(0);
            for (auto item : rec.attr("items")()) {
                auto kv = unpack(item, 2);
                py::object first = kv[1][py::int_(0)];
                if (truth(first, Py_EQ, zero)) tx = kv[0];
            }
            for (const char* which : {"Tx1", "Tx2"}) {
                py::object port = ports[which];
                if (tx.is(port)) {
                    const bool one = which[2] == '1';
                    Recording r{rec, ports};
                    py::object b = NumpyWaves::wave(r, one ? Rx::B1 : Rx::B2);
                    py::object a = NumpyWaves::wave(r, one ? Rx::A1 : Rx::A2);
                    return b / a;
                }
            }
            return py::none();
        });
}

static const Definition ab2G_definition{Name::ab2G, {.params = {"rec", "ports"}, .impl = ab2G}};

}  // namespace hidden::netparams
