// Touchstone files read and written natively (see touchstone.hpp): the
// bindings. The GIL is released while a file is read and parsed or
// formatted and written.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <complex>
#include <cstring>
#include <stdexcept>
#include <string>

#include "files.hpp"
#include "native.hpp"
#include "touchstone.hpp"

namespace orvane {
namespace {

namespace ts = touchstone;

[[noreturn]] void raise_os_error(int err, const std::string& path) {
    errno = err;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

ts::Network read_network(const std::string& path, bool header_only) {
    ts::Network net;
    int err = 0;
    std::string refused;
    {
        py::gil_scoped_release unlocked;
        FileText file = read_regular_file(path, ts::kMaxFileSize);
        err = file.err;
        refused = file.refused;
        if (!err && refused.empty()) net = ts::parse(path, file.text, header_only);
    }
    if (err) raise_os_error(err, path);
    if (!refused.empty()) throw ts::FileError(path + ": " + refused);
    return net;
}

py::array_t<double> vector_array(const std::vector<double>& v) {
    py::array_t<double> out(py::ssize_t(v.size()));
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

py::array_t<std::complex<double>> complex_array(const std::vector<ts::cplx>& v, std::vector<py::ssize_t> shape) {
    py::array_t<std::complex<double>> out(shape);
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

py::tuple read_touchstone(const std::string& path) {
    FpHold hold;
    const ts::Network net = read_network(path, false);
    const auto n = py::ssize_t(net.f.size()), p = py::ssize_t(net.ports);
    return py::make_tuple(vector_array(net.f), complex_array(net.s, {n, p, p}), vector_array(net.z0));
}

py::dict read_touchstone_data(const std::string& path) {
    FpHold hold;
    const ts::Network net = read_network(path, false);
    const auto n = py::ssize_t(net.f.size()), p = py::ssize_t(net.ports);
    static const char* formats[] = {"RI", "MA", "DB"};
    py::dict out;
    out["f"] = vector_array(net.f);
    out["s"] = complex_array(net.s, {n, p, p});
    out["z0"] = vector_array(net.z0);
    out["parameter"] = std::string(1, ts::parameter_letter(net.parameter));
    out["version"] = net.version;
    out["format"] = formats[int(net.format)];
    out["unit"] = net.unit;
    out["comments"] = net.comments;
    if (net.has_noise) {
        py::dict noise;
        noise["f"] = vector_array(net.noise.f);
        noise["nfmin_db"] = vector_array(net.noise.nfmin_db);
        noise["gamma_opt"] = complex_array(net.noise.gamma_opt, {py::ssize_t(net.noise.f.size())});
        noise["rn"] = vector_array(net.noise.rn);
        out["noise"] = noise;
    } else {
        out["noise"] = py::none();
    }
    return out;
}

py::tuple read_touchstone_header(const std::string& path) {
    FpHold hold;
    const ts::Network net = read_network(path, true);
    return py::make_tuple(net.ports, net.version);
}

std::string lowered(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

using real_array = py::array_t<double, py::array::c_style | py::array::forcecast>;
using complex_input = py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast>;

void write_touchstone(const std::string& path, real_array f, complex_input s, real_array z0, const std::string& unit,
                      const std::string& comment, const std::string& version, const std::string& parameter,
                      const std::string& format, const std::string& matrix_format, py::object noise_f,
                      py::object noise_nfmin_db, py::object noise_gamma_opt, py::object noise_rn) {
    FpHold hold;
    ts::Network net;
    if (f.ndim() != 1) throw std::invalid_argument("f must be one-dimensional");
    const py::ssize_t n = f.shape(0);
    if (n < 1) throw std::invalid_argument("f: no frequencies (a Touchstone file holds at least one point)");
    if (s.ndim() != 3 || s.shape(0) != n || s.shape(1) != s.shape(2) || s.shape(1) < 1)
        throw std::invalid_argument("s must be [len(f), p, p] (or [len(f)] for a one-port)");
    if (s.shape(1) > ts::kMaxPorts)
        throw std::invalid_argument("s: more than " + std::to_string(ts::kMaxPorts) + " ports");
    net.ports = int(s.shape(1));
    const std::string kind = lowered(parameter), form = lowered(format), layout = lowered(matrix_format);
    if (kind.size() != 1 || !std::strchr("syzhg", kind[0]))
        throw std::invalid_argument("parameter must be 'S', 'Y', 'Z', 'H' or 'G', not '" + ts::shown(parameter) + "'");
    net.parameter = kind == "s" ? ts::Parameter::S : kind == "y" ? ts::Parameter::Y : kind == "z" ? ts::Parameter::Z
                  : kind == "h" ? ts::Parameter::H : ts::Parameter::G;
    if (form != "ri" && form != "ma" && form != "db")
        throw std::invalid_argument("format must be 'RI', 'MA' or 'DB', not '" + ts::shown(format) + "'");
    net.format = form == "ri" ? ts::Format::RI : form == "ma" ? ts::Format::MA : ts::Format::DB;
    if (layout != "full" && layout != "lower" && layout != "upper")
        throw std::invalid_argument("matrix_format must be 'Full', 'Lower' or 'Upper', not '" +
                                    ts::shown(matrix_format) + "'");
    if (z0.ndim() > 1 || (z0.ndim() == 1 && z0.shape(0) != 1 && z0.shape(0) != net.ports))
        throw std::invalid_argument("z0 must be one impedance, or one per port (" + std::to_string(net.ports) + ")");
    const double* zd = z0.data();
    net.z0.assign(size_t(net.ports), zd[0]);
    if (z0.ndim() == 1 && z0.shape(0) == net.ports) net.z0.assign(zd, zd + net.ports);
    net.version = version;
    net.unit = unit;
    net.comments = comment;
    net.f.assign(f.data(), f.data() + n);
    net.s.assign(s.data(), s.data() + n * py::ssize_t(net.ports) * net.ports);
    if (!noise_f.is_none()) {
        const auto nf = real_array::ensure(noise_f), nmin = real_array::ensure(noise_nfmin_db),
                   nrn = real_array::ensure(noise_rn);
        const auto ngamma = complex_input::ensure(noise_gamma_opt);
        if (!nf || !nmin || !nrn || !ngamma || nf.ndim() != 1 || nmin.ndim() != 1 || nrn.ndim() != 1 ||
            ngamma.ndim() != 1)
            throw std::invalid_argument("noise: f, nfmin_db, gamma_opt and rn must be one-dimensional arrays");
        net.has_noise = true;
        net.noise.f.assign(nf.data(), nf.data() + nf.shape(0));
        net.noise.nfmin_db.assign(nmin.data(), nmin.data() + nmin.shape(0));
        net.noise.rn.assign(nrn.data(), nrn.data() + nrn.shape(0));
        net.noise.gamma_opt.assign(ngamma.data(), ngamma.data() + ngamma.shape(0));
    }
    int err = 0;
    {
        py::gil_scoped_release unlocked;
        const std::string text = ts::format_file(path, net, layout == "lower", layout == "upper");
        err = write_whole(path, text);
    }
    if (err) raise_os_error(err, path);
}

}  // namespace

void register_touchstone(py::module_& m) {
    py::register_exception<ts::FileError>(m, "TouchstoneError", PyExc_ValueError);
    m.def("read_touchstone", &read_touchstone, py::arg("path"),
          "read_touchstone(path) -> (f, s, z0)\n\n"
          "A Touchstone file of version 1.0, 1.1, 2.0 or 2.1 and any port count: frequencies\n"
          "in Hz [n], S-parameters complex128 [n, p, p] (Y, Z, H and G parameters converted)\n"
          "and the reference impedance of each port [p]. Raises TouchstoneError (a\n"
          "ValueError) naming the file and line of anything malformed or not finite, and\n"
          "naming the file when it is not a regular file or larger than 256 MiB.");
    m.def("read_touchstone_data", &read_touchstone_data, py::arg("path"),
          "read_touchstone_data(path) -> dict\n\n"
          "Everything read_touchstone reads, and the parameter kind, version, format and\n"
          "frequency unit as written, the comment lines and the noise data (or None).");
    m.def("read_touchstone_header", &read_touchstone_header, py::arg("path"),
          "read_touchstone_header(path) -> (ports, version)\n\n"
          "The port count and version of a Touchstone file, from its header alone.");
    m.def("write_touchstone", &write_touchstone, py::arg("path"), py::arg("f"), py::arg("s"), py::arg("z0") = 50.0,
          py::arg("unit") = "Hz", py::arg("comment") = "", py::arg("version") = "1.1", py::arg("parameter") = "S",
          py::arg("format") = "RI", py::arg("matrix_format") = "Full", py::arg("noise_f") = py::none(),
          py::arg("noise_nfmin_db") = py::none(), py::arg("noise_gamma_opt") = py::none(),
          py::arg("noise_rn") = py::none(),
          "write_touchstone(path, f, s, z0=50.0, unit='Hz', comment='', version='1.1', parameter='S',\n"
          "                 format='RI', matrix_format='Full', noise_f=None, noise_nfmin_db=None,\n"
          "                 noise_gamma_opt=None, noise_rn=None)\n\n"
          "Writes S-parameters [n, p, p] at frequencies f (Hz) as a Touchstone file of the\n"
          "given version, as S, Y, Z, H or G parameters in RI, MA or DB format (RI: every\n"
          "value exact). Refuses (ValueError, naming the argument) what read_touchstone would\n"
          "refuse or could not read back as given. The file appears whole or not at all:\n"
          "written under a unique temporary name in its folder, then renamed (not fsynced:\n"
          "batch outputs can be made again from their sources).");
}

}  // namespace orvane
