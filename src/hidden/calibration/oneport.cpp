// get1PortModel and correct1Port: the three-term model of one port.
#include "kernels.hpp"
#include "paths.hpp"

namespace hidden::calibration {

static py::object get1PortModel(const Call& c) {
    return evaluate(
        Name::get1PortModel,
        [&] {
            NativeCall call;
            if (!call.columns(c[0], 3).columns(c[1], 3)) return py::object();
            call.result(numeric::dense(call.any_complex(), call.points(), 3));
            return call.run(kernels().get1PortModel);
        },
        [&] {
            CalNumpy p;
            return calibration::get1PortModel(p, c[0], c[1]);
        });
}

static const Definition get1PortModel_definition{Name::get1PortModel, {.params = {"G", "Gm"}, .impl = get1PortModel}};

static py::object correct1Port(const Call& c) {
    return evaluate(
        Name::correct1Port,
        [&] {
            NativeCall call;
            if (!call.vector(c[0]).columns(c[1], 3) || !call.one_kind()) return py::object();
            call.result(numeric::vector_result(call.any_complex(), call.points()));
            return call.run(kernels().correct1Port);
        },
        [&] {
            CalNumpy p;
            return calibration::correct1Port(p, c[0], c[1]);
        });
}

static const Definition correct1Port_definition{
    Name::correct1Port, {.params = {"Gm", "err_terms"}, .impl = correct1Port}};

}  // namespace hidden::calibration
