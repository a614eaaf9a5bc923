// Eight-term models (known thru and unknown thru) and their correction.
#include "calibration.hpp"
#include "native.hpp"

namespace hidden::calibration {

// Stores points of an eight-term model.
template <class T, class V>
static void store(Assembled& A, Assembled& B, T* q, Py_ssize_t k, const EightTerm<V>& m) {
    A.store<T>(k, m.A);
    B.store<T>(k, m.B);
    store_vec(q, k, m.q);
}

struct SoltArgs {
    std::optional<ArrayIn> G1, Gm1, G2, Gm2;
    explicit SoltArgs(const Call& c)
        : G1(columns_in(c[0], 3)), Gm1(columns_in(c[1], 3)), G2(columns_in(c[2], 3)), Gm2(columns_in(c[3], 3)) {}
    template <class V>
    auto load(Py_ssize_t k, bool& ok) const {
        return std::array{load_row<V, 3>(*G1, k, ok), load_row<V, 3>(*Gm1, k, ok),
                          load_row<V, 3>(*G2, k, ok), load_row<V, 3>(*Gm2, k, ok)};
    }
};

// `kinds`: which of A, B and q numpy gives as complex; the points are
// computed in complex arithmetic when any argument is complex.
template <class Point>
static py::object eight_term_native(const SoltArgs& g, Py_ssize_t n, bool complex, std::array<Kind, 3> kinds,
                                    Point&& point) {
    return run_native(complex, [&]<class T>(CalPoint& p, bool& finite) -> py::object {
        Assembled A = new_assembled(is_complex<T>::value, n), B = new_assembled(is_complex<T>::value, n);
        py::array q = new_array(is_complex<T>::value, {n});
        T* qd = static_cast<T*>(q.mutable_data());
        for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
            const auto s = g.template load<V>(k, ok);
            store<T>(A, B, qd, k, point.template operator()<V>(p, s, k, ok));
        });
        py::array out[3] = {std::move(A.view), std::move(B.view), std::move(q)};
        for (int i = 0; i < 3; ++i)
            if (is_complex<T>::value && !kinds[size_t(i)].complex) out[i] = real_part(out[i]);
        return py::make_tuple(out[0], out[1], out[2]);
    });
}

static Kind kind_of(const std::optional<ArrayIn>& a) { return {a->complex}; }

py::object get8TermModel(const Call& c) {
    if (genuine(Name::np, Name::det, Name::inv, Name::solve, Name::S2T, Name::get1PortModel)) {
        SoltArgs g(c);
        auto T = stack_in(c[4]), Tm = stack_in(c[5]);
        if (same_points({&g.G1, &g.Gm1, &g.G2, &g.Gm2, &T, &Tm})) {
            CalKind kp;
            const auto kinds = calibration::get8TermModel(kp, kind_of(g.G1), kind_of(g.Gm1), kind_of(g.G2),
                                                          kind_of(g.Gm2), kind_of(T), kind_of(Tm));
            py::object r = eight_term_native(
                g, T->n, any_complex({&g.G1, &g.Gm1, &g.G2, &g.Gm2, &T, &Tm}), kinds,
                [&]<class V>(CalPoint& p, const auto& s, Py_ssize_t k, bool& ok) {
                    return calibration::get8TermModel(p, s[0], s[1], s[2], s[3], load_stack<V>(*T, k, ok),
                                                      load_stack<V>(*Tm, k, ok));
                });
            if (r) return r;
        }
    }
    CalNumpy p;
    return calibration::get8TermModel(p, c[0], c[1], c[2], c[3], c[4], c[5]);
}

// A Python number the native path can use as a double without changing it.
static std::optional<double> exact_double(py::handle x) {
    if (PyFloat_CheckExact(x.ptr())) return PyFloat_AS_DOUBLE(x.ptr());
    if (PyLong_CheckExact(x.ptr())) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(x.ptr(), &overflow);
        if (!overflow && v > -(1ll << 53) && v < (1ll << 53)) return double(v);
    }
    return std::nullopt;
}

py::object get8TermModelUThru(const Call& c) {
    if (genuine(Name::np, Name::det, Name::inv, Name::solve, Name::sp, Name::S2T, Name::get1PortModel)) {
        SoltArgs g(c);
        auto Tm = stack_in(c[4]), f = array_in(c[5], 1);
        auto length = exact_double(c[6]);
        std::optional<double> light;
        if (PyObject* v = PyObject_GetAttrString(global(Name::sp).attr("constants").ptr(), "speed_of_light")) {
            light = exact_double(v);
            Py_DECREF(v);
        } else {
            PyErr_Clear();
        }
        if (length && light && same_points({&g.G1, &g.Gm1, &g.G2, &g.Gm2, &Tm, &f}) && !f->complex) {
            const double pi = py::float_(global(Name::np).attr("pi"));
            CalKind kp;
            const auto kinds = calibration::get8TermModelUThru(kp, kind_of(g.G1), kind_of(g.Gm1), kind_of(g.G2),
                                                               kind_of(g.Gm2), kind_of(Tm), kReal, *length, *light, pi);
            py::object r = eight_term_native(
                g, Tm->n, any_complex({&g.G1, &g.Gm1, &g.G2, &g.Gm2, &Tm}), kinds,
                [&]<class V>(CalPoint& p, const auto& s, Py_ssize_t k, bool& ok) {
                    return calibration::get8TermModelUThru(p, s[0], s[1], s[2], s[3], load_stack<V>(*Tm, k, ok),
                                                           load_vec<real_of<V>>(*f, k, ok), *length, *light, pi);
                });
            if (r) return r;
        }
    }
    CalNumpy p;
    // phys_length, speed_of_light and pi meet numpy through Python's own arithmetic.
    return calibration::get8TermModelUThru(p, c[0], c[1], c[2], c[3], c[4], py::reinterpret_borrow<py::object>(c[5]),
                                           py::reinterpret_borrow<py::object>(c[6]),
                                           py::object(global(Name::sp).attr("constants").attr("speed_of_light")),
                                           py::object(global(Name::np).attr("pi")));
}

py::object correct8Term(const Call& c) {
    if (genuine(Name::np, Name::inv, Name::det, Name::S2T, Name::T2S)) {
        auto Sm = stack_in(c[0]), A = stack_in(c[1]), B = stack_in(c[2]), q = array_in(c[3], 1);
        if (same_points({&Sm, &A, &B, &q})) {
            const Py_ssize_t n = Sm->n;
            py::object r = run_native(any_complex({&Sm, &A, &B, &q}), [&]<class T>(CalPoint& p, bool& finite) -> py::object {
                Assembled S = new_assembled(is_complex<T>::value, n);
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    S.store<T>(k, calibration::correct8Term(p, load_stack<V>(*Sm, k, ok), load_stack<V>(*A, k, ok),
                                                            load_stack<V>(*B, k, ok), load_vec<V>(*q, k, ok)));
                });
                return std::move(S.view);
            });
            if (r) return r;
        }
    }
    CalNumpy p;
    return calibration::correct8Term(p, c[0], c[1], c[2], c[3]);
}

}  // namespace hidden::calibration
