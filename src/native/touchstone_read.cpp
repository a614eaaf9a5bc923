// The Touchstone reader: versions 1.0 and 1.1 (the option line and the data,
// the port count from the file name), 2.0 and 2.1 (keywords), any number of
// ports, S, Y, Z, H and G parameters, noise data kept apart.
//
// A point begins on a new line with its frequency and goes on over as many
// lines as it needs; a line holds whole pairs, so a line with an odd count
// of numbers begins a point and one with an even count continues it. Every
// value is checked finite as read and as converted; every error names the
// file and the line.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "touchstone.hpp"

namespace orvane::touchstone {

double unit_scale(std::string_view unit) {
    std::string u(unit);
    for (char& c : u) c = char(std::tolower(static_cast<unsigned char>(c)));
    if (u == "hz") return 1.0;
    if (u == "khz") return 1e3;
    if (u == "mhz") return 1e6;
    if (u == "ghz") return 1e9;
    return 0.0;
}

int ports_of_name(const std::string& path) {
    const auto slash = path.find_last_of('/');
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return 0;
    const std::string_view ext = std::string_view(path).substr(dot + 1);
    if (ext.size() < 3 || std::strchr("sSyYzZhHgG", ext[0]) == nullptr || (ext.back() != 'p' && ext.back() != 'P'))
        return 0;
    const std::string_view digits = ext.substr(1, ext.size() - 2);
    int n = 0;
    const auto res = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (res.ec != std::errc() || res.ptr != digits.data() + digits.size() || n < 1 || digits[0] == '0') return 0;
    return n;
}

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

namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ','; }

std::string lowered(std::string_view s) {
    std::string out;
    bool space = false;
    for (char c : s) {
        if (c == ' ' || c == '\t') {
            space = !out.empty();
            continue;
        }
        if (space) out += ' ';
        space = false;
        out += char(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
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
    return res.ec == std::errc() && res.ptr == last && first < last ? Number::ok : Number::bad;
}

// The separator-delimited tokens of a line.
std::vector<std::string_view> tokens(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && is_separator(line[i])) ++i;
        size_t j = i;
        while (j < line.size() && !is_separator(line[j])) ++j;
        if (j > i) out.push_back(line.substr(i, j - i));
        i = j;
    }
    return out;
}

const char* format_name(Format f) { return f == Format::RI ? "RI" : f == Format::MA ? "MA" : "DB"; }

class Reader {
public:
    Reader(const std::string& path, std::string_view text, bool header_only)
        : path_(path), text_(text), header_only_(header_only) {}

    Network run();

private:
    enum class Section { header, network, noise, information, end };
    enum class Layout { full, lower, upper };

    FileError fail(const std::string& what) const {
        return FileError(path_ + ", line " + std::to_string(line_no_) + ": " + what);
    }
    FileError fail_at(int line, const std::string& what) const {
        return FileError(path_ + ", line " + std::to_string(line) + ": " + what);
    }

    void comment(std::string_view body);
    void close_impedance_block();
    void keyword(std::string_view line);
    void option_line(std::string_view line);
    bool numbers(std::string_view line);  // into nums_; false for a line of none
    void network_line();
    void noise_line();
    void finish_point();
    void begin_data();
    void convert();
    long long count_of(std::string_view rest, const char* keyword, long long most);
    std::string element_name(size_t e) const;
    std::string has() const {
        return "a " + std::to_string(net_.ports) + "-port file has " + std::to_string(per_point_);
    }

    const std::string& path_;
    std::string_view text_;
    bool header_only_;
    Network net_;
    int line_no_ = 0;

    bool decided_ = false, v2_ = false, version_seen_ = false;
    Section section_ = Section::header, before_information_ = Section::header;
    bool options_seen_ = false;
    int option_line_ = 0, first_data_line_ = 0;
    double scale_ = 1e9;
    std::vector<double> option_r_{50.0};
    std::vector<double> reference_;
    int reference_wanted_ = 0, reference_line_ = 0;
    long long n_freq_ = -1, n_noise_ = -1;
    int order_ = 0;  // 0 not given, 1221 or 2112
    Layout layout_ = Layout::full;
    bool ports_given_ = false;
    int end_line_ = 0, network_line_ = 0, noise_keyword_line_ = 0;

    // the data: per point the frequency, the values as pairs in file order
    size_t per_point_ = 0;  // numbers of a point, its frequency included
    std::vector<double> raw_;
    std::vector<int> point_lines_;
    size_t have_ = 0;  // numbers of the open point read so far (0: none open)
    int point_line_ = 0, point_line_count_ = 0;
    std::string_view first_token_;
    std::vector<double> nums_;
    std::vector<std::string_view> spans_;  // the text of each of nums_, for messages

    // HFSS-style "! Port Impedance" comments: checked against the reference impedance
    std::vector<double> impedance_;
    int impedance_line_ = 0;
    bool in_impedance_ = false;
};

Network Reader::run() {
    if (text_.substr(0, 3) == "\xEF\xBB\xBF") text_.remove_prefix(3);  // a UTF-8 byte-order mark
    size_t pos = 0;
    while (pos < text_.size()) {
        // the line ends at LF or at CR (alone or before LF), whichever comes first
        const char* start = text_.data() + pos;
        const size_t rest = text_.size() - pos;
        const void* lf = std::memchr(start, '\n', rest);
        const size_t span = lf ? size_t(static_cast<const char*>(lf) - start) : rest;
        const void* cr = std::memchr(start, '\r', span);
        const size_t end = pos + (cr ? size_t(static_cast<const char*>(cr) - start) : span);
        ++line_no_;
        std::string_view line = text_.substr(pos, end - pos);
        pos = end + (end + 1 < text_.size() && text_[end] == '\r' && text_[end + 1] == '\n' ? 2 : 1);

        size_t i = 0;
        while (i < line.size() && is_separator(line[i])) ++i;
        if (i == line.size()) continue;
        if (line[i] == '!') {
            comment(line.substr(i + 1));
            continue;
        }
        if (in_impedance_) close_impedance_block();
        if (const void* bang = std::memchr(line.data() + i, '!', line.size() - i))
            line = line.substr(0, size_t(static_cast<const char*>(bang) - line.data()));
        line.remove_prefix(i);
        while (!line.empty() && is_separator(line.back())) line.remove_suffix(1);
        if (section_ == Section::information) {
            if (line[0] == '[' && lowered(line.substr(0, line.find(']') + 1)) == "[end information]")
                section_ = before_information_;
            continue;
        }
        if (!decided_) {
            decided_ = true;
            v2_ = line[0] == '[' && lowered(line.substr(0, line.find(']') + 1)) == "[version]";
            if (!v2_) {
                net_.ports = ports_of_name(path_);
                if (net_.ports == 0)
                    throw fail("a file without [Version] 2.0 or 2.1 first is a Touchstone 1 file, whose name "
                               "must end in .sNp (N ports), as .s1p, .s2p, .s4p");
                if (net_.ports > kMaxPorts)
                    throw fail(std::to_string(net_.ports) + " ports: more than the " + std::to_string(kMaxPorts) +
                               " read");
            }
        }
        if (section_ == Section::end) throw fail("'" + shown(line) + "' after [End]");
        if (line[0] == '[') {
            keyword(line);
            if (header_only_ && section_ == Section::network) return net_;
            continue;
        }
        if (line[0] == '#') {
            option_line(line);
            continue;
        }
        if (reference_wanted_ > 0) {  // [Reference] goes on over the following lines
            for (const auto t : tokens(line)) {
                double z = 0;
                if (reference_wanted_ == 0)
                    throw fail("more than the " + std::to_string(net_.ports) + " values of [Reference] (from line " +
                               std::to_string(reference_line_) + ")");
                if (read_number(t, z) != Number::ok || !std::isfinite(z) || !(z > 0))
                    throw fail("[Reference]: '" + shown(t) + "' is not a positive reference impedance (ohm)");
                reference_.push_back(z);
                --reference_wanted_;
            }
            continue;
        }
        if (v2_ && section_ == Section::header)
            throw fail("data before [Network Data]: '" + shown(line.substr(0, 30)) + "'");
        if (!first_data_line_) {
            first_data_line_ = line_no_;
            begin_data();
            if (header_only_) return net_;
        }
        if (!numbers(line)) continue;
        if (section_ == Section::noise)
            noise_line();
        else
            network_line();
    }
    if (in_impedance_) close_impedance_block();
    if (have_) {
        line_no_ = point_line_;
        finish_point();  // reports the incomplete point
    }
    if (header_only_) {
        if (v2_) throw FileError(path_ + ": no [Network Data]");
        begin_data();
        return net_;
    }
    if (v2_) {
        if (!network_line_) throw FileError(path_ + ": no [Network Data]");
        if (static_cast<long long>(net_.f.size()) != n_freq_)
            throw FileError(path_ + ": " + std::to_string(net_.f.size()) + " frequency points where [Number of "
                            "Frequencies] says " + std::to_string(n_freq_) +
                            (end_line_ ? "" : " (and no [End]: the file may be cut short)"));
        if (n_noise_ >= 0 && static_cast<long long>(net_.noise.f.size()) != n_noise_)
            throw FileError(path_ + ": " + std::to_string(net_.noise.f.size()) + " noise frequencies where [Number "
                            "of Noise Frequencies] says " + std::to_string(n_noise_));
    } else if (net_.f.empty()) {
        throw FileError(path_ + ": no data");
    }
    if (net_.f.empty()) throw FileError(path_ + ": no data");
    convert();
    return net_;
}

void Reader::comment(std::string_view body) {
    if (!body.empty() && body[0] == ' ') body.remove_prefix(1);
    if (in_impedance_) {  // an HFSS block goes on over comment lines of numbers only
        const auto words = tokens(body);
        bool all = !words.empty();
        std::vector<double> values;
        for (const auto t : words) {
            double x = 0;
            if (read_number(t, x) != Number::ok) all = false;
            values.push_back(x);
        }
        if (all) {
            impedance_.insert(impedance_.end(), values.begin(), values.end());
            return;
        }
        close_impedance_block();
    }
    net_.comments.append(body);
    net_.comments += '\n';
    std::string_view head = body;
    while (!head.empty() && (head[0] == ' ' || head[0] == '\t')) head.remove_prefix(1);
    if (head.size() >= 14 && lowered(head.substr(0, 14)) == "port impedance") {
        std::vector<double> values;
        for (const auto t : tokens(head.substr(14))) {
            double x = 0;
            if (read_number(t, x) != Number::ok) return;  // prose, not an HFSS block
            values.push_back(x);
        }
        in_impedance_ = true;
        impedance_line_ = line_no_;
        impedance_ = std::move(values);
    }
}

// An HFSS export's port impedances (one complex value per port, or a whole
// matrix whose diagonal holds them) must be the reference impedance the
// S-parameters are read with: S referenced to other impedances would be
// taken for S referenced to R.
void Reader::close_impedance_block() {
    in_impedance_ = false;
    const size_t p = size_t(net_.ports);
    const bool matrix = impedance_.size() == 2 * p * p && p > 1;
    if (!decided_ || !(impedance_.size() == 2 * p || matrix)) return;  // not one of HFSS's blocks
    for (size_t k = 0; k < p; ++k) {
        const size_t at = matrix ? 2 * (k * p + k) : 2 * k;
        const double r = reference_.size() == p ? reference_[k] : option_r_.size() == p ? option_r_[k] : option_r_[0];
        const double re = impedance_[at], im = impedance_[at + 1];
        if (!(std::abs(re - r) <= 1e-12 * r) || !(std::abs(im) <= 1e-12 * r))
            throw fail_at(impedance_line_, "port " + std::to_string(k + 1) + "'s impedance (" + shortest(re) +
                                               (im < 0 ? " - " : " + ") + shortest(std::abs(im)) +
                                               "j ohm) is not the reference impedance R " + shortest(r) +
                                               ": S-parameters referenced to per-frequency port impedances "
                                               "are not read");
    }
}

long long Reader::count_of(std::string_view rest, const char* keyword, long long most) {
    const auto words = tokens(rest);
    long long n = 0;
    if (words.size() != 1 ||
        std::from_chars(words[0].data(), words[0].data() + words[0].size(), n).ptr != words[0].data() + words[0].size() ||
        n < 1 || n > most)
        throw fail(std::string(keyword) + " must be followed by a whole number from 1 to " + std::to_string(most) +
                   ", not '" + shown(rest) + "'");
    return n;
}

void Reader::keyword(std::string_view line) {
    const size_t close = line.find(']');
    if (close == std::string_view::npos) throw fail("'" + shown(line) + "': a keyword without its closing ]");
    const std::string name = lowered(line.substr(0, close + 1));
    const std::string_view rest = line.substr(close + 1);
    const std::string shown_name = std::string(line.substr(0, close + 1));
    if (!v2_)
        throw fail(shown(shown_name) + " is a Touchstone 2 keyword: a file that uses them begins with [Version] "
                                       "2.0 or 2.1");
    if (name == "[version]") {
        if (version_seen_) throw fail("a second [Version]");
        version_seen_ = true;
        const auto words = tokens(rest);
        if (words.size() != 1 || (words[0] != "2.0" && words[0] != "2.1"))
            throw fail("[Version] '" + shown(rest) + "' is not read (Touchstone 2.0 and 2.1 are)");
        net_.version = std::string(words[0]);
        return;
    }
    if (section_ == Section::noise && name != "[end]") throw fail(shown(shown_name) + " after [Noise Data]");
    if (section_ == Section::network && name != "[noise data]" && name != "[end]")
        throw fail(shown(shown_name) + " after [Network Data]");
    if (name == "[number of ports]") {
        if (ports_given_) throw fail("a second [Number of Ports]");
        net_.ports = int(count_of(rest, "[Number of Ports]", kMaxPorts));
        ports_given_ = true;
        const int named = ports_of_name(path_);
        if (named && named != net_.ports)
            throw fail("[Number of Ports] " + std::to_string(net_.ports) + " in a file named for " +
                       std::to_string(named) + " ports");
    } else if (name == "[two-port data order]") {
        const auto words = tokens(rest);
        if (words.size() != 1 || (words[0] != "12_21" && words[0] != "21_12"))
            throw fail("[Two-Port Data Order] must be 12_21 or 21_12, not '" + shown(rest) + "'");
        order_ = words[0] == "12_21" ? 1221 : 2112;
    } else if (name == "[number of frequencies]") {
        n_freq_ = count_of(rest, "[Number of Frequencies]", (long long)(text_.size()));
    } else if (name == "[number of noise frequencies]") {
        n_noise_ = count_of(rest, "[Number of Noise Frequencies]", (long long)(text_.size()));
    } else if (name == "[reference]") {
        if (!ports_given_) throw fail("[Reference] before [Number of Ports]");
        if (reference_line_) throw fail("a second [Reference]");
        reference_line_ = line_no_;
        reference_wanted_ = net_.ports;
        for (const auto t : tokens(rest)) {
            double z = 0;
            if (reference_wanted_ == 0)
                throw fail("more than the " + std::to_string(net_.ports) + " values of [Reference]");
            if (read_number(t, z) != Number::ok || !std::isfinite(z) || !(z > 0))
                throw fail("[Reference]: '" + shown(t) + "' is not a positive reference impedance (ohm)");
            reference_.push_back(z);
            --reference_wanted_;
        }
    } else if (name == "[matrix format]") {
        const std::string value = lowered(rest);
        if (value == "full")
            layout_ = Layout::full;
        else if (value == "lower")
            layout_ = Layout::lower;
        else if (value == "upper")
            layout_ = Layout::upper;
        else
            throw fail("[Matrix Format] must be Full, Lower or Upper, not '" + shown(rest) + "'");
    } else if (name == "[mixed-mode order]") {
        throw fail("mixed-mode data ([Mixed-Mode Order]) are not read");
    } else if (name == "[begin information]") {
        before_information_ = section_;
        section_ = Section::information;
    } else if (name == "[network data]") {
        if (reference_wanted_ > 0)
            throw fail("[Reference] (line " + std::to_string(reference_line_) + ") gives " +
                       std::to_string(reference_.size()) + " of the " + std::to_string(net_.ports) + " impedances");
        if (!options_seen_) throw fail("no option line (# <unit> <parameter> <format> R <ohm>) before [Network Data]");
        if (!ports_given_) throw fail("[Network Data] without [Number of Ports]");
        if (n_freq_ < 0) throw fail("[Network Data] without [Number of Frequencies]");
        if (net_.ports == 2 && !order_)
            throw fail("a two-port Version 2 file must give [Two-Port Data Order] (12_21 or 21_12)");
        network_line_ = line_no_;
        section_ = Section::network;
        first_data_line_ = line_no_;
        begin_data();
    } else if (name == "[noise data]") {
        if (section_ != Section::network) throw fail("[Noise Data] before [Network Data]");
        if (net_.ports != 2) throw fail("noise data in a " + std::to_string(net_.ports) + "-port file (two-ports only)");
        if (n_noise_ < 0) throw fail("[Noise Data] without [Number of Noise Frequencies]");
        if (have_) {
            line_no_ = point_line_;
            finish_point();
        }
        noise_keyword_line_ = line_no_;
        section_ = Section::noise;
        net_.has_noise = true;
    } else if (name == "[end]") {
        if (section_ == Section::header) throw fail("[End] before [Network Data]");
        if (have_) {
            const int here = line_no_;
            line_no_ = point_line_;
            finish_point();
            line_no_ = here;
        }
        end_line_ = line_no_;
        section_ = Section::end;
    } else if (name == "[end information]") {
        throw fail("[End Information] without [Begin Information]");
    } else {
        throw fail("unknown keyword " + shown(shown_name));
    }
}

void Reader::option_line(std::string_view line) {
    if (options_seen_) return;  // only the first option line counts
    if (first_data_line_)
        throw fail("the option line follows data (from line " + std::to_string(first_data_line_) +
                   "); it must come before the data");
    options_seen_ = true;
    option_line_ = line_no_;
    const auto words = tokens(line.substr(1));
    for (size_t k = 0; k < words.size(); ++k) {
        const std::string_view word = words[k];
        const std::string w = lowered(word);
        if (unit_scale(w) > 0) {
            scale_ = unit_scale(w);
            net_.unit = std::string(word);
        } else if (w == "ri" || w == "ma" || w == "db") {
            net_.format = w == "ri" ? Format::RI : w == "ma" ? Format::MA : Format::DB;
        } else if (w == "s" || w == "y" || w == "z" || w == "h" || w == "g") {
            net_.parameter = w == "s" ? Parameter::S : w == "y" ? Parameter::Y : w == "z" ? Parameter::Z
                           : w == "h" ? Parameter::H : Parameter::G;
        } else if (w == "r") {
            // one reference impedance, or (Touchstone 1.1) one per port
            option_r_.clear();
            while (k + 1 < words.size()) {
                const std::string_view t = words[k + 1];
                double z = 0;
                const Number got = read_number(t, z);
                if (got == Number::bad && !std::strchr("0123456789+-.", t[0])) break;  // the next option
                if (got != Number::ok || !std::isfinite(z) || !(z > 0))
                    throw fail("reference impedance '" + shown(t) + "' is not a positive number");
                option_r_.push_back(z);
                ++k;
            }
            if (option_r_.empty()) throw fail("R without a reference impedance");
        } else {
            throw fail("unknown option '" + shown(word) + "'");
        }
    }
}

// Once the header is read: the port count, the reference impedances, the
// numbers a point holds.
void Reader::begin_data() {
    const size_t p = size_t(net_.ports);
    if ((net_.parameter == Parameter::H || net_.parameter == Parameter::G) && p != 2)
        throw fail_at(option_line_ ? option_line_ : line_no_,
                      std::string(1, parameter_letter(net_.parameter)) + "-parameters describe two-ports, this file has " +
                          std::to_string(p) + " ports");
    if (!reference_.empty()) {
        net_.z0 = reference_;
    } else if (option_r_.size() == 1) {
        net_.z0.assign(p, option_r_[0]);
    } else if (option_r_.size() == p) {
        net_.z0 = option_r_;
        if (!v2_) net_.version = "1.1";
    } else {
        throw fail_at(option_line_, std::to_string(option_r_.size()) + " reference impedances on the option line of "
                                    "a " + std::to_string(p) + "-port file (one, or one per port)");
    }
    if (!v2_ && net_.parameter != Parameter::S &&
        std::any_of(net_.z0.begin(), net_.z0.end(), [&](double z) { return z != net_.z0[0]; }))
        throw fail_at(option_line_, std::string(1, parameter_letter(net_.parameter)) +
                                        "-parameters normalised to a different R at each port are not read (the "
                                        "format does not say how); Touchstone 2 files give them unnormalised");
    const size_t values = layout_ == Layout::full ? p * p : p * (p + 1) / 2;
    per_point_ = 1 + 2 * values;
    if (!header_only_) {
        // about 12 characters a number
        raw_.reserve(std::min(text_.size() / 12 + 16, size_t(1) << 26));
        net_.f.reserve(std::min(text_.size() / (12 * per_point_) + 4, size_t(1) << 24));
        nums_.reserve(per_point_ + 8);
    }
}

// The numbers of a line; false when it has none.
bool Reader::numbers(std::string_view line) {
    nums_.clear();
    spans_.clear();
    const char* p = line.data();
    const char* last = p + line.size();
    while (p < last) {
        while (p < last && is_separator(*p)) ++p;
        if (p == last) break;
        const char* first = p;
        if (*p == '+') {
            ++p;
            if (p < last && *p == '-') p = last + 1;  // "+-1" is no number
        }
        double x = 0;
        const auto res = p <= last ? std::from_chars(p, last, x) : std::from_chars_result{p, std::errc::invalid_argument};
        if (res.ec != std::errc() || (res.ptr < last && !is_separator(*res.ptr))) {
            const char* stop = first;
            while (stop < last && !is_separator(*stop)) ++stop;
            const std::string_view token(first, size_t(stop - first));
            double y = 0;
            if (read_number(token, y) == Number::out_of_range)
                throw fail("'" + shown(token) + "' is out of the range of numbers read");
            throw fail("'" + shown(token) + "' is not a number");
        }
        if (!std::isfinite(x)) throw fail("a value is not finite ('" + shown(std::string_view(first, size_t(res.ptr - first))) + "')");
        nums_.push_back(x);
        spans_.emplace_back(first, size_t(res.ptr - first));
        p = res.ptr;
    }
    return !nums_.empty();
}

void Reader::network_line() {
    const size_t count = nums_.size();
    if (have_ == 0) {
        // a new point: its frequency first
        const double f = nums_[0] * scale_;
        if (!v2_ && net_.ports == 2 && !net_.f.empty() && !(f > net_.f.back()) && count == 5) {
            // Touchstone 1: noise data begin where the frequency falls back
            section_ = Section::noise;
            net_.has_noise = true;
            noise_line();
            return;
        }
        if (count % 2 == 0) {
            if (count < per_point_)
                throw fail("incomplete point: " + std::to_string(count) + " numbers where " + has());
            throw fail(std::to_string(count) + " numbers where " + has() +
                       " (a frequency, then whole pairs: this line has an even count)");
        }
        if (count > per_point_) {
            if (!v2_)
                for (int q = 1; q <= 2; ++q)
                    if (q != net_.ports && count == size_t(1 + 2 * q * q))
                        throw fail(std::to_string(count) + " numbers where a .s" + std::to_string(net_.ports) +
                                   "p file has " + std::to_string(per_point_) + ": this is " + std::to_string(q) +
                                   "-port data, which belongs in a .s" + std::to_string(q) + "p file");
            throw fail(std::to_string(count) + " numbers where " + has() + " (a point begins on a new line)");
        }
        if (!std::isfinite(f)) throw fail("frequency " + shown(spans_[0]) + " " + net_.unit + " is out of range");
        if (f < 0) throw fail("frequency " + shown(spans_[0]) + " " + net_.unit + " is negative");
        if (!net_.f.empty() && !(f > net_.f.back()))
            throw fail("frequencies must increase (" + shown(spans_[0]) + " follows a higher one)");
        net_.f.push_back(f);
        point_lines_.push_back(line_no_);
        point_line_ = line_no_;
        point_line_count_ = int(count);
        raw_.insert(raw_.end(), nums_.begin() + 1, nums_.end());
        have_ = count;
    } else {
        if (count % 2 == 1) {  // begins the next point: this one is incomplete
            const int here = line_no_;
            line_no_ = point_line_;
            finish_point();
            line_no_ = here;
            network_line();
            return;
        }
        if (have_ + count > per_point_)
            throw fail(std::to_string(have_ + count) + " numbers for the point of line " +
                       std::to_string(point_line_) + ", where " + has() + " (a point begins on a new line)");
        raw_.insert(raw_.end(), nums_.begin(), nums_.end());
        have_ += count;
        point_line_count_ = -1;  // more than one line
    }
    if (have_ == per_point_) finish_point();
}

// Closes the open point: complete, or the error that names it.
void Reader::finish_point() {
    if (have_ == per_point_) {
        have_ = 0;
        return;
    }
    if (!v2_ && point_line_count_ > 0)
        for (int q = 1; q <= 2; ++q)
            if (q != net_.ports && size_t(point_line_count_) == size_t(1 + 2 * q * q))
                throw fail(std::to_string(point_line_count_) + " numbers where a .s" + std::to_string(net_.ports) +
                           "p file has " + std::to_string(per_point_) + ": this is " + std::to_string(q) +
                           "-port data, which belongs in a .s" + std::to_string(q) + "p file");
    throw fail("incomplete point: " + std::to_string(have_) + " numbers where " + has());
}

void Reader::noise_line() {
    if (nums_.size() != 5)
        throw fail(std::to_string(nums_.size()) + " numbers on a line of noise data, which has 5 (frequency, "
                   "NFmin in dB, |Gamma opt|, its angle in degrees, Rn)");
    const double f = nums_[0] * scale_;
    if (!std::isfinite(f)) throw fail("noise frequency " + shown(spans_[0]) + " " + net_.unit + " is out of range");
    if (f < 0) throw fail("noise frequency " + shown(spans_[0]) + " " + net_.unit + " is negative");
    auto& noise = net_.noise;
    if (!noise.f.empty() && !(f > noise.f.back()))
        throw fail("noise frequencies must increase (" + shown(spans_[0]) + " follows a higher one)");
    const double angle = nums_[3] * (3.14159265358979323846 / 180.0);  // as numpy's deg2rad
    const double mag = nums_[2];
    const cplx gamma(mag * std::cos(angle), mag * std::sin(angle));
    // Version 1 files give Rn normalised to the reference (that of port 1,
    // where the source is); Version 2 files in ohms
    const double rn = v2_ ? nums_[4] : nums_[4] * net_.z0[0];
    if (!std::isfinite(gamma.real()) || !std::isfinite(gamma.imag()) || !std::isfinite(rn))
        throw fail("a noise value is not finite once converted");
    noise.f.push_back(f);
    noise.nfmin_db.push_back(nums_[1]);
    noise.gamma_opt.push_back(gamma);
    noise.rn.push_back(rn);
}

// The name of the e-th value of a point, in file order.
std::string Reader::element_name(size_t e) const {
    const size_t p = size_t(net_.ports);
    size_t row = 0, col = 0;
    if (layout_ == Layout::full) {
        row = e / p;
        col = e % p;
        if (p == 2 && order_ != 1221) std::swap(row, col);
    } else {
        size_t k = e;
        for (row = 0; row < p; ++row) {
            const size_t in_row = layout_ == Layout::lower ? row + 1 : p - row;
            if (k < in_row) break;
            k -= in_row;
        }
        col = layout_ == Layout::lower ? k : row + k;
    }
    std::string name(1, parameter_letter(net_.parameter));
    if (p >= 10) return name + "(" + std::to_string(row + 1) + "," + std::to_string(col + 1) + ")";
    return name + std::to_string(row + 1) + std::to_string(col + 1);
}

// The values as complex numbers, into the matrices of S-parameters.
void Reader::convert() {
    const size_t p = size_t(net_.ports), n = net_.f.size(), values = (per_point_ - 1) / 2;
    // the matrix position of each value in file order
    std::vector<size_t> at(values), mirror(values, size_t(-1));
    {
        size_t e = 0;
        for (size_t row = 0; row < p; ++row) {
            const size_t from = layout_ == Layout::upper ? row : 0;
            const size_t to = layout_ == Layout::lower ? row + 1 : p;
            for (size_t col = from; col < to; ++col, ++e) {
                size_t r = row, c = col;
                if (layout_ == Layout::full && p == 2 && order_ != 1221) std::swap(r, c);
                at[e] = r * p + c;
                if (layout_ != Layout::full && r != c) mirror[e] = c * p + r;
            }
        }
    }
    net_.s.assign(n * p * p, cplx(0));
    const bool s_kind = net_.parameter == Parameter::S;
    std::vector<cplx> matrix(s_kind ? 0 : p * p);
    const std::vector<double> scale = v2_ && !s_kind ? normalisation(net_.parameter, net_.z0) : std::vector<double>();
    const double* v = raw_.data();
    for (size_t k = 0; k < n; ++k) {
        cplx* out = s_kind ? net_.s.data() + k * p * p : matrix.data();
        for (size_t e = 0; e < values; ++e, v += 2) {
            double a = v[0], b = v[1];
            if (net_.format != Format::RI) {
                // as numpy evaluates mag * exp(1j * b * pi / 180) (its complex / real multiplies by the
                // reciprocal), so that MA files read bit for bit as scikit-rf reads them
                const double mag = net_.format == Format::DB ? std::pow(10.0, a / 20.0) : a;
                const double angle = (b * 3.14159265358979323846) * (1.0 / 180.0);
                a = mag * std::cos(angle);
                b = mag * std::sin(angle);
            }
            if (!std::isfinite(a) || !std::isfinite(b))
                throw fail_at(point_lines_[k], std::string("a value is not finite once read as ") +
                                                   format_name(net_.format) + ": " + element_name(e) + " (" +
                                                   shortest(v[0]) + ", " + shortest(v[1]) + ")");
            out[at[e]] = cplx(a, b);
            if (mirror[e] != size_t(-1)) out[mirror[e]] = cplx(a, b);
        }
        if (!s_kind) {
            if (!scale.empty())
                for (size_t e = 0; e < p * p; ++e) matrix[e] *= scale[e];
            if (!to_s(net_.parameter, int(p), matrix.data(), net_.s.data() + k * p * p))
                throw fail_at(point_lines_[k], std::string(1, parameter_letter(net_.parameter)) +
                                                   "-parameters at " + shortest(net_.f[k]) +
                                                   " Hz that no S-parameters describe (a singular matrix)");
        }
    }
    raw_.clear();
    raw_.shrink_to_fit();
}

}  // namespace

Network parse(const std::string& path, std::string_view text, bool header_only) {
    return Reader(path, text, header_only).run();
}

}  // namespace orvane::touchstone
