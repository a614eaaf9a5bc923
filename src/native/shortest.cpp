// Shortest decimal text of a double that reads back as the same double, by
// Giulietti's Schubfach method ("The Schubfach way to render doubles",
// 2020): the decimal neighbours of the value's rounding interval from one
// 128-bit multiplication each, with no loop over digits. About three times
// as fast as std::to_chars here, which dominated the writing of Touchstone
// files. The 617 powers of ten it needs are computed exactly, once, with a
// small big-integer arithmetic (no table copied from anywhere).
#include "shortest.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace orvane::touchstone {
namespace {

using u64 = std::uint64_t;
using u128 = unsigned __int128;

constexpr int kMinExp = -292, kMaxExp = 324;  // the powers 10^e the method meets for doubles

struct Pow10 {
    u64 hi, lo;  // floor(10^e 2^(127 - floor(log2 10^e))) + 1, in [2^127, 2^128]
};

// little-endian base 2^32 big integers, just what the table needs
using Big = std::vector<std::uint32_t>;

void times10(Big& a) {
    u64 carry = 0;
    for (auto& w : a) {
        const u64 v = u64(w) * 10 + carry;
        w = std::uint32_t(v);
        carry = v >> 32;
    }
    if (carry) a.push_back(std::uint32_t(carry));
}

int bit_length(const Big& a) {
    const int top = int(a.size()) - 1;
    return top * 32 + (32 - __builtin_clz(a[size_t(top)]));
}

bool bit(const Big& a, int i) { return (a[size_t(i / 32)] >> (i % 32)) & 1; }

bool at_least(const Big& a, const Big& b) {  // a >= b, a and b of one length
    for (size_t i = a.size(); i-- > 0;)
        if (a[i] != b[i]) return a[i] > b[i];
    return true;
}

void subtract(Big& a, const Big& b) {
    std::int64_t borrow = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        std::int64_t v = std::int64_t(a[i]) - std::int64_t(b[i]) - borrow;
        borrow = v < 0;
        a[i] = std::uint32_t(v + (borrow << 32));
    }
}

void twice(Big& a) {
    std::uint32_t carry = 0;
    for (auto& w : a) {
        const std::uint32_t next = w >> 31;
        w = (w << 1) | carry;
        carry = next;
    }
}

Pow10 from_bits(u128 g) { return {u64(g >> 64), u64(g)}; }

std::vector<Pow10> make_table() {
    std::vector<Pow10> table(size_t(kMaxExp - kMinExp + 1));
    Big p{1};
    for (int e = 0; e <= -kMinExp || e <= kMaxExp; ++e) {  // p = 10^e
        const int length = bit_length(p);
        if (e <= kMaxExp) {
            // the top 128 bits of 10^e (floor), plus one
            u128 g = 0;
            for (int i = 0; i < 128; ++i) {
                const int at = length - 1 - i;
                g = (g << 1) | u128(at >= 0 && bit(p, at));
            }
            table[size_t(e - kMinExp)] = from_bits(g + 1);
        }
        if (e > 0 && -e >= kMinExp) {
            // floor(2^(127 + L) / 10^e), L = bit length of 10^e, by long division, plus one
            Big r(p.size() + 1, 0), d = p;
            d.push_back(0);
            r[size_t(length / 32)] = std::uint32_t(1) << (length % 32);  // 2^L, in [10^e, 2 10^e)
            u128 g = 0;
            for (int i = 0; i < 128; ++i) {
                if (i) twice(r);
                const bool one = at_least(r, d);
                if (one) subtract(r, d);
                g = (g << 1) | u128(one);
            }
            table[size_t(-e - kMinExp)] = from_bits(g + 1);
        }
        times10(p);
    }
    return table;
}

const std::vector<Pow10>& table() {
    static const std::vector<Pow10> t = make_table();
    return t;
}

inline int floor_log10_pow2(int e) { return (e * 1262611) >> 22; }
inline int floor_log10_three_quarters_pow2(int e) { return (e * 1262611 - 524031) >> 22; }
inline int floor_log2_pow10(int e) { return (e * 1741647) >> 19; }

// g cp / 2^128, rounded to odd
inline u64 round_to_odd(const Pow10& g, u64 cp) {
    const u128 x = u128(g.lo) * cp;
    const u128 y = u128(g.hi) * cp;
    const u64 x_hi = u64(x >> 64);
    const u64 y0 = u64(y) + x_hi;
    const u64 y1 = u64(y >> 64) + (y0 < x_hi);
    return y1 | (y0 > 1);
}

// The shortest decimal s 10^k in the rounding interval of c 2^q.
inline void to_decimal(u64 c, int q, bool lower_closer, u64& s_out, int& k_out) {
    const bool even = (c & 1) == 0;
    const u64 cb = c << 2;
    const u64 cbl = cb - 2 + u64(lower_closer);
    const u64 cbr = cb + 2;
    const int k = lower_closer ? floor_log10_three_quarters_pow2(q) : floor_log10_pow2(q);
    const int h = q + floor_log2_pow10(-k) + 1;
    const Pow10& g = table()[size_t(-k - kMinExp)];
    const u64 vbl = round_to_odd(g, cbl << h);
    const u64 vb = round_to_odd(g, cb << h);
    const u64 vbr = round_to_odd(g, cbr << h);
    const u64 lower = vbl + u64(!even);
    const u64 upper = vbr - u64(!even);
    const u64 s = vb >> 2;
    if (s >= 10) {
        const u64 sp = s / 10;
        const bool up_inside = lower <= 40 * sp;
        const bool wp_inside = 40 * sp + 40 <= upper;
        if (up_inside != wp_inside) {
            s_out = sp + u64(wp_inside);
            k_out = k + 1;
            return;
        }
    }
    const bool u_inside = lower <= 4 * s;
    const bool w_inside = 4 * s + 4 <= upper;
    if (u_inside != w_inside) {
        s_out = s + u64(w_inside);
        k_out = k;
        return;
    }
    const u64 mid = 4 * s + 2;
    const bool round_up = vb > mid || (vb == mid && (s & 1) != 0);
    s_out = s + u64(round_up);
    k_out = k;
}

constexpr char kPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// eight digits of v < 10^8, leading zeros included: four independent pairs
inline void eight(char* out, std::uint32_t v) {
    const std::uint32_t a = v / 10000, b = v % 10000;
    std::memcpy(out, kPairs + 2 * (a / 100), 2);
    std::memcpy(out + 2, kPairs + 2 * (a % 100), 2);
    std::memcpy(out + 4, kPairs + 2 * (b / 100), 2);
    std::memcpy(out + 6, kPairs + 2 * (b % 100), 2);
}

// the n decimal digits of v < 10^17 at out, and up to 17 - n more bytes after them (overwritten later)
inline void digits(char* out, u64 v, int n) {
    char all[40] = {};
    const u64 high = v / 100000000;
    all[0] = char('0' + high / 100000000);
    eight(all + 1, std::uint32_t(high % 100000000));
    eight(all + 9, std::uint32_t(v % 100000000));
    std::memcpy(out, all + 17 - n, 17);  // a fixed length: no call
}

// decimal digits of v > 0: from its bit length, then one comparison
inline int count_digits(u64 v) {
    static constexpr u64 kPowers[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull,
                                        100000000ull, 1000000000ull, 10000000000ull, 100000000000ull,
                                        1000000000000ull, 10000000000000ull, 100000000000000ull,
                                        1000000000000000ull, 10000000000000000ull, 100000000000000000ull,
                                        1000000000000000000ull, 10000000000000000000ull};
    const int guess = ((64 - __builtin_clzll(v)) * 1233) >> 12;  // floor(log10(2^bits)), at most one short
    return guess + (guess < 20 && v >= kPowers[guess]);
}

}  // namespace

char* write_shortest(char* out, double x) {
    u64 bits;
    std::memcpy(&bits, &x, sizeof bits);
    const u64 fraction = bits & ((u64(1) << 52) - 1);
    const int exponent = int((bits >> 52) & 0x7ff);
    if (exponent == 0x7ff) return std::to_chars(out, out + 32, x).ptr;  // inf, nan: never written here
    if (bits >> 63) *out++ = '-';
    if (exponent == 0 && fraction == 0) {
        *out++ = '0';
        return out;
    }
    u64 c;
    int q;
    if (exponent == 0) {
        c = fraction;
        q = 1 - 1075;
    } else {
        c = fraction | (u64(1) << 52);
        q = exponent - 1075;
    }
    u64 s;
    int k;
    to_decimal(c, q, fraction == 0 && exponent > 1, s, k);
    while (s % 10 == 0) {  // trailing zeros go into the exponent
        s /= 10;
        ++k;
    }
    const int n = count_digits(s);
    const int point = n + k;  // the value is 0.d1d2...dn 10^point
    if (point > 0 && point <= 17) {
        if (k >= 0) {  // an integer
            digits(out, s, n);
            out += n;
            std::memset(out, '0', size_t(k));
            return out + k;
        }
        digits(out + 1, s, n);  // d1..d(point) . the rest
        std::memmove(out, out + 1, size_t(point));
        out[point] = '.';
        return out + n + 1;
    }
    if (point <= 0 && point > -5) {
        *out++ = '0';
        *out++ = '.';
        std::memset(out, '0', size_t(-point));
        out += -point;
        digits(out, s, n);
        return out + n;
    }
    // d1.d2...dn e(point - 1)
    digits(out + 1, s, n);
    out[0] = out[1];
    if (n > 1) {
        out[1] = '.';
        out += n + 1;
    } else {
        out += 1;
    }
    int e = point - 1;
    *out++ = 'e';
    if (e < 0) {
        *out++ = '-';
        e = -e;
    } else {
        *out++ = '+';
    }
    if (e >= 100) {
        *out++ = char('0' + e / 100);
        e %= 100;
    }
    std::memcpy(out, kPairs + 2 * e, 2);
    return out + 2;
}

}  // namespace orvane::touchstone
