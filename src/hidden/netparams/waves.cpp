// ab2G, ab2S and ab2S_SwitchCorrect: wave recordings to reflection
// coefficients and S-parameter stacks.
#include <cstring>

#include "formulas.hpp"
#include "netparams.hpp"

namespace hidden::netparams {
using namespace numeric;

// Line of ab2S_SwitchCorrect's generator expression (the function starts at 200).
constexpr int kSwitchCorrectGenexprLine = 214;

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

struct PointWaves : PointPath {
    template <class V> static V wave(const std::array<V, 4>& w, Rx key) { return w[size_t(key)]; }
    template <class V> static std::array<V, 4> waves(const std::array<V, 4>& w) { return w; }
};

// The four receiver vectors of one recording, when the native path can read
// them without running any Python code: exact dicts keyed by exact ints, and
// equal-length 1-D arrays of one kind.
struct NativeRecording {
    ArrayIn v[4];
};

static bool int_keyed(PyObject* d) {
    if (!PyDict_CheckExact(d)) return false;
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(d, &pos, &k, &v))
        if (!PyLong_CheckExact(k)) return false;
    return true;
}

// ports[key] from an exact dict, when it is an exact int.
static PyObject* port_of(PyObject* ports, const char* key) {
    static PyObject* keys[6] = {};
    static const char* const names[6] = {"Tx1", "Tx2", "Rx1A", "Rx1B", "Rx2A", "Rx2B"};
    int i = 0;
    while (i < 5 && std::strcmp(names[i], key) != 0) ++i;
    if (!keys[i] && !(keys[i] = PyUnicode_InternFromString(key))) {
        PyErr_Clear();
        return nullptr;
    }
    PyObject* v = PyDict_GetItemWithError(ports, keys[i]);
    if (!v) PyErr_Clear();
    return v && PyLong_CheckExact(v) ? v : nullptr;
}

static std::optional<ArrayIn> vector_at(PyObject* rec, PyObject* port) {
    if (!port) return std::nullopt;
    PyObject* v = PyDict_GetItemWithError(rec, port);
    if (!v) {
        PyErr_Clear();
        return std::nullopt;
    }
    return array_in(v, 1);
}

static std::optional<NativeRecording> native_recording(PyObject* rec, PyObject* ports) {
    if (!int_keyed(rec)) return std::nullopt;
    NativeRecording r;
    for (int i = 0; i < 4; ++i) {
        auto a = vector_at(rec, port_of(ports, rx_key(Rx(i))));
        if (!a) return std::nullopt;
        r.v[i] = *a;
    }
    return r;
}

template <class Formula>
static py::object two_port(const Call& c, NumpyWaves numpy, Formula&& formula) {
    PyObject *tx1 = c[0].ptr(), *tx2 = c[1].ptr(), *ports = c[2].ptr();
    if (genuine(Name::np) && PyDict_CheckExact(ports)) {
        auto r1 = native_recording(tx1, ports);
        auto r2 = r1 ? native_recording(tx2, ports) : std::nullopt;
        if (r2) {
            const Py_ssize_t n = r1->v[0].n;
            const bool complex = r1->v[0].complex;
            bool uniform = true;
            for (const auto* r : {&*r1, &*r2})
                for (const ArrayIn& a : r->v) uniform &= a.n == n && a.complex == complex;
            if (uniform) {
                py::object out = dispatch(complex, [&]<class T>() -> py::object {
                    Assembled S = new_assembled(is_complex<T>::value, n);
                    PointWaves p;
                    bool finite = true;
                    FpGuard fp;
                    for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                        std::array<V, 4> w1, w2;
                        for (int i = 0; i < 4; ++i) {
                            w1[size_t(i)] = load_vec<V>(r1->v[i], k, ok);
                            w2[size_t(i)] = load_vec<V>(r2->v[i], k, ok);
                        }
                        S.store<T>(k, formula(p, w1, w2));
                    });
                    if (!fp.clean() || !finite) return py::object();
                    return std::move(S.view);
                });
                if (out) return out;
            }
        }
    }
    return formula(numpy, Recording{c[0], ports}, Recording{c[1], ports});
}

py::object ab2S(const Call& c) {
    return two_port(c, NumpyWaves{}, [](auto& p, const auto& r1, const auto& r2) { return netparams::ab2S(p, r1, r2); });
}

py::object ab2S_SwitchCorrect(const Call& c) {
    NumpyWaves numpy;
    numpy.genexpr_line = kSwitchCorrectGenexprLine;
    return two_port(c, numpy,
                    [](auto& p, const auto& r1, const auto& r2) { return netparams::ab2S_SwitchCorrect(p, r1, r2); });
}

// b/a of the transmitting port, the recording's own transmitter found by the
// exact zero its vector starts with.
static py::object ab2G_native(PyObject* rec, PyObject* ports) {
    if (!PyDict_CheckExact(ports) || !int_keyed(rec)) return py::object();
    PyObject* tx = nullptr;
    Py_ssize_t pos = 0;
    PyObject *k, *v;
    while (PyDict_Next(rec, &pos, &k, &v)) {
        auto a = array_in(v, 1);
        if (!a) return py::object();
        bool finite = true;
        const bool zero = a->complex ? is_zero(load<Cx<false>>(*a, 0, finite)) : is_zero(load<double>(*a, 0, finite));
        if (zero) tx = k;
    }
    // Anything unusual (no transmitter found, a missing key) is left to the
    // numpy path, which gives the module's own result or error.
    if (!tx) return py::object();
    PyObject* b_port;
    PyObject* a_port;
    PyObject* t1 = port_of(ports, "Tx1");
    PyObject* t2 = t1 && tx != t1 ? port_of(ports, "Tx2") : nullptr;
    if (t1 && tx == t1) {
        b_port = port_of(ports, "Rx1B");
        a_port = port_of(ports, "Rx1A");
    } else if (t2 && tx == t2) {
        b_port = port_of(ports, "Rx2B");
        a_port = port_of(ports, "Rx2A");
    } else {
        return py::object();
    }
    auto b = vector_at(rec, b_port);
    auto a = vector_at(rec, a_port);
    if (!a || !b || a->n != b->n || a->complex != b->complex) return py::object();
    const ArrayIn num = *b, den = *a;
    return dispatch(a->complex, [&]<class T>() -> py::object {
        py::array G = new_array(is_complex<T>::value, {den.n});
        T* g = static_cast<T*>(G.mutable_data());
        bool finite = true;
        FpGuard fp;
        for_points<T>(den.n, finite, [&]<class V>(Py_ssize_t i, bool& ok) {
            const V bi = load_vec<V>(num, i, ok);
            const V ai = load_vec<V>(den, i, ok);
            store_vec(g, i, bi / ai);
        });
        if (!fp.clean() || !finite) return py::object();
        return G;
    });
}

py::object ab2G(const Call& c) {
    py::handle rec = c[0], ports = c[1];
    if (genuine(Name::np))
        if (py::object r = ab2G_native(rec.ptr(), ports.ptr())) return r;
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
}

}  // namespace hidden::netparams
