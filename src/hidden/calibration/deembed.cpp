// deEmbed: removes known adapters from either side of a two-port measurement.
#include "calibration.hpp"
#include "native.hpp"

namespace hidden::calibration {

py::object deEmbed(const Call& c) {
    py::handle S_A_DUT_B = c[0];
    py::object np = global(Name::np);
    py::object num_pts = np.attr("shape")(S_A_DUT_B)[py::int_(0)];
    py::list thru, row0, row1;
    row0.append(0), row0.append(1), row1.append(1), row1.append(0);
    thru.append(row0), thru.append(row1);
    py::object ideal_thru = global(Name::np).attr("tile")(thru, py::make_tuple(num_pts, 1, 1));
    py::handle ndarray = global(Name::np).attr("ndarray");
    auto adapter = [&](py::handle s) -> py::object {
        // No adapter on this side unless it is exactly a numpy array.
        if (truth(py::handle(reinterpret_cast<PyObject*>(Py_TYPE(s.ptr()))), Py_EQ, ndarray))
            return py::reinterpret_borrow<py::object>(s);
        return ideal_thru;
    };
    py::object S_A = adapter(c[1]);
    py::object S_B = adapter(c[2]);

    if (genuine(Name::np, Name::inv, Name::det, Name::S2T, Name::T2S)) {
        auto S = stack_in(S_A_DUT_B);
        const bool has_a = !S_A.is(ideal_thru), has_b = !S_B.is(ideal_thru);
        auto A = has_a ? stack_in(S_A) : S, B = has_b ? stack_in(S_B) : S;
        if (same_points({&S, &A, &B})) {
            const Py_ssize_t n = S->n;
            py::object r = run_native(any_complex({&S, &A, &B}), [&]<class T>(CalPoint& p, bool& finite) -> py::object {
                Assembled out = new_assembled(is_complex<T>::value, n);
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    const M2<V> thru{{{V(0.0), V(1.0)}, {V(1.0), V(0.0)}}};
                    const M2<V> a = has_a ? load_stack<V>(*A, k, ok) : thru;
                    const M2<V> b = has_b ? load_stack<V>(*B, k, ok) : thru;
                    out.store<T>(k, calibration::deEmbed(p, load_stack<V>(*S, k, ok), a, b));
                });
                return std::move(out.view);
            });
            if (r) return r;
        }
    }
    CalNumpy p;
    return calibration::deEmbed(p, S_A_DUT_B, S_A, S_B);
}

}  // namespace hidden::calibration
