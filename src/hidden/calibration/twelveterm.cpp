// The twelve-term model and its correction.
#include "calibration.hpp"
#include "native.hpp"

namespace hidden::calibration {

py::object get12TermModel(const Call& c) {
    py::handle isolation = c[6];
    if (genuine(Name::np, Name::det, Name::solve, Name::get1PortModel)) {
        auto G1 = columns_in(c[0], 3), Gm1 = columns_in(c[1], 3), G2 = columns_in(c[2], 3), Gm2 = columns_in(c[3], 3);
        auto T = stack_in(c[4]), Tm = stack_in(c[5]);
        auto iso = isolation.is_none() ? T : stack_in(isolation);
        if (same_points({&G1, &Gm1, &G2, &Gm2, &T, &Tm, &iso})) {
            const Py_ssize_t n = T->n;
            const bool complex = any_complex({&G1, &Gm1, &G2, &Gm2, &T, &Tm}) || (!isolation.is_none() && iso->complex);
            // fwd and rev each have one dtype, as numpy gives it
            CalKind kp;
            auto k = [](const std::optional<ArrayIn>& a) { return Kind{a->complex}; };
            const auto kinds = isolation.is_none()
                                   ? calibration::get12TermModel(kp, k(G1), k(Gm1), k(G2), k(Gm2), k(T), k(Tm), NoIsolation{})
                                   : calibration::get12TermModel(kp, k(G1), k(Gm1), k(G2), k(Gm2), k(T), k(Tm), k(iso));
            py::object r = run_native(complex, [&]<class V>(CalPoint& p, bool& finite) -> py::object {
                Transposed fwd = new_transposed(is_complex<V>::value, 6, n), rev = new_transposed(is_complex<V>::value, 6, n);
                V* f = reinterpret_cast<V*>(fwd.base);
                V* r = reinterpret_cast<V*>(rev.base);
                for_points<V>(n, finite, [&]<class L>(Py_ssize_t k, bool& ok) {
                    const auto g1 = load_row<L, 3>(*G1, k, ok), gm1 = load_row<L, 3>(*Gm1, k, ok);
                    const auto g2 = load_row<L, 3>(*G2, k, ok), gm2 = load_row<L, 3>(*Gm2, k, ok);
                    const M2<L> t = load_stack<L>(*T, k, ok), tm = load_stack<L>(*Tm, k, ok);
                    std::array<L, 12> terms;
                    if (isolation.is_none())
                        terms = calibration::get12TermModel(p, g1, gm1, g2, gm2, t, tm, NoIsolation{});
                    else
                        terms = calibration::get12TermModel(p, g1, gm1, g2, gm2, t, tm, load_stack<L>(*iso, k, ok));
                    for (Py_ssize_t i = 0; i < 6; ++i) {
                        put(f, k, 1, i * n, terms[size_t(i)]);
                        put(r, k, 1, i * n, terms[size_t(i) + 6]);
                    }
                });
                py::array f_out = std::move(fwd.view), r_out = std::move(rev.view);
                if (is_complex<V>::value && !kinds[0].complex) f_out = real_part(f_out);
                if (is_complex<V>::value && !kinds[1].complex) r_out = real_part(r_out);
                return py::make_tuple(f_out, r_out);
            });
            if (r) return r;
        }
    }
    CalNumpy p;
    p.genexpr_line = kGet12TermGenexprLine;
    return calibration::get12TermModel(p, c[0], c[1], c[2], c[3], c[4], c[5], isolation);
}

py::object correct12Term(const Call& c) {
    if (genuine(Name::np)) {
        auto Sm = stack_in(c[0]), fwd = columns_in(c[1], 6), rev = columns_in(c[2], 6);
        if (same_points({&Sm, &fwd, &rev}) && one_kind({&Sm, &fwd, &rev})) {
            const Py_ssize_t n = Sm->n;
            py::object r = run_native(Sm->complex, [&]<class T>(CalPoint& p, bool& finite) -> py::object {
                Assembled S = new_assembled(is_complex<T>::value, n);
                for_points<T>(n, finite, [&]<class V>(Py_ssize_t k, bool& ok) {
                    S.store<T>(k, calibration::correct12Term(p, load_stack<V>(*Sm, k, ok), load_row<V, 6>(*fwd, k, ok),
                                                             load_row<V, 6>(*rev, k, ok)));
                });
                return std::move(S.view);
            });
            if (r) return r;
        }
    }
    CalNumpy p;
    p.genexpr_line = kCorrect12TermGenexprLine;
    return calibration::correct12Term(p, c[0], c[1], c[2]);
}

}  // namespace hidden::calibration
