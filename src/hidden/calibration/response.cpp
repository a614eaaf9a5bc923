// Frequency-response models: one complex factor per measured quantity.
#include <algorithm>

#include "docs.hpp"
#include "kernels.hpp"
#include "netparams/kernels.hpp"
#include "paths.hpp"

namespace hidden::calibration {

py::object vector_ratio(py::handle measured, py::handle actual) {
    return evaluate(
        {Name::np},
        [&] {
            NativeCall call;
            if (!call.vector(measured).vector(actual) || !call.one_kind()) return py::object();
            call.result(numeric::vector_result(call.any_complex(), call.points()));
            return call.run(netparams::kernels().ratio);
        },
        [&] { return ratio(py::reinterpret_borrow<py::object>(measured), py::reinterpret_borrow<py::object>(actual)); });
}

static py::object get1PortResponseModel(const Call& c) { return vector_ratio(c[1], c[0]); }

static const Definition get1PortResponseModel_definition{
    {.name = "get1PortResponseModel", .line = 266, .params = {"G", "Gm"},
     .doc = get1PortResponseModel_doc, .impl = get1PortResponseModel}};

static py::object get2PortResponseModel(const Call& c) {
    py::handle G1 = c[0], G1m = c[1], G2 = c[2], G2m = c[3], T = c[4], Tm = c[5];
    return evaluate(
        {Name::np, Name::get1PortResponseModel},
        [&] {
            NativeCall call;
            call.vector(G1).vector(G1m).vector(G2).vector(G2m).stack(T).stack(Tm);
            if (!call || !call.one_kind()) return py::object();
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
    {.name = "get2PortResponseModel", .line = 277, .params = {"G1", "G1m", "G2", "G2m", "T", "Tm"},
     .doc = get2PortResponseModel_doc, .impl = get2PortResponseModel}};

static py::object correctResponse(const Call& c) {
    return evaluate(
        {Name::np},
        [&] {
            NativeCall call;
            if (!call.stack(c[0]).stack(c[1]) || !call.one_kind()) return py::object();
            // numpy lays the quotient out like its operands when they agree
            const auto& Sm = call.arg(0);
            if (!std::equal(Sm.stride, Sm.stride + 3, call.arg(1).stride)) return py::object();
            call.result(numeric::like(Sm.complex, Sm));
            return call.run(kernels().correctResponse);
        },
        [&] { return ratio(py::reinterpret_borrow<py::object>(c[0]), py::reinterpret_borrow<py::object>(c[1])); });
}

static const Definition correctResponse_definition{
    {.name = "correctResponse", .line = 297, .params = {"Sm", "H"}, .doc = correctResponse_doc,
     .impl = correctResponse}};

}  // namespace hidden::calibration
