// Frequency-response models: one complex factor per measured quantity.
#include "calibration.hpp"
#include "native.hpp"

namespace hidden::calibration {

// measured / actual over two [n] vectors of one kind, natively when possible.
static py::object vector_ratio(py::handle measured, py::handle actual) {
    if (genuine(Name::np)) {
        auto m = array_in(measured, 1), a = array_in(actual, 1);
        if (same_points({&m, &a}) && one_kind({&m, &a})) {
            const Py_ssize_t n = m->n;
            py::object r = run_native(m->complex, [&]<class T>(CalPoint&, bool& finite) -> py::object {
                py::array H = new_array(is_complex<T>::value, {n});
                T* out = static_cast<T*>(H.mutable_data());
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    const V mk = load_vec<V>(*m, k, ok);
                    const V ak = load_vec<V>(*a, k, ok);
                    store_vec(out, k, ratio(mk, ak));
                });
                return H;
            });
            if (r) return r;
        }
    }
    return ratio(py::reinterpret_borrow<py::object>(measured), py::reinterpret_borrow<py::object>(actual));
}

py::object get1PortResponseModel(const Call& c) { return vector_ratio(c[1], c[0]); }

py::object getPortExtModel(const Call& c) { return vector_ratio(c[0], c[1]); }

py::object get2PortResponseModel(const Call& c) {
    py::handle G1 = c[0], G1m = c[1], G2 = c[2], G2m = c[3], T = c[4], Tm = c[5];
    if (genuine(Name::np, Name::get1PortResponseModel)) {
        auto g1 = array_in(G1, 1), g1m = array_in(G1m, 1), g2 = array_in(G2, 1), g2m = array_in(G2m, 1);
        auto t = stack_in(T), tm = stack_in(Tm);
        if (same_points({&g1, &g1m, &g2, &g2m, &t, &tm}) && one_kind({&g1, &g1m, &g2, &g2m, &t, &tm})) {
            const Py_ssize_t n = t->n;
            py::object r = run_native(t->complex, [&]<class T>(CalPoint&, bool& finite) -> py::object {
                py::array H = new_array(true, {n, 2, 2});
                auto* h = static_cast<std::complex<double>*>(H.mutable_data());
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    const M2<V> tk = load_stack<V>(*t, k, ok), tmk = load_stack<V>(*tm, k, ok);
                    put_complex(h, k, 0, ratio(load_vec<V>(*g1m, k, ok), load_vec<V>(*g1, k, ok)));
                    put_complex(h, k, 3, ratio(load_vec<V>(*g2m, k, ok), load_vec<V>(*g2, k, ok)));
                    put_complex(h, k, 1, ratio(tmk.m[0][1], tk.m[0][1]));
                    put_complex(h, k, 2, ratio(tmk.m[1][0], tk.m[1][0]));
                });
                return H;
            });
            if (r) return r;
        }
    }
    py::object H = global(Name::np).attr("zeros")(T.attr("shape"), py::arg("dtype") = py::handle(
                                                                       reinterpret_cast<PyObject*>(&PyComplex_Type)));
    auto slice = py::reinterpret_steal<py::object>(PySlice_New(nullptr, nullptr, nullptr));
    if (!slice) throw py::error_already_set();
    H[py::make_tuple(slice, 0, 0)] = global(Name::get1PortResponseModel)(G1, G1m);
    H[py::make_tuple(slice, 1, 1)] = global(Name::get1PortResponseModel)(G2, G2m);
    py::object t01 = NumpyPath::at(Tm, 0, 1);
    H[py::make_tuple(slice, 0, 1)] = ratio(t01, NumpyPath::at(T, 0, 1));
    py::object t10 = NumpyPath::at(Tm, 1, 0);
    H[py::make_tuple(slice, 1, 0)] = ratio(t10, NumpyPath::at(T, 1, 0));
    return H;
}

py::object correctResponse(const Call& c) {
    if (genuine(Name::np)) {
        auto Sm = stack_in(c[0]), H = stack_in(c[1]);
        if (same_points({&Sm, &H}) && one_kind({&Sm, &H}) &&
            std::equal(Sm->stride, Sm->stride + 3, H->stride)) {
            const Py_ssize_t n = Sm->n;
            py::object r = run_native(Sm->complex, [&]<class T>(CalPoint&, bool& finite) -> py::object {
                py::array S = new_like(*Sm, 3);
                auto* a = py::detail::array_proxy(S.ptr());
                ArrayIn out{a->data, n, {a->strides[0], a->strides[1], a->strides[2]}, {n, 2, 2}, Sm->complex};
                T* base = reinterpret_cast<T*>(a->data);
                const Py_ssize_t es = Py_ssize_t(sizeof(T));
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    const M2<V> s = load_stack<V>(*Sm, k, ok), h = load_stack<V>(*H, k, ok);
                    for (int i = 0; i < 2; ++i)
                        for (int j = 0; j < 2; ++j)
                            put(base, k, out.stride[0] / es, (i * out.stride[1] + j * out.stride[2]) / es,
                                ratio(s.m[i][j], h.m[i][j]));
                });
                return S;
            });
            if (r) return r;
        }
    }
    return ratio(py::reinterpret_borrow<py::object>(c[0]), py::reinterpret_borrow<py::object>(c[1]));
}

}  // namespace hidden::calibration
