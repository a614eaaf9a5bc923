// The twelve-term model and its correction.
#include "kernels.hpp"
#include "paths.hpp"
#include "runtime/defaults.hpp"

namespace hidden::calibration {

static py::object get12TermModel(const Call& c) {
    py::handle isolation = c[6];
    const bool with_isolation = !isolation.is_none();
    return evaluate(
        Name::get12TermModel,
        [&] {
            NativeCall call;
            call.columns(c[0], 3).columns(c[1], 3).columns(c[2], 3).columns(c[3], 3).stack(c[4]).stack(c[5]);
            if (with_isolation) call.stack(isolation);
            if (!call) return py::object();
            call.flag(with_isolation);
            // fwd and rev each have one dtype, as numpy gives it
            CalKind k;
            const auto kinds =
                with_isolation ? calibration::get12TermModel(k, call.kind(0), call.kind(1), call.kind(2), call.kind(3),
                                                             call.kind(4), call.kind(5), call.kind(6))
                               : calibration::get12TermModel(k, call.kind(0), call.kind(1), call.kind(2), call.kind(3),
                                                             call.kind(4), call.kind(5), NoIsolation{});
            call.result(numeric::transposed(kinds[0].complex, 6, call.points()));
            call.result(numeric::transposed(kinds[1].complex, 6, call.points()));
            return call.run(kernels().get12TermModel);
        },
        [&] {
            CalNumpy p;
            p.genexpr_line = surface::function(Name::get12TermModel).genexpr_line;
            return calibration::get12TermModel(p, c[0], c[1], c[2], c[3], c[4], c[5], isolation);
        });
}

static const Definition get12TermModel_definition{
    Name::get12TermModel, {.params = {"G1", "Gm1", "G2", "Gm2", "T", "Tm", "isolation"}, .defaults = {defaults::none},
                           .impl = get12TermModel}};

static py::object correct12Term(const Call& c) {
    return evaluate(
        Name::correct12Term,
        [&] {
            NativeCall call;
            if (!call.stack(c[0]).columns(c[1], 6).columns(c[2], 6) || !call.one_kind()) return py::object();
            call.result(numeric::assembled(call.any_complex(), call.points()));
            return call.run(kernels().correct12Term);
        },
        [&] {
            CalNumpy p;
            p.genexpr_line = surface::function(Name::correct12Term).genexpr_line;
            return calibration::correct12Term(p, c[0], c[1], c[2]);
        });
}

static const Definition correct12Term_definition{
    Name::correct12Term, {.params = {"Sm", "fwd_terms", "rev_terms"}, .var_kwargs = true, .impl = correct12Term}};

}  // namespace hidden::calibration
