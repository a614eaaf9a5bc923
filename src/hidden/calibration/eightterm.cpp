// Eight-term models (known thru and unknown thru) and their correction.
#include "kernels.hpp"
#include "paths.hpp"

namespace hidden::calibration {

// A, B and q, each real or complex as numpy gives it (`kinds`), while the
// points are computed in complex arithmetic when any argument is complex.
static void eight_term_results(NativeCall& call, const std::array<Kind, 3>& kinds) {
    call.result(numeric::assembled(kinds[0].complex, call.points()));
    call.result(numeric::assembled(kinds[1].complex, call.points()));
    call.result(numeric::vector_result(kinds[2].complex, call.points()));
}

static NativeCall& take_solt(NativeCall& call, const Call& c) {
    return call.columns(c[0], 3).columns(c[1], 3).columns(c[2], 3).columns(c[3], 3);
}

static py::object get8TermModel(const Call& c) {
    return evaluate(
        Name::get8TermModel,
        [&] {
            NativeCall call;
            if (!take_solt(call, c).stack(c[4]).stack(c[5])) return py::object();
            CalKind k;
            eight_term_results(call, calibration::get8TermModel(k, call.kind(0), call.kind(1), call.kind(2),
                                                                call.kind(3), call.kind(4), call.kind(5)));
            return call.run(kernels().get8TermModel);
        },
        [&] {
            CalNumpy p;
            return calibration::get8TermModel(p, c[0], c[1], c[2], c[3], c[4], c[5]);
        });
}

static const Definition get8TermModel_definition{
    Name::get8TermModel, {.params = {"G1", "Gm1", "G2", "Gm2", "T", "Tm"}, .impl = get8TermModel}};

// A Python number the native path can use as a double without changing it.
static std::optional<double> exact_double(py::handle x) {
    if (PyFloat_CheckExact(x.ptr())) return PyFloat_AS_DOUBLE(x.ptr());
    if (PyLong_CheckExact(x.ptr())) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(x.ptr(), &overflow);
        if (!overflow && v > -(1ll << 53) && v < (1ll << 53)) return double(v);
    }
    return std::nullopt;
}

static py::object get8TermModelUThru(const Call& c) {
    return evaluate(
        Name::get8TermModelUThru,
        [&] {
            // The constants first: reading them may run Python code.
            const auto length = exact_double(c[6]);
            py::object light_obj = py::getattr(global(Name::sp).attr("constants"), "speed_of_light", py::none());
            const auto light = exact_double(light_obj);
            const auto pi = exact_double(global(Name::np).attr("pi"));
            if (!length || !light || !pi) return py::object();
            NativeCall call;
            if (!take_solt(call, c).stack(c[4]).real_vector(c[5])) return py::object();
            call.scalar(*length).scalar(*light).scalar(*pi);
            CalKind k;
            eight_term_results(call, calibration::get8TermModelUThru(k, call.kind(0), call.kind(1), call.kind(2),
                                                                     call.kind(3), call.kind(4), call.kind(5), *length,
                                                                     *light, *pi));
            return call.run(kernels().get8TermModelUThru);
        },
        [&] {
            CalNumpy p;
            // phys_length, speed_of_light and pi meet numpy through Python's own arithmetic.
            return calibration::get8TermModelUThru(p, c[0], c[1], c[2], c[3], c[4],
                                                   py::reinterpret_borrow<py::object>(c[5]),
                                                   py::reinterpret_borrow<py::object>(c[6]),
                                                   py::object(global(Name::sp).attr("constants").attr("speed_of_light")),
                                                   py::object(global(Name::np).attr("pi")));
        });
}

static const Definition get8TermModelUThru_definition{
    Name::get8TermModelUThru, {.params = {"G1", "Gm1", "G2", "Gm2", "Tm", "freq_vec", "phys_length"},
                               .defaults = {[]() -> py::object { return py::float_(0.05); }},
                               .impl = get8TermModelUThru}};

static py::object correct8Term(const Call& c) {
    return evaluate(
        Name::correct8Term,
        [&] {
            NativeCall call;
            if (!call.stack(c[0]).stack(c[1]).stack(c[2]).vector(c[3])) return py::object();
            call.result(numeric::assembled(call.any_complex(), call.points()));
            return call.run(kernels().correct8Term);
        },
        [&] {
            CalNumpy p;
            return calibration::correct8Term(p, c[0], c[1], c[2], c[3]);
        });
}

static const Definition correct8Term_definition{
    Name::correct8Term, {.params = {"Sm", "A", "B", "q"}, .impl = correct8Term}};

}  // namespace hidden::calibration
