#include "calibration.hpp"
#include "docs.hpp"
#include "shell/defaults.hpp"

namespace hidden {

void register_calibration(Registry& r) {
    using namespace calibration;
    const std::vector<const char*> solt = {"G1", "Gm1", "G2", "Gm2", "T", "Tm"};
    r.push_back({"get1PortResponseModel", 266, Form::normal, {"G", "Gm"}, {}, false, get1PortResponseModel_doc, get1PortResponseModel});
    r.push_back({"get2PortResponseModel", 277, Form::normal, {"G1", "G1m", "G2", "G2m", "T", "Tm"}, {}, false,
                 get2PortResponseModel_doc, get2PortResponseModel});
    r.push_back({"correctResponse", 297, Form::normal, {"Sm", "H"}, {}, false, correctResponse_doc, correctResponse});
    r.push_back({"get1PortModel", 354, Form::normal, {"G", "Gm"}, {}, false, get1PortModel_doc, get1PortModel});
    r.push_back({"correct1Port", 373, Form::normal, {"Gm", "err_terms"}, {}, false, correct1Port_doc, correct1Port});
    r.push_back({"get8TermModel", 434, Form::normal, solt, {}, false, get8TermModel_doc, get8TermModel});
    r.push_back({"get8TermModelUThru", 463, Form::normal, {"G1", "Gm1", "G2", "Gm2", "Tm", "freq_vec", "phys_length"},
                 {[]() -> py::object { return py::float_(0.05); }}, false, get8TermModelUThru_doc, get8TermModelUThru});
    r.push_back({"correct8Term", 499, Form::normal, {"Sm", "A", "B", "q"}, {}, false, correct8Term_doc, correct8Term});
    r.push_back({"get12TermModel", 515, Form::normal, {"G1", "Gm1", "G2", "Gm2", "T", "Tm", "isolation"},
                 {defaults::none}, false, get12TermModel_doc, get12TermModel});
    r.push_back({"correct12Term", 555, Form::normal, {"Sm", "fwd_terms", "rev_terms"}, {}, true, correct12Term_doc,
                 correct12Term});
    r.push_back({"deEmbed", 578, Form::normal, {"S_A_DUT_B", "S_A", "S_B"},
                 {defaults::empty_list, defaults::empty_list}, false, deEmbed_doc, deEmbed});
    r.push_back({"getPortExtModel", 614, Form::normal, {"gamma", "gamma_listed"}, {}, false, getPortExtModel_doc,
                 getPortExtModel});
    r.push_back({"correctPortExt", 625, Form::normal, {"S_ext_dut", "e10e01", "port_num"}, {}, false,
                 correctPortExt_doc, correctPortExt});
}

}  // namespace hidden
