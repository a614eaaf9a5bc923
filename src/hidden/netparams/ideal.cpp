// getIdealSparams: the ideal Open, Short, Load and thru.
#include "core/arrays.hpp"
#include "evaluation/evaluation.hpp"

namespace hidden::netparams {
using evaluation::NumpyPath;

// Largest point count the native path allocates for; numpy decides beyond.
constexpr long long kMaxNativePoints = 1ll << 32;

static py::object getIdealSparams(const Call& c) {
    py::handle num_pts = c[0];
    if (evaluation::native_allowed(Name::getIdealSparams) && PyLong_CheckExact(num_pts.ptr())) {
        const long long n = PyLong_AsLongLong(num_pts.ptr());
        if (n == -1 && PyErr_Occurred()) PyErr_Clear();
        else if (n >= 1 && n <= kMaxNativePoints) {
            py::array G = numeric::new_array(true, {n, 3});
            auto* g = static_cast<double*>(G.mutable_data());
            for (long long k = 0; k < n; ++k) {
                double* row = g + 6 * k;
                row[0] = 1.0, row[1] = 0.0, row[2] = -1.0, row[3] = 0.0, row[4] = 0.0, row[5] = 0.0;
            }
            numeric::Result T = numeric::assembled(false, n);  // planes S11, S12, S21, S22
            auto* t = reinterpret_cast<double*>(T.out.data);
            for (long long k = 0; k < n; ++k) t[k] = 0.0, t[n + k] = 1.0, t[2 * n + k] = 1.0, t[3 * n + k] = 0.0;
            return py::make_tuple(G, T.array);
        }
    }
    py::object G_open = global(Name::np).attr("ones")(num_pts);
    py::object ones = global(Name::np).attr("ones")(num_pts);
    py::object G_short = py::int_(-1) * ones;
    py::object G_load = global(Name::np).attr("zeros")(num_pts);
    py::object G_ideal = global(Name::np).attr("zeros")(py::make_tuple(num_pts, 3), py::arg("dtype") = complex_type());
    G_ideal[py::make_tuple(full_slice(), 0)] = G_open;
    G_ideal[py::make_tuple(full_slice(), 1)] = G_short;
    G_ideal[py::make_tuple(full_slice(), 2)] = G_load;
    py::object x00 = global(Name::np).attr("zeros")(num_pts);
    py::object x01 = global(Name::np).attr("ones")(num_pts);
    py::object x10 = global(Name::np).attr("ones")(num_pts);
    py::object x11 = global(Name::np).attr("zeros")(num_pts);
    py::object T_ideal = NumpyPath::assemble(x00, x01, x10, x11);
    return py::make_tuple(G_ideal, T_ideal);
}

static const Definition getIdealSparams_definition{
    Name::getIdealSparams, {.form = Form::single, .params = {"num_pts"}, .impl = getIdealSparams}};

}  // namespace hidden::netparams
