// S2T and T2S: S-parameters to cascading T-parameters and back.
#include "evaluation/evaluation.hpp"
#include "formulas.hpp"
#include "kernels.hpp"
#include "docs.hpp"

namespace hidden::netparams {
using namespace evaluation;

// One conversion over a stack: native while np and det are numpy's own.
template <class Formula>
static py::object convert(py::handle s, numeric::Kernel kernel, Formula&& formula) {
    return evaluate(
        {Name::np, Name::det},
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
    return convert(c[0], kernels().S2T, [](auto& p, const auto& s) { return netparams::S2T(p, s); });
}

static const Definition S2T_definition{
    {.name = "S2T", .line = 116, .form = Form::single, .params = {"S"}, .doc = S2T_doc, .impl = S2T}};

static py::object T2S(const Call& c) {
    return convert(c[0], kernels().T2S, [](auto& p, const auto& t) { return netparams::T2S(p, t); });
}

static const Definition T2S_definition{
    {.name = "T2S", .line = 126, .form = Form::single, .params = {"T"}, .doc = T2S_doc, .impl = T2S}};

}  // namespace hidden::netparams
