// S/T conversion and wave-ratio formulas, written once for every path
// (NumpyPath, PointPath, KindPath). Each statement is one operation, in the
// order numpy evaluates them.
#pragma once

#include <array>

#include "core/target.hpp"

namespace hidden::netparams {
inline namespace HIDDEN_TARGET {

template <class P, class S>
auto S2T(P& p, const S& s) {
    auto d = p.det(s);
    auto nd = -d;
    auto s21 = p.at(s, 1, 0);
    auto x00 = nd / s21;
    auto s11 = p.at(s, 0, 0);
    s21 = p.at(s, 1, 0);
    auto x01 = s11 / s21;
    auto s22 = p.at(s, 1, 1);
    auto ns22 = -s22;
    s21 = p.at(s, 1, 0);
    auto x10 = ns22 / s21;
    auto ones = p.ones_for(s);
    s21 = p.at(s, 1, 0);
    auto x11 = ones / s21;
    return p.assemble(x00, x01, x10, x11);
}

template <class P, class S>
auto T2S(P& p, const S& t) {
    auto t12 = p.at(t, 0, 1);
    auto t22 = p.at(t, 1, 1);
    auto x00 = t12 / t22;
    auto d = p.det(t);
    t22 = p.at(t, 1, 1);
    auto x01 = d / t22;
    auto ones = p.ones_for(t);
    t22 = p.at(t, 1, 1);
    auto x10 = ones / t22;
    auto t21 = p.at(t, 1, 0);
    auto nt21 = -t21;
    t22 = p.at(t, 1, 1);
    auto x11 = nt21 / t22;
    return p.assemble(x00, x01, x10, x11);
}

// The receivers of one port map, in the order a recording's waves are named.
enum class Rx : int { A1, B1, A2, B2 };
inline const char* rx_key(Rx r) {
    static const char* const keys[] = {"Rx1A", "Rx1B", "Rx2A", "Rx2B"};
    return keys[int(r)];
}

// Raw S-parameters from the recordings with port 1 and with port 2 driving.
template <class P, class R>
auto ab2S(P& p, const R& tx1, const R& tx2) {
    auto b1 = p.wave(tx1, Rx::B1);
    auto a1 = p.wave(tx1, Rx::A1);
    auto S11 = b1 / a1;
    auto b2 = p.wave(tx1, Rx::B2);
    a1 = p.wave(tx1, Rx::A1);
    auto S21 = b2 / a1;
    auto b1p = p.wave(tx2, Rx::B1);
    auto a2p = p.wave(tx2, Rx::A2);
    auto S12 = b1p / a2p;
    auto b2p = p.wave(tx2, Rx::B2);
    a2p = p.wave(tx2, Rx::A2);
    auto S22 = b2p / a2p;
    return p.assemble(S11, S12, S21, S22);
}

// The same with the switch terms (the non-driven port's termination) removed.
template <class P, class R>
auto ab2S_SwitchCorrect(P& p, const R& tx1, const R& tx2) {
    auto [a1, b1, a2, b2] = p.waves(tx1);
    auto [a1p, b1p, a2p, b2p] = p.waves(tx2);
    auto g1 = a1p / b1p;
    auto g2 = a2 / b2;

    auto d1 = b2 / a1;
    auto d2 = b1p / a2p;
    auto d3 = d1 * d2;
    auto d4 = d3 * g1;
    auto d5 = d4 * g2;
    auto d = p.one() - d5;

    auto s11a = b1 / a1;
    auto s11b = b1p / a2p;
    auto s11c = b2 / a1;
    auto s11d = s11b * s11c;
    auto s11e = s11d * g2;
    auto s11f = s11a - s11e;
    auto S11 = s11f / d;

    auto s12a = b1p / a2p;
    auto s12b = b1 / a1;
    auto s12c = b1p / a2p;
    auto s12d = s12b * s12c;
    auto s12e = s12d * g1;
    auto s12f = s12a - s12e;
    auto S12 = s12f / d;

    auto s21a = b2 / a1;
    auto s21b = b2p / a2p;
    auto s21c = b2 / a1;
    auto s21d = s21b * s21c;
    auto s21e = s21d * g2;
    auto s21f = s21a - s21e;
    auto S21 = s21f / d;

    auto s22a = b2p / a2p;
    auto s22b = b2 / a1;
    auto s22c = b1p / a2p;
    auto s22d = s22b * s22c;
    auto s22e = s22d * g1;
    auto s22f = s22a - s22e;
    auto S22 = s22f / d;

    return p.assemble(S11, S12, S21, S22);
}

}  // namespace HIDDEN_TARGET
}  // namespace hidden::netparams
