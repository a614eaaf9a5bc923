"""Time domain: scikit-rf as the oracle where the method is the same, and what
we do differently (normalised impulses, compensated gates, refused inputs)."""
import os
import re
import warnings

import numpy as np
import pytest
import skrf

from orvane_ex import timedomain as td
from orvane_ex._common.cascade import cascade
from orvane_ex.timedomain import windows as tdw
from orvane_ex.virtual_board import Settings

DATA = os.path.join(os.path.dirname(__file__), "data", "measured-mtrl")


def network(f, s):
    return skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=s, z0=50)


def agree(a, b, tol=1e-9):
    """Largest difference relative to the largest value."""
    a, b = np.asarray(a), np.asarray(b)
    assert a.shape == b.shape
    assert np.max(np.abs(a - b)) <= tol * np.max(np.abs(b))


@pytest.fixture(scope="module")
def line():
    """A measured on-wafer line: 0.2 to 150 GHz in 200 MHz steps, raw."""
    return skrf.Network(os.path.join(DATA, "MPI_line_0450u.s2p"))


@pytest.fixture(scope="module")
def line_dc(line):
    return line.extrapolate_to_dc()


WINDOWS = ["hamming", ("kaiser", 6), "boxcar", ("kaiser", 13), "hann"]


@pytest.mark.parametrize("window", WINDOWS)
@pytest.mark.parametrize("pad,n", [(0, None), (120, None), (0, 2001)])
def test_lowpass_impulse_and_step_are_scikit_rf_s(line_dc, window, pad, n):
    for port in (line_dc.s11, line_dc.s21):
        t, y = td.impulse_response(port, window=window, pad=pad, n=n, normalize=False)
        t_ref, y_ref = port.impulse_response(window=window, pad=pad, n=n)
        agree(y, y_ref)
        agree(t, t_ref)
        t, y = td.step_response(port, window=window, pad=pad, n=n)
        agree(y, port.step_response(window=window, pad=pad, n=n)[1])


@pytest.mark.parametrize("window", WINDOWS[:3])
@pytest.mark.parametrize("pad", [0, 50])
def test_bandpass_impulse_of_a_two_port_is_scikit_rf_s(line, window, pad):
    band = line["10-110ghz"]
    t, y = td.impulse_response(band, window=window, pad=pad, normalize=False)
    t_ref, y_ref = band.impulse_response(window=window, pad=pad, squeeze=False)
    assert y.shape == y_ref.shape == (len(band) + pad, 2, 2)
    agree(y, y_ref)
    agree(t, t_ref)


def test_impulse_height_is_the_reflection_whatever_the_window_and_padding():
    f = np.linspace(0, 10e9, 101)
    for mode, ff, gamma in (("lowpass", f, -0.3), ("bandpass", f + 1e9, 0.2 - 0.1j)):
        for window in (None, "hann", ("kaiser", 13)):
            for pad in (0, 400):
                t, y = td.impulse_response(ff, np.full(len(f), gamma), mode=mode, window=window, pad=pad)
                peak = np.argmax(np.abs(y))
                assert t[peak] == 0
                assert abs(y[peak] - gamma) < 1e-12, (mode, window, pad)


@pytest.mark.parametrize("grid", ["harmonic", "offset"])
@pytest.mark.parametrize("kind,coords", [("cubic", "cart"), ("linear", "polar"), ("quadratic", "cart")])
def test_extrapolate_to_dc_is_scikit_rf_s(line, grid, kind, coords):
    net = line["1-60ghz"] if grid == "harmonic" else line["1-60ghz"].interpolate(
        skrf.Frequency(1.37, 60, 200, unit="GHz"))
    ours = td.extrapolate_to_dc(net, kind=kind, coords=coords)
    ref = net.extrapolate_to_dc(kind=kind, coords=coords)
    assert isinstance(ours, skrf.Network) and ours.nports == 2
    agree(ours.f, ref.f)
    agree(ours.s, ref.s)
    assert np.all(ours.s[0].imag == 0)
    f, s = td.extrapolate_to_dc(net.f, net.s[:, 1, 0], kind=kind, coords=coords)
    agree(s, ref.s[:, 1, 0])


def test_extrapolate_to_dc_keeps_the_measured_points_and_takes_a_given_dc(line):
    net = line["1-20ghz"]
    f, s = td.extrapolate_to_dc(net.f, net.s, dc=np.eye(2) * 0.2)
    assert f[0] == 0 and np.allclose(np.diff(f), 200e6)
    np.testing.assert_allclose(s[f >= 1e9 - 1], net.s, rtol=0, atol=1e-12)
    np.testing.assert_array_equal(s[0], np.eye(2) * 0.2)


GATES = [dict(start=-0.05e-9, stop=0.05e-9), dict(start=0.02e-9, stop=0.3e-9), dict(center=0.1e-9, span=0.25e-9)]


@pytest.mark.parametrize("gate", GATES)
@pytest.mark.parametrize("shape,window", [(("kaiser", 6), "cosine"), ("boxcar", ("kaiser", 6)),
                                          (("tukey", 0.5), "hamming")])
def test_uncompensated_gates_are_scikit_rf_s(line, line_dc, gate, shape, window):
    for mode, method, net in (("bandpass", "fft", line), ("lowpass", "rfft", line_dc)):
        for port in (net.s11, net.s21):
            ours = td.gate(port, mode=mode, shape=shape, window=window, compensate=False, **gate)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", DeprecationWarning)
                ref = port.time_gate(method=method, window=shape, fft_window=window, t_unit="s", **gate)
            agree(ours.s, ref.s)
            agree(td.gate(port, mode=mode, shape=shape, window=window, compensate=False, keep="outside",
                          **gate).s, port.s - ref.s)


# -- a device behind mismatched fixtures, on the virtual board's frequency plan ----------------

def shunt_c(f, c):
    """A launch: a shunt capacitance, in the e^{jwt} convention."""
    y = 2j * np.pi * f * c * 50
    S = np.empty((len(f), 2, 2), complex)
    S[:, 0, 0] = S[:, 1, 1] = -y / (2 + y)
    S[:, 0, 1] = S[:, 1, 0] = 2 / (2 + y)
    return S


def matched_line(f, delay, loss_db=0.5):
    S = np.zeros((len(f), 2, 2), complex)
    S[:, 0, 1] = S[:, 1, 0] = 10 ** (-loss_db * np.sqrt(f / f[-1]) / 20) * np.exp(-2j * np.pi * f * delay)
    return S


def resonator(f, f0, q=4.0):
    """The board's built-in device: a lossy series resonator in the line (e^{jwt})."""
    x = 1j * q * (f / f0 - f0 / f)
    S = np.empty((len(f), 2, 2), complex)
    S[:, 0, 0] = S[:, 1, 1] = 0.97 * x / (1 + x)
    S[:, 0, 1] = S[:, 1, 0] = 0.95 / (1 + x)
    return S


def fixtured(start=1e9):
    """The measurement of a resonator between two 3 ns fixtures whose launches
    reflect up to -7 dB, with the board's receiver noise (-90 dB), on the
    board's frequency plan (1 to 6 GHz, 201 points; or from `start` in 25 MHz
    steps, the harmonic grid of low-pass mode)."""
    f = Settings(start, 6e9, 201 if start == 1e9 else round((6e9 - start) / 25e6) + 1).freqRange.f
    fixture = cascade(shunt_c(f, 0.5e-12), matched_line(f, 3e-9))
    device = resonator(f, np.sqrt(1e9 * 6e9))
    noise = np.random.default_rng(5).standard_normal((len(f), 2, 2, 2)) @ [1, 1j] * 10 ** (-90 / 20) / np.sqrt(2)
    measured = cascade(fixture, device, fixture[:, ::-1, ::-1]) + noise
    assert np.max(np.abs(fixture[:, 0, 0])) > 10 ** (-8 / 20)
    return f, fixture, device, measured


def error_db(gated, device, fixture, param):
    """|gated - device| in dB, the gated result referred to the device by the
    fixtures' matched transmission."""
    through = fixture[:, 1, 0] ** 2                             # in and out (S21) or there and back (S11)
    return 20 * np.log10(np.abs(gated / through - device[:, param[0], param[1]]))


@pytest.mark.parametrize("param", [(1, 0), (0, 0)])
@pytest.mark.parametrize("mode", ["bandpass", "lowpass"])
def test_gated_device_behind_fixtures_is_within_40_dB_of_the_device(param, mode):
    f, fixture, device, measured = fixtured(1e9 if mode == "bandpass" else 25e6)
    s = measured[:, param[0], param[1]]
    span = 9e-9
    if mode == "lowpass":
        f_dc, s_dc = td.extrapolate_to_dc(f, s)
        gated = td.gate(f_dc, s_dc, center=6e-9, span=span, mode=mode)[1:]
    else:
        gated = td.gate(f, s, center=6e-9, span=span)
    err = error_db(gated, device, fixture, param)
    raw = error_db(s, device, fixture, param)
    # the gated band: all but two gate resolutions (2 / span) at each end,
    # where the gate's convolution in frequency runs out of data
    edge = int(np.ceil(2 / span / (f[1] - f[0])))
    assert np.max(raw) > -15                                  # the fixtures' echoes, ungated
    assert np.max(err[edge:-edge]) < -40
    assert np.max(err) < -12                                  # and the edges stay bounded


def test_compensation_mends_the_band_edges():
    f, fixture, device, measured = fixtured()
    s = measured[:, 1, 0]
    kw = dict(center=6e-9, span=9e-9, shape=("tukey", 0.5))
    plain = error_db(td.gate(f, s, compensate=False, **kw), device, fixture, (1, 0))
    mended = error_db(td.gate(f, s, **kw), device, fixture, (1, 0))
    assert np.max(mended) < np.max(plain) - 8
    assert np.max(mended[10:-10]) < -45


def test_gating_keeps_every_s_parameter_of_a_network_and_its_form():
    f, fixture, device, measured = fixtured()
    net = skrf.Network(frequency=skrf.Frequency.from_f(f / 1e9, unit="GHz"), s=measured, z0=50, name="dut")
    gated = td.gate(net, center=6e-9, span=9e-9)
    assert isinstance(gated, skrf.Network) and gated.name == "dut" and gated.frequency.unit.lower() == "ghz"
    for i, j in ((0, 0), (1, 0), (0, 1), (1, 1)):
        np.testing.assert_allclose(gated.s[:, i, j], td.gate(f, measured[:, i, j], center=6e-9, span=9e-9),
                                   rtol=0, atol=1e-12)


def test_board_convention_data_come_back_in_it():
    f, _, _, measured = fixtured()
    board = np.conj(measured[:, 1, 0])
    np.testing.assert_allclose(td.gate(f, board, center=6e-9, span=9e-9, convention="board"),
                               np.conj(td.gate(f, measured[:, 1, 0], center=6e-9, span=9e-9)), rtol=0, atol=1e-14)
    t, y = td.impulse_response(f, board, convention="board")
    assert 5.5e-9 < t[np.argmax(np.abs(y))] < 6.5e-9          # the delay at a positive time


def test_tdr_shows_a_75_ohm_section_in_ohms():
    """50 ohm line (1 ns) - 75 ohm line (2 ns) - 50 ohm load, seen from a 50 ohm port."""
    f = np.linspace(0, 20e9, 801)
    gamma = (75 - 50) / (75 + 50)
    d = np.exp(-2j * np.pi * f * 2e-9)
    section = np.empty((len(f), 2, 2), complex)
    section[:, 0, 0] = section[:, 1, 1] = gamma * (1 - d ** 2) / (1 - gamma ** 2 * d ** 2)
    section[:, 0, 1] = section[:, 1, 0] = (1 - gamma ** 2) * d / (1 - gamma ** 2 * d ** 2)
    s11 = cascade(matched_line(f, 1e-9, 0), section)[:, 0, 0]
    t, z = td.impedance_profile(network(f, s11))
    for (lo, hi), want in (((0.3e-9, 1.7e-9), 50), ((2.5e-9, 5.5e-9), 75), ((6.5e-9, 9e-9), 50)):
        where = (t > lo) & (t < hi)
        assert np.max(np.abs(z[where] - want)) < 0.02 * want, (lo, hi)


# -- windows -------------------------------------------------------------------------------

def test_window_table_in_the_docs_is_what_the_windows_do():
    rows = re.findall(r"^(\S.*?)\s+(-[\d.]+) dB\s+([\d.]+) / f_stop\s+([\d.]+) / f_stop$", tdw.__doc__, re.M)
    assert len(rows) == 6
    names = {"rectangular": None, "hann": "hann", "hamming": "hamming", "('kaiser', 6)": ("kaiser", 6),
             "blackman": "blackman", "('kaiser', 13)": ("kaiser", 13)}
    for name, sidelobe, width, rise in rows:
        p = td.window_properties(names[name])
        assert abs(p.sidelobe_db - float(sidelobe)) < 0.05 and abs(p.impulse_width - float(width)) < 0.005
        assert abs(p.step_rise - float(rise)) < 0.005


def test_window_textbook_figures():
    assert td.window_properties(None).sidelobe_db == pytest.approx(-13.26, abs=0.02)
    assert td.window_properties("hamming").sidelobe_db == pytest.approx(-42.7, abs=0.2)
    # widths grow as side lobes fall
    props = [td.window_properties(("kaiser", b)) for b in (0, 3, 6, 9, 13)]
    assert all(a.sidelobe_db > b.sidelobe_db and a.impulse_width < b.impulse_width for a, b in zip(props, props[1:]))


# -- input refused with the reason ----------------------------------------------------------

F = np.linspace(1e9, 2e9, 11)
S = np.ones(11, complex)


@pytest.mark.parametrize("call,message", [
    (lambda: td.impulse_response(F, S, mode="lowpass"), "starting at 0 Hz"),
    (lambda: td.step_response(F, S), "extrapolate_to_dc"),
    (lambda: td.gate(F, S, start=0, stop=1e-9, mode="lowpass"), "starting at 0 Hz"),
    (lambda: td.impulse_response(np.r_[F[:-1], 2.5e9], S), "evenly spaced"),
    (lambda: td.impulse_response(F[::-1], S), "strictly increasing"),
    (lambda: td.impulse_response(F, S[:5]), r"shape \(5,\)"),
    (lambda: td.impulse_response(F, np.r_[S[:-1], np.nan]), "not finite"),
    (lambda: td.impulse_response(F, S, n=5), "n >= 11"),
    (lambda: td.impulse_response(F, S, pad=-1), "pad"),
    (lambda: td.impulse_response(F, S, mode="lowpas"), "mode"),
    (lambda: td.impulse_response(F, S, window="nonsense"), "window 'nonsense'"),
    (lambda: td.impulse_response(F), "missing"),
    (lambda: td.gate(F, S, start=0, stop=20e-9), "beyond the time axis"),
    (lambda: td.gate(F, S, start=1e-9, stop=1.05e-9), "time samples"),
    (lambda: td.gate(F, S, start=2e-9, stop=1e-9), "before its stop"),
    (lambda: td.gate(F, S, start=0, span=1e-9), "start and stop, or as center and span"),
    (lambda: td.gate(F, S, center=0, span=1e-9, window="hann", compensate=False), "cannot be taken out"),
    (lambda: td.gate(F, S, center=0, span=1e-9, keep="both"), "keep"),
    (lambda: td.impedance_profile(np.r_[0, F], np.ones((12, 2, 2))), "one reflection"),
    (lambda: td.impedance_profile(np.r_[0, F], np.r_[0, S], z0=-5), "z0"),
    (lambda: td.extrapolate_to_dc(F, S, points=1), "points"),
    (lambda: td.extrapolate_to_dc(F, S, coords="log"), "coords"),
    (lambda: td.gate(network(F, S), S, center=0, span=1e-9), "not both"),
    (lambda: td.gate(network(F, S), center=0, span=1e-9, convention="board"), "convention"),
])
def test_bad_input_is_refused_with_the_reason(call, message):
    with pytest.raises((ValueError, TypeError), match=message):
        call()
