// Calibration-standard sequences: Open, Short, Load on each port, the thru and
// optionally the isolation, in the order the error-model builders take them.
#include "measure.hpp"
#include "runtime/defaults.hpp"

namespace hidden::measure {

static py::object prompt1PortSOL(const Call& c) {
    py::handle orvane = c[0], settings = c[1], ports = c[2], tx = c[3];
    transmitter_numbers(ports)[tx];  // validates tx before anything is asked
    py::object N = settings.attr("freqRange").attr("numFreqPoints");
    py::object Gm = global(Name::np).attr("zeros")(py::make_tuple(N, 3), py::arg("dtype") = complex_type());
    py::handle all = full_slice();
    const char* standards[] = {"OPEN", "SHORT", "LOAD"};
    for (int i = 0; i < 3; ++i)
        Gm[py::make_tuple(all, i)] = global(Name::prompt1PortMeasure)(orvane, settings, ports, tx, standards[i]);
    return Gm;
}

static const Definition prompt1PortSOL_definition{
    Name::prompt1PortSOL, {.params = {"orvane", "settings", "ports", "tx"}, .impl = prompt1PortSOL}};

static py::object prompt2PortSOLT(const Call& c) {
    py::handle orvane = c[0], settings = c[1], ports = c[2], isolation = c[3], sw_corr = c[4];
    py::object Gm1 = global(Name::prompt1PortSOL)(orvane, settings, ports, py::object(ports["Tx1"]));
    builtin_print()("-- Switch to Port-2 --\n");
    py::object Gm2 = global(Name::prompt1PortSOL)(orvane, settings, ports, py::object(ports["Tx2"]));
    py::object Tm = global(Name::prompt2PortMeasure)(orvane, settings, ports, "THRU", sw_corr);
    const int with_isolation = PyObject_IsTrue(isolation.ptr());
    if (with_isolation < 0) throw py::error_already_set();
    if (with_isolation) {
        py::object Im = global(Name::prompt2PortMeasure)(orvane, settings, ports, "ISOLATION", sw_corr);
        return py::make_tuple(Gm1, Gm2, Tm, Im);
    }
    return py::make_tuple(Gm1, Gm2, Tm);
}

static const Definition prompt2PortSOLT_definition{
    Name::prompt2PortSOLT, {.params = {"orvane", "settings", "ports", "isolation", "sw_corr"},
                            .defaults = {defaults::false_, defaults::true_}, .impl = prompt2PortSOLT}};

}  // namespace hidden::measure
