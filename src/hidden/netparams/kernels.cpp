// The native loops of the network-parameter conversions. Compiled once per
// CPU target; nothing here touches Python.
#include "core/points.hpp"
#include "formulas.hpp"
#include "kernels.hpp"

namespace hidden::netparams {
inline namespace HIDDEN_TARGET {
using namespace numeric;

// A recording's four waves, already loaded for the point.
struct PointWaves : PointPath {
    template <class V> static V wave(const std::array<V, 4>& w, Rx key) { return w[size_t(key)]; }
    template <class V> static std::array<V, 4> waves(const std::array<V, 4>& w) { return w; }
};

template <class Formula>
static bool conversion(const Job& j, Formula&& formula) {
    return run<PointPath>(j, [&]<class V>(PointPath& p, Index k, bool& ok) {
        store(j.out[0], k, formula(p, load_stack<V>(j.in[0], k, ok)));
    });
}

static bool s2t(const Job& j) {
    return conversion(j, [](auto& p, const auto& s) { return netparams::S2T(p, s); });
}

static bool t2s(const Job& j) {
    return conversion(j, [](auto& p, const auto& t) { return netparams::T2S(p, t); });
}

template <class Formula>
static bool two_port(const Job& j, Formula&& formula) {
    return run<PointWaves>(j, [&]<class V>(PointWaves& p, Index k, bool& ok) {
        std::array<V, 4> w1, w2;
        for (size_t i = 0; i < 4; ++i) {
            w1[i] = load_vec<V>(j.in[i], k, ok);
            w2[i] = load_vec<V>(j.in[4 + i], k, ok);
        }
        store(j.out[0], k, formula(p, w1, w2));
    });
}

static bool ab2s(const Job& j) {
    return two_port(j, [](auto& p, const auto& w1, const auto& w2) { return netparams::ab2S(p, w1, w2); });
}

static bool ab2s_switch_correct(const Job& j) {
    return two_port(j, [](auto& p, const auto& w1, const auto& w2) { return netparams::ab2S_SwitchCorrect(p, w1, w2); });
}

static bool ratio(const Job& j) {
    return run<PointPath>(j, [&]<class V>(PointPath&, Index k, bool& ok) {
        const V x = load_vec<V>(j.in[0], k, ok);
        const V y = load_vec<V>(j.in[1], k, ok);
        store(j.out[0], k, x / y);
    });
}

}  // namespace HIDDEN_TARGET

const Kernels HIDDEN_TARGET_NAME(kernels) = {s2t, t2s, ab2s, ab2s_switch_correct, ratio};

}  // namespace hidden::netparams
