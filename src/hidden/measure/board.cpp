// Recordings through the board driver: one recording is always txtr, then
// ApplySettings, Record and GetRecordingResult.
#include "measure.hpp"

namespace hidden::measure {

static py::object record(py::handle orvane, py::handle settings, py::handle tx) {
    settings.attr("txtr") = tx;
    orvane.attr("ApplySettings")(settings);
    orvane.attr("Record")();
    return orvane.attr("GetRecordingResult")();
}

static py::object measure1Port(const Call& c) { return record(c[0], c[1], c[2]); }

static const Definition measure1Port_definition{
    Name::measure1Port, {.params = {"orvane", "settings", "tx"}, .impl = measure1Port}};

static py::object measure2Port(const Call& c) {
    py::handle orvane = c[0], settings = c[1], ports = c[2];
    py::object rec_tx1 = record(orvane, settings, py::object(ports["Tx1"]));
    py::object rec_tx2 = record(orvane, settings, py::object(ports["Tx2"]));
    return py::make_tuple(rec_tx1, rec_tx2);
}

static const Definition measure2Port_definition{
    Name::measure2Port, {.params = {"orvane", "settings", "ports"}, .impl = measure2Port}};

}  // namespace hidden::measure
