// The native loops of the error models. Compiled once per CPU target;
// nothing here touches Python.
#include "kernels.hpp"
#include "points.hpp"

namespace hidden::calibration {
inline namespace HIDDEN_TARGET {

template <class V>
static auto solt(const Job& j, Index k, bool& ok) {
    return std::array{load_row<V, 3>(j.in[0], k, ok), load_row<V, 3>(j.in[1], k, ok), load_row<V, 3>(j.in[2], k, ok),
                      load_row<V, 3>(j.in[3], k, ok)};
}

static bool one_port_model(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        store(j.out[0], k, calibration::get1PortModel(p, load_row<V, 3>(j.in[0], k, ok), load_row<V, 3>(j.in[1], k, ok)));
    });
}

static bool correct_one_port(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        store(j.out[0], k, calibration::correct1Port(p, load_vec<V>(j.in[0], k, ok), load_row<V, 3>(j.in[1], k, ok)));
    });
}

static bool two_port_response(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint&, Index k, bool& ok) {
        const M2<V> t = load_stack<V>(j.in[4], k, ok), tm = load_stack<V>(j.in[5], k, ok);
        put(j.out[0], k, 0, ratio(load_vec<V>(j.in[1], k, ok), load_vec<V>(j.in[0], k, ok)));
        put(j.out[0], k, 3, ratio(load_vec<V>(j.in[3], k, ok), load_vec<V>(j.in[2], k, ok)));
        put(j.out[0], k, 1, ratio(tm.m[0][1], t.m[0][1]));
        put(j.out[0], k, 2, ratio(tm.m[1][0], t.m[1][0]));
    });
}

static bool correct_response(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint&, Index k, bool& ok) {
        const M2<V> s = load_stack<V>(j.in[0], k, ok), h = load_stack<V>(j.in[1], k, ok);
        M2<V> r;
        for (int a = 0; a < 2; ++a)
            for (int b = 0; b < 2; ++b) r.m[a][b] = ratio(s.m[a][b], h.m[a][b]);
        store(j.out[0], k, r);
    });
}

static bool eight_term(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        const auto g = solt<V>(j, k, ok);
        store(j, k, calibration::get8TermModel(p, g[0], g[1], g[2], g[3], load_stack<V>(j.in[4], k, ok),
                                               load_stack<V>(j.in[5], k, ok)));
    });
}

static bool eight_term_unknown_thru(const Job& j) {
    const double length = j.scalar[0], light = j.scalar[1], pi = j.scalar[2];
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        const auto g = solt<V>(j, k, ok);
        store(j, k, calibration::get8TermModelUThru(p, g[0], g[1], g[2], g[3], load_stack<V>(j.in[4], k, ok),
                                                    load_vec<real_of<V>>(j.in[5], k, ok), length, light, pi));
    });
}

static bool correct_eight_term(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        store(j.out[0], k, calibration::correct8Term(p, load_stack<V>(j.in[0], k, ok), load_stack<V>(j.in[1], k, ok),
                                                     load_stack<V>(j.in[2], k, ok), load_vec<V>(j.in[3], k, ok)));
    });
}

static bool twelve_term(const Job& j) {
    const bool isolation = j.flag[0];
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        const auto g = solt<V>(j, k, ok);
        const M2<V> t = load_stack<V>(j.in[4], k, ok), tm = load_stack<V>(j.in[5], k, ok);
        std::array<V, 12> terms;
        if (isolation)
            terms = calibration::get12TermModel(p, g[0], g[1], g[2], g[3], t, tm, load_stack<V>(j.in[6], k, ok));
        else
            terms = calibration::get12TermModel(p, g[0], g[1], g[2], g[3], t, tm, NoIsolation{});
        for (int i = 0; i < 6; ++i) {
            put(j.out[0], k, i, terms[size_t(i)]);
            put(j.out[1], k, i, terms[size_t(i) + 6]);
        }
    });
}

static bool correct_twelve_term(const Job& j) {
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        store(j.out[0], k, calibration::correct12Term(p, load_stack<V>(j.in[0], k, ok), load_row<V, 6>(j.in[1], k, ok),
                                                      load_row<V, 6>(j.in[2], k, ok)));
    });
}

static bool de_embed(const Job& j) {
    const bool has_a = j.flag[0], has_b = j.flag[1];
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        const M2<V> thru{{{V(0.0), V(1.0)}, {V(1.0), V(0.0)}}};
        const M2<V> s = load_stack<V>(j.in[0], k, ok);
        const M2<V> a = has_a ? load_stack<V>(j.in[1], k, ok) : thru;
        const M2<V> b = has_b ? load_stack<V>(j.in[2], k, ok) : thru;
        store(j.out[0], k, calibration::deEmbed(p, s, a, b));
    });
}

static bool correct_port_extension(const Job& j) {
    const int n = j.flag[0], o = 1 - n;  // the extended port and the other one
    return run<CalPoint>(j, [&]<class V>(CalPoint& p, Index k, bool& ok) {
        const M2<V> s = load_stack<V>(j.in[0], k, ok);
        const V e = load_vec<V>(j.in[1], k, ok);
        put(j.out[0], k, 2 * n + n, s.m[n][n] / e);
        const V root = p.sqrt(e);  // the same value numpy computes twice
        put(j.out[0], k, 2 * n + o, s.m[n][o] / root);
        put(j.out[0], k, 2 * o + n, s.m[o][n] / root);
        put(j.out[0], k, 2 * o + o, s.m[o][o]);
    });
}

}  // namespace HIDDEN_TARGET

const Kernels HIDDEN_TARGET_NAME(kernels) = {
    one_port_model, correct_one_port, two_port_response, correct_response, eight_term, eight_term_unknown_thru,
    correct_eight_term, twelve_term, correct_twelve_term, de_embed, correct_port_extension,
};

}  // namespace hidden::calibration
