// Comparison plots: one scikit-rf network per stack, all drawn in one figure.
#include "runtime/defaults.hpp"
#include "shell/module.hpp"

namespace hidden::plots {

namespace {

enum class Kind { db, deg, both };

py::object compare(const Call& c, Kind kind) {
    py::handle freq_vec = c[0], S_array = c[1], title_array = c[2], settings_str = c[3];
    const Py_ssize_t count = py::len(S_array);
    py::object n = py::int_(count);
    py::object figure = global(Name::plt).attr("subplots")(kind == Kind::both ? 2 : 1, n);
    auto fig_axes = unpack(figure, 2);
    py::object axes = fig_axes[1];
    // One column: subplots gives a single Axes (or a 1-D pair for two rows)
    // instead of a grid; index it as the one column it is.
    const bool one_column = count == 1;
    auto cell = [&](int row, py::handle i) -> py::object {
        if (!one_column) return kind == Kind::both ? axes[py::make_tuple(row, i)] : axes[i];
        return kind == Kind::both ? axes[py::int_(row)] : axes;
    };
    for (auto i : builtin_range()(n)) {
        py::object DUT = global(Name::rf).attr("Network")(py::arg("s") = S_array[i], py::arg("f") = freq_vec,
                                                          py::arg("z0") = 50, py::arg("f_unit") = "MHz");
        py::object title = title_array[i];
        if (kind == Kind::both) {
            DUT.attr("plot_s_db")(py::arg("ax") = cell(0, i));
            DUT.attr("plot_s_deg_unwrap")(py::arg("ax") = cell(1, i));
            cell(0, i).attr("set_title")(py::str("Mag: ") + title);
            cell(1, i).attr("set_title")(py::str("Phase: ") + title_array[i]);
        } else {
            DUT.attr(kind == Kind::db ? "plot_s_db" : "plot_s_deg_unwrap")(py::arg("ax") = cell(0, i));
            cell(0, i).attr("set_title")(title);
        }
    }
    if (!settings_str.is_none()) global(Name::plt).attr("suptitle")(settings_str);
    global(Name::plt).attr("show")();
    return py::none();
}

}  // namespace

static py::object plotCompareDb(const Call& c) { return compare(c, Kind::db); }

static const Definition plotCompareDb_definition{
    Name::plotCompareDb, {.params = {"freq_vec", "S_array", "title_array", "settings_str"},
                          .defaults = {defaults::none}, .impl = plotCompareDb}};
static py::object plotCompareDeg(const Call& c) { return compare(c, Kind::deg); }

static const Definition plotCompareDeg_definition{
    Name::plotCompareDeg, {.params = {"freq_vec", "S_array", "title_array", "settings_str"},
                           .defaults = {defaults::none}, .impl = plotCompareDeg}};
static py::object plotCompareDbDeg(const Call& c) { return compare(c, Kind::both); }

static const Definition plotCompareDbDeg_definition{
    Name::plotCompareDbDeg, {.params = {"freq_vec", "S_array", "title_array", "settings_str"},
                             .defaults = {defaults::none}, .impl = plotCompareDbDeg}};

}  // namespace hidden::plots
