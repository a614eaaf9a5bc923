// Fixture removal by peeling (IEEE P370's impedance-corrected 2x-thru
// method): the fixture-DUT-fixture measurement is taken apart one time
// sample at a time from both ends. At each step the impedance seen at each
// end (one value of the step response, a dot product over the band) becomes
// a short line of that impedance, which is removed from the measurement and
// added to that side's fixture model. Everything stays in cascading
// parameters, so a step costs a few products per point.
#include <pybind11/numpy.h>

#include <array>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>
#include <vector>

#include "native.hpp"

namespace orvane {
namespace fixture_peel {

using cplx = std::complex<double>;
using Complex = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using Mat = std::array<cplx, 4>;  // row-major 2x2

inline Mat mul(const Mat& a, const Mat& b) {
    return {a[0] * b[0] + a[1] * b[2], a[0] * b[1] + a[1] * b[3], a[2] * b[0] + a[3] * b[2],
            a[2] * b[1] + a[3] * b[3]};
}

// Cascading parameters of S, [b1, a1] = T [a2, b2].
inline Mat s2t(const cplx* s) {
    const cplx s11 = s[0], s12 = s[1], s21 = s[2], s22 = s[3];
    return {(s12 * s21 - s11 * s22) / s21, s11 / s21, -s22 / s21, 1.0 / s21};
}

inline void t2s(const Mat& t, cplx* s) {
    s[0] = t[1] / t[3];
    s[1] = (t[0] * t[3] - t[1] * t[2]) / t[3];
    s[2] = 1.0 / t[3];
    s[3] = -t[2] / t[3];
}

// The impedance at an end: -z0 (P + 1) / (P - 1) of the step response's
// value P = Re(sum_k c_k s_k).
double end_impedance(const cplx* c, const std::vector<cplx>& s, double z0) {
    double p = 0;
    for (size_t k = 0; k < s.size(); ++k) p += c[k].real() * s[k].real() - c[k].imag() * s[k].imag();
    return -z0 * (p + 1) / (p - 1);
}

// A line of impedance z in a z0 system, of propagation gl (sinh, cosh given):
// its cascading parameters and their inverse.
inline void line(double z, double z0, cplx sh, cplx ch, Mat& t, Mat& inv) {
    const cplx den = (z * z + z0 * z0) * sh + 2 * z0 * z * ch;
    const cplx rho = (z * z - z0 * z0) * sh / den, tau = 2 * z0 * z / den;
    const cplx d = tau * tau - rho * rho;
    t = {d / tau, rho / tau, -rho / tau, 1.0 / tau};
    inv = {1.0 / tau, -rho / tau, rho / tau, d / tau};
}

py::tuple peel(Complex s, Complex gl, Complex coef, double z0, int steps, bool both) {
    if (s.ndim() != 3 || s.shape(1) != 2 || s.shape(2) != 2 || s.shape(0) < 1)
        throw std::invalid_argument("s must be [n, 2, 2] with n >= 1");
    const py::ssize_t n = s.shape(0);
    if (gl.ndim() != 1 || gl.shape(0) != n) throw std::invalid_argument("gl must be [n]");
    if (coef.ndim() != 1 || coef.shape(0) != n) throw std::invalid_argument("coef must be [n]");
    if (steps < 0) throw std::invalid_argument("steps must be >= 0");
    if (!(z0 > 0) || !std::isfinite(z0)) throw std::invalid_argument("z0 must be a positive impedance");
    const std::vector<py::ssize_t> shape{n, 2, 2};
    py::array_t<cplx> rest(shape), box1(shape), box2(shape);
    py::array_t<double> z1(steps), z2(steps);
    const cplx *sd = s.data(), *gd = gl.data(), *cd = coef.data();
    cplx *rd = rest.mutable_data(), *b1 = box1.mutable_data(), *b2 = box2.mutable_data();
    double *z1d = z1.mutable_data(), *z2d = z2.mutable_data();
    {
        py::gil_scoped_release unlocked;
        FpHold hold;
        const size_t m = size_t(n);
        std::vector<Mat> dut(m), e1(m), e2(m);
        std::vector<cplx> sh(m), ch(m), s11(m), s22(m);
        const Mat identity{1.0, 0.0, 0.0, 1.0};
        for (size_t k = 0; k < m; ++k) {
            dut[k] = s2t(sd + 4 * k);
            e1[k] = e2[k] = identity;
            sh[k] = std::sinh(gd[k]);
            ch[k] = std::cosh(gd[k]);
        }
        Mat t1, i1, t2, i2;
        for (int step = 0; step < steps; ++step) {
            for (size_t k = 0; k < m; ++k) {
                s11[k] = dut[k][1] / dut[k][3];
                s22[k] = -dut[k][2] / dut[k][3];
            }
            const double za = end_impedance(cd, s11, z0);
            const double zb = both ? end_impedance(cd, s22, z0) : z0;
            z1d[step] = za;
            z2d[step] = zb;
            for (size_t k = 0; k < m; ++k) {
                line(za, z0, sh[k], ch[k], t1, i1);
                e1[k] = mul(e1[k], t1);
                if (both) {
                    line(zb, z0, sh[k], ch[k], t2, i2);
                    e2[k] = mul(e2[k], t2);
                    dut[k] = mul(mul(i1, dut[k]), i2);
                } else {
                    dut[k] = mul(i1, dut[k]);
                }
            }
        }
        for (size_t k = 0; k < m; ++k) {
            t2s(dut[k], rd + 4 * k);
            t2s(e1[k], b1 + 4 * k);
            t2s(e2[k], b2 + 4 * k);
        }
    }
    return py::make_tuple(rest, box1, box2, z1, z2);
}

}  // namespace fixture_peel

void register_fixture(py::module_& m) {
    m.def("p370_peel", &fixture_peel::peel, py::arg("s"), py::arg("gl"), py::arg("coef"), py::kw_only(),
          py::arg("z0"), py::arg("steps"), py::arg("both") = true,
          "p370_peel(s, gl, coef, *, z0, steps, both=True) -> (rest, box1, box2, z1, z2)\n\n"
          "Peels `steps` short lines off both ends of the two-port s [n,2,2] (with both=False,\n"
          "off port 1 only). At each step the impedance at an end is -z0 (P + 1) / (P - 1), P =\n"
          "Re(sum(coef * s_end)) the step response's value at the end (coef [n] from the grid),\n"
          "and the line removed has that impedance and the propagation gl [n] (gamma times the\n"
          "length of one time sample). Returns what is left [n,2,2], the two fixture models\n"
          "[n,2,2] (box1 with port 1 outside, box2 likewise: its port 1 at the end of s it was\n"
          "peeled from) and each step's impedances z1, z2 [steps] (ohm).");
}

}  // namespace orvane
