// Error-model formulas, written once for every path (see netparams/formulas.hpp).
// One operation per statement, in the order numpy evaluates them; calls to
// other module functions go through the path (p.S2T, p.get1PortModel, ...).
#pragma once

#include <array>

#include "netparams/formulas.hpp"

namespace hidden::calibration {
inline namespace HIDDEN_TARGET {

// -- one-port ---------------------------------------------------------------

// Row i of A: [1, G_i*Gm_i, -G_i]; b_i = Gm_i; x = [e00, e11, delta_e].
template <class P, class G>
auto get1PortModel(P& p, const G& g, const G& gm) {
    auto ones = p.ones_for(g);
    auto g0 = p.col(g, 0);
    auto m0 = p.col(gm, 0);
    auto a01 = g0 * m0;
    auto a02 = -p.col(g, 0);
    auto g1 = p.col(g, 1);
    auto m1 = p.col(gm, 1);
    auto a11 = g1 * m1;
    auto a12 = -p.col(g, 1);
    auto g2 = p.col(g, 2);
    auto m2 = p.col(gm, 2);
    auto a21 = g2 * m2;
    auto a22 = -p.col(g, 2);
    auto A = p.system3(ones, a01, a02, ones, a11, a12, ones, a21, a22);
    auto b = p.rhs3(p.col(gm, 0), p.col(gm, 1), p.col(gm, 2));
    auto x = p.solve(A, b);
    return p.squeeze_rhs(x);
}

template <class P, class V, class E>
auto correct1Port(P& p, const V& gm, const E& err) {
    auto e00 = p.col(err, 0);
    auto e11 = p.col(err, 1);
    auto delta_e = p.col(err, 2);
    auto num = gm - e00;
    auto prod = gm * e11;
    auto den = prod - delta_e;
    return num / den;
}

// -- frequency response -----------------------------------------------------

template <class V>
auto ratio(const V& measured, const V& actual) {
    return measured / actual;
}

// -- eight-term -------------------------------------------------------------

// Normalized error adapters from one-port terms: port 1 faces the device with
// its port 2, port 2 with its port 1, hence the swapped columns.
template <class P, class X>
auto adapter_port1(P& p, const X& x) {
    auto a00 = -p.col(x, 2);
    auto a01 = p.col(x, 0);
    auto a10 = -p.col(x, 1);
    auto a11 = p.ones_for(x);
    return p.assemble(a00, a01, a10, a11);
}

template <class P, class X>
auto adapter_port2(P& p, const X& y) {
    auto b00 = -p.col(y, 2);
    auto b01 = p.col(y, 1);
    auto b10 = -p.col(y, 0);
    auto b11 = p.ones_for(y);
    return p.assemble(b00, b01, b10, b11);
}

template <class P, class G, class S>
auto get8TermModel(P& p, const G& G1, const G& Gm1, const G& G2, const G& Gm2, const S& T, const S& Tm) {
    auto Tt = p.S2T(T);
    auto Tmt = p.S2T(Tm);
    auto x = p.get1PortModel(G1, Gm1);
    auto y = p.get1PortModel(G2, Gm2);
    auto A = adapter_port1(p, x);
    auto B = adapter_port2(p, y);
    auto iTmt = p.inv(Tmt);
    auto BiT = p.matmul(B, iTmt);
    auto TBiT = p.matmul(Tt, BiT);
    auto Q = p.matmul(A, TBiT);
    auto q00 = p.at(Q, 0, 0);
    auto re = p.real(q00);
    auto s = p.sign(re);
    auto dQ = p.det(Q);
    auto root = p.sqrt(dQ);
    auto q = s * root;
    return p.result(A, B, q);
}

template <class P, class G, class S, class F, class L, class C>
auto get8TermModelUThru(P& p, const G& G1, const G& Gm1, const G& G2, const G& Gm2, const S& Tm, const F& freq_vec,
                        const L& phys_length, const C& speed_of_light, const C& pi) {
    auto Tmt = p.S2T(Tm);
    auto x = p.get1PortModel(G1, Gm1);
    auto y = p.get1PortModel(G2, Gm2);
    auto A = adapter_port1(p, x);
    auto B = adapter_port2(p, y);
    auto dA = p.det(A);
    auto dB = p.det(B);
    auto dAB = dA * dB;
    auto dT = p.det(Tmt);
    auto q2 = dAB / dT;
    auto q = p.sqrt(q2);
    auto iA = p.inv(A);
    auto iB = p.inv(B);
    auto TiB = p.matmul(Tmt, iB);
    auto U = p.matmul(iA, TiB);
    auto u11 = p.at(U, 1, 1);
    auto phi = p.angle(u11);
    auto vf = p.real_constant(0.695);
    auto c_vf = speed_of_light * vf;
    auto gd = phys_length / c_vf;
    auto gd2 = gd * p.int_constant(2);
    auto gd2pi = gd2 * pi;
    auto phase = gd2pi * freq_vec;
    auto arg = phi + phase;
    auto c = p.cos(arg);
    auto s = p.sign(c);
    auto signed_q = s * q;
    return p.result(A, B, signed_q);
}

template <class P, class S, class Q>
auto correct8Term(P& p, const S& Sm, const S& A, const S& B, const Q& q) {
    auto Tm = p.S2T(Sm);
    auto z01 = p.zeros_for(q);
    auto z10 = p.zeros_for(q);
    auto Qm = p.assemble(q, z01, z10, q);
    auto iA = p.inv(A);
    auto iB = p.inv(B);
    auto TiB = p.matmul(Tm, iB);
    auto AiTiB = p.matmul(iA, TiB);
    auto T = p.matmul(Qm, AiTiB);
    return p.T2S(T);
}

// -- twelve-term ------------------------------------------------------------

// N/D of the load match at one port, from the thru: `r` indexes the thru's
// reflection at this port, `o` at the other one. det(T) is taken afresh
// wherever the expression uses it.
template <class P, class S, class V>
auto load_match(P& p, const S& T, const S& Tm, int r, int o, const V& e00, const V& e11, const V& e10e01) {
    auto t1 = e10e01 * p.at(T, r, r);
    auto tm = p.at(Tm, r, r);
    auto t2 = tm - e00;
    auto t3 = e11 * p.at(T, r, r);
    auto t4 = p.one() - t3;
    auto t5 = t2 * t4;
    auto N = t1 - t5;
    auto d1 = e11 * p.det(T);
    auto d2 = d1 - p.at(T, o, o);
    auto tm2 = p.at(Tm, r, r);
    auto d3 = tm2 - e00;
    auto d4 = d2 * d3;
    auto d5 = e10e01 * p.det(T);
    auto D_ = d4 + d5;
    return N / D_;
}

// Transmission tracking from the thru's transmission (i, j), its isolation
// term and the load match e22 of this direction.
template <class P, class S, class V, class W>
auto tracking(P& p, const S& T, const S& Tm, int i, int j, int r, int o, const W& iso, const V& e11,
              const V& e22) {
    auto t1 = p.at(Tm, i, j);
    auto t2 = t1 - iso;
    auto t3 = t2 / p.at(T, i, j);
    auto u1 = e11 * p.at(T, r, r);
    auto u2 = p.one() - u1;
    auto u3 = e22 * p.at(T, o, o);
    auto u4 = u2 - u3;
    auto u5 = e11 * e22;
    auto u6 = u5 * p.det(T);
    auto u7 = u4 + u6;
    return t3 * u7;
}

template <class P, class G, class S, class I>
auto get12TermModel(P& p, const G& G1, const G& Gm1, const G& G2, const G& Gm2, const S& T, const S& Tm,
                    const I& isolation) {
    auto x = p.get1PortModel(G1, Gm1);
    auto y = p.get1PortModel(G2, Gm2);
    auto [e00, e11, delta_e] = p.columns3(x);
    auto [ep33, ep22, delta_ep] = p.columns3(y);
    auto f1 = e00 * e11;
    auto e10e01 = f1 - delta_e;
    auto r1 = ep33 * ep22;
    auto ep23ep32 = r1 - delta_ep;
    auto [e30, ep03] = p.isolation_terms(isolation, e00);
    auto e22 = load_match(p, T, Tm, 0, 1, e00, e11, e10e01);
    auto ep11 = load_match(p, T, Tm, 1, 0, ep33, ep22, ep23ep32);
    auto e10e32 = tracking(p, T, Tm, 1, 0, 0, 1, e30, e11, e22);
    auto ep23ep01 = tracking(p, T, Tm, 0, 1, 1, 0, ep03, ep22, ep11);
    return p.terms(e00, e11, e10e01, e10e32, e22, e30, ep33, ep22, ep23ep32, ep23ep01, ep11, ep03);
}

template <class P, class S, class F>
auto correct12Term(P& p, const S& Sm, const F& fwd, const F& rev) {
    auto [e00, e11, e10e01, e10e32, e22, e30] = p.columns6(fwd);
    auto [ep33, ep22, ep23ep32, ep23ep01, ep11, ep03] = p.columns6(rev);
    auto x1 = p.at(Sm, 0, 0);
    auto x2 = x1 - e00;
    auto x = x2 / e10e01;
    auto y1 = p.at(Sm, 0, 1);
    auto y2 = y1 - ep03;
    auto y = y2 / ep23ep01;
    auto z1 = p.at(Sm, 1, 0);
    auto z2 = z1 - e30;
    auto z = z2 / e10e32;
    auto w1 = p.at(Sm, 1, 1);
    auto w2 = w1 - ep33;
    auto w = w2 / ep23ep32;

    auto d1 = x * e11;
    auto d2 = p.one() + d1;
    auto d3 = w * ep22;
    auto d4 = p.one() + d3;
    auto d5 = d2 * d4;
    auto d6 = z * y;
    auto d7 = d6 * e22;
    auto d8 = d7 * ep11;
    auto D = d5 - d8;

    auto a1 = w * ep22;
    auto a2 = p.one() + a1;
    auto a3 = x * a2;
    auto a4 = e22 * y;
    auto a5 = a4 * z;
    auto a6 = a3 - a5;
    auto S11 = a6 / D;

    auto b1 = ep22 - e22;
    auto b2 = w * b1;
    auto b3 = p.one() + b2;
    auto b4 = z * b3;
    auto S21 = b4 / D;

    auto c1 = x * e11;
    auto c2 = p.one() + c1;
    auto c3 = w * c2;
    auto c4 = ep11 * y;
    auto c5 = c4 * z;
    auto c6 = c3 - c5;
    auto S22 = c6 / D;

    auto g1 = e11 - ep11;
    auto g2 = x * g1;
    auto g3 = p.one() + g2;
    auto g4 = y * g3;
    auto S12 = g4 / D;

    return p.assemble(S11, S12, S21, S22);
}

// -- de-embedding -----------------------------------------------------------

template <class P, class S, class A>
auto deEmbed(P& p, const S& S_A_DUT_B, const A& S_A, const A& S_B) {
    auto T_A_DUT_B = p.S2T(S_A_DUT_B);
    auto T_A = p.S2T(S_A);
    auto T_B = p.S2T(S_B);
    auto iA = p.inv(T_A);
    auto iB = p.inv(T_B);
    auto inner = p.matmul(T_A_DUT_B, iB);
    auto T_DUT = p.matmul(iA, inner);
    return p.T2S(T_DUT);
}

}  // namespace HIDDEN_TARGET
}  // namespace hidden::calibration
