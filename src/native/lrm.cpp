// LRM, TRM and LRRM over a frequency grid: the per-point solver
// (lrm_solver.hpp), the root choice from what the reflects are like, and
// LRRM's match inductance fitted over the band.
//
// The helpers live in the named namespace orvane::lrm (not an anonymous
// one), so that this file can share a translation unit with the others.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "dual.hpp"
#include "lrm_solver.hpp"
#include "native.hpp"

namespace orvane::lrm {

using ComplexArray = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using RealArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
constexpr double kTwoPi = 6.283185307179586476925;

// Directions of LRM's derivatives: the real and imaginary parts of the
// thru's S11 S12 S21 S22, of the reflect's S11 and S22 and of the match's
// S11 and S22, then the thru's delay, the match's resistance and inductance.
constexpr int kLrmDirections = 19, kLrmOutputs = 8;
using LrmDual = ad::Dual<20>;
// LRRM's: the thru's four, the short's S11 and S22, the open's, the match's
// S11 (18 of the point's own), then the thru's delay, the match's
// resistance, the lossless reflect's |Gamma| and the match's inductance.
constexpr int kLrrmOwn = 18, kLrrmDirections = 22, kLrrmOutputs = 10;
using LrrmDual = ad::Dual<24>;

void need_finite(const ComplexArray& x, const char* name) {
    const cplx* d = x.data();
    for (py::ssize_t i = 0; i < x.size(); ++i)
        if (!std::isfinite(d[i].real()) || !std::isfinite(d[i].imag()))
            throw std::invalid_argument(std::string(name) + " holds values that are not finite");
}

void need_shape(const ComplexArray& x, py::ssize_t n, std::vector<py::ssize_t> rest, const char* name) {
    bool ok = x.ndim() == py::ssize_t(rest.size()) + 1 && x.shape(0) == n;
    for (size_t i = 0; ok && i < rest.size(); ++i) ok = x.shape(py::ssize_t(i) + 1) == rest[i];
    if (!ok) {
        std::string shape = "[len(f)";
        for (auto s : rest) shape += ", " + std::to_string(s);
        throw std::invalid_argument(std::string(name) + " must be " + shape + "]");
    }
    need_finite(x, name);
}

void need_number(double x, const char* name) {
    if (!std::isfinite(x)) throw std::invalid_argument(std::string(name) + " must be finite");
}

RealArray grid(const RealArray& f) {
    if (f.ndim() != 1 || f.shape(0) < 1) throw std::invalid_argument("f must be a one-dimensional grid");
    for (py::ssize_t k = 0; k < f.shape(0); ++k)
        if (!(f.data()[k] > 0) || !std::isfinite(f.data()[k]))
            throw std::invalid_argument("f must hold positive, finite frequencies");
    return f;
}

// The thru's own S-parameters must be symmetric: the solver's involution.
void need_symmetric(const ComplexArray& standard) {
    const cplx* s = standard.data();
    for (py::ssize_t k = 0; k < standard.shape(0); ++k) {
        const cplx s11 = s[4 * k], s22 = s[4 * k + 3];
        if (std::abs(s11 - s22) > 1e-9 * (1 + std::abs(s11)))
            throw std::invalid_argument("thru_standard must be symmetric (S11 = S22) at every point");
        if (s[4 * k + 2] == 0.0) throw std::invalid_argument("thru_standard has no transmission at some point");
    }
}

// An optional [n, 2] offset (its S11 and S21), or none: [0, 1].
std::vector<cplx> offset_or_none(const std::optional<ComplexArray>& x, py::ssize_t n, const char* name) {
    std::vector<cplx> out(2 * size_t(n));
    if (!x) {
        for (py::ssize_t k = 0; k < n; ++k) out[2 * k] = 0.0, out[2 * k + 1] = 1.0;
        return out;
    }
    need_shape(*x, n, {2}, name);
    std::copy(x->data(), x->data() + 2 * n, out.begin());
    return out;
}

std::vector<cplx> vector_or(const std::optional<ComplexArray>& x, py::ssize_t n, cplx fallback, const char* name) {
    std::vector<cplx> out(size_t(n), fallback);
    if (!x) return out;
    need_shape(*x, n, {}, name);
    std::copy(x->data(), x->data() + n, out.begin());
    return out;
}

// Plain values, or duals seeded along a real direction (`parts`: a complex
// value as its real and imaginary parts, two directions).
template <class S>
S seeded(cplx x, int direction, bool parts = true, cplx derivative = 1.0) {
    if constexpr (std::is_same_v<S, cplx>) {
        (void)direction, (void)parts, (void)derivative;
        return x;
    } else {
        constexpr int N = S::size;
        return parts ? ad::seed_parts<N>(x, direction) : ad::seed<N>(x, direction, derivative);
    }
}

template <class S>
std::array<S, 4> four(const cplx* s, int first) {
    std::array<S, 4> x;
    for (int j = 0; j < 4; ++j) x[j] = seeded<S>(s[j], first + 2 * j);
    return x;
}

// The thru's own S-parameters, along the direction of its delay.
template <class S>
std::array<S, 4> thru_standard_at(const cplx* s, const cplx* ds, int direction) {
    std::array<S, 4> x;
    for (int j = 0; j < 4; ++j) x[j] = seeded<S>(s[j], direction, false, ds ? ds[j] : cplx(0.0));
    return x;
}

// -- LRM and TRM --------------------------------------------------------------------

template <class S>
struct LrmPoint {
    std::array<S, 4> thru, standard;
    S r1, r2, m1, m2, resistance, x, offset11, offset21;
};

template <class S>
struct LrmResult {
    Boxes<S> boxes;
    S reflect, match;
};

template <class S>
LrmResult<S> lrm_point(const LrmPoint<S>& in, double z0, int pairing) {
    const Geometry<S> g = geometry(in.thru, in.standard, in.m1, in.m2, in.r1, in.r2);
    const M2<S> G = match_map(in.resistance, z0, in.offset11, in.offset21);
    const V2<S> u = act(G, V2<S>{in.x, S(1.0)});
    const M2<S> A = port1_adapter(g, pairing, u, V2<S>{in.m1, S(1.0)});
    return {boxes(g, A), corrected(A, in.r1), point_value(u)};
}

// In values: both roots from one geometry, the nearer the estimate taken.
struct LrmChoice {
    LrmResult<cplx> result;
    int pairing;
    double margin;
};

inline LrmChoice lrm_choose(const LrmPoint<cplx>& in, double z0, cplx estimate) {
    const Geometry<cplx> g = geometry(in.thru, in.standard, in.m1, in.m2, in.r1, in.r2);
    const V2<cplx> u = act(match_map(in.resistance, z0, in.offset11, in.offset21), V2<cplx>{in.x, 1.0});
    // the reflect in both pairings, A^-1 [r1; 1] ~ E [c0 y0 d1; c1 y1 d0] (pairing 1: d and y swapped),
    // before either adapter is formed
    const V2<cplx> c = act(g.E_inv, u);
    const M2<cplx> V_inv = inverse(columns(g.v[0], g.v[1]));
    const V2<cplx> d = act(V_inv, V2<cplx>{in.m1, 1.0}), y = act(V_inv, V2<cplx>{in.r1, 1.0});
    cplx r[2];
    for (int p = 0; p < 2; ++p) {
        const V2<cplx> h{c[0] * y[p] * d[1 - p], c[1] * y[1 - p] * d[p]};
        r[p] = point_value(act(g.E, h));
    }
    const double d0 = std::sqrt(std::norm(r[0] - estimate)), d1 = std::sqrt(std::norm(r[1] - estimate));
    const int p = d1 < d0 ? 1 : 0;
    const M2<cplx> A = port1_adapter(g, p, u, V2<cplx>{in.m1, 1.0});
    return {{boxes(g, A), r[p], point_value(u)}, p, std::abs(d0 - d1) / (d0 + d1)};
}

template <class S>
LrmPoint<S> lrm_inputs(py::ssize_t k, const cplx* t, const cplx* st, const cplx* dst, const cplx* r, const cplx* m,
                       double resistance, double inductance, double w, const cplx* offset) {
    LrmPoint<S> p;
    p.thru = four<S>(t + 4 * k, 0);
    p.r1 = seeded<S>(r[4 * k], 8), p.r2 = seeded<S>(r[4 * k + 3], 10);
    p.m1 = seeded<S>(m[4 * k], 12), p.m2 = seeded<S>(m[4 * k + 3], 14);
    p.standard = thru_standard_at<S>(st + 4 * k, dst ? dst + 4 * k : nullptr, 16);
    p.resistance = seeded<S>(resistance, 17, false);
    p.x = seeded<S>(inductance, 18, false) * w;
    p.offset11 = S(offset[2 * k]), p.offset21 = S(offset[2 * k + 1]);
    return p;
}

py::dict lrm(RealArray f, ComplexArray thru, ComplexArray reflect, ComplexArray match, ComplexArray thru_standard,
             double resistance, double inductance, double z0, std::optional<ComplexArray> match_offset,
             std::optional<ComplexArray> reflect_estimate, std::optional<ComplexArray> thru_derivative,
             bool sensitivities) {
    FpHold hold;
    grid(f);
    const py::ssize_t n = f.shape(0);
    need_shape(thru, n, {2, 2}, "thru");
    need_shape(reflect, n, {2, 2}, "reflect");
    need_shape(match, n, {2, 2}, "match");
    need_shape(thru_standard, n, {2, 2}, "thru_standard");
    need_symmetric(thru_standard);
    if (thru_derivative) need_shape(*thru_derivative, n, {2, 2}, "thru_derivative");
    need_number(resistance, "resistance");
    need_number(inductance, "inductance");
    if (!(z0 > 0) || !std::isfinite(z0)) throw std::invalid_argument("z0 must be a positive impedance");
    const auto offset = offset_or_none(match_offset, n, "match_offset");
    const auto estimate = vector_or(reflect_estimate, n, -1.0, "reflect_estimate");

    py::array_t<cplx> A({n, py::ssize_t(2), py::ssize_t(2)}), B({n, py::ssize_t(2), py::ssize_t(2)});
    py::array_t<cplx> q(n), refl(n), gm(n);
    py::array_t<double> margin(n);
    py::array_t<cplx> jacobian(sensitivities ? std::vector<py::ssize_t>{n, kLrmOutputs, kLrmDirections}
                                             : std::vector<py::ssize_t>{0});
    const double* fd = f.data();
    const cplx *t = thru.data(), *r = reflect.data(), *m = match.data(), *st = thru_standard.data();
    const cplx* dst = thru_derivative ? thru_derivative->data() : nullptr;
    cplx *a = A.mutable_data(), *b = B.mutable_data(), *qd = q.mutable_data(), *rd = refl.mutable_data(),
         *gd = gm.mutable_data(), *jd = jacobian.mutable_data();
    double* md = margin.mutable_data();
    {
        py::gil_scoped_release unlocked;
        ad::Directions carried(kLrmDirections);
        for (py::ssize_t k = 0; k < n; ++k) {
            const double w = kTwoPi * fd[k];
            const auto in = lrm_inputs<cplx>(k, t, st, dst, r, m, resistance, inductance, w, offset.data());
            const LrmChoice choice = lrm_choose(in, z0, estimate[k]);
            const LrmResult<cplx>& s = choice.result;
            const int pairing = choice.pairing;
            md[k] = choice.margin;
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j)
                    a[4 * k + 2 * i + j] = s.boxes.A[i][j], b[4 * k + 2 * i + j] = s.boxes.B[i][j];
            qd[k] = s.boxes.q, rd[k] = s.reflect, gd[k] = s.match;
            if (!sensitivities) continue;
            const auto dual = lrm_inputs<LrmDual>(k, t, st, dst, r, m, resistance, inductance, w, offset.data());
            const auto x = lrm_point(dual, z0, pairing);
            const LrmDual* out[kLrmOutputs] = {&x.boxes.A[0][0], &x.boxes.A[0][1], &x.boxes.A[1][0],
                                               &x.boxes.B[0][0], &x.boxes.B[0][1], &x.boxes.B[1][0],
                                               &x.boxes.q, &x.reflect};
            cplx* J = jd + k * kLrmOutputs * kLrmDirections;
            for (int i = 0; i < kLrmOutputs; ++i)
                for (int j = 0; j < kLrmDirections; ++j) J[i * kLrmDirections + j] = out[i]->d(j);
        }
    }
    py::dict out;
    out["A"] = A, out["B"] = B, out["q"] = q, out["reflect"] = refl, out["match"] = gm, out["margin"] = margin;
    if (sensitivities) out["jacobian"] = jacobian;
    return out;
}

// -- LRRM ---------------------------------------------------------------------------

enum Lossless { kOpen = 1, kShort = 2, kBoth = 3 };

template <class S>
struct LrrmPoint {
    std::array<S, 4> thru, standard;
    S s1, s2, o1, o2, m1, resistance, g, L;
    S match11, match21, short11, short21, open11, open21;
};

template <class S>
struct LrrmResult {
    Boxes<S> boxes;
    S short_, open, match;
    S fit;   // the sum over the lossless reflects of r r' (zero at the fitted inductance)
};

template <class S>
LrrmPoint<S> lrrm_inputs(py::ssize_t k, const cplx* t, const cplx* st, const cplx* dst, const cplx* sh,
                         const cplx* op, const cplx* m, double resistance, double g, double L,
                         const std::vector<cplx>& offsets) {
    LrrmPoint<S> p;
    p.thru = four<S>(t + 4 * k, 0);
    p.s1 = seeded<S>(sh[4 * k], 8), p.s2 = seeded<S>(sh[4 * k + 3], 10);
    p.o1 = seeded<S>(op[4 * k], 12), p.o2 = seeded<S>(op[4 * k + 3], 14);
    p.m1 = seeded<S>(m[k], 16);
    p.standard = thru_standard_at<S>(st + 4 * k, dst ? dst + 4 * k : nullptr, 18);
    p.resistance = seeded<S>(resistance, 19, false);
    p.g = seeded<S>(g, 20, false);
    p.L = seeded<S>(L, 21, false);
    const cplx* o = offsets.data() + 6 * k;
    p.match11 = S(o[0]), p.match21 = S(o[1]), p.short11 = S(o[2]), p.short21 = S(o[3]);
    p.open11 = S(o[4]), p.open21 = S(o[5]);
    return p;
}

// Each lossless reflect's value at its own plane as a Moebius map of x = w L.
template <class S>
struct LrrmMaps {
    Geometry<S> geometry;
    M2<S> G, H_short, H_open;
};

template <class S>
LrrmMaps<S> lrrm_maps(const LrrmPoint<S>& in, double z0, int pairing) {
    LrrmMaps<S> out;
    out.geometry = geometry(in.thru, in.standard, in.s1, in.s2, in.o1, in.o2);
    out.G = match_map(in.resistance, z0, in.match11, in.match21);
    const V2<S> w{in.m1, S(1.0)};
    out.H_short = reflect_map(out.geometry, pairing, w, in.s1, out.G, in.short11, in.short21);
    out.H_open = reflect_map(out.geometry, pairing, w, in.o1, out.G, in.open11, in.open21);
    return out;
}

template <class S>
LrrmResult<S> lrrm_point(const LrrmPoint<S>& in, double z0, double w, int pairing, int lossless) {
    const LrrmMaps<S> maps = lrrm_maps(in, z0, pairing);
    const S x = in.L * w;
    const V2<S> u = act(maps.G, V2<S>{x, S(1.0)});
    const M2<S> A = port1_adapter(maps.geometry, pairing, u, V2<S>{in.m1, S(1.0)});
    LrrmResult<S> out{boxes(maps.geometry, A), corrected(A, in.s1), corrected(A, in.o1), point_value(u), S(0.0)};
    if (lossless & kOpen) {
        const auto r = residual(maps.H_open, x, in.g);
        out.fit += r.r * r.dr * w;
    }
    if (lossless & kShort) {
        const auto r = residual(maps.H_short, x, in.g);
        out.fit += r.r * r.dr * w;
    }
    return out;
}

// In values, what the root choice and the fit need of a point: its geometry,
// the match's map G and each reflect's map in both pairings, at the
// reference plane and at its own.
struct LrrmPrepared {
    Geometry<cplx> g;
    M2<cplx> G;
    std::array<M2<cplx>, 2> short_ref, open_ref, short_own, open_own;
};

inline LrrmPrepared lrrm_prepare(const LrrmPoint<cplx>& in, double z0) {
    LrrmPrepared out;
    out.g = geometry(in.thru, in.standard, in.s1, in.s2, in.o1, in.o2);
    out.G = match_map(in.resistance, z0, in.match11, in.match21);
    const auto maps = reflect_maps(out.g, V2<cplx>{in.m1, 1.0}, in.s1, in.o1, out.G);
    out.short_ref = maps[0], out.open_ref = maps[1];
    // at their own planes: through their offsets back, where they have one
    const auto back = [](const cplx& s11, const cplx& s21, const std::array<M2<cplx>, 2>& ref) {
        if (s11 == 0.0 && s21 == 1.0) return ref;
        const M2<cplx> m = adjugate(offset_map(s11, s21));
        return std::array<M2<cplx>, 2>{trl::mul(m, ref[0]), trl::mul(m, ref[1])};
    };
    out.short_own = back(in.short11, in.short21, out.short_ref);
    out.open_own = back(in.open11, in.open21, out.open_ref);
    return out;
}

// The fit of one inductance over the band: each lossless reflect's
// |G_X(w L)|^2 = N(L) / D(L) at each point, N and D real quadratics in L
// (from the point's map in values), and the objective sum (N/D - g^2)^2.
struct Quadratics {
    double n2, n1, n0, d2, d1, d0;
};

inline Quadratics quadratics(const M2<cplx>& H, double w) {
    const cplx a = H[0][0] * w, b = H[0][1], c = H[1][0] * w, d = H[1][1];
    return {std::norm(a), 2 * (a * std::conj(b)).real(), std::norm(b),
            std::norm(c), 2 * (c * std::conj(d)).real(), std::norm(d)};
}

struct Fit {
    std::vector<Quadratics> terms;
    double g = 1;

    // (objective, its first and second derivative, Gauss-Newton's second) at L
    std::array<double, 4> at(double L) const {
        std::array<double, 4> o{0, 0, 0, 0};
        const double g2 = g * g;
        for (const Quadratics& q : terms) {
            const double N = (q.n2 * L + q.n1) * L + q.n0, D = (q.d2 * L + q.d1) * L + q.d0;
            const double dN = 2 * q.n2 * L + q.n1, dD = 2 * q.d2 * L + q.d1;
            const double top = dN * D - N * dD, iD = 1 / D;
            const double r = N * iD - g2, dr = top * iD * iD;
            const double ddr = (2 * q.n2 * D - N * 2 * q.d2) * iD * iD - 2 * dD * top * iD * iD * iD;
            o[0] += r * r, o[1] += 2 * r * dr, o[2] += 2 * (dr * dr + r * ddr), o[3] += 2 * dr * dr;
        }
        return o;
    }
};

// The root of N(L) = g^2 D(L) nearer `near`; false where there is none.
inline bool lossless_root(const Quadratics& q, double g, double near, double& L) {
    const double g2 = g * g;
    const double p = q.n2 - g2 * q.d2, h = (q.n1 - g2 * q.d1) / 2, r = q.n0 - g2 * q.d0;
    if (p == 0) {
        L = h != 0 ? -r / (2 * h) : near;
        return h != 0;
    }
    const double disc = h * h - p * r;
    if (disc < 0) return false;
    const double root = std::sqrt(disc);
    const double m = -(h + (h >= 0 ? root : -root));          // the two roots without cancellation
    const double x1 = m / p, x2 = m != 0 ? r / m : x1;
    L = std::abs(x1 - near) <= std::abs(x2 - near) ? x1 : x2;
    return true;
}

// A weighted median: robust against the points where the lossless reflect
// says little about the inductance.
double weighted_median(std::vector<std::pair<double, double>> values) {
    std::sort(values.begin(), values.end());
    double total = 0;
    for (const auto& v : values) total += v.second;
    double run = 0;
    for (const auto& v : values) {
        run += v.second;
        if (run >= total / 2) return v.first;
    }
    return values.empty() ? 0.0 : values.back().first;
}

double fit_inductance(const Fit& fit, double estimate, int& iterations) {
    // each reflect's own root, weighted by how strongly it pins the inductance
    std::vector<std::pair<double, double>> roots;
    for (const Quadratics& q : fit.terms) {
        double x;
        if (!lossless_root(q, fit.g, estimate, x)) continue;
        const double D = (q.d2 * x + q.d1) * x + q.d0, N = (q.n2 * x + q.n1) * x + q.n0;
        const double weight = std::abs(((2 * q.n2 * x + q.n1) * D - N * (2 * q.d2 * x + q.d1)) / (D * D));
        if (std::isfinite(x) && std::isfinite(weight) && weight > 0) roots.push_back({x, weight});
    }
    double L = roots.empty() ? estimate : weighted_median(roots);
    auto now = fit.at(L);
    iterations = 0;
    for (; iterations < 100; ++iterations) {
        const double curvature = now[2] > 0 ? now[2] : now[3];   // Gauss-Newton's where Newton's is not positive
        if (!(curvature > 0) || !std::isfinite(curvature)) break;
        double step = -now[1] / curvature;
        bool moved = false;
        for (int halving = 0; halving < 40; ++halving, step /= 2) {
            const auto next = fit.at(L + step);
            if (next[0] <= now[0]) {
                L += step, now = next, moved = true;
                break;
            }
        }
        if (!moved || std::abs(step) <= 1e-13 * (std::abs(L) + 1e-15)) break;
    }
    return L;
}

py::dict lrrm(RealArray f, ComplexArray thru, ComplexArray short_, ComplexArray open, ComplexArray match,
              ComplexArray thru_standard, double resistance, std::optional<double> inductance, double z0,
              std::optional<ComplexArray> match_offset, std::optional<ComplexArray> short_offset,
              std::optional<ComplexArray> open_offset, std::optional<ComplexArray> short_estimate,
              std::optional<ComplexArray> open_estimate, const std::string& lossless, double magnitude,
              double inductance_estimate, std::optional<ComplexArray> thru_derivative, bool sensitivities) {
    FpHold hold;
    grid(f);
    const py::ssize_t n = f.shape(0);
    need_shape(thru, n, {2, 2}, "thru");
    need_shape(short_, n, {2, 2}, "short");
    need_shape(open, n, {2, 2}, "open");
    need_shape(match, n, {}, "match");
    need_shape(thru_standard, n, {2, 2}, "thru_standard");
    need_symmetric(thru_standard);
    if (thru_derivative) need_shape(*thru_derivative, n, {2, 2}, "thru_derivative");
    need_number(resistance, "resistance");
    if (inductance) need_number(*inductance, "inductance");
    need_number(inductance_estimate, "inductance_estimate");
    if (!(magnitude > 0) || !std::isfinite(magnitude)) throw std::invalid_argument("magnitude must be positive");
    if (!(z0 > 0) || !std::isfinite(z0)) throw std::invalid_argument("z0 must be a positive impedance");
    const int which = lossless == "open" ? kOpen : lossless == "short" ? kShort : lossless == "both" ? kBoth : 0;
    if (!which) throw std::invalid_argument("lossless must be 'open', 'short' or 'both'");
    std::vector<cplx> offsets(6 * size_t(n));
    {
        const auto mo = offset_or_none(match_offset, n, "match_offset");
        const auto so = offset_or_none(short_offset, n, "short_offset");
        const auto oo = offset_or_none(open_offset, n, "open_offset");
        for (py::ssize_t k = 0; k < n; ++k)
            for (int j = 0; j < 2; ++j)
                offsets[6 * k + j] = mo[2 * k + j], offsets[6 * k + 2 + j] = so[2 * k + j],
                offsets[6 * k + 4 + j] = oo[2 * k + j];
    }
    const auto est_s = vector_or(short_estimate, n, -1.0, "short_estimate");
    const auto est_o = vector_or(open_estimate, n, 1.0, "open_estimate");

    py::array_t<cplx> A({n, py::ssize_t(2), py::ssize_t(2)}), B({n, py::ssize_t(2), py::ssize_t(2)});
    py::array_t<cplx> q(n), sd(n), od(n), gm(n);
    py::array_t<double> margin(n), residual_out(n);
    py::array_t<cplx> jacobian(sensitivities ? std::vector<py::ssize_t>{n, kLrrmOutputs, kLrrmDirections}
                                             : std::vector<py::ssize_t>{0});
    py::array_t<double> dL(sensitivities ? std::vector<py::ssize_t>{n, kLrrmOwn} : std::vector<py::ssize_t>{0});
    std::array<double, 3> dL_globals{0, 0, 0};
    const double* fd = f.data();
    const cplx *t = thru.data(), *sh = short_.data(), *op = open.data(), *m = match.data(),
               *st = thru_standard.data();
    const cplx* dst = thru_derivative ? thru_derivative->data() : nullptr;
    double L = inductance ? *inductance : inductance_estimate;
    int iterations = 0;
    cplx *a = A.mutable_data(), *b = B.mutable_data(), *qd = q.mutable_data(), *sdd = sd.mutable_data(),
         *odd = od.mutable_data(), *gd = gm.mutable_data(), *jd = jacobian.mutable_data();
    double *rd = residual_out.mutable_data(), *dLd = dL.mutable_data(), *md = margin.mutable_data();
    {
        py::gil_scoped_release unlocked;
        ad::Directions carried(kLrrmDirections);
        // Each point once: its geometry, and each reflect's value as a Moebius
        // map of x = w L in both pairings, at the reference plane and at its own.
        std::vector<LrrmPrepared> prepared(static_cast<size_t>(n));
        for (py::ssize_t k = 0; k < n; ++k)
            prepared[k] = lrrm_prepare(lrrm_inputs<cplx>(k, t, st, dst, sh, op, m, resistance, magnitude, 0.0, offsets),
                                       z0);
        std::vector<int> pairing(static_cast<size_t>(n), 0);
        // the root choice at an inductance: the pairing whose reflects are nearer what they are like
        const auto choose = [&](double at) {
            int changed = 0;
            for (py::ssize_t k = 0; k < n; ++k) {
                const V2<cplx> x{at * kTwoPi * fd[k], 1.0};
                double score[2];
                for (int p = 0; p < 2; ++p)
                    score[p] = std::sqrt(std::norm(point_value(act(prepared[k].short_ref[p], x)) - est_s[k])) +
                               std::sqrt(std::norm(point_value(act(prepared[k].open_ref[p], x)) - est_o[k]));
                const int best = score[1] < score[0] ? 1 : 0;
                changed += best != pairing[k];
                pairing[k] = best;
                md[k] = std::abs(score[0] - score[1]) / (score[0] + score[1]);
            }
            return changed;
        };
        choose(L);
        Fit fit;
        fit.g = magnitude;
        for (int round = 0; !inductance && round < 4; ++round) {
            fit.terms.clear();
            for (py::ssize_t k = 0; k < n; ++k) {
                const double w = kTwoPi * fd[k];
                if (which & kOpen) fit.terms.push_back(quadratics(prepared[k].open_own[pairing[k]], w));
                if (which & kShort) fit.terms.push_back(quadratics(prepared[k].short_own[pairing[k]], w));
            }
            L = fit_inductance(fit, round == 0 ? inductance_estimate : L, iterations);
            if (!choose(L)) break;
        }
        const double curvature = inductance ? 0.0 : fit.at(L)[2] / 2;   // d(sum r r') / dL
        for (py::ssize_t k = 0; k < n; ++k) {
            const double w = kTwoPi * fd[k];
            const LrrmPrepared& pre = prepared[k];
            const int p = pairing[k];
            const V2<cplx> at{L * w, 1.0}, u = act(pre.G, at);
            const Boxes<cplx> box = boxes(pre.g, port1_adapter(pre.g, p, u, V2<cplx>{m[k], 1.0}));
            for (int i = 0; i < 2; ++i)
                for (int j = 0; j < 2; ++j) a[4 * k + 2 * i + j] = box.A[i][j], b[4 * k + 2 * i + j] = box.B[i][j];
            qd[k] = box.q, gd[k] = point_value(u);
            sdd[k] = point_value(act(pre.short_ref[p], at)), odd[k] = point_value(act(pre.open_ref[p], at));
            const auto off = [&](const M2<cplx>& H) { return std::abs(point_value(act(H, at))) - magnitude; };
            rd[k] = which == kShort ? off(pre.short_own[p]) : which == kOpen ? off(pre.open_own[p])
                    : std::max(std::abs(off(pre.open_own[p])), std::abs(off(pre.short_own[p])));
            if (!sensitivities) continue;
            const auto dual = lrrm_inputs<LrrmDual>(k, t, st, dst, sh, op, m, resistance, magnitude, L, offsets);
            const auto x = lrrm_point(dual, z0, w, pairing[k], which);
            const LrrmDual* out[kLrrmOutputs] = {&x.boxes.A[0][0], &x.boxes.A[0][1], &x.boxes.A[1][0],
                                                 &x.boxes.B[0][0], &x.boxes.B[0][1], &x.boxes.B[1][0],
                                                 &x.boxes.q, &x.short_, &x.open, &x.match};
            cplx* J = jd + k * kLrrmOutputs * kLrrmDirections;
            for (int i = 0; i < kLrrmOutputs; ++i)
                for (int j = 0; j < kLrrmDirections; ++j) J[i * kLrrmDirections + j] = out[i]->d(j);
            // the fitted inductance moves with every point's readings: sum_k r r' = 0 differentiated
            for (int j = 0; j < kLrrmOwn; ++j)
                dLd[k * kLrrmOwn + j] = inductance ? 0.0 : -x.fit.d(j).real() / curvature;
            if (!inductance)
                for (int j = 0; j < 3; ++j) dL_globals[j] -= x.fit.d(kLrrmOwn + j).real() / curvature;
        }
    }
    py::dict out;
    out["A"] = A, out["B"] = B, out["q"] = q, out["short"] = sd, out["open"] = od, out["match"] = gm;
    out["inductance"] = L, out["iterations"] = iterations, out["margin"] = margin, out["residual"] = residual_out;
    if (sensitivities) {
        out["jacobian"] = jacobian;
        out["inductance_jacobian"] = dL;
        out["inductance_globals"] = py::make_tuple(dL_globals[0], dL_globals[1], dL_globals[2]);
    }
    return out;
}

}  // namespace orvane::lrm

namespace orvane {

void register_lrm(py::module_& m) {
    using lrm::ComplexArray;
    m.def("lrm", &lrm::lrm, py::arg("f"), py::arg("thru"), py::arg("reflect"), py::arg("match"),
          py::arg("thru_standard"), py::kw_only(), py::arg("resistance") = 50.0, py::arg("inductance") = 0.0,
          py::arg("z0") = 50.0, py::arg("match_offset") = py::none(), py::arg("reflect_estimate") = py::none(),
          py::arg("thru_derivative") = py::none(), py::arg("sensitivities") = false,
          "lrm(f, thru, reflect, match, thru_standard, *, resistance=50.0, inductance=0.0, z0=50.0,\n"
          "    match_offset=None, reflect_estimate=None, thru_derivative=None, sensitivities=False) -> dict\n\n"
          "LRM (TRM with a zero-length thru_standard) in the e^{jwt} convention. thru, reflect and\n"
          "match [n,2,2] are switch-corrected measurements (reflect and match on both ports; their\n"
          "S11 and S22 are read); thru_standard [n,2,2] is the thru's own S-parameters (symmetric).\n"
          "The match is resistance + j w inductance against z0, behind match_offset [n,2] (the\n"
          "offset's S11 and S21; none by default). reflect_estimate [n] is what the reflect is like\n"
          "(-1 by default): the root nearer it is taken. Returns A, B [n,2,2] and q [n] for\n"
          "correct8Term, the reflect's value and the match's [n], and margin [n] (0 where both roots\n"
          "are as near the estimate, 1 where one is on it). With sensitivities, also jacobian\n"
          "[n, 8, 19]: the derivatives of A11 A12 A21 B11 B12 B21 q reflect to the real and imaginary\n"
          "parts of the thru's S11 S12 S21 S22, the reflect's S11 S22 and the match's S11 S22, then\n"
          "along thru_derivative [n,2,2] (the thru standard's derivative to its delay), to the\n"
          "resistance and to the inductance.");
    m.def("lrrm", &lrm::lrrm, py::arg("f"), py::arg("thru"), py::arg("short"), py::arg("open"), py::arg("match"),
          py::arg("thru_standard"), py::kw_only(), py::arg("resistance") = 50.0, py::arg("inductance") = py::none(),
          py::arg("z0") = 50.0, py::arg("match_offset") = py::none(), py::arg("short_offset") = py::none(),
          py::arg("open_offset") = py::none(), py::arg("short_estimate") = py::none(),
          py::arg("open_estimate") = py::none(), py::arg("lossless") = "open", py::arg("magnitude") = 1.0,
          py::arg("inductance_estimate") = 0.0, py::arg("thru_derivative") = py::none(),
          py::arg("sensitivities") = false,
          "lrrm(f, thru, short, open, match, thru_standard, *, resistance=50.0, inductance=None, z0=50.0,\n"
          "     match_offset=None, short_offset=None, open_offset=None, short_estimate=None,\n"
          "     open_estimate=None, lossless='open', magnitude=1.0, inductance_estimate=0.0,\n"
          "     thru_derivative=None, sensitivities=False) -> dict\n\n"
          "LRRM in the e^{jwt} convention. thru, short and open [n,2,2] are switch-corrected\n"
          "measurements (short and open on both ports), match [n] the match's reading at port 1;\n"
          "thru_standard [n,2,2] the thru's own S-parameters (symmetric). The match is resistance +\n"
          "j w inductance behind match_offset [n,2] (S11, S21); without `inductance`, the one value\n"
          "over the band that gives the lossless reflect(s) ('open', 'short' or 'both') the\n"
          "magnitude |Gamma| at their own planes (behind short_offset, open_offset) in least squares,\n"
          "starting from inductance_estimate (H). The estimates [n] (-1 and +1 by default) choose the\n"
          "root. Returns A, B, q, the short's, open's and match's values [n], inductance (H),\n"
          "iterations, margin [n] and residual [n] (the lossless reflect's |Gamma| - magnitude). With\n"
          "sensitivities, also jacobian [n, 10, 22] (A11 A12 A21 B11 B12 B21 q short open match to the\n"
          "thru's S11 S12 S21 S22, the short's S11 S22, the open's S11 S22, the match's S11 as real and\n"
          "imaginary parts, then the thru's delay, the resistance, the magnitude and the inductance,\n"
          "at the fitted inductance held), inductance_jacobian [n, 18] (the fitted inductance's\n"
          "derivatives to each point's 18 readings' parts) and inductance_globals (its derivatives to\n"
          "the thru's delay, the resistance and the magnitude).");
}

}  // namespace orvane
