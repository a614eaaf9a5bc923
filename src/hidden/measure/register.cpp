#include "docs.hpp"
#include "measure.hpp"
#include "shell/defaults.hpp"

namespace hidden {

void register_measure(Registry& r) {
    using namespace measure;
    // The shell sets beep's line and drops its docstring off Windows.
    r.push_back({"beep", 23, Form::none, {}, {}, false, beep_doc, beep});
    r.push_back({"userMsg", 31, Form::single, {"msg"}, {}, false, userMsg_doc, userMsg});
    r.push_back({"measure1Port", 136, Form::normal, {"orvane", "settings", "tx"}, {}, false, measure1Port_doc, measure1Port});
    r.push_back({"measure2Port", 174, Form::normal, {"orvane", "settings", "ports"}, {}, false, measure2Port_doc,
                 measure2Port});
    r.push_back({"prompt1PortMeasure", 308, Form::normal, {"orvane", "settings", "ports", "tx", "name"},
                 {[]() -> py::object { return py::str(""); }}, false, prompt1PortMeasure_doc, prompt1PortMeasure});
    r.push_back({"prompt2PortMeasure", 331, Form::normal, {"orvane", "settings", "ports", "name", "sw_corr"},
                 {[]() -> py::object { return py::str("DUT"); }, defaults::true_}, false, prompt2PortMeasure_doc,
                 prompt2PortMeasure});
    r.push_back({"prompt1PortSOL", 387, Form::normal, {"orvane", "settings", "ports", "tx"}, {}, false,
                 prompt1PortSOL_doc, prompt1PortSOL});
    r.push_back({"prompt2PortSOLT", 409, Form::normal, {"orvane", "settings", "ports", "isolation", "sw_corr"},
                 {defaults::false_, defaults::true_}, false, prompt2PortSOLT_doc, prompt2PortSOLT});
}

}  // namespace hidden
