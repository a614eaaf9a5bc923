// S2T, T2S and getIdealSparams.
#include "formulas.hpp"
#include "netparams.hpp"

namespace hidden::netparams {
using namespace numeric;

// One conversion over a stack: native when the stack and the namespace allow.
template <class Formula>
static py::object convert(py::handle s, Formula&& formula) {
    if (genuine(Name::np, Name::det)) {
        if (auto in = stack_in(s)) {
            py::object r = dispatch(in->complex, [&]<class T>() -> py::object {
                Assembled out = new_assembled(is_complex<T>::value, in->n);
                PointPath p;
                bool finite = true;
                FpGuard fp;
                for_points<T>(in->n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    out.store<T>(k, formula(p, load_stack<V>(*in, k, ok)));
                });
                if (!fp.clean() || !finite || p.singular) return py::object();
                return std::move(out.view);
            });
            if (r) return r;
        }
    }
    NumpyPath p;
    return formula(p, s);
}

py::object S2T(const Call& c) {
    return convert(c[0], [](auto& p, const auto& s) { return netparams::S2T(p, s); });
}

py::object T2S(const Call& c) {
    return convert(c[0], [](auto& p, const auto& t) { return netparams::T2S(p, t); });
}

// Largest point count the native path allocates for; numpy decides beyond.
constexpr long long kMaxNativePoints = 1ll << 32;

py::object getIdealSparams(const Call& c) {
    py::handle num_pts = c[0];
    if (genuine(Name::np) && PyLong_CheckExact(num_pts.ptr())) {
        const long long n = PyLong_AsLongLong(num_pts.ptr());
        if (n == -1 && PyErr_Occurred()) PyErr_Clear();
        else if (n >= 1 && n <= kMaxNativePoints) {
            py::array G = new_array(true, {n, 3});
            auto* g = static_cast<double*>(G.mutable_data());
            for (long long k = 0; k < n; ++k) {
                double* row = g + 6 * k;
                row[0] = 1.0, row[1] = 0.0, row[2] = -1.0, row[3] = 0.0, row[4] = 0.0, row[5] = 0.0;
            }
            Assembled T = new_assembled(false, n);
            for (long long k = 0; k < n; ++k) T.store<double>(k, M2<double>{{{0.0, 1.0}, {1.0, 0.0}}});
            return py::make_tuple(G, T.view);
        }
    }
    py::object G_open = global(Name::np).attr("ones")(num_pts);
    py::object ones = global(Name::np).attr("ones")(num_pts);
    py::object G_short = py::int_(-1) * ones;
    py::object G_load = global(Name::np).attr("zeros")(num_pts);
    // dtype=complex, the built-in type: numpy's complex128.
    py::object G_ideal = global(Name::np).attr("zeros")(py::make_tuple(num_pts, 3),
                                                        py::arg("dtype") = py::handle(reinterpret_cast<PyObject*>(&PyComplex_Type)));
    auto slice = py::reinterpret_steal<py::object>(PySlice_New(nullptr, nullptr, nullptr));
    if (!slice) throw py::error_already_set();
    G_ideal[py::make_tuple(slice, 0)] = G_open;
    G_ideal[py::make_tuple(slice, 1)] = G_short;
    G_ideal[py::make_tuple(slice, 2)] = G_load;
    py::object x00 = global(Name::np).attr("zeros")(num_pts);
    py::object x01 = global(Name::np).attr("ones")(num_pts);
    py::object x10 = global(Name::np).attr("ones")(num_pts);
    py::object x11 = global(Name::np).attr("zeros")(num_pts);
    py::object T_ideal = NumpyPath::assemble(x00, x01, x10, x11);
    return py::make_tuple(G_ideal, T_ideal);
}

}  // namespace hidden::netparams
