// The third way to run a formula: on kinds instead of values. A Kind says
// whether numpy's array at that step is complex, so running a formula on the
// kinds of its arguments gives the dtype numpy gives each result (a real
// operand meets a complex one as complex; np.ones, np.zeros, np.real and
// np.angle are real). The native path computes in one value type for all
// points and uses this to hand back real results where numpy's are real.
#pragma once

#include <array>
#include <cstddef>

#include "target.hpp"

namespace hidden::numeric {
inline namespace HIDDEN_TARGET {

struct Kind {
    bool complex = false;
};

inline Kind operator|(Kind a, Kind b) { return {a.complex || b.complex}; }
inline Kind operator+(Kind a, Kind b) { return a | b; }
inline Kind operator-(Kind a, Kind b) { return a | b; }
inline Kind operator*(Kind a, Kind b) { return a | b; }
inline Kind operator/(Kind a, Kind b) { return a | b; }
inline Kind operator-(Kind a) { return a; }
// Python numbers leave the kind of an array as it is.
inline Kind operator+(Kind a, double) { return a; }
inline Kind operator-(Kind a, double) { return a; }
inline Kind operator*(Kind a, double) { return a; }
inline Kind operator/(Kind a, double) { return a; }
inline Kind operator+(double, Kind b) { return b; }
inline Kind operator-(double, Kind b) { return b; }
inline Kind operator*(double, Kind b) { return b; }
inline Kind operator/(double, Kind b) { return b; }

constexpr Kind kReal{false};

struct KindPath {
    static Kind at(Kind s, int, int) { return s; }
    static Kind col(Kind g, int) { return g; }
    static Kind det(Kind s) { return s; }
    static Kind inv(Kind s) { return s; }
    static Kind matmul(Kind a, Kind b) { return a | b; }
    static Kind ones_for(Kind) { return kReal; }
    static Kind zeros_for(Kind) { return kReal; }
    // np.array of the nested list: one dtype for the four.
    static Kind assemble(Kind a, Kind b, Kind c, Kind d) { return a | b | c | d; }
    static double one() { return 1.0; }
    static Kind sign(Kind x) { return x; }
    static Kind real(Kind) { return kReal; }
    static Kind sqrt(Kind x) { return x; }
    static Kind angle(Kind) { return kReal; }
    static Kind cos(Kind x) { return x; }
};

}  // namespace HIDDEN_TARGET
}  // namespace hidden::numeric
