// deEmbed: removes known adapters from either side of a two-port measurement.
#include "kernels.hpp"
#include "paths.hpp"
#include "runtime/defaults.hpp"

namespace hidden::calibration {

static py::object deEmbed(const Call& c) {
    py::handle S_A_DUT_B = c[0];
    py::object np = global(Name::np);
    py::object num_pts = np.attr("shape")(S_A_DUT_B)[py::int_(0)];
    py::int_ zero(0), one(1);
    py::list thru = list_of({list_of({zero, one}), list_of({one, zero})});
    py::object ideal_thru = global(Name::np).attr("tile")(thru, py::make_tuple(num_pts, 1, 1));
    py::object ndarray = global(Name::np).attr("ndarray");
    auto adapter = [&](py::handle s) -> py::object {
        // No adapter on this side unless it is exactly a numpy array.
        if (truth(py::handle(reinterpret_cast<PyObject*>(Py_TYPE(s.ptr()))), Py_EQ, ndarray))
            return py::reinterpret_borrow<py::object>(s);
        return ideal_thru;
    };
    py::object S_A = adapter(c[1]);
    py::object S_B = adapter(c[2]);
    return evaluate(
        Name::deEmbed,
        [&] {
            const bool has_a = !S_A.is(ideal_thru), has_b = !S_B.is(ideal_thru);
            NativeCall call;
            call.stack(S_A_DUT_B).stack(has_a ? S_A : S_A_DUT_B).stack(has_b ? S_B : S_A_DUT_B);
            if (!call) return py::object();
            call.flag(has_a).flag(has_b);
            call.result(numeric::assembled(call.any_complex(), call.points()));
            return call.run(kernels().deEmbed);
        },
        [&] {
            CalNumpy p;
            return calibration::deEmbed(p, S_A_DUT_B, S_A, S_B);
        });
}

static const Definition deEmbed_definition{
    Name::deEmbed, {.params = {"S_A_DUT_B", "S_A", "S_B"}, .defaults = {defaults::empty_list, defaults::empty_list},
                    .impl = deEmbed}};

}  // namespace hidden::calibration
