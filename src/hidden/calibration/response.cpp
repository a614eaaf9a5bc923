// Frequency-response models: one complex factor per measured quantity.
#include <array>
#include <initializer_list>

#include "kernels.hpp"
#include "netparams/kernels.hpp"
#include "paths.hpp"

namespace hidden::calibration {

// The kernels compute every quotient in the job's arithmetic: complex as soon
// as any argument is complex, a real operand taken as x + 0j, which is how
// numpy casts it for its complex loop. Only a quotient of two real arrays
// would differ (numpy divides those as reals), so a job with complex
// arguments declines when one of its quotients has two real operands.
static bool quotients_agree(const NativeCall& call, std::initializer_list<std::array<int, 2>> pairs) {
    if (!call.any_complex()) return true;
    for (auto [a, b] : pairs)
        if (!call.kind(a).complex && !call.kind(b).complex) return false;
    return true;
}

py::object vector_ratio(Name function, py::handle measured, py::handle actual) {
    return evaluate(
        function,
        [&] {
            NativeCall call;
            if (!call.vector(measured).vector(actual)) return py::object();
            call.result(numeric::vector_result(call.any_complex(), call.points()));
            return call.run(netparams::kernels().ratio);
        },
        [&] { return ratio(py::reinterpret_borrow<py::object>(measured), py::reinterpret_borrow<py::object>(actual)); });
}

static py::object get1PortResponseModel(const Call& c) {
    return vector_ratio(Name::get1PortResponseModel, c[1], c[0]);
}

static const Definition get1PortResponseModel_definition{
    Name::get1PortResponseModel, {.params = {"G", "Gm"}, .impl = get1PortResponseModel}};

static py::object get2PortResponseModel(const Call& c) {
    py::handle G1 = c[0], G1m = c[1], G2 = c[2], G2m = c[3], T = c[4], Tm = c[5];
    return evaluate(
        Name::get2PortResponseModel,
        [&] {
            NativeCall call;
            call.vector(G1).vector(G1m).vector(G2).vector(G2m).stack(T).stack(Tm);
            if (!call || !quotients_agree(call, {{1, 0}, {3, 2}, {5, 4}})) return py::object();
            call.result(numeric::stack_result(true, call.points()));
            return call.run(kernels().get2PortResponseModel);
        },
        [&] {
            py::object H = global(Name::np).attr("zeros")(T.attr("shape"), py::arg("dtype") = complex_type());
            H[py::make_tuple(full_slice(), 0, 0)] = global(Name::get1PortResponseModel)(G1, G1m);
            H[py::make_tuple(full_slice(), 1, 1)] = global(Name::get1PortResponseModel)(G2, G2m);
            py::object t01 = NumpyPath::at(Tm, 0, 1);
            H[py::make_tuple(full_slice(), 0, 1)] = ratio(t01, NumpyPath::at(T, 0, 1));
            py::object t10 = NumpyPath::at(Tm, 1, 0);
            H[py::make_tuple(full_slice(), 1, 0)] = ratio(t10, NumpyPath::at(T, 1, 0));
            return H;
        });
}

static const Definition get2PortResponseModel_definition{
    Name::get2PortResponseModel, {.params = {"G1", "G1m", "G2", "G2m", "T", "Tm"}, .impl = get2PortResponseModel}};

static py::object correctResponse(const Call& c) {
    return evaluate(
        Name::correctResponse,
        [&] {
            NativeCall call;
            if (!call.stack(c[0]).stack(c[1])) return py::object();
            // numpy lays the quotient out like its operands when they agree
            // (strides counted in elements: a real operand's are half as many bytes)
            const auto &Sm = call.arg(0), &H = call.arg(1);
            for (int i = 0; i < 3; ++i)
                if (Sm.stride[i] * (H.complex ? 2 : 1) != H.stride[i] * (Sm.complex ? 2 : 1)) return py::object();
            call.result(numeric::like(call.any_complex(), Sm));
            return call.run(kernels().correctResponse);
        },
        [&] { return ratio(py::reinterpret_borrow<py::object>(c[0]), py::reinterpret_borrow<py::object>(c[1])); });
}

static const Definition correctResponse_definition{
    Name::correctResponse, {.params = {"Sm", "H"}, .impl = correctResponse}};

}  // namespace hidden::calibration
