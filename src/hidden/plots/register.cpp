#include "docs.hpp"
#include "plots.hpp"
#include "shell/defaults.hpp"

namespace hidden {

void register_plots(Registry& r) {
    using namespace plots;
    const std::vector<const char*> params = {"freq_vec", "S_array", "title_array", "settings_str"};
    r.push_back({"plotCompareDb", 655, Form::normal, params, {defaults::none}, false, plotCompareDb_doc, plotCompareDb});
    r.push_back({"plotCompareDeg", 675, Form::normal, params, {defaults::none}, false, plotCompareDeg_doc, plotCompareDeg});
    r.push_back({"plotCompareDbDeg", 695, Form::normal, params, {defaults::none}, false, plotCompareDbDeg_doc,
                 plotCompareDbDeg});
}

}  // namespace hidden
