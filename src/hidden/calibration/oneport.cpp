// get1PortModel and correct1Port: the three-term model of one port.
#include "calibration.hpp"
#include "native.hpp"

namespace hidden::calibration {

py::object get1PortModel(const Call& c) {
    if (genuine(Name::np, Name::solve)) {
        auto G = columns_in(c[0], 3), Gm = columns_in(c[1], 3);
        if (same_points({&G, &Gm})) {
            const Py_ssize_t n = G->n;
            py::object r = run_native(any_complex({&G, &Gm}), [&]<class T>(CalPoint& p, bool& finite) -> py::object {
                py::array x = new_array(is_complex<T>::value, {n, 3});
                T* out = static_cast<T*>(x.mutable_data());
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    const auto e = calibration::get1PortModel(p, load_row<V, 3>(*G, k, ok),
                                                              load_row<V, 3>(*Gm, k, ok));
                    for (size_t j = 0; j < 3; ++j) put(out, k, 3, Py_ssize_t(j), e[j]);
                });
                return x;
            });
            if (r) return r;
        }
    }
    CalNumpy p;
    return calibration::get1PortModel(p, c[0], c[1]);
}

py::object correct1Port(const Call& c) {
    if (genuine(Name::np)) {
        auto Gm = array_in(c[0], 1), err = columns_in(c[1], 3);
        if (same_points({&Gm, &err}) && one_kind({&Gm, &err})) {
            const Py_ssize_t n = Gm->n;
            py::object r = run_native(Gm->complex, [&]<class T>(CalPoint& p, bool& finite) -> py::object {
                py::array G = new_array(is_complex<T>::value, {n});
                T* out = static_cast<T*>(G.mutable_data());
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    store_vec(out, k, calibration::correct1Port(p, load_vec<V>(*Gm, k, ok), load_row<V, 3>(*err, k, ok)));
                });
                return G;
            });
            if (r) return r;
        }
    }
    CalNumpy p;
    return calibration::correct1Port(p, c[0], c[1]);
}

}  // namespace hidden::calibration
