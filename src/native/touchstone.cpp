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
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "files.hpp"
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

// Larger than any Touchstone file of one or two ports (a million points of
// two-port data is about 150 MiB of text).
constexpr std::size_t kMaxFileSize = std::size_t(256) << 20;

// A token for a message: printable ASCII as it is, any other byte as \xNN
// (the message must be valid text whatever the file holds), long ones cut.
std::string shown(std::string_view s) {
    std::string out;
    for (size_t i = 0; i < s.size() && i < 40; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x7f) {
            out += char(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    if (s.size() > 40) out += "...";
    return out;
}

std::string shortest(double x) {
    char buf[32];
    return std::string(buf, std::to_chars(buf, buf + sizeof buf, x).ptr);
}

enum class Number { ok, bad, out_of_range };

// One whole token as a double: from_chars's grammar with an optional leading
// plus (but not "+-1").
Number read_number(std::string_view t, double& x) {
    const char* first = t.data();
    const char* last = first + t.size();
    if (first < last && *first == '+') {
        ++first;
        if (first < last && *first == '-') return Number::bad;
    }
    const auto res = std::from_chars(first, last, x);
    if (res.ec == std::errc::result_out_of_range && res.ptr == last) return Number::out_of_range;
    return res.ec == std::errc() && res.ptr == last ? Number::ok : Number::bad;
}

// The number at line[i] up to the next separator (space, tab, comma) or the
// line's end: its end, or npos if it is not one whole number.
size_t read_token(std::string_view line, size_t i, double& x) {
    const char* first = line.data() + i;
    const char* last = line.data() + line.size();
    if (*first == '+') {
        ++first;
        if (first < last && *first == '-') return std::string_view::npos;
    }
    const auto res = std::from_chars(first, last, x);
    if (res.ec != std::errc() || (res.ptr < last && *res.ptr != ' ' && *res.ptr != '\t' && *res.ptr != ','))
        return std::string_view::npos;
    return size_t(res.ptr - line.data());
}

const char* parameter_name(int ports, size_t pair) {
    static const char* two[4] = {"S11", "S21", "S12", "S22"};
    return ports == 1 ? "S11" : two[pair];
}

// Reads `text` line by line: the option line first, then one frequency point
// a line (one- and two-port files hold a point on one line). Lines end in LF,
// CR LF or CR alone. Every value is checked finite as read and as converted
// to Hz and real/imaginary pairs; every error names `path` and the line.
Parsed parse(const std::string& path, std::string_view text) {
    Parsed p;
    p.ports = ports_of(path);
    const size_t per_point = size_t(1 + 2 * p.ports * p.ports);
    std::string format = "MA", unit = "GHz";
    enum { ri, ma, db } form = ma;
    double scale = 1e9;
    bool options_seen = false;
    int first_data_line = 0;
    std::vector<double> point;
    point.reserve(per_point);
    int line_no = 0;
    auto fail = [&](const std::string& what) -> FileError {
        return FileError(path + ", line " + std::to_string(line_no) + ": " + what);
    };
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);  // a UTF-8 byte-order mark
    // about 20 characters a number
    p.f.reserve(text.size() / (20 * per_point) + 1);
    p.values.reserve(text.size() / 20 + 1);
    size_t pos = 0;
    while (pos < text.size()) {
        // the line ends at LF or at CR (alone or before LF), whichever comes first: memchr both
        const char* start = text.data() + pos;
        const size_t rest = text.size() - pos;
        const void* lf = std::memchr(start, '\n', rest);
        const size_t span = lf ? size_t(static_cast<const char*>(lf) - start) : rest;
        const void* cr = std::memchr(start, '\r', span);
        const size_t end = pos + (cr ? size_t(static_cast<const char*>(cr) - start) : span);
        ++line_no;
        std::string_view line = text.substr(pos, end - pos);
        pos = end + (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n' ? 2 : 1);
        if (const auto bang = line.find('!'); bang != std::string_view::npos) line = line.substr(0, bang);
        size_t i = 0;
        auto skip = [&] {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == ',')) ++i;
        };
        skip();
        if (i == line.size()) continue;
        if (line[i] == '[') throw fail("Touchstone 2.0 keywords are not read here; use readSnP");
        if (line[i] == '#') {
            if (options_seen) continue;  // only the first option line counts
            if (first_data_line)
                throw fail("the option line follows data (from line " + std::to_string(first_data_line) +
                           "); it must come before the data");
            options_seen = true;
            std::istringstream words{std::string(line.substr(i + 1))};
            std::string w;
            while (words >> w) {
                const std::string word = w;
                w = upper(w);
                if (unit_scale(w) > 0) {
                    scale = unit_scale(w);
                    unit = word;
                } else if (w == "RI" || w == "MA" || w == "DB") {
                    format = w;
                    form = w == "RI" ? ri : w == "MA" ? ma : db;
                } else if (w == "S") {
                } else if (w == "Y" || w == "Z" || w == "H" || w == "G") {
                    throw fail("only S-parameters are read, this file holds " + w + "-parameters");
                } else if (w == "R") {
                    std::string r;
                    if (!(words >> r)) throw fail("R without a reference impedance");
                    double z0 = 0;
                    if (read_number(r, z0) != Number::ok || !std::isfinite(z0) || !(z0 > 0))
                        throw fail("reference impedance '" + shown(r) + "' is not a positive number");
                    p.z0 = z0;
                } else {
                    throw fail("unknown option '" + shown(word) + "'");
                }
            }
            continue;
        }
        if (!first_data_line) first_data_line = line_no;
        point.clear();
        std::string_view first_token;
        while (i < line.size()) {
            double x = 0;
            const size_t stop = read_token(line, i, x);
            if (stop == std::string_view::npos) {
                const std::string_view token = line.substr(i, std::min(line.find_first_of(" \t,", i), line.size()) - i);
                double y = 0;
                if (read_number(token, y) == Number::out_of_range)
                    throw fail("'" + shown(token) + "' is out of the range of numbers read");
                throw fail("'" + shown(token) + "' is not a number");
            }
            if (!std::isfinite(x)) throw fail("a value is not finite ('" + shown(line.substr(i, stop - i)) + "')");
            if (point.empty()) first_token = line.substr(i, stop - i);
            point.push_back(x);
            i = stop;
            skip();
        }
        const size_t count = point.size();
        if (count != per_point) {
            const std::string ports = std::to_string(p.ports);
            for (int q = 1; q <= 2; ++q)
                if (q != p.ports && count == size_t(1 + 2 * q * q))
                    throw fail(std::to_string(count) + " numbers where a .s" + ports + "p file has " +
                               std::to_string(per_point) + ": this is " + std::to_string(q) +
                               "-port data, which belongs in a .s" + std::to_string(q) + "p file");
            if (count < per_point)
                throw fail("incomplete point: " + std::to_string(count) + " numbers where a " + ports +
                           "-port file has " + std::to_string(per_point));
            throw fail(std::to_string(count) + " numbers where a " + ports + "-port file has " +
                       std::to_string(per_point) + " (one frequency a line)");
        }
        const double f = point[0] * scale;
        if (!std::isfinite(f)) throw fail("frequency " + shown(first_token) + " " + unit + " is out of range");
        if (!p.f.empty() && !(f > p.f.back()))
            throw fail("frequencies must increase (" + shown(first_token) + " follows a higher one)");
        p.f.push_back(f);
        // To real/imaginary pairs, in the file's format.
        constexpr double deg = 3.14159265358979323846 / 180.0;
        for (size_t k = 1; k < per_point; k += 2) {
            double a = point[k], b = point[k + 1];
            if (form != ri) {
                const double mag = form == db ? std::pow(10.0, a / 20.0) : a;
                const double angle = b * deg;
                a = mag * std::cos(angle);
                b = mag * std::sin(angle);
            }
            if (!std::isfinite(a) || !std::isfinite(b))
                throw fail(std::string("a value is not finite once read as ") + format + ": " +
                           parameter_name(p.ports, k / 2) + " (" + shortest(point[k]) + ", " +
                           shortest(point[k + 1]) + ")");
            p.values.push_back(a);
            p.values.push_back(b);
        }
    }
    if (p.f.empty()) throw FileError(path + ": no data");
    return p;
}

[[noreturn]] void raise_os_error(int err, const std::string& path) {
    errno = err;
    PyErr_SetFromErrnoWithFilename(PyExc_OSError, path.c_str());
    throw py::error_already_set();
}

py::tuple read_touchstone(const std::string& path) {
    FpHold hold;
    Parsed p;
    int err = 0;
    std::string refused;
    {
        py::gil_scoped_release unlocked;
        ports_of(path);  // the name first: no file is opened for an unreadable kind
        FileText file = read_regular_file(path, kMaxFileSize);
        err = file.err;
        refused = file.refused;
        if (!err && refused.empty()) p = parse(path, file.text);
    }
    if (err) raise_os_error(err, path);
    if (!refused.empty()) throw FileError(path + ": " + refused);
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

// The comment's lines, split where the reader would split them.
std::vector<std::string_view> comment_lines(std::string_view comment) {
    std::vector<std::string_view> lines;
    size_t pos = 0;
    while (pos < comment.size()) {
        size_t end = comment.find_first_of("\r\n", pos);
        if (end == std::string_view::npos) end = comment.size();
        lines.push_back(comment.substr(pos, end - pos));
        pos = end + (end + 1 < comment.size() && comment[end] == '\r' && comment[end + 1] == '\n' ? 2 : 1);
    }
    return lines;
}

// Writes only what `read_touchstone` reads back: finite values, frequencies
// that increase as written in `unit`, a finite positive z0.
void write_touchstone(const std::string& path, py::array_t<double, py::array::c_style | py::array::forcecast> f,
                      py::array_t<std::complex<double>, py::array::c_style | py::array::forcecast> s, double z0,
                      const std::string& unit, const std::string& comment) {
    FpHold hold;
    const double scale = unit_scale(upper(unit));
    if (scale == 0) throw std::invalid_argument("unit must be Hz, kHz, MHz or GHz, not '" + shown(unit) + "'");
    if (f.ndim() != 1) throw std::invalid_argument("f must be one-dimensional");
    const py::ssize_t n = f.shape(0);
    if (n < 1) throw std::invalid_argument("f: no frequencies (a Touchstone file holds at least one point)");
    if (s.ndim() != 3 || s.shape(0) != n || s.shape(1) != s.shape(2) || s.shape(1) < 1 || s.shape(1) > 2)
        throw std::invalid_argument("s must be [len(f), 1, 1] or [len(f), 2, 2]");
    if (!std::isfinite(z0) || !(z0 > 0))
        throw std::invalid_argument("z0 must be a positive, finite impedance (ohm), not " + shortest(z0));
    const int ports = int(s.shape(1));
    if (ports_of(path) != ports)
        throw std::invalid_argument(path + ": a " + std::to_string(ports) + "-port network goes into a .s" +
                                    std::to_string(ports) + "p file");
    const double* fd = f.data();
    const std::complex<double>* sd = s.data();
    double previous = 0;
    for (py::ssize_t k = 0; k < n; ++k) {
        const double read_back = fd[k] / scale * scale;  // what the reader makes of the written text
        if (!std::isfinite(fd[k]) || !std::isfinite(read_back))
            throw std::invalid_argument("f: the frequency of point " + std::to_string(k) + " is not finite (" +
                                        shortest(fd[k]) + ")");
        if (k > 0 && !(read_back > previous))
            throw std::invalid_argument("f: frequencies must increase (point " + std::to_string(k) + ", " +
                                        shortest(fd[k]) + " Hz, follows " + shortest(fd[k - 1]) + " Hz" +
                                        (fd[k] > fd[k - 1] ? ", equal once written in " + unit : std::string()) +
                                        ")");
        previous = read_back;
        for (int c = 0; c < ports * ports; ++c) {
            const std::complex<double> v = sd[k * ports * ports + c];
            if (!std::isfinite(v.real()) || !std::isfinite(v.imag()))
                throw std::invalid_argument("s: the S-parameters of point " + std::to_string(k) + " (" +
                                            shortest(fd[k]) + " Hz) are not finite");
        }
    }
    int err = 0;
    {
        py::gil_scoped_release unlocked;
        std::string text;
        text.reserve(comment.size() + 128);
        for (const std::string_view line : comment_lines(comment)) {
            text += "! ";
            text += line;
            text += "\n";
        }
        text += "# " + unit + " S RI R ";
        append(text, z0);
        text += "\n";
        static const int order2[4] = {0, 2, 1, 3};  // S11 S21 S12 S22
        // The points straight into the text: a double takes at most 24 characters.
        const size_t head = text.size();
        const size_t per_line = size_t(1 + 2 * ports * ports) * 25;
        text.resize(head + size_t(n) * per_line);
        char* out = text.data() + head;
        char* const last = text.data() + text.size();
        for (py::ssize_t k = 0; k < n; ++k) {
            out = std::to_chars(out, last, fd[k] / scale).ptr;
            for (int c = 0; c < ports * ports; ++c) {
                const std::complex<double> v = sd[k * ports * ports + (ports == 1 ? 0 : order2[c])];
                *out++ = ' ';
                out = std::to_chars(out, last, v.real()).ptr;
                *out++ = ' ';
                out = std::to_chars(out, last, v.imag()).ptr;
            }
            *out++ = '\n';
        }
        text.resize(size_t(out - text.data()));
        err = write_whole(path, text);
    }
    if (err) raise_os_error(err, path);
}

}  // namespace

void register_touchstone(py::module_& m) {
    py::register_exception<FileError>(m, "TouchstoneError", PyExc_ValueError);
    m.def("read_touchstone", &read_touchstone, py::arg("path"),
          "read_touchstone(path) -> (f, s, z0)\n\n"
          "A one- or two-port Touchstone 1.0 file: frequencies in Hz [n], S-parameters\n"
          "complex128 [n, p, p] and the reference impedance. Raises TouchstoneError (a\n"
          "ValueError) naming the file and line of anything malformed or not finite, and\n"
          "naming the file when it is not a regular file or larger than 256 MiB.");
    m.def("write_touchstone", &write_touchstone, py::arg("path"), py::arg("f"), py::arg("s"), py::arg("z0") = 50.0,
          py::arg("unit") = "Hz", py::arg("comment") = "",
          "write_touchstone(path, f, s, z0=50.0, unit='Hz', comment='')\n\n"
          "Writes S-parameters [n, p, p] (p = 1 or 2) at frequencies f (Hz) as a Touchstone\n"
          "1.0 file in real/imaginary format, every value exact. Refuses (ValueError, naming\n"
          "the argument) what read_touchstone would refuse: non-finite values, frequencies\n"
          "that do not increase, a z0 that is not positive and finite. The file appears\n"
          "whole or not at all: written under a unique temporary name in its folder, then\n"
          "renamed (not fsynced: batch outputs can be made again from their sources).");
}

}  // namespace orvane
