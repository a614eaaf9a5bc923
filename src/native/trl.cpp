// TRL and multiline TRL over a frequency grid: the per-point solver
// (trl_solver.hpp) with an estimate of the propagation constant that
// follows the band.
#include <pybind11/numpy.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "native.hpp"
#include "trl_solver.hpp"

namespace orvane {
namespace {

using trl::cplx;
constexpr double kLight = 299792458.0;

using Complex = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using Real = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::dict multiline_trl(Real f, Complex thru, Complex reflect, Complex lines, Real lengths, double thru_length,
                       cplx er_est, cplx reflect_estimate, double reflect_offset, double ref_plane) {
    const py::ssize_t n = f.shape(0);
    if (f.ndim() != 1 || n < 1) throw std::invalid_argument("f must be a one-dimensional grid");
    auto stack = [n](const Complex& x, const char* name) {
        if (x.ndim() != 3 || x.shape(0) != n || x.shape(1) != 2 || x.shape(2) != 2)
            throw std::invalid_argument(std::string(name) + " must be [len(f), 2, 2]");
    };
    stack(thru, "thru");
    stack(reflect, "reflect");
    if (lines.ndim() != 4 || lines.shape(1) != n || lines.shape(2) != 2 || lines.shape(3) != 2)
        throw std::invalid_argument("lines must be [number of lines, len(f), 2, 2]");
    const py::ssize_t m = lines.shape(0);
    if (lengths.ndim() != 1 || lengths.shape(0) != m) throw std::invalid_argument("one length per line");
    if (m < 1 || m + 1 > trl::kMaxLines)
        throw std::invalid_argument("1 to " + std::to_string(trl::kMaxLines - 1) + " lines besides the thru");
    std::vector<double> offsets{0.0};
    for (py::ssize_t i = 0; i < m; ++i) offsets.push_back(lengths.data()[i] - thru_length);

    py::array_t<cplx> A({n, py::ssize_t(2), py::ssize_t(2)}), B({n, py::ssize_t(2), py::ssize_t(2)});
    py::array_t<cplx> q(n), gamma(n), refl(n);
    py::array_t<double> condition(n);
    py::array_t<int> common(n);
    const double* fd = f.data();
    const cplx *t = thru.data(), *r = reflect.data(), *l = lines.data();
    cplx *a = A.mutable_data(), *b = B.mutable_data(), *qd = q.mutable_data(), *gd = gamma.mutable_data(),
         *rd = refl.mutable_data();
    double* cd = condition.mutable_data();
    int* md = common.mutable_data();
    {
        py::gil_scoped_release unlocked;
        FpHold hold;
        // The estimate of the propagation constant follows the band, as the
        // published method has it: er_est at the first point, then the last
        // solved point's value with its phase scaled to the frequency, so
        // that the root choice does not depend on how well er_est predicts a
        // long line's phase at the top of the band.
        const cplx root_er = std::sqrt(er_est);
        double f_known = 0;
        cplx g_known = 0;
        trl::Point point{};
        trl::Workspace workspace(int(m + 1));
        for (py::ssize_t k = 0; k < n; ++k) {
            point.line[0] = t + 4 * k;
            for (py::ssize_t i = 0; i < m; ++i) point.line[i + 1] = l + 4 * (i * n + k);
            point.reflect = r + 4 * k;
            const cplx g_est = f_known > 0 ? cplx(g_known.real(), g_known.imag() * (fd[k] / f_known))
                                           : cplx(0, 2 * trl::kPi * fd[k] / kLight) * root_er;
            const cplx expected = reflect_estimate * std::exp(-2.0 * g_est * reflect_offset);
            const trl::Solution s = trl::solve_point(point, offsets.data(), int(m + 1), g_est, expected, ref_plane,
                                                     workspace);
            if (std::isfinite(std::abs(s.gamma))) f_known = fd[k], g_known = s.gamma;
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j) a[4 * k + 2 * i + j] = s.A[i][j], b[4 * k + 2 * i + j] = s.B[i][j];
            qd[k] = s.q, gd[k] = s.gamma, rd[k] = s.reflect, cd[k] = s.condition, md[k] = s.common;
        }
    }
    py::dict out;
    out["A"] = A, out["B"] = B, out["q"] = q, out["gamma"] = gamma, out["reflect"] = refl;
    out["condition"] = condition, out["common"] = common;
    return out;
}

}  // namespace

void register_trl(py::module_& m) {
    m.def("multiline_trl", &multiline_trl, py::arg("f"), py::arg("thru"), py::arg("reflect"), py::arg("lines"),
          py::arg("lengths"), py::kw_only(), py::arg("thru_length") = 0.0, py::arg("er_est") = cplx(1.0),
          py::arg("reflect_estimate") = cplx(-1.0), py::arg("reflect_offset") = 0.0, py::arg("ref_plane") = 0.0,
          "multiline_trl(f, thru, reflect, lines, lengths, *, thru_length=0.0, er_est=1.0,\n"
          "              reflect_estimate=-1.0, reflect_offset=0.0, ref_plane=0.0) -> dict\n\n"
          "TRL (one line) or multiline TRL (several) in the e^{jwt} convention. thru, reflect\n"
          "[n,2,2] and lines [m,n,2,2] are switch-corrected measurements (the reflect on both\n"
          "ports); lengths [m] and thru_length in metres. The reference planes are at the\n"
          "thru's centre, moved by ref_plane metres (negative: towards the analyser).\n"
          "er_est estimates the lines' effective permittivity; reflect_estimate the reflect's\n"
          "value (-1 short-like, +1 open-like) at reflect_offset metres from the thru's centre.\n"
          "Returns A, B [n,2,2] and q [n] for correct8Term, gamma [n] (1/m), the reflect's\n"
          "value [n], condition [n] (the inverse of the combination's normalised standard\n"
          "deviation: 1 for one lossless line 90 degrees from the thru) and the common line\n"
          "of each point [n] (0 is the thru).");
}

}  // namespace orvane
