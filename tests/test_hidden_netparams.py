"""S/T conversion, ideal standards and wave ratios, on both evaluation paths."""
import warnings

import numpy as np
import pytest

from conftest import both_paths, cascade, numpy_path, random_stack
from orvane_ex.virtual_board import PORTS



@pytest.mark.parametrize("n", [1, 7, 401])
@pytest.mark.parametrize("dtype", [complex, float])
def test_round_trips(hidden, rng, n, dtype):
    S = random_stack(rng, n, dtype)
    T = hidden.S2T(S)
    assert T.dtype == np.dtype(dtype) and T.shape == (n, 2, 2)
    np.testing.assert_allclose(hidden.T2S(T), S, rtol=1e-12, atol=1e-12)
    np.testing.assert_allclose(hidden.S2T(hidden.T2S(T)), T, rtol=1e-12, atol=1e-12)
    # the T-parameter convention
    np.testing.assert_allclose(T[:, 1, 1], 1 / S[:, 1, 0], rtol=1e-14)
    np.testing.assert_allclose(T[:, 0, 0], -np.linalg.det(S) / S[:, 1, 0], rtol=1e-12)


def test_cascade_is_matmul_of_T(hidden, rng):
    A, B = random_stack(rng, 50) * 0.5, random_stack(rng, 50) * 0.5
    got = hidden.T2S(np.matmul(hidden.S2T(A), hidden.S2T(B)))
    np.testing.assert_allclose(got, cascade(A, B), rtol=1e-10, atol=1e-12)


def test_ideal_thru_is_identity_and_ideal_standards(hidden):
    G, T = hidden.getIdealSparams(3)
    assert G.dtype == complex and G.shape == (3, 3) and (G == [1, -1, 0]).all()
    assert T.dtype == np.float64 and T.shape == (3, 2, 2) and (T == [[0, 1], [1, 0]]).all()
    assert (hidden.S2T(T) == np.eye(2)).all()
    G0, T0 = hidden.getIdealSparams(0)
    assert G0.shape == (0, 3) and T0.shape == (0, 2, 2)
    with pytest.raises(TypeError):
        hidden.getIdealSparams("3")


@pytest.mark.parametrize("func", ["S2T", "T2S"])
def test_zero_divisor_gives_nonfinite_and_warning(hidden, rng, func):
    S = random_stack(rng, 5)
    S[2, 1, 0 if func == "S2T" else 1] = 0
    with pytest.warns(RuntimeWarning):
        R = getattr(hidden, func)(S)
    assert not np.isfinite(R[2]).all()
    assert np.isfinite(np.delete(R, 2, axis=0)).all()


def test_results_share_no_memory(hidden, rng):
    S = random_stack(rng, 4)
    keep = S.copy()
    for f in (hidden.S2T, hidden.T2S):
        R = f(S)
        assert not np.shares_memory(R, S)
        R[...] = 7
        assert (S == keep).all()


def test_argument_errors_come_from_numpy(hidden):
    lst = [[[0.5, 1.0], [1.0, 0.5]]]
    with pytest.raises(TypeError, match="list indices"):
        hidden.S2T(lst)                     # det runs, then the list indexing fails
    with pytest.raises(TypeError, match="list indices"):
        hidden.T2S(lst)
    with pytest.raises(IndexError):
        hidden.S2T(np.eye(2))


def test_rebinding_namespace_names_is_honoured(hidden, rng):
    S = random_stack(rng, 3)
    hidden.det = lambda s: np.full(len(s), 2.0)
    np.testing.assert_array_equal(hidden.S2T(S)[:, 0, 0], -2.0 / S[:, 1, 0])
    hidden.det = np.linalg.det
    calls = []

    class Spy:
        def __getattr__(self, name):
            calls.append(name)
            return getattr(np, name)

    hidden.np = Spy()
    hidden.S2T(S)
    assert calls == ["ones", "array"]


# -- waves ------------------------------------------------------------------

def recordings(rng, n, S, g1, g2):
    """Wave recordings of a device S with switch terms g1 (port 1 termination
    while port 2 drives) and g2 (port 2 termination while port 1 drives)."""
    a1 = rng.standard_normal(n) + 1j * rng.standard_normal(n)
    b2 = S[:, 1, 0] * a1 / (1 - S[:, 1, 1] * g2)
    a2 = g2 * b2
    b1 = S[:, 0, 0] * a1 + S[:, 0, 1] * a2
    a2p = rng.standard_normal(n) + 1j * rng.standard_normal(n)
    b1p = S[:, 0, 1] * a2p / (1 - S[:, 0, 0] * g1)
    a1p = g1 * b1p
    b2p = S[:, 1, 0] * a1p + S[:, 1, 1] * a2p
    zeros = np.zeros(n, complex)
    rec1 = {1: zeros.copy(), 2: a2 + 0.5, 3: a1, 4: b1, 5: a2, 6: b2}
    rec2 = {1: a1p + 0.5, 2: zeros.copy(), 3: a1p, 4: b1p, 5: a2p, 6: b2p}
    rec1[2][0] = rec2[1][0] = 1
    return rec1, rec2


@pytest.mark.parametrize("n", [1, 7, 401])
def test_switch_correction_recovers_device(hidden, rng, n):
    S = random_stack(rng, n) * 0.6
    g1 = 0.3 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    g2 = 0.3 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    rec1, rec2 = recordings(rng, n, S, g1, g2)
    np.testing.assert_allclose(hidden.ab2S_SwitchCorrect(rec1, rec2, PORTS), S, rtol=1e-9, atol=1e-12)
    raw = hidden.ab2S(rec1, rec2, PORTS)
    assert raw.shape == (n, 2, 2)
    np.testing.assert_allclose(raw[:, 0, 0], rec1[4] / rec1[3])
    np.testing.assert_allclose(raw[:, 0, 1], rec2[4] / rec2[5])
    assert not np.allclose(hidden.ab2S(rec2, rec1, PORTS), raw)


def test_without_switch_terms_correction_changes_nothing(hidden, rng):
    S = random_stack(rng, 9) * 0.6
    rec1, rec2 = recordings(rng, 9, S, np.zeros(9), np.zeros(9))
    np.testing.assert_allclose(hidden.ab2S_SwitchCorrect(rec1, rec2, PORTS), hidden.ab2S(rec1, rec2, PORTS),
                               rtol=1e-15)


def test_ab2G_finds_the_transmitter(hidden, rng):
    rec = {k: rng.standard_normal(6) + 1j for k in range(1, 7)}
    assert hidden.ab2G(rec, PORTS) is None
    rec[1][0] = 0
    np.testing.assert_array_equal(hidden.ab2G(rec, PORTS), rec[4] / rec[3])
    rec[2][0] = 0                       # both start with 0: the later key wins
    np.testing.assert_array_equal(hidden.ab2G(rec, PORTS), rec[6] / rec[5])
    rec[1][0] = 1
    G = hidden.ab2G(rec, PORTS)
    assert not np.shares_memory(G, rec[6]) and not np.shares_memory(G, rec[5])
    assert hidden.ab2G(rec, {**PORTS, "Tx1": np.int64(1), "Tx2": np.int64(2)}) is None
    rec[4][0] = 0                       # a zero-start key that is no transmitter
    assert hidden.ab2G(rec, PORTS) is None
    with pytest.raises(IndexError):
        hidden.ab2G({1: np.array([])}, PORTS)
    with pytest.raises(KeyError):
        hidden.ab2G({1: np.zeros(3)}, {})


def test_missing_receiver_is_a_key_error_in_the_generator(hidden, rng):
    import traceback
    with pytest.raises(KeyError) as info:
        hidden.ab2S_SwitchCorrect({3: np.ones(2)}, {}, PORTS)
    names = [e.name for e in traceback.extract_tb(info.tb)]
    assert names[-2:] == ["orvane_ex.hidden.ab2S_SwitchCorrect", "genexpr"]


# -- the two paths agree ------------------------------------------------------

def assert_same(native, reference, exact):
    assert native.dtype == reference.dtype and native.shape == reference.shape
    assert native.strides == reference.strides
    if exact:
        np.testing.assert_array_equal(native, reference)
    else:
        np.testing.assert_allclose(native, reference, rtol=1e-12, atol=0)


@pytest.mark.parametrize("n", [1, 16, 1601])
@pytest.mark.parametrize("dtype", [complex, float])
def test_paths_agree_on_conversions(hidden, rng, n, dtype):
    S = random_stack(rng, n, dtype)
    for f in (hidden.S2T, hidden.T2S):
        native, reference = both_paths(f, S)
        assert_same(native, reference, exact=False)
        # every entry but the determinant one is element-wise and bit-exact
        det_entry = (0, 0) if f is hidden.S2T else (0, 1)
        for i in range(2):
            for j in range(2):
                if (i, j) != det_entry:
                    np.testing.assert_array_equal(native[:, i, j], reference[:, i, j])
    G, T = hidden.getIdealSparams(n)
    with numpy_path():
        G2, T2 = hidden.getIdealSparams(n)
    assert_same(G, G2, exact=True)
    assert_same(T, T2, exact=True)


@pytest.mark.parametrize("n", [1, 16, 1601])
@pytest.mark.parametrize("dtype", [complex, float])
def test_paths_agree_on_waves(hidden, rng, n, dtype):
    def rec(tx):
        r = {k: rng.standard_normal(n) + (1j * rng.standard_normal(n) if dtype is complex else 0)
             for k in range(1, 7)}
        r[tx][0] = 0
        return r
    rec1, rec2 = rec(1), rec(2)
    for f in ("ab2S", "ab2S_SwitchCorrect"):
        native, reference = both_paths(getattr(hidden, f), rec1, rec2, PORTS)
        assert_same(native, reference, exact=True)
    for r in (rec1, rec2):
        native, reference = both_paths(hidden.ab2G, r, PORTS)
        assert_same(native, reference, exact=True)


@pytest.mark.parametrize("func", ["ab2S", "ab2S_SwitchCorrect"])
def test_paths_agree_on_failures(hidden, rng, func):
    rec1 = {k: rng.standard_normal(4) + 1j for k in range(1, 7)}
    rec2 = {k: rng.standard_normal(4) + 1j for k in range(1, 7)}
    rec1[3][1] = 0                                  # a1 = 0 at one point
    results = []
    for ctx in (warnings.catch_warnings, ):
        with ctx(record=True) as w:
            warnings.simplefilter("always")
            native = getattr(hidden, func)(rec1, rec2, PORTS)
        with warnings.catch_warnings(record=True) as w2:
            warnings.simplefilter("always")
            with numpy_path():
                reference = getattr(hidden, func)(rec1, rec2, PORTS)
        results.append(([str(x.message) for x in w], [str(x.message) for x in w2]))
    np.testing.assert_array_equal(native, reference)
    assert results[0][0] == results[0][1] and results[0][0]
    with np.errstate(divide="raise", invalid="raise"):
        with pytest.raises(FloatingPointError):
            getattr(hidden, func)(rec1, rec2, PORTS)


def test_mixed_and_unusual_inputs_take_the_numpy_path(hidden, rng):
    S = random_stack(rng, 8)
    for variant in (S.astype(np.complex64), S[::2], np.asfortranarray(S), S.astype(">c16"),
                    S.view(type("Sub", (np.ndarray,), {}))):
        R = hidden.S2T(variant)
        np.testing.assert_allclose(np.asarray(R), hidden.S2T(np.asarray(variant, complex)), rtol=1e-5)
    empty = hidden.S2T(np.zeros((0, 2, 2), complex))
    assert empty.shape == (0, 2, 2)
