// Exact first-order sensitivities of the coaxial error models, point by
// point: of each model's error terms to the standards (actual and measured),
// and of a corrected measurement to the error terms and the raw
// measurement. Linear uncertainty propagation multiplies them with the
// inputs' covariances (orvane_ex.uncertainty).
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "dual.hpp"
#include "models.hpp"
#include "native.hpp"

namespace orvane {
namespace {

using ad::cplx;
using ad::Dual;
using Complex = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using Real = py::array_t<double, py::array::c_style | py::array::forcecast>;

// A model's inputs at one point, read from [n, k] arrays and seeded one
// direction each, in the order they are given.
template <int N>
struct Seeder {
    py::ssize_t point;
    int next = 0;
    template <size_t K>
    std::array<Dual<N>, K> take(const cplx* data) {
        std::array<Dual<N>, K> out;
        for (size_t j = 0; j < K; ++j) out[j] = ad::seed<N>(data[K * point + j], next++);
        return out;
    }
};

void need(const Complex& x, py::ssize_t n, std::initializer_list<py::ssize_t> shape, const char* name) {
    bool ok = x.ndim() == py::ssize_t(shape.size()) + 1 && x.shape(0) == n;
    int i = 1;
    for (py::ssize_t s : shape) ok = ok && x.shape(i++) == s;
    if (!ok) throw std::invalid_argument(std::string(name) + " does not have the shape the model needs");
}

template <int N, size_t K>
void store(cplx* values, cplx* jacobian, py::ssize_t k, int inputs, const std::array<Dual<N>, K>& out) {
    for (size_t i = 0; i < K; ++i) {
        values[K * k + i] = out[i].v;
        for (int j = 0; j < inputs; ++j) jacobian[(K * k + i) * inputs + j] = out[i].d(j);
    }
}

// One port's one-port terms with their derivatives to its six inputs (its
// actual then measured Open, Short, Load), placed at `offset` among the
// model's `total` directions.
models::V3<Dual<24>> port_terms(const cplx* G, const cplx* Gm, py::ssize_t k, int offset, int total) {
    models::V3<Dual<6>> x;
    {
        ad::Directions carried(6);
        Seeder<6> s{k};
        const auto g = s.take<3>(G);
        x = models::one_port(g, s.take<3>(Gm));
    }
    models::V3<Dual<24>> out;
    for (int i = 0; i < 3; ++i) {
        out[i] = Dual<24>(x[i].v);
        out[i].n = total;
        for (int j = 0; j < total; ++j) out[i].re[j] = 0.0, out[i].im[j] = 0.0;
        for (int j = 0; j < x[i].n; ++j) out[i].re[offset + j] = x[i].re[j], out[i].im[offset + j] = x[i].im[j];
    }
    return out;
}

template <class S>
std::array<S, 7> flat(const models::EightTerm<S>& m) {
    return {m.A[0], m.A[1], m.A[2], m.B[0], m.B[1], m.B[2], m.q};
}

// The error terms of `model` and their Jacobian [n, terms, inputs].
py::tuple model_sensitivities(const std::string& model, Complex G1, Complex Gm1, Complex G2, Complex Gm2, Complex T,
                              Complex Tm, std::optional<Complex> isolation, std::optional<Real> sign) {
    const py::ssize_t n = Gm1.shape(0);
    constexpr int N = 24;  // the most inputs of a model: the twelve-term's 22
    int inputs = 0;
    size_t terms = 0;
    if (model == "one-port") {
        need(G1, n, {3}, "G"), need(Gm1, n, {3}, "Gm");
        inputs = 6, terms = 3;
    } else if (model == "response") {
        need(G1, n, {}, "G1"), need(Gm1, n, {}, "G1m"), need(G2, n, {}, "G2"), need(Gm2, n, {}, "G2m");
        need(T, n, {2, 2}, "T"), need(Tm, n, {2, 2}, "Tm");
        inputs = 12, terms = 4;
    } else if (model == "eight-term" || model == "unknown-thru" || model == "twelve-term") {
        need(G1, n, {3}, "G1"), need(Gm1, n, {3}, "Gm1"), need(G2, n, {3}, "G2"), need(Gm2, n, {3}, "Gm2");
        need(Tm, n, {2, 2}, "Tm");
        if (model != "unknown-thru") need(T, n, {2, 2}, "T");
        inputs = model == "unknown-thru" ? 16 : 20;
        terms = model == "twelve-term" ? 12 : 7;
        if (model == "twelve-term" && isolation) need(*isolation, n, {2, 2}, "isolation"), inputs = 22;
        if (model == "unknown-thru" && (!sign || sign->ndim() != 1 || sign->shape(0) != n))
            throw std::invalid_argument("the unknown thru needs the sign of q at each point");
    } else {
        throw std::invalid_argument("no sensitivities for a model '" + model + "'");
    }
    py::array_t<cplx> values({n, py::ssize_t(terms)}), jacobian({n, py::ssize_t(terms), py::ssize_t(inputs)});
    cplx *v = values.mutable_data(), *J = jacobian.mutable_data();
    const cplx *g1 = G1.data(), *m1 = Gm1.data(), *g2 = G2.data(), *m2 = Gm2.data(), *t = T.data(),
               *tm = Tm.data();
    const cplx* iso = isolation ? isolation->data() : nullptr;
    const double* sg = sign ? sign->data() : nullptr;
    {
        py::gil_scoped_release unlocked;
        FpHold hold;
        for (py::ssize_t k = 0; k < n; ++k) {
            if (model == "one-port") {
                ad::Directions carried(6);
                Seeder<6> s{k};
                const auto G = s.take<3>(g1);
                store(v, J, k, inputs, models::one_port(G, s.take<3>(m1)));
                continue;
            }
            if (model == "response") {
                ad::Directions carried(inputs);
                Seeder<12> s{k};
                const auto a = s.take<1>(g1), am = s.take<1>(m1), b = s.take<1>(g2), bm = s.take<1>(m2);
                const auto TT = s.take<4>(t);
                store(v, J, k, inputs, models::response(a[0], am[0], b[0], bm[0], TT, s.take<4>(tm)));
                continue;
            }
            // each port's one-port terms on its own six inputs, then carried
            // into all the model's directions for the thru's part
            const auto x = port_terms(g1, m1, k, 0, inputs), y = port_terms(g2, m2, k, 6, inputs);
            ad::Directions carried(inputs);
            Seeder<N> s{k};
            s.next = 12;
            if (model == "unknown-thru") {
                store(v, J, k, inputs, flat(models::unknown_thru(x, y, s.take<4>(tm), sg[k])));
                continue;
            }
            const auto TT = s.take<4>(t), TM = s.take<4>(tm);
            if (model == "eight-term") {
                store(v, J, k, inputs, flat(models::eight_term(x, y, TT, TM)));
            } else {
                Dual<N> e30(0.0), ep03(0.0);
                if (iso) e30 = ad::seed<N>(iso[4 * k + 2], s.next++), ep03 = ad::seed<N>(iso[4 * k + 1], s.next++);
                store(v, J, k, inputs, models::twelve_term(x, y, TT, TM, e30, ep03));
            }
        }
    }
    return py::make_tuple(values, jacobian);
}

// The corrected measurement and its Jacobian [n, 4, terms + 4] to the error
// terms (as `model_sensitivities` orders them) and then the raw S11 S12 S21 S22.
py::tuple correction_sensitivities(const std::string& model, Complex Sm, Complex terms, int port) {
    const py::ssize_t n = Sm.shape(0);
    constexpr int N = 16;
    need(Sm, n, {2, 2}, "Sm");
    const py::ssize_t K = terms.ndim() == 2 ? terms.shape(1) : 1;
    if (terms.shape(0) != n) throw std::invalid_argument("the error terms do not cover the measurement's points");
    const bool ok = (model == "one-port" && K == 3) || (model == "response" && K == 4) ||
                    (model == "eight-term" && K == 7) || (model == "twelve-term" && K == 12) ||
                    (model == "port-extension" && K == 1);
    if (!ok) throw std::invalid_argument("error terms of the wrong size for a model '" + model + "'");
    if (model == "port-extension" && port != 1 && port != 2) throw std::invalid_argument("port must be 1 or 2");
    const int inputs = int(K) + 4;
    py::array_t<cplx> values({n, py::ssize_t(4)}), jacobian({n, py::ssize_t(4), py::ssize_t(inputs)});
    cplx *v = values.mutable_data(), *J = jacobian.mutable_data();
    const cplx *e = terms.data(), *sm = Sm.data();
    {
        py::gil_scoped_release unlocked;
        FpHold hold;
        ad::Directions carried(inputs);
        for (py::ssize_t k = 0; k < n; ++k) {
            Seeder<N> s{k};
            std::array<Dual<N>, 12> x;
            for (py::ssize_t i = 0; i < K; ++i) x[i] = ad::seed<N>(e[K * k + i], s.next++);
            const auto S = s.take<4>(sm);
            models::V4<Dual<N>> out;
            if (model == "one-port") {
                out = S;
                out[0] = models::correct_one_port(S[0], {x[0], x[1], x[2]});
            } else if (model == "response") {
                out = models::correct_response(S, {x[0], x[1], x[2], x[3]});
            } else if (model == "eight-term") {
                out = models::correct_eight_term(S, models::EightTerm<Dual<N>>{{x[0], x[1], x[2], 1.0},
                                                                            {x[3], x[4], x[5], 1.0}, x[6]});
            } else if (model == "twelve-term") {
                out = models::correct_twelve_term(S, x);
            } else {
                out = models::correct_port_extension(S, x[0], port);
            }
            store(v, J, k, inputs, out);
        }
    }
    return py::make_tuple(values, jacobian);
}

}  // namespace

void register_sensitivity(py::module_& m) {
    m.def("model_sensitivities", &model_sensitivities, py::arg("model"), py::arg("G1"), py::arg("Gm1"), py::arg("G2"),
          py::arg("Gm2"), py::arg("T"), py::arg("Tm"), py::kw_only(), py::arg("isolation") = py::none(),
          py::arg("sign") = py::none(),
          "model_sensitivities(model, G1, Gm1, G2, Gm2, T, Tm, *, isolation=None, sign=None) -> (terms, J)\n\n"
          "The error terms of a coaxial model and their exact derivatives [n, terms, inputs] to its\n"
          "inputs, in order: one-port G [n,3], Gm [n,3] (pass anything for the rest);\n"
          "response G1, G1m, G2, G2m [n], T, Tm [n,2,2] (S11 S12 S21 S22 each);\n"
          "eight-term, twelve-term G1, Gm1, G2, Gm2 [n,3], T, Tm [n,2,2] (twelve-term: then the\n"
          "isolation's S21 and S12); unknown-thru G1, Gm1, G2, Gm2, Tm, with the sign of q [n].\n"
          "Terms: one-port e00 e11 delta_e; response H11 H12 H21 H22; eight-term and unknown-thru\n"
          "A11 A12 A21 B11 B12 B21 q; twelve-term fwd then rev as get12TermModel gives them.");
    m.def("correction_sensitivities", &correction_sensitivities, py::arg("model"), py::arg("Sm"), py::arg("terms"),
          py::kw_only(), py::arg("port") = 1,
          "correction_sensitivities(model, Sm, terms, *, port=1) -> (S, J)\n\n"
          "A measurement Sm [n,2,2] corrected by a model's error terms [n, terms] (ordered as\n"
          "model_sensitivities gives them; port-extension: e10e01 [n,1] at `port`), and the\n"
          "derivatives [n, 4, terms + 4] of S11 S12 S21 S22 to the terms, then to Sm's entries.\n"
          "A one-port model corrects S11 alone.");
}

}  // namespace orvane
