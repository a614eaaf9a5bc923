// The Touchstone writer: the text of a file of any version, port count,
// parameter, format and matrix layout, refusing what the reader would
// refuse or could not read back as given.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "shortest.hpp"
#include "touchstone.hpp"

namespace orvane::touchstone {
namespace {

[[noreturn]] void refuse(const std::string& what) { throw std::invalid_argument(what); }

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

const char* canonical_unit(double scale) {
    return scale == 1.0 ? "Hz" : scale == 1e3 ? "kHz" : scale == 1e6 ? "MHz" : "GHz";
}

// Shortest text that reads back as the same double: at most 24 characters, room for 32 needed.
inline char* put(char* out, double x) { return write_shortest(out, x); }

void append(std::string& text, double x) {
    char buf[32];
    text.append(buf, put(buf, x));
}

}  // namespace

std::string format_file(const std::string& path, const Network& net, bool lower, bool upper) {
    const std::string& version = net.version;
    const bool v2 = version == "2.0" || version == "2.1";
    if (!v2 && version != "1.0" && version != "1.1")
        refuse("version must be '1.0', '1.1', '2.0' or '2.1', not '" + shown(version) + "'");
    const int p = net.ports;
    const size_t n = net.f.size(), pp = size_t(p) * size_t(p);
    const double scale = unit_scale(net.unit);
    if (scale == 0) refuse("unit must be Hz, kHz, MHz or GHz, not '" + shown(net.unit) + "'");
    if (n < 1) refuse("f: no frequencies (a Touchstone file holds at least one point)");
    if (p < 1 || p > kMaxPorts || net.s.size() != n * pp) refuse("s must be [len(f), p, p]");
    if (!v2) {
        const int named = ports_of_name(path);
        if (named != p)
            refuse(path + ": a " + std::to_string(p) + "-port network goes into a .s" + std::to_string(p) +
                   "p file (Touchstone 1; version '2.x' files may be named .ts)");
    } else if (const int named = ports_of_name(path); named && named != p) {
        refuse(path + ": a file named for " + std::to_string(named) + " ports cannot hold " + std::to_string(p));
    }
    const Parameter kind = net.parameter;
    const char letter = parameter_letter(kind);
    if ((kind == Parameter::H || kind == Parameter::G) && p != 2)
        refuse(std::string(1, letter) + "-parameters describe two-ports; s has " + std::to_string(p) + " ports");
    if (net.z0.size() != size_t(p)) refuse("z0 must be one impedance, or one per port (" + std::to_string(p) + ")");
    bool uniform = true;
    for (const double z : net.z0) {
        if (!std::isfinite(z) || !(z > 0))
            refuse("z0 must be a positive, finite impedance (ohm), not " + shortest(z));
        uniform = uniform && z == net.z0[0];
    }
    if (!uniform && version == "1.0")
        refuse("a version 1.0 file holds one reference impedance for all ports; version '1.1' or '2.x' hold "
               "one per port");
    if (!uniform && !v2 && kind != Parameter::S)
        refuse(std::string(1, letter) + "-parameters normalised to a different R at each port: write version "
                                        "'2.0' or '2.1', which gives them unnormalised");
    if ((lower || upper) && !v2)
        refuse("matrix_format 'Lower' and 'Upper' are Touchstone 2 ([Matrix Format]): give version '2.0' or '2.1'");

    // the grid as the reader will see it, and the values
    double previous = 0;
    for (size_t k = 0; k < n; ++k) {
        const double f = net.f[k], read_back = f / scale * scale;
        if (!std::isfinite(f) || !std::isfinite(read_back))
            refuse("f: the frequency of point " + std::to_string(k) + " is not finite (" + shortest(f) + ")");
        if (f < 0) refuse("f: the frequency of point " + std::to_string(k) + " is negative (" + shortest(f) + " Hz)");
        if (k > 0 && !(read_back > previous))
            refuse("f: frequencies must increase (point " + std::to_string(k) + ", " + shortest(f) + " Hz, follows " +
                   shortest(net.f[k - 1]) + " Hz" +
                   (f > net.f[k - 1] ? ", equal once written in " + std::string(net.unit) : std::string()) + ")");
        previous = read_back;
        for (size_t c = 0; c < pp; ++c) {
            const cplx v = net.s[k * pp + c];
            if (!std::isfinite(v.real()) || !std::isfinite(v.imag()))
                refuse("s: the S-parameters of point " + std::to_string(k) + " (" + shortest(f) + " Hz) are not finite");
        }
        if (lower || upper)
            for (int i = 0; i < p; ++i)
                for (int j = i + 1; j < p; ++j)
                    if (net.s[k * pp + size_t(i * p + j)] != net.s[k * pp + size_t(j * p + i)])
                        refuse("matrix_format '" + std::string(lower ? "Lower" : "Upper") + "' keeps one triangle "
                               "of a symmetric matrix, and s is not symmetric (S" + std::to_string(i + 1) +
                               std::to_string(j + 1) + " != S" + std::to_string(j + 1) + std::to_string(i + 1) +
                               " at point " + std::to_string(k) + "); symmetrise it first, e.g. "
                               "(s + s.transpose(0, 2, 1)) / 2");
    }
    const Noise& noise = net.noise;
    const size_t m = net.has_noise ? noise.f.size() : 0;
    if (net.has_noise) {
        if (p != 2) refuse("noise data belong to two-ports; s has " + std::to_string(p) + " ports");
        if (m < 1 || noise.nfmin_db.size() != m || noise.gamma_opt.size() != m || noise.rn.size() != m)
            refuse("noise: f, nfmin_db, gamma_opt and rn must be of one length, at least 1");
        double last = 0;
        for (size_t k = 0; k < m; ++k) {
            const double f = noise.f[k], read_back = f / scale * scale;
            if (!std::isfinite(f) || !std::isfinite(read_back) || f < 0)
                refuse("noise: frequency " + std::to_string(k) + " is not a finite, non-negative frequency");
            if (k > 0 && !(read_back > last))
                refuse("noise: the frequencies must increase (point " + std::to_string(k) + ")");
            last = read_back;
            if (!std::isfinite(noise.nfmin_db[k]) || !std::isfinite(noise.gamma_opt[k].real()) ||
                !std::isfinite(noise.gamma_opt[k].imag()) || !std::isfinite(noise.rn[k]))
                refuse("noise: the values of point " + std::to_string(k) + " are not finite");
        }
        if (!v2 && !(noise.f[0] / scale * scale <= net.f[n - 1] / scale * scale))
            refuse("noise: a version 1 file marks its noise data by a frequency at or below the last network "
                   "frequency; noise from " + shortest(noise.f[0]) + " Hz needs version '2.0' or '2.1'");
    }

    // the values as written: S, or the parameters (normalised in version 1, in ohm and siemens in version 2)
    std::vector<cplx> values;
    const std::vector<cplx>* written = &net.s;
    if (kind != Parameter::S) {
        values.resize(n * pp);
        const std::vector<double> scale_back = normalisation(kind, net.z0);
        for (size_t k = 0; k < n; ++k) {
            if (!from_s(kind, p, net.s.data() + k * pp, values.data() + k * pp))
                refuse("s at point " + std::to_string(k) + " (" + shortest(net.f[k]) + " Hz) has no " +
                       std::string(1, letter) + "-parameters (a singular matrix, as of an ideal open or short)");
            if (v2)
                for (size_t c = 0; c < pp; ++c) values[k * pp + c] /= scale_back[c];
            for (size_t c = 0; c < pp; ++c)
                if (!std::isfinite(values[k * pp + c].real()) || !std::isfinite(values[k * pp + c].imag()))
                    refuse("s at point " + std::to_string(k) + " has " + std::string(1, letter) +
                           "-parameters too large to write");
        }
        written = &values;
    }
    const Format form = net.format;
    if (form == Format::DB)
        for (size_t c = 0; c < written->size(); ++c)
            if ((*written)[c] == cplx(0))
                refuse("format 'DB' cannot hold an exact zero (point " + std::to_string(c / pp) + ", " +
                       shortest(net.f[c / pp]) + " Hz); write 'RI' or 'MA'");

    // the matrix positions in file order: rows, each on a new line with at most 4 pairs a line
    std::vector<size_t> order;
    std::vector<bool> breaks;  // a new line before this value
    for (int row = 0; row < p; ++row) {
        const int from = upper ? row : 0, to = lower ? row + 1 : p;
        for (int col = from, in_line = 0; col < to; ++col, ++in_line) {
            int r = row, c = col;
            if (p == 2 && !lower && !upper) std::swap(r, c);  // 21_12: S11 S21 S12 S22
            order.push_back(size_t(r * p + c));
            const bool new_row = p > 2 && row > 0 && col == from;
            breaks.push_back(new_row || (p > 2 && in_line > 0 && in_line % 4 == 0));
        }
    }

    std::string text;
    text.reserve(256 + size_t(p) * 16);
    for (const std::string_view line : comment_lines(net.comments)) {
        text += "! ";
        text += line;
        text += "\n";
    }
    if (v2) text += "[Version] " + version + "\n";
    static const char* formats[] = {"RI", "MA", "DB"};
    text += std::string("# ") + canonical_unit(scale) + " " + letter + " " + formats[int(form)] + " R";
    for (int k = 0; k < (uniform || v2 ? 1 : p); ++k) {
        text += ' ';
        append(text, net.z0[size_t(k)]);
    }
    text += "\n";
    if (v2) {
        text += "[Number of Ports] " + std::to_string(p) + "\n";
        if (p == 2) text += "[Two-Port Data Order] 21_12\n";
        text += "[Number of Frequencies] " + std::to_string(n) + "\n";
        if (m) text += "[Number of Noise Frequencies] " + std::to_string(m) + "\n";
        if (!uniform) {
            text += "[Reference]";
            for (const double z : net.z0) {
                text += ' ';
                append(text, z);
            }
            text += "\n";
        }
        if (lower || upper) text += std::string("[Matrix Format] ") + (lower ? "Lower" : "Upper") + "\n";
        text += "[Network Data]\n";
    }

    // the points straight into the text
    const size_t head = text.size();
    const size_t per_point = (1 + 2 * order.size()) * 25 + 2 * order.size() + 2;  // numbers, line breaks
    text.resize(head + n * per_point + m * 5 * 25 + 64);
    char* out = text.data() + head;
    constexpr double deg = 180.0 / 3.14159265358979323846;
    for (size_t k = 0; k < n; ++k) {
        out = put(out, net.f[k] / scale);
        const cplx* point = written->data() + k * pp;
        for (size_t e = 0; e < order.size(); ++e) {
            if (breaks[e]) {
                *out++ = '\n';
                *out++ = ' ';
            }
            const cplx v = point[order[e]];
            double a = v.real(), b = v.imag();
            if (form != Format::RI) {
                const double mag = std::abs(v);
                a = form == Format::DB ? 20.0 * std::log10(mag) : mag;
                b = std::atan2(v.imag(), v.real()) * deg;
            }
            *out++ = ' ';
            out = put(out, a);
            *out++ = ' ';
            out = put(out, b);
        }
        *out++ = '\n';
    }
    if (m) {
        const char* mark = v2 ? "[Noise Data]\n" : "! noise parameters: f NFmin(dB) |Gamma opt| angle(deg) Rn/R\n";
        const size_t used = size_t(out - text.data());
        text.resize(used);
        text += mark;
        text.resize(text.size() + m * 5 * 26 + 64);
        out = text.data() + used + std::string_view(mark).size();
        for (size_t k = 0; k < m; ++k) {
            out = put(out, noise.f[k] / scale);
            *out++ = ' ';
            out = put(out, noise.nfmin_db[k]);
            *out++ = ' ';
            out = put(out, std::abs(noise.gamma_opt[k]));
            *out++ = ' ';
            out = put(out, std::atan2(noise.gamma_opt[k].imag(), noise.gamma_opt[k].real()) * deg);
            *out++ = ' ';
            out = put(out, v2 ? noise.rn[k] : noise.rn[k] / net.z0[0]);
            *out++ = '\n';
        }
    }
    text.resize(size_t(out - text.data()));
    if (v2) text += "[End]\n";
    return text;
}

}  // namespace orvane::touchstone
