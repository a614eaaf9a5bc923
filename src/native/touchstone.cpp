// Touchstone 1.0 files of one and two ports, read and written natively for
// batch work: `# <unit> S <RI|MA|DB> R <z0>`, "!" comments, any spacing.
// Numbers go through std::from_chars / std::to_chars (exact, locale-free),
// and the GIL is released while a file is parsed or formatted.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <complex>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "native.hpp"

namespace orvane {
namespace {

// A malformed file: the message names the file and the line.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// Ports from the extension: .s1p, .S2P, ...
int ports_of(const std::string& path) {
    const auto dot = path.find_last_of('.');
    const std::string ext = dot == std::string::npos ? "" : upper(path.substr(dot + 1));
    if (ext.size() == 3 && ext[0] == 'S' && ext[2] == 'P' && (ext[1] == '1' || ext[1] == '2')) return ext[1] - '0';
    throw std::invalid_argument(path + ": not a .s1p or .s2p file (only one- and two-port Touchstone files are read)");
}

double unit_scale(const std::string& unit) {
    if (unit == "HZ") return 1.0;
    if (unit == "KHZ") return 1e3;
    if (unit == "MHZ") return 1e6;
    if (unit == "GHZ") return 1e9;
    return 0.0;
}

struct Parsed {
    std::vector<double> f;       // Hz
    std::vector<double> values;  // pairs per point, in file order
    double z0 = 50.0;
    int ports = 1;
};

// Splits `text` into numbers, line by line, with the option line read on the
// way. Every error names `path` and the line.
Parsed parse(const std::string& path, const std::string& text) {
    Parsed p;
    p.ports = ports_of(path);
    const int per_point = 1 + 2 * p.ports * p.ports;
    std::string format = "MA";
    double scale = 1e9;
    bool options_seen = false;
    std::vector<double> point;
    point.reserve(size_t(per_point));
    int point_line = 0;
    int line_no = 0;
    auto fail = [&](const std::string& what, int at = 0) -> FileError {
        return FileError(path + ", line " + std::to_string(at ? at : line_no) + ": " + what);
    };
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        ++line_no;
        std::string_view line(text.data() + pos, end - pos);
        pos = end + 1;
        if (const auto bang = line.find('!'); bang != std::string_view::npos) line = line.substr(0, bang);
        size_t i = 0;
        auto skip = [&] {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == ',')) ++i;
        };
        skip();
        if (i == line.size()) continue;
        if (line[i] == '[') throw fail("Touchstone 2.0 keywords are not read here; use readSnP");
        if (line[i] == '#') {
            if (options_seen) continue;  // only the first option line counts
            options_seen = true;
            std::istringstream words{std::string(line.substr(i + 1))};
            std::string w;
            while (words >> w) {
                w = upper(w);
                if (unit_scale(w) > 0) {
                    scale = unit_scale(w);
                } else if (w == "RI" || w == "MA" || w == "DB") {
                    format = w;
                } else if (w == "S") {
                } else if (w == "Y" || w == "Z" || w == "H" || w == "G") {
                    throw fail("only S-parameters are read, this file holds " + w + "-parameters");
                } else if (w == "R") {
                    std::string r;
                    if (!(words >> r)) throw fail("R without a reference impedance");
                    double z0 = 0;
                    const auto res = std::from_chars(r.data(), r.data() + r.size(), z0);
                    if (res.ec != std::errc() || res.ptr != r.data() + r.size() || !(z0 > 0))
                        throw fail("reference impedance '" + r + "' is not a positive number");
                    p.z0 = z0;
                } else {
                    throw fail("unknown option '" + w + "'");
                }
            }
            continue;
        }
        while (i < line.size()) {
            double x = 0;
            const char* first = line.data() + i;
            const char* last = line.data() + line.size();
            if (*first == '+') ++first;  // from_chars takes no leading plus
            const auto res = std::from_chars(first, last, x);
            if (res.ec != std::errc() || (res.ptr < last && !std::isspace(static_cast<unsigned char>(*res.ptr)) &&
                                          *res.ptr != ','))
                throw fail("'" + std::string(line.substr(i, line.find_first_of(" \t\r,", i) - i)) + "' is not a number");
            if (!std::isfinite(x)) throw fail("a value is not finite");
            i = size_t(res.ptr - line.data());
            if (point.empty()) point_line = line_no;
            point.push_back(x);
            if (int(point.size()) == per_point) {
                const double f = point[0] * scale;
                if (!p.f.empty() && !(f > p.f.back()))
                    throw fail("frequencies must increase (" + std::to_string(point[0]) + " follows a higher one)",
                               point_line);
                p.f.push_back(f);
                p.values.insert(p.values.end(), point.begin() + 1, point.end());
                point.clear();
            }
            skip();
        }
    }
    if (!point.empty())
        throw fail("incomplete point: " + std::to_string(point.size()) + " numbers where a " +
                       std::to_string(p.ports) + "-port file has " + std::to_string(per_point),
                   point_line);
    if (p.f.empty()) throw FileError(path + ": no data");
    // To complex values, in the file's format.
    constexpr double deg = 3.14159265358979323846 / 180.0;
    for (size_t k = 0; k < p.values.size(); k += 2) {
        double& a = p.values[k];
        double& b = p.values[k + 1];
        if (format == "RI") continue;
        const double mag = format == "DB" ? std::pow(10.0, a / 20.0) : a;
        const double angle = b * deg;
        a = mag * std::cos(angle);
        b = mag * std::sin(angle);
    }
    return p;
}

// The whole file, or the OSError naming it. Read to the end rather than
// sized by seeking: a directory or a pipe has no size to trust.
std::string read_file(const std::string& path) {
    std::string text;
    if (std::FILE* fp = std::fopen(path.c_str(), "rb")) {
        char chunk[1 << 16];
        for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, fp)) > 0;) text.append(chunk, got);
        const bool failed = std::ferror(fp) != 0;
        const int err = errno;
        std::fclose(fp);
        if (!failed) return text;
        errno = err;
    }
    py::gil_scoped_acquire locked;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

py::tuple read_touchstone(const std::string& path) {
    Parsed p;
    {
        py::gil_scoped_release unlocked;
        ports_of(path);  // the name first: no file is opened for an unreadable kind
        p = parse(path, read_file(path));
    }
    const auto n = py::ssize_t(p.f.size());
    py::array_t<double> f(n);
    std::copy(p.f.begin(), p.f.end(), f.mutable_data());
    py::array_t<std::complex<double>> s({n, py::ssize_t(p.ports), py::ssize_t(p.ports)});
    auto* out = s.mutable_data();
    const size_t per = size_t(p.ports * p.ports);
    for (size_t k = 0; k < size_t(n); ++k) {
        const double* v = p.values.data() + 2 * per * k;
        if (p.ports == 1) {
            out[k] = {v[0], v[1]};
        } else {  // the file's order is S11 S21 S12 S22
            out[4 * k + 0] = {v[0], v[1]};
            out[4 * k + 2] = {v[2], v[3]};
            out[4 * k + 1] = {v[4], v[5]};
            out[4 * k + 3] = {v[6], v[7]};
        }
    }
    return py::make_tuple(f, s, p.z0);
}

// Shortest text that reads back as the same double.
void append(std::string& out, double x) {
    char buf[32];
    const auto res = std::to_chars(buf, buf + sizeof buf, x);
    out.append(buf, res.ptr);
}

void write_touchstone(const std::string& path, py::array_t<double, py::array::c_style | py::array::forcecast> f,
                      py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast> s, double z0,
                      const std::string& unit, const std::string& comment) {
    const double scale = unit_scale(upper(unit));
    if (scale == 0) throw std::invalid_argument("unit must be Hz, kHz, MHz or GHz, not '" + unit + "'");
    if (f.ndim() != 1) throw std::invalid_argument("f must be one-dimensional");
    const py::ssize_t n = f.shape(0);
    if (s.ndim() != 3 || s.shape(0) != n || s.shape(1) != s.shape(2) || s.shape(1) < 1 || s.shape(1) > 2)
        throw std::invalid_argument("s must be [len(f), 1, 1] or [len(f), 2, 2]");
    if (!(z0 > 0)) throw std::invalid_argument("z0 must be positive");
    const int ports = int(s.shape(1));
    if (ports_of(path) != ports)
        throw std::invalid_argument(path + ": a " + std::to_string(ports) + "-port network goes into a .s" +
                                    std::to_string(ports) + "p file");
    const double* fd = f.data();
    const std::complex<double>* sd = s.data();
    std::string text;
    {
        py::gil_scoped_release unlocked;
        text.reserve(size_t(n) * (ports == 1 ? 72 : 216) + 128);
        if (!comment.empty()) {
            std::istringstream lines(comment);
            for (std::string line; std::getline(lines, line);) text += "! " + line + "\n";
        }
        text += "# " + unit + " S RI R ";
        append(text, z0);
        text += "\n";
        static const int order2[4] = {0, 2, 1, 3};  // S11 S21 S12 S22
        for (py::ssize_t k = 0; k < n; ++k) {
            append(text, fd[k] / scale);
            for (int c = 0; c < ports * ports; ++c) {
                const std::complex<double> v = sd[k * ports * ports + (ports == 1 ? 0 : order2[c])];
                text += ' ';
                append(text, v.real());
                text += ' ';
                append(text, v.imag());
            }
            text += '\n';
        }
    }
    // Written under a temporary name and renamed, so that no reader ever sees
    // half a file and a failure leaves nothing behind.
    const std::string temp = path + ".part";
    {
        py::gil_scoped_release unlocked;
        std::FILE* fp = std::fopen(temp.c_str(), "wb");
        bool ok = fp && std::fwrite(text.data(), 1, text.size(), fp) == text.size();
        if (fp) ok = std::fclose(fp) == 0 && ok;
        if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
        if (!ok) {
            const int err = errno;
            std::remove(temp.c_str());
            errno = err;
            py::gil_scoped_acquire locked;
            PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
            throw py::error_already_set();
        }
    }
}

}  // namespace

void register_touchstone(py::module_& m) {
    py::register_exception<FileError>(m, "TouchstoneError", PyExc_ValueError);
    m.def("read_touchstone", &read_touchstone, py::arg("path"),
          "read_touchstone(path) -> (f, s, z0)\n\n"
          "A one- or two-port Touchstone 1.0 file: frequencies in Hz [n], S-parameters\n"
          "complex128 [n, p, p] and the reference impedance. Raises TouchstoneError (a\n"
          "ValueError) naming the file and line of anything malformed.");
    m.def("write_touchstone", &write_touchstone, py::arg("path"), py::arg("f"), py::arg("s"), py::arg("z0") = 50.0,
          py::arg("unit") = "Hz", py::arg("comment") = "",
          "write_touchstone(path, f, s, z0=50.0, unit='Hz', comment='')\n\n"
          "Writes S-parameters [n, p, p] (p = 1 or 2) at frequencies f (Hz) as a Touchstone\n"
          "1.0 file in real/imaginary format, every value exact. The file appears whole\n"
          "or not at all (written under a temporary name, then renamed).");
}

}  // namespace orvane
