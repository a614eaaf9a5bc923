// Touchstone files of versions 1.0, 1.1, 2.0 and 2.1, any number of ports:
// what the reader gives and the writer takes, shared by touchstone_read.cpp,
// touchstone_write.cpp and their bindings in touchstone.cpp.
#pragma once

#include <complex>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orvane::touchstone {

using cplx = std::complex<double>;

// A malformed file: the message names the file and the line.
struct FileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// More ports than any real file has (a 4096-port matrix is 32 million
// pairs a point); refused before anything is allocated for them.
constexpr int kMaxPorts = 4096;

// Larger than any Touchstone file this package meets (a million points of
// two-port data is about 150 MiB of text).
constexpr std::size_t kMaxFileSize = std::size_t(256) << 20;

// The network parameters a file may hold. Each port's quantity on the left
// of the defining relation is its voltage (+1) or its current (-1): Z gives
// voltages from currents, Y currents from voltages, H (two-ports) V1 and I2,
// G I1 and V2. S has none.
enum class Parameter { S, Y, Z, H, G };
int output_sign(Parameter kind, int port);
char parameter_letter(Parameter kind);

enum class Format { RI, MA, DB };

// Two-port noise parameters, one row per noise frequency.
struct Noise {
    std::vector<double> f;          // Hz
    std::vector<double> nfmin_db;   // minimum noise figure, dB
    std::vector<cplx> gamma_opt;    // optimum source reflection coefficient
    std::vector<double> rn;         // effective noise resistance, ohm
};

struct Network {
    std::string version = "1.0";    // "1.0", "1.1", "2.0" or "2.1"
    int ports = 1;
    Parameter parameter = Parameter::S;  // as written in the file
    Format format = Format::MA;
    std::string unit = "GHz";       // as written in the file
    std::vector<double> f;          // Hz
    std::vector<cplx> s;            // S-parameters [n, p, p], row-major
    std::vector<double> z0;         // reference impedance per port, ohm
    Noise noise;
    bool has_noise = false;
    std::string comments;           // the comment lines, without their "!"
};

// Reads `text`, the contents of `path` (whose name gives the port count of
// a version 1 file). With `header_only`, stops where the data begin: ports,
// version, parameter, format and z0 are then known, f and s are empty.
Network parse(const std::string& path, std::string_view text, bool header_only = false);

// The text of a file holding `net` (its s are S-parameters, written as
// `net.parameter`); throws std::invalid_argument for what the reader would
// refuse or could not read back as given. `path` names the target in
// messages and gives a version 1 file's port count.
std::string format_file(const std::string& path, const Network& net, bool lower, bool upper);

// Network parameters of kind `kind`, normalised to 1 ohm at every port, as
// S-parameters, point by point: s = sign (I + P)^-1 (P - I), and back
// P = (I + sign S)(I - sign S)^-1. Both return false where the matrix to
// invert is singular (no such parameters exist there) or a value is not finite.
bool to_s(Parameter kind, int ports, const cplx* p, cplx* s);
bool from_s(Parameter kind, int ports, const cplx* s, cplx* p);

// Multipliers taking a file's parameters to their 1-ohm normalised form,
// element (i, j): R_i^(-sign_i/2) R_j^(-sign_j/2).
std::vector<double> normalisation(Parameter kind, const std::vector<double>& z0);

double unit_scale(std::string_view unit);  // Hz per unit, or 0 for an unknown unit
int ports_of_name(const std::string& path);  // N of a .sNp (.yNp, .zNp, .hNp, .gNp) name, or 0
std::string shown(std::string_view s);      // a token as printable text for a message
std::string shortest(double x);             // shortest text that reads back as x

}  // namespace orvane::touchstone
