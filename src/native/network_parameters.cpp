// S-parameters from Y, Z, H and G parameters and back, for any port count
// (H and G: two-ports), in the normalised form of a Touchstone 1.x file.
//
// With every port's voltage and current normalised to 1 ohm (v = V/sqrt(R),
// i = I sqrt(R)) and the waves a = (v + i)/2, b = (v - i)/2, every kind is
// "out = P in", where out_k is port k's voltage (sign +1) or current (-1)
// and in_k the other one. Then out = a + sign b and in = a - sign b, so
//   S = sign (I + P)^-1 (P - I)    and    P = (I + sign S)(I - sign S)^-1.
#include <cmath>
#include <complex>
#include <utility>
#include <vector>

#include "touchstone.hpp"

namespace orvane::touchstone {

int output_sign(Parameter kind, int port) {
    switch (kind) {
        case Parameter::Y: return -1;
        case Parameter::H: return port == 0 ? 1 : -1;
        case Parameter::G: return port == 0 ? -1 : 1;
        default: return 1;
    }
}

char parameter_letter(Parameter kind) {
    static const char letters[] = "SYZHG";
    return letters[int(kind)];
}

namespace {

bool finite(cplx z) { return std::isfinite(z.real()) && std::isfinite(z.imag()); }

// Solves A X = B for X (n x n, row-major; A and B are overwritten, X left
// in B) by LU with partial pivoting. False for an exactly zero pivot or a
// result that is not finite.
bool solve(int n, cplx* a, cplx* b) {
    for (int k = 0; k < n; ++k) {
        int pivot = k;
        double best = std::abs(a[k * n + k]);
        for (int r = k + 1; r < n; ++r) {
            const double size = std::abs(a[r * n + k]);
            if (size > best) {
                best = size;
                pivot = r;
            }
        }
        if (!(best > 0) || !std::isfinite(best)) return false;
        if (pivot != k)
            for (int c = 0; c < n; ++c) {
                std::swap(a[k * n + c], a[pivot * n + c]);
                std::swap(b[k * n + c], b[pivot * n + c]);
            }
        const cplx inverse = 1.0 / a[k * n + k];
        for (int r = k + 1; r < n; ++r) {
            const cplx m = a[r * n + k] * inverse;
            if (m == cplx(0)) continue;
            for (int c = k + 1; c < n; ++c) a[r * n + c] -= m * a[k * n + c];
            for (int c = 0; c < n; ++c) b[r * n + c] -= m * b[k * n + c];
        }
    }
    for (int k = n - 1; k >= 0; --k) {
        const cplx inverse = 1.0 / a[k * n + k];
        for (int c = 0; c < n; ++c) {
            cplx x = b[k * n + c];
            for (int j = k + 1; j < n; ++j) x -= a[k * n + j] * b[j * n + c];
            b[k * n + c] = x * inverse;
            if (!finite(b[k * n + c])) return false;
        }
    }
    return true;
}

}  // namespace

bool to_s(Parameter kind, int ports, const cplx* p, cplx* s) {
    const int n = ports;
    std::vector<cplx> a(size_t(n) * size_t(n));
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const cplx v = p[i * n + j];
            if (!finite(v)) return false;
            a[i * n + j] = v + (i == j ? 1.0 : 0.0);
            s[i * n + j] = v - (i == j ? 1.0 : 0.0);
        }
    if (!solve(n, a.data(), s)) return false;
    for (int i = 0; i < n; ++i)
        if (output_sign(kind, i) < 0)
            for (int j = 0; j < n; ++j) s[i * n + j] = -s[i * n + j];
    return true;
}

bool from_s(Parameter kind, int ports, const cplx* s, cplx* p) {
    // P (I - sign S) = I + sign S, solved transposed: (I - sign S)^T P^T = (I + sign S)^T
    const int n = ports;
    std::vector<cplx> a(size_t(n) * size_t(n)), b(size_t(n) * size_t(n));
    for (int i = 0; i < n; ++i) {
        const double sign = output_sign(kind, i);
        for (int j = 0; j < n; ++j) {
            const cplx v = sign * s[i * n + j];
            a[j * n + i] = (i == j ? 1.0 : 0.0) - v;
            b[j * n + i] = (i == j ? 1.0 : 0.0) + v;
        }
    }
    if (!solve(n, a.data(), b.data())) return false;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) p[i * n + j] = b[j * n + i];
    return true;
}

std::vector<double> normalisation(Parameter kind, const std::vector<double>& z0) {
    const size_t n = z0.size();
    std::vector<double> w(n), out(n * n);
    for (size_t k = 0; k < n; ++k) {
        const double root = std::sqrt(z0[k]);
        w[k] = output_sign(kind, int(k)) > 0 ? 1.0 / root : root;
    }
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) out[i * n + j] = w[i] * w[j];
    return out;
}

}  // namespace orvane::touchstone
