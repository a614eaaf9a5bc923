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
#include <vector>

#include "dual.hpp"
#include "native.hpp"

namespace orvane {
namespace {

using cplx = std::complex<double>;
using Frequencies = py::array_t<double, py::array::c_style | py::array::forcecast>;

struct Offset {
    double delay, loss, z0;
};

// gamma*l and Zc of the offset line at f, over any scalar S: the kit's
// parameters are plain values or duals seeded along their own directions.
template <class S>
struct Line {
    S gl, zc;
};

template <class S>
Line<S> line_at(const S& delay, const S& loss, const S& z0, double f) {
    const double w = 2 * kPi * f;
    const double root = std::sqrt(f / 1e9);
    const S alpha = loss * delay / (2.0 * z0) * root;
    const S beta = w * delay + alpha;
    return {alpha + cplx(0, 1) * beta, z0 + cplx(1, -1) * (loss / (2 * w) * root)};
}

void check(const Frequencies& f, const Offset& o, double z0) {
    if (f.ndim() != 1) throw std::invalid_argument("f must be one-dimensional");
    for (py::ssize_t k = 0; k < f.shape(0); ++k)
        if (!(f.data()[k] > 0) || !std::isfinite(f.data()[k]))
            throw std::invalid_argument("frequencies must be positive and finite");
    if (!(o.delay >= 0) || !(o.loss >= 0) || !(o.z0 > 0) || !(z0 > 0))
        throw std::invalid_argument("delay and loss must be >= 0 and the impedances > 0");
}

template <class S>
S polynomial(const std::array<S, 4>& c, double f) { return c[0] + f * (c[1] + f * (c[2] + f * c[3])); }

enum class Kind { open, shorted, load };

Kind kind_of(const std::string& kind) {
    if (kind == "open") return Kind::open;
    if (kind == "short") return Kind::shorted;
    if (kind == "load") return Kind::load;
    throw std::invalid_argument("kind must be 'open', 'short' or 'load', not '" + kind + "'");
}

// The parameters of a reflection standard: the termination's polynomial
// (the load's resistance and series inductance), the offset's delay, loss
// and impedance, in this order as derivative directions.
template <class S>
struct Termination {
    std::array<S, 4> c;
    S resistance, delay, loss, offset_z0;
};

template <class S>
S reflection_at(const Termination<S>& t, Kind kind, double f, double z0) {
    const double w = 2 * kPi * f;
    const Line<S> l = line_at(t.delay, t.loss, t.offset_z0, f);
    // the termination's reflection against the line's impedance
    S gt;
    if (kind == Kind::open) {
        const S y = cplx(0, w) * polynomial(t.c, f);
        gt = (1.0 - y * l.zc) / (1.0 + y * l.zc);
    } else {
        const S zt = kind == Kind::shorted ? cplx(0, w) * polynomial(t.c, f) : t.resistance + cplx(0, w) * t.c[0];
        gt = (zt - l.zc) / (zt + l.zc);
    }
    const S gin = gt * ad::exp(-2.0 * l.gl);  // at the line's input, against Zc
    // against z0, without the input impedance itself (infinite for an ideal open)
    const S r = (l.zc - z0) / (l.zc + z0);
    return (gin + r) / (1.0 + r * gin);
}

template <class S>
std::array<S, 2> line_s(const S& delay, const S& loss, const S& offset_z0, double f, double z0) {
    const Line<S> l = line_at(delay, loss, offset_z0, f);
    const S r = (l.zc - z0) / (l.zc + z0);
    const S e = ad::exp(-l.gl);
    const S d = 1.0 - r * r * e * e;
    return {r * (1.0 - e * e) / d, e * (1.0 - r * r) / d};  // S11 = S22, S21 = S12
}

constexpr int kParameters = 8;
using D = ad::Dual<kParameters>;

py::object reflection(Frequencies f, const std::string& kind, std::array<double, 4> coefficients,
                      double resistance, double delay, double loss, double offset_z0, double z0, bool sensitivities) {
    FpHold hold;  // a huge value overflows to a non-finite result, never to SIGFPE
    check(f, Offset{delay, loss, offset_z0}, z0);
    const Kind which = kind_of(kind);  // decided once, not per point
    const py::ssize_t n = f.shape(0);
    py::array_t<cplx> out(n), jacobian(sensitivities ? std::vector<py::ssize_t>{n, kParameters}
                                                     : std::vector<py::ssize_t>{0});
    const double* fd = f.data();
    cplx *g = out.mutable_data(), *J = jacobian.mutable_data();
    {
        py::gil_scoped_release unlocked;
        const Termination<cplx> plain{{coefficients[0], coefficients[1], coefficients[2], coefficients[3]},
                                      resistance, delay, loss, offset_z0};
        ad::Directions carried(kParameters);
        Termination<D> seeded;
        if (sensitivities) {
            for (int i = 0; i < 4; ++i) seeded.c[i] = ad::seed<kParameters>(coefficients[i], i);
            seeded.resistance = ad::seed<kParameters>(resistance, 4);
            seeded.delay = ad::seed<kParameters>(delay, 5);
            seeded.loss = ad::seed<kParameters>(loss, 6);
            seeded.offset_z0 = ad::seed<kParameters>(offset_z0, 7);
        }
        for (py::ssize_t k = 0; k < n; ++k) {
            if (!sensitivities) {
                g[k] = reflection_at(plain, which, fd[k], z0);
                continue;
            }
            const D r = reflection_at(seeded, which, fd[k], z0);
            g[k] = r.v;
            for (int i = 0; i < kParameters; ++i) J[k * kParameters + i] = r.d(i);
        }
    }
    if (!sensitivities) return py::object(std::move(out));
    return py::make_tuple(out, jacobian);
}

py::object offset_line(Frequencies f, double delay, double loss, double offset_z0, double z0, bool sensitivities) {
    FpHold hold;
    check(f, Offset{delay, loss, offset_z0}, z0);
    const py::ssize_t n = f.shape(0);
    py::array_t<cplx> out({n, py::ssize_t(2), py::ssize_t(2)});
    py::array_t<cplx> jacobian(sensitivities ? std::vector<py::ssize_t>{n, 2, 3} : std::vector<py::ssize_t>{0});
    const double* fd = f.data();
    cplx *s = out.mutable_data(), *J = jacobian.mutable_data();
    {
        py::gil_scoped_release unlocked;
        ad::Directions carried(3);
        for (py::ssize_t k = 0; k < n; ++k) {
            if (!sensitivities) {
                const auto x = line_s<cplx>(delay, loss, offset_z0, fd[k], z0);
                s[4 * k + 0] = s[4 * k + 3] = x[0];
                s[4 * k + 1] = s[4 * k + 2] = x[1];
                continue;
            }
            const auto x = line_s(ad::seed<3>(delay, 0), ad::seed<3>(loss, 1), ad::seed<3>(offset_z0, 2), fd[k], z0);
            s[4 * k + 0] = s[4 * k + 3] = x[0].v;
            s[4 * k + 1] = s[4 * k + 2] = x[1].v;
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 3; ++j) J[(k * 2 + i) * 3 + j] = x[i].d(j);
        }
    }
    if (!sensitivities) return py::object(std::move(out));
    return py::make_tuple(out, jacobian);
}

}  // namespace

void register_calkit(py::module_& m) {
    m.def("standard_reflection", &reflection, py::arg("f"), py::kw_only(), py::arg("kind"),
          py::arg("coefficients") = std::array<double, 4>{0, 0, 0, 0}, py::arg("resistance") = 50.0,
          py::arg("delay") = 0.0, py::arg("loss") = 0.0, py::arg("offset_z0") = 50.0, py::arg("z0") = 50.0,
          py::arg("sensitivities") = false,
          "standard_reflection(f, *, kind, coefficients=(0, 0, 0, 0), resistance=50.0, delay=0.0, loss=0.0,\n"
          "                    offset_z0=50.0, z0=50.0, sensitivities=False) -> complex [n]\n\n"
          "Reflection against z0 of a termination behind an offset line, e^{jwt} convention.\n"
          "kind 'open': capacitance c0 + c1 f + c2 f^2 + c3 f^3 (F); 'short': inductance with\n"
          "the same polynomial (H); 'load': resistance (ohm) in series with coefficients[0] (H).\n"
          "delay in s, loss in ohm/s at 1 GHz, impedances in ohm; f in Hz, all > 0. With\n"
          "sensitivities, (reflection, J [n, 8]): its derivatives to c0..c3, the resistance, the\n"
          "delay, the loss and the offset's impedance.");
    m.def("offset_line", &offset_line, py::arg("f"), py::kw_only(), py::arg("delay"), py::arg("loss") = 0.0,
          py::arg("offset_z0") = 50.0, py::arg("z0") = 50.0, py::arg("sensitivities") = false,
          "offset_line(f, *, delay, loss=0.0, offset_z0=50.0, z0=50.0, sensitivities=False)\n"
          "    -> complex [n, 2, 2]\n\n"
          "S-parameters against z0 of an offset line (a thru), e^{jwt} convention. With\n"
          "sensitivities, (S, J [n, 2, 3]): the derivatives of S11 (= S22) and S21 (= S12) to the\n"
          "delay, the loss and the impedance.");
}

}  // namespace orvane
