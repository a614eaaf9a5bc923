// The operator dialogue: prompts that wait for Enter (or end the script on a
// quit answer), and prompted one- and two-port measurements.
#include "measure.hpp"
#include "runtime/defaults.hpp"

namespace hidden::measure {

static py::object userMsg(const Call& c) {
    py::object x = builtin_input()(c[0]);
    py::object lowered = x.attr("lower")();
    if (truth(lowered, Py_EQ, py::str("quit")) || truth(lowered, Py_EQ, py::str("q"))) {
        global(Name::sys).attr("exit")();
    }
    return x;
}

static const Definition userMsg_definition{Name::userMsg, {.form = Form::single, .params = {"msg"}, .impl = userMsg}};

// ">> Measure " + name + tail, with Python's own str concatenation.
static py::object prompt_text(py::handle name, py::handle tail) {
    py::object text = py::str(">> Measure ") + py::reinterpret_borrow<py::object>(name);
    return text + py::reinterpret_borrow<py::object>(tail);
}

static void recording_started() { builtin_print()("Recording...", py::arg("end") = ""); }
static void recording_done() {
    global(Name::beep)();
    builtin_print()("Done.\n");
}

py::dict transmitter_numbers(py::handle ports) {
    py::dict tx_nums;
    tx_nums[py::object(ports["Tx1"])] = 1;
    tx_nums[py::object(ports["Tx2"])] = 2;
    return tx_nums;
}

static py::object prompt1PortMeasure(const Call& c) {
    py::handle orvane = c[0], settings = c[1], ports = c[2], tx = c[3], name = c[4];
    py::object port_num = transmitter_numbers(ports)[tx];
    py::object text = prompt_text(name, py::str(" @ Port-"));
    text = text + py::str(port_num);
    text = text + py::str(": ");
    global(Name::userMsg)(text);
    recording_started();
    py::object rec = global(Name::measure1Port)(orvane, settings, tx);
    recording_done();
    return global(Name::ab2G)(rec, ports);
}

static const Definition prompt1PortMeasure_definition{
    Name::prompt1PortMeasure, {.params = {"orvane", "settings", "ports", "tx", "name"},
                               .defaults = {[]() -> py::object { return py::str(""); }}, .impl = prompt1PortMeasure}};

static py::object prompt2PortMeasure(const Call& c) {
    py::handle orvane = c[0], settings = c[1], ports = c[2], name = c[3], sw_corr = c[4];
    global(Name::userMsg)(prompt_text(name, py::str(": ")));
    recording_started();
    auto recs = unpack(global(Name::measure2Port)(orvane, settings, ports), 2);
    recording_done();
    const int corrected = PyObject_IsTrue(sw_corr.ptr());
    if (corrected < 0) throw py::error_already_set();
    return global(corrected ? Name::ab2S_SwitchCorrect : Name::ab2S)(recs[0], recs[1], ports);
}

static const Definition prompt2PortMeasure_definition{
    Name::prompt2PortMeasure, {.params = {"orvane", "settings", "ports", "name", "sw_corr"},
                               .defaults = {[]() -> py::object { return py::str("DUT"); }, defaults::true_},
                               .impl = prompt2PortMeasure}};

}  // namespace hidden::measure
