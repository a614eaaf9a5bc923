// S2T and T2S: S-parameters to cascading T-parameters and back.
#include "evaluation/evaluation.hpp"
#include "formulas.hpp"
#include "kernels.hpp"

namespace hidden::netparams {
using namespace evaluation;

// One conversion over a stack.
template <class Formula>
static py::object convert(Name function, py::handle s, numeric::Kernel kernel, Formula&& formula) {
    return evaluate(
        function,
        [&] {
            NativeCall call;
            if (!call.stack(s)) return py::object();
            call.result(numeric::assembled(call.any_complex(), call.points()));
            return call.run(kernel);
        },
        [&] {
            NumpyPath p;
            return formula(p, s);
        });
}

static py::object S2T(const Call& c) {
    return convert(Name::S2T, c[0], kernels().S2T, [](auto& p, const auto& s) { return netparams::S2T(p, s); });
}

static const Definition S2T_definition{Name::S2T, {.form = Form::single, .params = {"S"}, .impl = S2T}};

static py::object T2S(const Call& c) {
    return convert(Name::T2S, c[0], kernels().T2S, [](auto& p, const auto& t) { return netparams::T2S(p, t); });
}

static const Definition T2S_definition{Name::T2S, {.form = Form::single, .params = {"T"}, .impl = T2S}};

}  // namespace hidden::netparams
