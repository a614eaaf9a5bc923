"""Error models: every builder recovers the terms it was synthesised with and
every corrector gives the device back; scikit-rf agrees; both paths agree."""
import warnings

import numpy as np
import pytest
import skrf

from conftest import both_paths, cascade, close, numpy_path

SIZES = [1, 7, 401]


def cplx(rng, *shape, scale=1.0):
    return scale * (rng.standard_normal(shape) + 1j * rng.standard_normal(shape))


def reflect(E, G):
    """Reflection G seen through a two-port E whose port 2 faces it."""
    return E[:, 0, 0, None] + E[:, 0, 1, None] * E[:, 1, 0, None] * G / (1 - E[:, 1, 1, None] * G)


def flip(E):
    return E[:, ::-1, ::-1]


class Setup:
    """Random error boxes, the ideal standards and their raw measurements."""

    def __init__(self, rng, n, negative_q=False):
        self.n = n
        self.f = np.linspace(1e9, 6e9, n)
        self.EA = cplx(rng, n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
        self.EB = cplx(rng, n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
        if negative_q:
            self.EA[:, 1, 0] *= -1
        self.G = np.tile([1, -1, 0], (n, 1)).astype(complex)
        self.Gm1 = reflect(self.EA, self.G)
        self.Gm2 = reflect(flip(self.EB), self.G)
        self.T = np.tile([[0.0, 1.0], [1.0, 0.0]], (n, 1, 1))
        self.D = cplx(rng, n, 2, 2, scale=0.5)

    def measure(self, S):
        return cascade(self.EA, S, self.EB)

    @property
    def q(self):
        return self.EA[:, 1, 0] * self.EB[:, 1, 0]


def one_port_terms(E):
    return np.stack([E[:, 0, 0], E[:, 1, 1], E[:, 0, 0] * E[:, 1, 1] - E[:, 0, 1] * E[:, 1, 0]], axis=1)


@pytest.mark.parametrize("n", SIZES)
def test_one_port(hidden, rng, n):
    s = Setup(rng, n)
    x = hidden.get1PortModel(s.G, s.Gm1)
    assert x.shape == (n, 3)
    close(x, one_port_terms(s.EA), 1e-12)
    for i in range(3):
        close(hidden.correct1Port(s.Gm1[:, i], x), s.G[:, i], 1e-12)
    # standards in another order, and a fourth column, change nothing
    close(hidden.get1PortModel(s.G[:, [2, 0, 1]], s.Gm1[:, [2, 0, 1]]), x, 1e-12)
    close(hidden.get1PortModel(np.c_[s.G, s.G[:, :1]], np.c_[s.Gm1, s.Gm1[:, :1]]), x, 0)


def test_ideal_one_port_terms(hidden):
    G = np.tile([1, -1, 0], (4, 1)).astype(complex)
    np.testing.assert_array_equal(hidden.get1PortModel(G, G), np.tile([0, 0, -1], (4, 1)))


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("negative_q", [False, True])
def test_eight_term(hidden, rng, n, negative_q):
    s = Setup(rng, n, negative_q)
    A, B, q = hidden.get8TermModel(s.G, s.Gm1, s.G, s.Gm2, s.T, s.measure(s.T))
    assert A.shape == B.shape == (n, 2, 2) and q.shape == (n,)
    close(q, s.q, 1e-12)
    close(np.linalg.det(A), s.EA[:, 0, 1] * s.EA[:, 1, 0], 1e-12)
    close(A[:, 1, 0], -s.EA[:, 1, 1], 1e-12)
    close(B[:, 1, 0], -s.EB[:, 1, 1], 1e-12)
    close(hidden.correct8Term(s.measure(s.D), A, B, q), s.D, 1e-10)


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("negative_q", [False, True])
def test_unknown_thru(hidden, rng, n, negative_q):
    s = Setup(rng, n, negative_q)
    gd = 0.05 / (299792458 * 0.695)
    thru = np.zeros((n, 2, 2), complex)
    thru[:, 0, 1] = thru[:, 1, 0] = 0.9 * np.exp(2j * np.pi * s.f * gd)
    A, B, q = hidden.get8TermModelUThru(s.G, s.Gm1, s.G, s.Gm2, s.measure(thru), s.f)
    close(q, s.q, 1e-12)
    close(hidden.correct8Term(s.measure(s.D), A, B, q), s.D, 1e-10)
    # a falling phase picks the other root wherever the phase rule says so
    thru[:, 0, 1] = thru[:, 1, 0] = np.exp(-2j * np.pi * s.f * gd)
    _, _, q2 = hidden.get8TermModelUThru(s.G, s.Gm1, s.G, s.Gm2, s.measure(thru), s.f, 0.05)
    flipped = np.sign(np.cos(4 * np.pi * s.f * gd - np.angle(s.q))) != np.sign(s.q.real)
    close(q2, np.where(flipped, -s.q, s.q), 1e-12)


def test_unknown_thru_root_on_a_thru_of_the_default_length(hidden):
    f = np.array([1e9, 2e9, 3e9])
    gd = 0.05 / (299792458 * 0.695)
    G = np.tile([1, -1, 0], (3, 1)).astype(complex)
    for extra, want in ((0, 1), (np.pi, -1)):
        Tm = np.zeros((3, 2, 2), complex)
        Tm[:, 0, 1] = Tm[:, 1, 0] = np.exp(1j * (2 * np.pi * f * gd + extra))
        _, _, q = hidden.get8TermModelUThru(G, G, G, G, Tm, f)
        close(q, np.full(3, want), 1e-12)


class TwelveTermSetup:
    """Raw data from the forward and reverse twelve-term equations."""

    def __init__(self, rng, n):
        self.n = n
        self.fwd = cplx(rng, n, 6, scale=0.1) + [0, 0, 0.8, 0.8, 0, 0]
        self.rev = cplx(rng, n, 6, scale=0.1) + [0, 0, 0.8, 0.8, 0, 0]
        self.fwd[:, 5] *= 0.01
        self.rev[:, 5] *= 0.01
        self.G = np.tile([1, -1, 0], (n, 1)).astype(complex)
        e00, e11, e10e01 = self.fwd[:, :3].T
        ep33, ep22, ep23ep32 = self.rev[:, :3].T
        self.Gm1 = e00[:, None] + e10e01[:, None] * self.G / (1 - e11[:, None] * self.G)
        self.Gm2 = ep33[:, None] + ep23ep32[:, None] * self.G / (1 - ep22[:, None] * self.G)
        self.T = cplx(rng, n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
        self.isolation = self.measure(np.zeros((n, 2, 2), complex))
        self.D = cplx(rng, n, 2, 2, scale=0.5)

    def measure(self, S, isolation=True):
        e00, e11, e10e01, e10e32, e22, e30 = self.fwd.T
        ep33, ep22, ep23ep32, ep23ep01, ep11, ep03 = self.rev.T
        if not isolation:
            e30 = ep03 = 0
        S11, S12, S21, S22 = S[:, 0, 0], S[:, 0, 1], S[:, 1, 0], S[:, 1, 1]
        dS = S11 * S22 - S12 * S21
        Df = 1 - e11 * S11 - e22 * S22 + e11 * e22 * dS
        Dr = 1 - ep22 * S22 - ep11 * S11 + ep11 * ep22 * dS
        M = np.empty(S.shape, complex)
        M[:, 0, 0] = e00 + e10e01 * (S11 - e22 * dS) / Df
        M[:, 1, 0] = e30 + e10e32 * S21 / Df
        M[:, 1, 1] = ep33 + ep23ep32 * (S22 - ep11 * dS) / Dr
        M[:, 0, 1] = ep03 + ep23ep01 * S12 / Dr
        return M


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("isolation", [False, True])
def test_twelve_term(hidden, rng, n, isolation):
    s = TwelveTermSetup(rng, n)
    if not isolation:
        s.fwd[:, 5] = s.rev[:, 5] = 0
    Tm = s.measure(s.T)
    fwd, rev = hidden.get12TermModel(s.G, s.Gm1, s.G, s.Gm2, s.T, Tm, s.isolation if isolation else None)
    assert fwd.shape == rev.shape == (n, 6) and fwd.dtype == complex
    close(fwd, s.fwd, 1e-11)
    close(rev, s.rev, 1e-11)
    close(hidden.correct12Term(Tm, fwd, rev), s.T, 1e-10)
    close(hidden.correct12Term(s.measure(s.D), fwd, rev), s.D, 1e-10)
    # a seventh column is ignored
    close(hidden.correct12Term(s.measure(s.D), np.c_[fwd, fwd[:, :1]], np.c_[rev, rev[:, :1]]), s.D, 1e-10)


def test_ideal_twelve_term(hidden):
    G = np.tile([1, -1, 0], (3, 1)).astype(complex)
    T = np.tile([[0.0, 1.0], [1.0, 0.0]], (3, 1, 1))
    fwd, rev = hidden.get12TermModel(G, G, G, G, T, T)
    np.testing.assert_array_equal(fwd, np.tile([0, 0, 1, 1, 0, 0], (3, 1)))
    np.testing.assert_array_equal(rev, fwd)


@pytest.mark.parametrize("n", SIZES)
def test_response_models(hidden, rng, n):
    G1, G2 = -np.ones(n, complex), np.ones(n, complex)
    H = cplx(rng, n, 2, 2)
    T = np.tile([[0.0, 1.0], [1.0, 0.0]], (n, 1, 1)) + 0j
    Tm = H * T
    Hb = hidden.get2PortResponseModel(G1, H[:, 0, 0] * G1, G2, H[:, 1, 1] * G2, T, Tm)
    assert Hb.dtype == complex and Hb.shape == (n, 2, 2)
    close(Hb, H, 1e-15)
    D = cplx(rng, n, 2, 2)
    close(hidden.correctResponse(H * D, Hb), D, 1e-14)
    np.testing.assert_array_equal(hidden.get1PortResponseModel(G1, H[:, 0, 0] * G1), -(H[:, 0, 0] * G1))
    real = hidden.get2PortResponseModel(np.ones(n), np.ones(n), np.ones(n), np.ones(n), T.real, T.real)
    assert real.dtype == complex
    with pytest.warns(RuntimeWarning):
        assert not np.isfinite(hidden.get1PortResponseModel(np.zeros(n), np.ones(n))).any()


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("port", [1, 2, 2.0])
def test_port_extension(hidden, rng, n, port):
    e10e01 = cplx(rng, n, scale=0.1) + 0.8
    gamma = -e10e01                                   # a Short at the new plane
    close(hidden.getPortExtModel(gamma, -np.ones(n)), e10e01, 1e-15)
    D = cplx(rng, n, 2, 2)
    i, j = (0, 1) if port == 1 else (1, 0)
    M = D.astype(complex)
    M[:, i, i] = D[:, i, i] * e10e01
    M[:, i, j] = D[:, i, j] * np.sqrt(e10e01)
    M[:, j, i] = D[:, j, i] * np.sqrt(e10e01)
    keep = M.copy()
    out = hidden.correctPortExt(M, e10e01, port)
    close(out, D, 1e-14)
    np.testing.assert_array_equal(M, keep)
    assert out.dtype == complex and out[:, j, j].tolist() == M[:, j, j].tolist()


def test_port_extension_invalid_port(hidden, capsys):
    assert hidden.correctPortExt(np.ones((2, 2, 2)), np.ones(2), 3) is None
    assert capsys.readouterr().out == "Invalid Port Number. Options are 1 or 2\n"


@pytest.mark.parametrize("n", SIZES)
@pytest.mark.parametrize("sides", ["A", "B", "AB"])
def test_de_embedding(hidden, rng, n, sides):
    A = cplx(rng, n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
    B = cplx(rng, n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
    D = cplx(rng, n, 2, 2, scale=0.5)
    chain = cascade(*([A] if "A" in sides else []), D, *([B] if "B" in sides else []))
    kwargs = {"S_A": A} if "A" in sides else {}
    if "B" in sides:
        kwargs["S_B"] = B
    close(hidden.deEmbed(chain, **kwargs), D, 1e-11)
    thru = np.tile([[0, 1], [1, 0]], (n, 1, 1))
    if sides == "B":
        close(hidden.deEmbed(chain, thru, B), D, 1e-11)
        close(hidden.deEmbed(chain, [[0, 1], [1, 0]], B), D, 1e-11)   # a list counts as no adapter
    a, b = hidden.deEmbed.__defaults__
    assert a == [] and b == []


# -- scikit-rf on the same standards -----------------------------------------

def network(S, f):
    return skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=S, z0=50)


def two_port_reflects(Gm1, Gm2, f):
    out = []
    for i in range(3):
        S = np.zeros((len(f), 2, 2), complex)
        S[:, 0, 0], S[:, 1, 1] = Gm1[:, i], Gm2[:, i]
        out.append(network(S, f))
    return out


@pytest.mark.filterwarnings("ignore:No switch terms provided")
@pytest.mark.parametrize("kind", ["OnePort", "EightTerm", "UnknownThru", "TwelveTerm"])
def test_same_as_scikit_rf(hidden, rng, kind):
    n = 11
    s = Setup(rng, n)
    f = s.f
    ideals = two_port_reflects(s.G, s.G, f)
    if kind == "OnePort":
        dut = reflect(s.EA, s.D[:, 0, 0][:, None])[:, 0]
        cal = skrf.calibration.OnePort(measured=[network(s.Gm1[:, i], f) for i in range(3)],
                           ideals=[network(s.G[:, i], f) for i in range(3)])
        cal.run()
        want = cal.apply_cal(network(dut, f)).s[:, 0, 0]
        got = hidden.correct1Port(dut, hidden.get1PortModel(s.G, s.Gm1))
        close(got, want, 1e-9)
        return
    measured = two_port_reflects(s.Gm1, s.Gm2, f)
    gd = 0.05 / (299792458 * 0.695)
    thru = s.T.astype(complex) if kind != "UnknownThru" else np.zeros((n, 2, 2), complex)
    if kind == "UnknownThru":
        thru[:, 0, 1] = thru[:, 1, 0] = np.exp(2j * np.pi * f * gd)
    Tm = s.measure(thru)
    Dm = s.measure(s.D)
    cls = {"EightTerm": skrf.calibration.EightTerm, "UnknownThru": skrf.calibration.UnknownThru,
           "TwelveTerm": skrf.calibration.TwelveTerm}[kind]
    thru_ideal = network(thru, f)
    extra = {"n_thrus": 1} if kind == "TwelveTerm" else {}
    cal = cls(measured=measured + [network(Tm, f)], ideals=ideals + [thru_ideal], **extra)
    cal.run()
    want = cal.apply_cal(network(Dm, f)).s
    if kind == "EightTerm":
        got = hidden.correct8Term(Dm, *hidden.get8TermModel(s.G, s.Gm1, s.G, s.Gm2, s.T, Tm))
    elif kind == "UnknownThru":
        got = hidden.correct8Term(Dm, *hidden.get8TermModelUThru(s.G, s.Gm1, s.G, s.Gm2, Tm, f))
    else:
        got = hidden.correct12Term(Dm, *hidden.get12TermModel(s.G, s.Gm1, s.G, s.Gm2, s.T, Tm))
    close(got, want, 1e-9)
    close(got, s.D, 1e-9)


# -- the two paths ------------------------------------------------------------

def calls(rng, n):
    """Arguments for every function, and whether its formula is element-wise (bit-exact)."""
    s = Setup(rng, n)
    t = TwelveTermSetup(rng, n)
    Tm = s.measure(s.T)
    return {
        "get1PortModel": ((s.G, s.Gm1), False),
        "correct1Port": ((s.Gm1[:, 0], np.c_[s.Gm1[:, :2], s.Gm1[:, 2] * 0.3]), True),
        "get1PortResponseModel": ((s.G[:, 0], s.Gm1[:, 0]), True),
        "get2PortResponseModel": ((s.G[:, 0], s.Gm1[:, 0], s.G[:, 1], s.Gm2[:, 1], s.T + 0j, Tm), True),
        "correctResponse": ((Tm, s.D), True),
        "get8TermModel": ((s.G, s.Gm1, s.G, s.Gm2, s.T, Tm), False),
        "get8TermModelUThru": ((s.G, s.Gm1, s.G, s.Gm2, Tm, s.f), False),
        "correct8Term": ((Tm, s.EA, s.EB, s.q), False),
        "get12TermModel": ((t.G, t.Gm1, t.G, t.Gm2, t.T, t.measure(t.T), t.isolation), False),
        "correct12Term": ((t.measure(t.D), t.fwd, t.rev), True),
        "getPortExtModel": ((s.Gm1[:, 0], s.Gm1[:, 1]), True),
        "correctPortExt": ((s.D, s.Gm1[:, 0], 1), False),
        "deEmbed": ((Tm, s.EA, s.EB), False),
    }


NAMES = list(calls(np.random.default_rng(0), 2))


@pytest.mark.parametrize("n", [1, 16, 401])
@pytest.mark.parametrize("name", NAMES)
def test_paths_agree(hidden, rng, name, n):
    args, exact = calls(rng, n)[name]
    native, reference = both_paths(getattr(hidden, name), *args)
    if not isinstance(native, tuple):
        native, reference = (native,), (reference,)
    for a, b in zip(native, reference):
        assert a.dtype == b.dtype and a.shape == b.shape and a.strides == b.strides
        if exact:
            np.testing.assert_array_equal(a, b)
        else:
            close(a, b, 1e-12)


@pytest.mark.parametrize("path", ["native", "numpy"])
def test_failures_on_both_paths(hidden, rng, path):
    ctx = numpy_path() if path == "numpy" else warnings.catch_warnings()
    s = Setup(rng, 4)
    with ctx:
        G = s.G.copy()
        G[:, 1] = G[:, 0]
        Gm = s.Gm1.copy()
        Gm[:, 1] = Gm[:, 0]
        with pytest.raises(np.linalg.LinAlgError):
            hidden.get1PortModel(G, Gm)                   # two identical standards
        singular = np.zeros((4, 2, 2), complex)
        with pytest.raises(np.linalg.LinAlgError):
            hidden.correct8Term(s.D, singular, s.EB, s.q)
        one_way = np.zeros((4, 2, 2), complex)
        one_way[:, 1, 0] = 1                              # S12 = 0: its T matrix is singular
        with pytest.raises(np.linalg.LinAlgError):
            hidden.deEmbed(s.D, one_way)
        with pytest.warns(RuntimeWarning):
            out = hidden.correct1Port(s.Gm1[:, 0], np.zeros((4, 3), complex))
        assert not np.isfinite(out).any()
        fwd = np.zeros((4, 6), complex)
        with pytest.warns(RuntimeWarning):
            out = hidden.correct12Term(s.D, fwd, fwd)
        assert not np.isfinite(out).any()
        with pytest.raises(IndexError):
            hidden.correct12Term(s.D, fwd[:, :4], fwd)
        with pytest.raises(AttributeError):
            hidden.correct8Term(s.D, s.EA, s.EB, 1.0)


def test_column_generator_failure_has_genexpr_entry(hidden, rng):
    import traceback
    with pytest.raises(IndexError) as info:
        hidden.correct12Term(np.ones((3, 2, 2)), np.ones((3, 2)), np.ones((3, 6)))
    names = [e.name for e in traceback.extract_tb(info.tb)]
    assert names[-2:] == ["orvane_ex.hidden.correct12Term", "genexpr"]


def test_rebound_functions_are_used(hidden, rng):
    s = Setup(rng, 3)
    seen = []
    real = hidden.get1PortModel

    def spy(G, Gm):
        seen.append(len(G))
        return real(G, Gm)

    hidden.get1PortModel = spy
    hidden.get12TermModel(s.G, s.Gm1, s.G, s.Gm2, s.T, s.measure(s.T))
    hidden.get8TermModel(s.G, s.Gm1, s.G, s.Gm2, s.T, s.measure(s.T))
    assert seen == [3, 3, 3, 3]
    hidden.S2T = lambda S: np.tile(np.eye(2), (len(S), 1, 1))
    np.testing.assert_allclose(hidden.deEmbed(s.D), np.tile([[0, 1], [1, 0]], (3, 1, 1)))


def test_port_extension_roots_on_the_branch_cut(hidden):
    # square roots of negative reals: the sign of a zero imaginary part picks the half-plane
    e = np.array([-4 + 0j, complex(-4, -0.0), 4 + 0j, 1j, -1j, complex(-9, 1e-20), complex(-9, -1e-20), 2 - 2j])
    S = np.ones((len(e), 2, 2), complex)
    native, reference = both_paths(hidden.correctPortExt, S, e, 2)
    np.testing.assert_array_equal(np.signbit(native.real), np.signbit(reference.real))
    np.testing.assert_array_equal(np.signbit(native.imag), np.signbit(reference.imag))
    close(native, reference, 1e-15)
