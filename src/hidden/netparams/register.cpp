#include "docs.hpp"
#include "netparams.hpp"

namespace hidden {

void register_netparams(Registry& r) {
    using namespace netparams;
    r.push_back({"S2T", 116, Form::single, {"S"}, {}, false, S2T_doc, S2T});
    r.push_back({"T2S", 126, Form::single, {"T"}, {}, false, T2S_doc, T2S});
    r.push_back({"ab2G", 152, Form::normal, {"rec", "ports"}, {}, false, ab2G_doc, ab2G});
    r.push_back({"ab2S_SwitchCorrect", 200, Form::normal, {"rec_tx1", "rec_tx2", "ports"}, {}, false,
                 ab2S_SwitchCorrect_doc, ab2S_SwitchCorrect});
    r.push_back({"ab2S", 227, Form::normal, {"rec_tx1", "rec_tx2", "ports"}, {}, false, ab2S_doc, ab2S});
    r.push_back({"getIdealSparams", 243, Form::single, {"num_pts"}, {}, false, getIdealSparams_doc, getIdealSparams});
}

}  // namespace hidden
