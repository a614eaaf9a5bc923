// TRL and multiline TRL: the eight-term error adapters (A, B, q) from a thru,
// a reflect of unknown value and one or more lines of unknown propagation
// constant, per frequency point, in the e^{jwt} convention.
//
// With T-parameters T = (1/S21) [[-det S, S11], [-S22, 1]], a measurement is
// M = (1/q) A T_actual B, A = [[-de, e00], [-e11, 1]], B = [[-de', e22],
// [-e33, 1]], q = e10 e32. The reference planes are at the centre of the
// thru, so every line i is a matched line of length D_i = l_i - l_thru:
// T_i = diag(e^{-g D_i}, e^{g D_i}). For a pair of lines (i, c):
//   P = M_i M_c^-1 = A diag(e^{-g D}, e^{g D}) A^-1, D = D_i - D_c:
//     A's columns are its eigenvectors: (a, 1) with a = de / e11 for
//     e^{-g D} and (b, 1) with b = e00 for e^{g D};
// Port 2 then follows from port 1 through the thru (B from A^-1 M_T), so that
// the model reproduces the thru exactly.
// Multiline TRL takes every line against a common one and combines the
// pairs with Gauss-Markov weights, as Marks' multiline method does: each
// pair's errors to first order, with the common line's noise shared by all.
// The thru gives e11 e22, the reflect (the same on both ports) e11 / e22,
// and the reflect's rough value picks the sign of e11.
#include <pybind11/numpy.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "native.hpp"

namespace orvane {
namespace {

using cplx = std::complex<double>;
using M2 = std::array<std::array<cplx, 2>, 2>;
constexpr double kLight = 299792458.0;
// Above this condition a point's propagation constant guides the next ones.
constexpr double kTrusted = 0.25;

M2 s2t(const cplx* s) {  // s: S11 S12 S21 S22
    const cplx det = s[0] * s[3] - s[1] * s[2];
    return {{{-det / s[2], s[0] / s[2]}, {-s[3] / s[2], 1.0 / s[2]}}};
}

M2 mul(const M2& x, const M2& y) {
    M2 r;
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) r[i][j] = x[i][0] * y[0][j] + x[i][1] * y[1][j];
    return r;
}

M2 inverse(const M2& x) {
    const cplx det = x[0][0] * x[1][1] - x[0][1] * x[1][0];
    return {{{x[1][1] / det, -x[0][1] / det}, {-x[1][0] / det, x[0][0] / det}}};
}

// |ln x - ln y| with the phase difference wrapped into (-pi, pi].
double log_distance(cplx x, cplx y) {
    const cplx d = std::log(x / y);
    return std::abs(d);
}

// x / y for the eigenvector ratio of eigenvalue `lambda` of the 2x2 matrix m
// ((x, y) with m (x, y) = lambda (x, y)), from the better-conditioned row.
cplx right_ratio(const M2& m, cplx lambda) {
    const cplx d0 = lambda - m[0][0];
    return std::abs(d0) >= std::abs(m[1][0]) ? m[0][1] / d0 : (lambda - m[1][1]) / m[1][0];
}

struct Result {
    M2 A, B;
    cplx q, gamma, reflect;
    double condition;
    int common;
};

// Up to this many lines, the thru included.
constexpr int kMaxLines = 32;

struct Estimate {
    cplx value;
    double information;
};

// The best linear unbiased combination of the pairs' observations obs(i),
// i != common, whose errors are alpha_i n_i + beta_i n_c: noise of each line
// and of the common line, shared by all pairs. To first order, for line
// transmissions l_i = e^{-g D_i} (D relative to the thru):
//   a (the e^{-gD} eigenvector): alpha = l_i / w, beta = -l_c / w;
//   b (the e^{gD} eigenvector):  alpha = -l_i l_c^2 / w, beta = l_i^2 l_c / w,
// w = l_i^2 - l_c^2. V = diag(|alpha|^2) + beta beta^H is inverted by
// Sherman-Morrison; returns the estimate and its information 1 / var.
template <class Obs>
Estimate combine(int n_lines, int common, const cplx* l, bool second, Obs obs) {
    cplx s_x = 0, s_b = 0, s_bx = 0;
    double s_1 = 0, s_bb = 0;
    const cplx lc = l[common];
    for (int i = 0; i < n_lines; ++i) {
        if (i == common) continue;
        const cplx li = l[i], w = li * li - lc * lc;
        const cplx alpha = second ? -li * lc * lc / w : li / w;
        const cplx beta = second ? li * li * lc / w : -lc / w;
        const double d = 1 / std::norm(alpha);
        const cplx x = obs(i);
        s_x += x * d, s_1 += d, s_b += beta * d, s_bx += std::conj(beta) * x * d;
        s_bb += std::norm(beta) * d;
    }
    const double k = 1 / (1 + s_bb);
    const double information = s_1 - std::norm(s_b) * k;
    return {(s_x - s_b * s_bx * k) / information, information};
}

// One frequency point; g_est estimates the lines' propagation constant there.
Result solve_point(const M2* lines, const double* offsets, int n_lines, const cplx* thru_s, cplx reflect1,
                   cplx reflect2, cplx g_est, double reflect_sign, double ref_plane) {
    cplx l[kMaxLines];
    for (int i = 0; i < n_lines; ++i) l[i] = std::exp(-g_est * offsets[i]);
    const auto one = [](int) { return cplx(1.0); };

    // the common line: the one whose pairs carry the most information
    int common = 0;
    double best = -1;
    for (int c = 0; c < n_lines; ++c) {
        const double info = std::min(combine(n_lines, c, l, false, one).information,
                                     combine(n_lines, c, l, true, one).information);
        if (info > best) best = info, common = c;
    }

    // the pairs, shortest first, each unwrapped with the propagation constant
    // the shorter ones gave
    int order[kMaxLines], n_pairs = 0;
    for (int i = 0; i < n_lines; ++i)
        if (i != common) order[n_pairs++] = i;
    std::sort(order, order + n_pairs, [&](int x, int y) {
        return std::abs(offsets[x] - offsets[common]) < std::abs(offsets[y] - offsets[common]);
    });
    const M2 inv_c = inverse(lines[common]);
    cplx a_of[kMaxLines], b_of[kMaxLines], z_of[kMaxLines];
    cplx g_run = g_est;
    for (int k = 0; k < n_pairs; ++k) {
        const int i = order[k];
        const double D = offsets[i] - offsets[common];
        const M2 P = mul(lines[i], inv_c);
        const cplx half = 0.5 * (P[0][0] + P[1][1]);
        const cplx root = std::sqrt(half * half - (P[0][0] * P[1][1] - P[0][1] * P[1][0]));
        cplx la = half + root, lb = half - root;
        const cplx ea = std::exp(-g_run * D), eb = 1.0 / ea;
        if (log_distance(la, ea) + log_distance(lb, eb) > log_distance(lb, ea) + log_distance(la, eb)) std::swap(la, lb);
        cplx z = 0.5 * std::log(lb / la);
        z += cplx(0, kPi * std::round(((g_run * D).imag() - z.imag()) / kPi));
        a_of[i] = right_ratio(P, la), b_of[i] = right_ratio(P, lb), z_of[i] = z;
        g_run = z / D;
    }

    // The propagation constant from all pairs (generalised least squares:
    // z_i = g D_i with errors (l_i h_i - h_i' / l_i - l_c h_c + h_c' / l_c) / 2),
    // then each ratio's best combination with it.
    for (int i = 0; i < n_lines; ++i) l[i] = std::exp(-g_run * offsets[i]);
    const double lc2 = std::norm(l[common]);
    const double t = (lc2 + 1 / lc2) / 4;
    double s_d = 0, s_1 = 0, s_dd = 0;
    cplx s_z = 0, s_dz = 0;
    for (int k = 0; k < n_pairs; ++k) {
        const int i = order[k];
        const double li2 = std::norm(l[i]), D = offsets[i] - offsets[common];
        const double s = 1 / ((li2 + 1 / li2) / 4);
        s_1 += s, s_d += s * D, s_dd += s * D * D, s_z += s * z_of[i], s_dz += s * D * z_of[i];
    }
    const double kk = t / (1 + t * s_1);
    const cplx gamma = (s_dz - kk * s_d * s_z) / (s_dd - kk * s_d * s_d);
    for (int i = 0; i < n_lines; ++i) l[i] = std::exp(-gamma * offsets[i]);
    const Estimate ea = combine(n_lines, common, l, false, [&](int i) { return a_of[i]; });
    const Estimate eb = combine(n_lines, common, l, true, [&](int i) { return b_of[i]; });
    const cplx a = ea.value, b = eb.value;
    const double condition = std::sqrt(std::max(std::min(ea.information, eb.information), 0.0) / 2);

    // Port 2 from port 1 through the thru, M_T = (1/q) A B: B's rows are
    // (1, -b) M_T and (1, -a) M_T up to scale, so c, d and e11 e22 follow
    // without the lines' port-2 eigenvectors, and the model reproduces the
    // thru exactly.
    const M2& MT = lines[0];
    const cplx r1[2] = {MT[0][0] - b * MT[1][0], MT[0][1] - b * MT[1][1]};
    const cplx r2[2] = {MT[0][0] - a * MT[1][0], MT[0][1] - a * MT[1][1]};
    const cplx c = r2[0] / r2[1], d = r1[0] / r1[1];
    const cplx e11e22 = r1[1] / r2[1];
    const cplx thru21 = thru_s[2];
    const cplx e11G = (reflect1 - b) / (reflect1 - a);
    const cplx e22G = (reflect2 + c) / (reflect2 + d);
    cplx e11 = std::sqrt(e11e22 * e11G / e22G);
    cplx reflect = e11G / e11;
    if (reflect.real() * reflect_sign < 0) e11 = -e11, reflect = -reflect;
    const cplx e22 = e11e22 / e11;
    const cplx de = a * e11, e00 = b, e33 = -c, de2 = -d * e22;
    Result r{{{{-de, e00}, {-e11, 1.0}}}, {{{-de2, e22}, {-e33, 1.0}}}, (1.0 - e11e22) * thru21, gamma, reflect,
             condition, common};
    if (ref_plane != 0) {  // planes moved by ref_plane (negative: towards the analyser)
        const cplx h2 = std::exp(-2.0 * gamma * ref_plane);
        r.A[0][0] *= h2, r.A[1][0] *= h2, r.B[0][0] *= h2, r.B[0][1] *= h2;
        r.q *= h2;
        r.reflect /= h2;
    }
    return r;
}

using Complex = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using Real = py::array_t<double, py::array::c_style | py::array::forcecast>;

py::dict multiline_trl(Real f, Complex thru, Complex reflect, Complex lines, Real lengths, double thru_length,
                       cplx er_est, double reflect_sign, double ref_plane) {
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
    if (m < 1 || m + 1 > kMaxLines)
        throw std::invalid_argument("1 to " + std::to_string(kMaxLines - 1) + " lines besides the thru");
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
        std::vector<M2> T(size_t(m + 1));
        // The estimate of the propagation constant follows the band: er_est
        // at the first point, then the last well-conditioned point's value
        // scaled with frequency, so that the root choice does not depend on
        // how well er_est predicts a long line's phase at the top of the band.
        const cplx root_er = std::sqrt(er_est);
        double f_known = 0;
        cplx g_known = 0;
        for (py::ssize_t k = 0; k < n; ++k) {
            T[0] = s2t(t + 4 * k);
            for (py::ssize_t i = 0; i < m; ++i) T[size_t(i + 1)] = s2t(l + 4 * (i * n + k));
            const cplx g_est = f_known > 0 ? g_known * (fd[k] / f_known) : cplx(0, 2 * kPi * fd[k] / kLight) * root_er;
            const Result res = solve_point(T.data(), offsets.data(), int(m + 1), t + 4 * k, r[4 * k], r[4 * k + 3],
                                           g_est, reflect_sign, ref_plane);
            if (res.condition > kTrusted && std::isfinite(std::abs(res.gamma))) f_known = fd[k], g_known = res.gamma;
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j) a[4 * k + 2 * i + j] = res.A[i][j], b[4 * k + 2 * i + j] = res.B[i][j];
            qd[k] = res.q, gd[k] = res.gamma, rd[k] = res.reflect, cd[k] = res.condition, md[k] = res.common;
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
          py::arg("reflect_sign") = -1.0, py::arg("ref_plane") = 0.0,
          "multiline_trl(f, thru, reflect, lines, lengths, *, thru_length=0.0, er_est=1.0, reflect_sign=-1.0,\n"
          "              ref_plane=0.0) -> dict\n\n"
          "TRL (one line) or multiline TRL (several) in the e^{jwt} convention. thru, reflect\n"
          "[n,2,2] and lines [m,n,2,2] are switch-corrected measurements (the reflect on both\n"
          "ports); lengths [m] and thru_length in metres. The reference planes are at the\n"
          "thru's centre, moved by ref_plane metres (negative: towards the analyser).\n"
          "er_est estimates the lines' effective permittivity; reflect_sign is +1 for an\n"
          "open-like reflect, -1 for a short-like one. Returns A, B [n,2,2] and q [n] for\n"
          "correct8Term, gamma [n] (1/m), the reflect's value [n], condition [n] (the\n"
          "combination's effective |sinh(gamma D)|: 1 for one line 90 degrees from the\n"
          "thru) and the common line of each point [n] (0 is the thru).");
}

}  // namespace orvane
