// Calibration-kit standards as coaxial kit definitions describe them: a
// termination (an open's fringing capacitance, a short's inductance, a load)
// behind an offset transmission line of given delay, loss and impedance.
//
// The offset line at frequency f, with delay t, loss L (ohm/s at 1 GHz,
// growing as sqrt(f)) and impedance Z0:
//   alpha*l = L t / (2 Z0) sqrt(f / 1 GHz),   beta*l = 2 pi f t + alpha*l,
//   Zc = Z0 + (1 - j) L / (2 w) sqrt(f / 1 GHz),
// in the e^{jwt} convention: a line of delay t passes e^{-gamma l}.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <complex>
#include <stdexcept>
#include <string>

#include "native.hpp"

namespace orvane {
namespace {

using cplx = std::complex<double>;
using Frequencies = py::array_t<double, py::array::c_style | py::array::forcecast>;

struct Offset {
    double delay, loss, z0;
};

// gamma*l and Zc of the offset line at f.
struct Line {
    cplx gl, zc;
};

Line line_at(const Offset& o, double f) {
    const double w = 2 * kPi * f;
    const double root = std::sqrt(f / 1e9);
    const double alpha = o.loss * o.delay / (2 * o.z0) * root;
    const double beta = w * o.delay + alpha;
    return {cplx(alpha, beta), o.z0 + cplx(1, -1) * (o.loss / (2 * w) * root)};
}

void check(const Frequencies& f, const Offset& o, double z0) {
    if (f.ndim() != 1) throw std::invalid_argument("f must be one-dimensional");
    for (py::ssize_t k = 0; k < f.shape(0); ++k)
        if (!(f.data()[k] > 0) || !std::isfinite(f.data()[k]))
            throw std::invalid_argument("frequencies must be positive and finite");
    if (!(o.delay >= 0) || !(o.loss >= 0) || !(o.z0 > 0) || !(z0 > 0))
        throw std::invalid_argument("delay and loss must be >= 0 and the impedances > 0");
}

double polynomial(const std::array<double, 4>& c, double f) { return c[0] + f * (c[1] + f * (c[2] + f * c[3])); }

py::array_t<cplx> reflection(Frequencies f, const std::string& kind, std::array<double, 4> coefficients,
                             double resistance, double delay, double loss, double offset_z0, double z0) {
    const Offset o{delay, loss, offset_z0};
    check(f, o, z0);
    if (kind != "open" && kind != "short" && kind != "load")
        throw std::invalid_argument("kind must be 'open', 'short' or 'load', not '" + kind + "'");
    const bool open = kind == "open", shorted = kind == "short";  // decided once, not per point
    const py::ssize_t n = f.shape(0);
    py::array_t<cplx> out(n);
    const double* fd = f.data();
    cplx* g = out.mutable_data();
    {
        py::gil_scoped_release unlocked;
        for (py::ssize_t k = 0; k < n; ++k) {
            const double w = 2 * kPi * fd[k];
            const Line l = line_at(o, fd[k]);
            // the termination's reflection against the line's impedance
            cplx gt;
            if (open) {
                const cplx y(0, w * polynomial(coefficients, fd[k]));
                gt = (1.0 - y * l.zc) / (1.0 + y * l.zc);
            } else {
                const cplx zt = shorted ? cplx(0, w * polynomial(coefficients, fd[k]))
                                                : cplx(resistance, w * coefficients[0]);
                gt = (zt - l.zc) / (zt + l.zc);
            }
            const cplx gin = gt * std::exp(-2.0 * l.gl);  // at the line's input, against Zc
            const cplx zin = l.zc * (1.0 + gin) / (1.0 - gin);
            g[k] = (zin - z0) / (zin + z0);
        }
    }
    return out;
}

py::array_t<cplx> offset_line(Frequencies f, double delay, double loss, double offset_z0, double z0) {
    const Offset o{delay, loss, offset_z0};
    check(f, o, z0);
    const py::ssize_t n = f.shape(0);
    py::array_t<cplx> out({n, py::ssize_t(2), py::ssize_t(2)});
    const double* fd = f.data();
    cplx* s = out.mutable_data();
    {
        py::gil_scoped_release unlocked;
        for (py::ssize_t k = 0; k < n; ++k) {
            const Line l = line_at(o, fd[k]);
            const cplx r = (l.zc - z0) / (l.zc + z0);
            const cplx e = std::exp(-l.gl);
            const cplx d = 1.0 - r * r * e * e;
            const cplx s11 = r * (1.0 - e * e) / d, s21 = e * (1.0 - r * r) / d;
            s[4 * k + 0] = s[4 * k + 3] = s11;
            s[4 * k + 1] = s[4 * k + 2] = s21;
        }
    }
    return out;
}

}  // namespace

void register_calkit(py::module_& m) {
    m.def("standard_reflection", &reflection, py::arg("f"), py::kw_only(), py::arg("kind"),
          py::arg("coefficients") = std::array<double, 4>{0, 0, 0, 0}, py::arg("resistance") = 50.0,
          py::arg("delay") = 0.0, py::arg("loss") = 0.0, py::arg("offset_z0") = 50.0, py::arg("z0") = 50.0,
          "standard_reflection(f, *, kind, coefficients=(0, 0, 0, 0), resistance=50.0, delay=0.0, loss=0.0,\n"
          "                    offset_z0=50.0, z0=50.0) -> complex [n]\n\n"
          "Reflection against z0 of a termination behind an offset line, e^{jwt} convention.\n"
          "kind 'open': capacitance c0 + c1 f + c2 f^2 + c3 f^3 (F); 'short': inductance with\n"
          "the same polynomial (H); 'load': resistance (ohm) in series with coefficients[0] (H).\n"
          "delay in s, loss in ohm/s at 1 GHz, impedances in ohm; f in Hz, all > 0.");
    m.def("offset_line", &offset_line, py::arg("f"), py::kw_only(), py::arg("delay"), py::arg("loss") = 0.0,
          py::arg("offset_z0") = 50.0, py::arg("z0") = 50.0,
          "offset_line(f, *, delay, loss=0.0, offset_z0=50.0, z0=50.0) -> complex [n, 2, 2]\n\n"
          "S-parameters against z0 of an offset line (a thru), e^{jwt} convention.");
}

}  // namespace orvane
