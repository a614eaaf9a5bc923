// TRL and multiline TRL over a frequency grid: the per-point solver
// (trl_solver.hpp) with an estimate of the propagation constant that
// follows the band.
#include <pybind11/numpy.h>

#include <cmath>
#include <tuple>
#include <type_traits>
#include <stdexcept>
#include <string>
#include <vector>

#include "dual.hpp"
#include "native.hpp"
#include "trl_solver.hpp"

namespace orvane {
namespace {

using trl::cplx;
constexpr double kLight = 299792458.0;

using Complex = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using Real = py::array_t<double, py::array::c_style | py::array::forcecast>;

// The directions of the derivatives, all real: the real and imaginary parts
// of each line's S11 S12 S21 S22 (the thru first) and of the reflect's S11
// and S22, the thru's length and each line's, and the reflect's asymmetry.
int directions(py::ssize_t lines) { return int(8 * (lines + 1) + 4 + (lines + 1) + 1); }
// Derivatives are carried for up to 8 lines besides the thru at one size, for
// up to 31 at the other.
constexpr int kSmall = 86, kLarge = 302;

// A plain value, or a dual seeded along `direction` (a real input) or
// along `direction` and the next (a complex one).
template <class S>
S lift(cplx x, int direction, bool complex = true) {
    if constexpr (std::is_same_v<S, cplx>) {
        (void)direction, (void)complex;
        return x;
    } else {
        constexpr int N = S::size;
        return complex ? ad::seed_parts<N>(x, direction) : ad::seed<N>(x, direction);
    }
}

template <class S>
void fill(trl::Point<S>& p, const cplx* t, const cplx* r, const cplx* l, const double* lengths, double thru_length,
          py::ssize_t m, py::ssize_t n, py::ssize_t k) {
    const auto take = [&](const cplx* s, int first) {
        std::array<S, 4> x;
        for (int j = 0; j < 4; ++j) x[j] = lift<S>(s[j], first + 2 * j);
        return x;
    };
    p.line[0] = take(t + 4 * k, 0);
    for (py::ssize_t i = 0; i < m; ++i) p.line[i + 1] = take(l + 4 * (i * n + k), int(8 * (i + 1)));
    const int base = int(8 * (m + 1));
    p.reflect = {lift<S>(r[4 * k], base), S(r[4 * k + 1]), S(r[4 * k + 2]), lift<S>(r[4 * k + 3], base + 2)};
    const S thru = lift<S>(thru_length, base + 4, false);
    p.length[0] = S(0.0);
    for (py::ssize_t i = 0; i < m; ++i) p.length[i + 1] = lift<S>(lengths[i], int(base + 5 + i), false) - thru;
}

template <int N>
void derivatives(const trl::Point<ad::Dual<N>>& p, int lines, cplx g_est, cplx expected, double ref_plane,
                 trl::Workspace<ad::Dual<N>>& ws, cplx* J, int used) {
    const ad::Dual<N> asymmetry = ad::seed<N>(0.0, used - 1);
    const auto s = trl::solve_point(p, lines, g_est, expected, ref_plane, ws, asymmetry);
    const ad::Dual<N>* out[9] = {&s.A[0][0], &s.A[0][1], &s.A[1][0], &s.B[0][0], &s.B[0][1], &s.B[1][0],
                                 &s.q, &s.gamma, &s.reflect};
    for (int i = 0; i < 9; ++i)
        for (int j = 0; j < used; ++j) J[i * used + j] = out[i]->d(j);
}

py::dict multiline_trl(Real f, Complex thru, Complex reflect, Complex lines, Real lengths, double thru_length,
                       cplx er_est, cplx reflect_estimate, double reflect_offset, double ref_plane,
                       bool sensitivities) {
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
    const int used = directions(m);

    py::array_t<cplx> A({n, py::ssize_t(2), py::ssize_t(2)}), B({n, py::ssize_t(2), py::ssize_t(2)});
    py::array_t<cplx> q(n), gamma(n), refl(n);
    py::array_t<double> condition(n);
    py::array_t<int> common(n);
    py::array_t<cplx> jacobian(sensitivities ? std::vector<py::ssize_t>{n, 9, used} : std::vector<py::ssize_t>{0});
    const double *fd = f.data(), *ld = lengths.data();
    const cplx *t = thru.data(), *r = reflect.data(), *l = lines.data();
    cplx *a = A.mutable_data(), *b = B.mutable_data(), *qd = q.mutable_data(), *gd = gamma.mutable_data(),
         *rd = refl.mutable_data(), *jd = jacobian.mutable_data();
    double* cd = condition.mutable_data();
    int* md = common.mutable_data();
    {
        py::gil_scoped_release unlocked;
        FpHold hold;
        ad::Directions carried(used);
        // The estimate of the propagation constant follows the band, as the
        // published method has it: er_est at the first point, then the last
        // solved point's value with its phase scaled to the frequency, so
        // that the root choice does not depend on how well er_est predicts a
        // long line's phase at the top of the band.
        const cplx root_er = std::sqrt(er_est);
        double f_known = 0;
        cplx g_known = 0;
        const int count = int(m + 1);
        trl::Point<cplx> point(count);
        trl::Workspace<cplx> workspace(count);
        trl::Point<ad::Dual<kSmall>> small(count);
        trl::Workspace<ad::Dual<kSmall>> small_ws(sensitivities && used <= kSmall ? count : 0);
        trl::Point<ad::Dual<kLarge>> large(count);
        trl::Workspace<ad::Dual<kLarge>> large_ws(sensitivities && used > kSmall ? count : 0);
        for (py::ssize_t k = 0; k < n; ++k) {
            fill(point, t, r, l, ld, thru_length, m, n, k);
            const cplx g_est = f_known > 0 ? cplx(g_known.real(), g_known.imag() * (fd[k] / f_known))
                                           : cplx(0, 2 * trl::kPi * fd[k] / kLight) * root_er;
            const cplx expected = reflect_estimate * std::exp(-2.0 * g_est * reflect_offset);
            const auto s = trl::solve_point(point, count, g_est, expected, ref_plane, workspace);
            if (std::isfinite(std::abs(s.gamma))) f_known = fd[k], g_known = s.gamma;
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j) a[4 * k + 2 * i + j] = s.A[i][j], b[4 * k + 2 * i + j] = s.B[i][j];
            qd[k] = s.q, gd[k] = s.gamma, rd[k] = s.reflect, cd[k] = s.condition, md[k] = s.common;
            if (!sensitivities) continue;
            cplx* J = jd + k * 9 * used;
            if (used <= kSmall) {
                fill(small, t, r, l, ld, thru_length, m, n, k);
                derivatives(small, count, g_est, expected, ref_plane, small_ws, J, used);
            } else {
                fill(large, t, r, l, ld, thru_length, m, n, k);
                derivatives(large, count, g_est, expected, ref_plane, large_ws, J, used);
            }
        }
    }
    py::dict out;
    out["A"] = A, out["B"] = B, out["q"] = q, out["gamma"] = gamma, out["reflect"] = refl;
    out["condition"] = condition, out["common"] = common;
    if (sensitivities) out["jacobian"] = jacobian;
    return out;
}

}  // namespace

void register_trl(py::module_& m) {
    m.def("multiline_trl", &multiline_trl, py::arg("f"), py::arg("thru"), py::arg("reflect"), py::arg("lines"),
          py::arg("lengths"), py::kw_only(), py::arg("thru_length") = 0.0, py::arg("er_est") = cplx(1.0),
          py::arg("reflect_estimate") = cplx(-1.0), py::arg("reflect_offset") = 0.0, py::arg("ref_plane") = 0.0,
          py::arg("sensitivities") = false,
          "multiline_trl(f, thru, reflect, lines, lengths, *, thru_length=0.0, er_est=1.0,\n"
          "              reflect_estimate=-1.0, reflect_offset=0.0, ref_plane=0.0, sensitivities=False) -> dict\n\n"
          "TRL (one line) or multiline TRL (several) in the e^{jwt} convention. thru, reflect\n"
          "[n,2,2] and lines [m,n,2,2] are switch-corrected measurements (the reflect on both\n"
          "ports); lengths [m] and thru_length in metres. The reference planes are at the\n"
          "thru's centre, moved by ref_plane metres (negative: towards the analyser).\n"
          "er_est estimates the lines' effective permittivity; reflect_estimate the reflect's\n"
          "value (-1 short-like, +1 open-like) at reflect_offset metres from the thru's centre.\n"
          "Returns A, B [n,2,2] and q [n] for correct8Term, gamma [n] (1/m), the reflect's\n"
          "value [n], condition [n] (the inverse of the combination's normalised standard\n"
          "deviation: 1 for one lossless line 90 degrees from the thru) and the common line\n"
          "of each point [n] (0 is the thru). With sensitivities, also jacobian [n, 9, k]: the\n"
          "derivatives of A11 A12 A21 B11 B12 B21 q gamma reflect to the real and imaginary\n"
          "parts of each line's S11 S12 S21 S22 (the thru first) and of the reflect's S11 and\n"
          "S22, to thru_length, each line's length and the reflect's asymmetry (its port-2 value\n"
          "over its port-1 value, minus 1).");
}

}  // namespace orvane
