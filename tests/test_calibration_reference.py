"""Reference impedance: TRL and multiline TRL moved from the lines'
impedance to z0_ref, from the lines' capacitance per length (Marks &
Williams) or their impedance given, agree with scikit-rf's
NISTMultilineTRL(c0=..., z0_ref=...) on the measured set; the move is exact
on synthetic lines of known impedance; the terms' uncertainty follows
through it; and it saves, loads and comes from the command line."""
import warnings

import numpy as np
import pytest
import skrf

from orvane_ex import trl
from orvane_ex._common.cascade import cascade
from orvane_ex.calibration import load, reference
from orvane_ex.uncertainty import Budget
from scenarios import _box, _device
from test_calibration_trl_measured import LENGTHS_UM, THRU, Measured, corrected_by_nist

C0 = 1.5e-10      # F/m, about 50 ohm for these coplanar lines (eps_eff ~ 5)


@pytest.fixture(scope="module")
def measured():
    return Measured()


@pytest.mark.parametrize("options", [dict(c0=C0), dict(c0=C0, z0_ref=40.0), dict(z0_line=45.0)],
                         ids=lambda o: ",".join(f"{k}={v:g}" for k, v in o.items()))
def test_renormalised_multiline_trl_agrees_with_scikit_rf(measured, options):
    ours = measured.ours(**options)
    f = measured.f
    net = lambda s: skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=s, z0=50)  # noqa: E731
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        nist = skrf.calibration.NISTMultilineTRL(
            [net(measured.lines[0]), net(measured.reflect)] + [net(measured.lines[i]) for i in (1, 2, 3, 4)],
            Grefls=[-1], l=[LENGTHS_UM[i] * 1e-6 for i in (0, 1, 2, 3, 4)], er_est=5, refl_offset=THRU / 2,
            switch_terms=[net(measured.switch[0]), net(measured.switch[1])],
            c0=options.get("c0"), z0_line=options.get("z0_line"), z0_ref=options.get("z0_ref", 50.0))
        nist.run()
    device = measured.lines[5]
    d = np.abs(ours.apply(device) - corrected_by_nist(nist, device))
    assert np.median(d) <= 5e-4 and np.percentile(d, 99) <= 5e-3
    if "c0" in options:
        np.testing.assert_allclose(ours.terms["z_line"], nist.z0, rtol=1e-9)
    # the move itself: the renormalised calibration corrects a device referenced to z0_ref
    plain = measured.ours()
    z_line, z_ref = ours.terms["z_line"], options.get("z0_ref", 50.0)
    from orvane_ex.fixture import renormalized

    np.testing.assert_allclose(ours.apply(device), renormalized(plain.apply(device), z_line, z_ref), atol=1e-10)


def lines_scenario(z_line, n=31, f=(1e9, 20e9)):
    """Standards on a 42 ohm line measured through random boxes, and a
    device given at 50 ohm."""
    rng = np.random.default_rng(7)
    f = np.linspace(*f, n)
    X, Y = _box(rng, n), _box(rng, n)
    gamma = 0.5 * np.sqrt(f / 1e9) + 2j * np.pi * f / 299792458.0 * np.sqrt(3.2)
    from orvane_ex.virtual_board.fixture import line

    def trace(length):        # a line of z_line between z_line ports: no reflection there
        S = np.zeros((n, 2, 2), complex)
        S[:, 0, 1] = S[:, 1, 0] = np.exp(-gamma * length)
        return S

    refl = np.zeros((n, 2, 2), complex)
    refl[:, 0, 0] = refl[:, 1, 1] = -1
    D50 = _device(rng, n)
    from orvane_ex.fixture import renormalized

    D_line = renormalized(D50, 50.0, z_line)          # the device as the lines' impedance sees it
    embed = lambda S: cascade(X, S, Y)                # noqa: E731
    lengths = [0.003, 0.010, 0.035]
    return f, embed(trace(0)), embed(refl), [embed(trace(x)) for x in lengths], lengths, embed(D_line), D50, gamma


@pytest.mark.parametrize("how", ["z0_line", "c0"])
def test_the_move_is_exact_on_lines_of_known_impedance(how):
    z = 42.0
    f, thru, refl, lines, lengths, raw, D50, gamma = lines_scenario(z)
    c0 = (gamma / (2j * np.pi * f * z)).real.mean()
    options = {"z0_line": z} if how == "z0_line" else {"c0": c0}
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", trl.TRLConditionWarning)
        cal = trl.multiline_trl(f, thru, refl, lines, line_lengths=lengths, er_est=3.2, **options)
    if how == "z0_line":
        np.testing.assert_allclose(cal.apply(raw), D50, atol=1e-10)
    else:       # gamma / (j w c0) holds the line's loss: Zc is complex, by as much as R/(2 w L)
        np.testing.assert_allclose(cal.terms["z_line"], gamma / (2j * np.pi * f * c0), rtol=1e-9)
        assert np.abs(cal.apply(raw) - D50).max() < 0.05


def test_board_convention_and_files(tmp_path):
    f, thru, refl, lines, lengths, raw, D50, _ = lines_scenario(42.0)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", trl.TRLConditionWarning)
        board = trl.multiline_trl(f, np.conj(thru), np.conj(refl), [np.conj(x) for x in lines],
                                  line_lengths=lengths, er_est=3.2, z0_line=42.0, convention="board")
    np.testing.assert_allclose(board.apply(np.conj(raw)), np.conj(D50), atol=1e-10)
    board.save(tmp_path / "cal.npz")
    again = load(tmp_path / "cal.npz")
    np.testing.assert_array_equal(again.terms["z_line"], board.terms["z_line"])
    assert again.parameters["z0_line"] == 42.0 and again.parameters["z0_ref"] == 50.0
    np.testing.assert_array_equal(again.apply(np.conj(raw)), board.apply(np.conj(raw)))


@pytest.mark.parametrize("options", [dict(z0_line=25.0), dict(c0=2.4e-10)])
def test_the_terms_uncertainty_follows_the_move(options):
    """The terms' noise covariance from linear propagation through the move
    equals the one from finite differences of the whole renormalised
    calibration along every reading (noise of 1e-3 per reading, circular)."""
    f, thru, refl, lines, lengths, *_ = lines_scenario(25.0, n=7)
    kw = dict(line_lengths=lengths, er_est=3.2, **options)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", trl.TRLConditionWarning)
        cal = trl.multiline_trl(f, thru, refl, lines, **kw)
        F = cal.term_factors(Budget.from_dict({"noise": {"floor": 1e-3}}))["noise"]
        cov = F @ np.swapaxes(F, 1, 2)
        base, h, fd = cal.term_vector(), 1e-7, np.zeros_like(cov)
        stacks = [thru, refl, *lines]
        for which, x in enumerate(stacks):
            for i, j in ((0, 0), (0, 1), (1, 0), (1, 1)):
                for unit in (1, 1j):
                    moved = [y.copy() for y in stacks]
                    moved[which][:, i, j] += h * unit
                    d = (trl.multiline_trl(f, moved[0], moved[1], moved[2:], **kw).term_vector() - base) / h
                    g = np.stack([d.real, d.imag], axis=2).reshape(len(f), 14)
                    fd += np.einsum("nk,nl->nkl", g, g) * (1e-3) ** 2 / 2
    scale = np.linalg.norm(cov, axis=(1, 2))
    assert np.max(np.linalg.norm(fd - cov, axis=(1, 2)) / scale) < 1e-4


def test_reference_options_are_checked():
    f, thru, refl, lines, lengths, *_ = lines_scenario(42.0, n=5)
    with pytest.raises(ValueError, match="not both"):
        trl.multiline_trl(f, thru, refl, lines, line_lengths=lengths, c0=1e-10, z0_line=50)
    with pytest.raises(ValueError, match="positive capacitance"):
        trl.multiline_trl(f, thru, refl, lines, line_lengths=lengths, c0=-1e-10)
    with pytest.raises(ValueError, match="z0_ref must be"):
        trl.multiline_trl(f, thru, refl, lines, line_lengths=lengths, z0_line=45.0, z0_ref=-50)
    with pytest.raises(ValueError, match="z0_line must be a number"):
        trl.multiline_trl(f, thru, refl, lines, line_lengths=lengths, z0_line="fifty")


def test_the_jacobian_of_the_move_is_its_derivative():
    rng = np.random.default_rng(2)
    n = 4
    c = lambda *s: rng.standard_normal(s) + 1j * rng.standard_normal(s)  # noqa: E731
    A, B, q, z = c(n, 2, 2), c(n, 2, 2), c(n), 40 + 5 * c(n)
    A[:, 1, 1] = B[:, 1, 1] = 1
    J = reference.eight_term_jacobian(A, B, q, z, 50.0)
    h = 1e-7
    base = np.stack([*(x[:, i, j] for x in reference.eight_term(A, B, q, z, 50.0)[:2] for i, j in
                       ((0, 0), (0, 1), (1, 0))), reference.eight_term(A, B, q, z, 50.0)[2]], 1)
    inputs = [(A, (0, 0)), (A, (0, 1)), (A, (1, 0)), (B, (0, 0)), (B, (0, 1)), (B, (1, 0))]
    for k, (x, (i, j)) in enumerate(inputs):
        x[:, i, j] += h
        moved = reference.eight_term(A, B, q, z, 50.0)
        x[:, i, j] -= h
        d = (np.stack([*(y[:, a, b] for y in moved[:2] for a, b in ((0, 0), (0, 1), (1, 0))), moved[2]], 1)
             - base) / h
        np.testing.assert_allclose(d, J[:, :, k], rtol=1e-5, atol=1e-6)
    moved = reference.eight_term(A, B, q, z + h, 50.0)
    d = (np.stack([*(y[:, a, b] for y in moved[:2] for a, b in ((0, 0), (0, 1), (1, 0))), moved[2]], 1) - base) / h
    np.testing.assert_allclose(d, J[:, :, 7], rtol=1e-5, atol=1e-6)
