"""TRL and multiline TRL: known error boxes and devices recovered, the same
error terms as scikit-rf, the warnings and errors, and the virtual board's
planar lines with noise."""
import warnings

import numpy as np
import pytest
import skrf

from conftest import cascade, run_python
from orvane_ex import calset, cli, touchstone, trl
from orvane_ex.virtual_board import PORTS, Board, PlanarMedium, Settings

C = 299792458.0
LENGTHS = [0.003, 0.010, 0.035]


class Bench:
    """Synthetic noiseless TRL measurements through random error boxes, in
    the e^{jwt} convention."""

    def __init__(self, seed=4, n=101, reflect=-0.98, thru_length=0.0, f=(1e9, 20e9)):
        rng = np.random.default_rng(seed)
        cx = lambda *s, scale=1.0: scale * (rng.standard_normal(s) + 1j * rng.standard_normal(s))  # noqa: E731
        self.f = np.linspace(*f, n)
        self.X = cx(n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
        self.Y = cx(n, 2, 2, scale=0.1) + np.array([[0, 0.9], [0.9, 0]])
        self.gamma = 0.5 * np.sqrt(self.f / 1e9) + 1j * 2 * np.pi * self.f / C * np.sqrt(3.2 - 0.01j)
        self.reflect = reflect * np.exp(-4j * np.pi * self.f * 3e-12)
        R = np.zeros((n, 2, 2), complex)
        R[:, 0, 0] = R[:, 1, 1] = self.reflect
        self.thru_length = thru_length
        self.thru = self.measure(self.line(thru_length))
        self.refl = self.measure(R)
        self.lines = [self.measure(self.line(x)) for x in LENGTHS]
        self.D = cx(n, 2, 2, scale=0.5)

    def line(self, length):
        S = np.zeros((len(self.f), 2, 2), complex)
        S[:, 0, 1] = S[:, 1, 0] = np.exp(-self.gamma * length)
        return S

    def measure(self, S):
        return cascade(self.X, S, self.Y)


def coefs(cal):
    A, B, q = cal.terms["A"], cal.terms["B"], cal.terms["q"]
    e00, e11, e22, e33 = A[:, 0, 1], -A[:, 1, 0], B[:, 0, 1], -B[:, 1, 0]
    e23e32 = B[:, 0, 0] + e22 * e33
    return {"forward directivity": e00, "forward source match": e11,
            "forward reflection tracking": A[:, 0, 0] + e00 * e11, "reverse directivity": e33,
            "reverse source match": e22, "reverse reflection tracking": e23e32, "k": q / e23e32}


def worst_relative(ours, theirs):
    return max(np.max(np.abs(ours[k] - theirs[k]) / np.abs(theirs[k])) for k in ours)


@pytest.mark.parametrize("convention", ["engineering", "board"])
@pytest.mark.parametrize("lines", [[1], [0, 1, 2]])
def test_known_boxes_and_device_recovered(convention, lines):
    b = Bench()
    flip = np.conj if convention == "board" else (lambda x: x)
    args = [flip(b.thru), flip(b.refl), [flip(b.lines[i]) for i in lines]]
    kw = dict(er_est=3.0, convention=convention)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", trl.TRLConditionWarning)
        if len(lines) == 1:
            cal = trl.trl(b.f, *args[:2], args[2][0], line_length=LENGTHS[lines[0]], **kw)
        else:
            cal = trl.multiline_trl(b.f, *args, line_lengths=[LENGTHS[i] for i in lines], **kw)
    assert np.max(np.abs(cal.apply(flip(b.measure(b.D))) - flip(b.D))) < 1e-10
    assert np.max(np.abs(cal.terms["q"] - flip(b.X[:, 1, 0] * b.Y[:, 1, 0]))) < 1e-10
    assert np.max(np.abs(cal.terms["gamma"] - b.gamma) / np.abs(b.gamma)) < 1e-12
    assert np.max(np.abs(cal.terms["reflect"] - flip(b.reflect))) < 1e-10


@pytest.mark.filterwarnings("ignore:No switch terms provided")
@pytest.mark.filterwarnings("ignore::orvane_ex.trl.TRLConditionWarning")
def test_same_error_terms_as_scikit_rf():
    b = Bench()
    freq = skrf.Frequency.from_f(b.f, unit="Hz")
    net = lambda s: skrf.Network(frequency=freq, s=s, z0=50)  # noqa: E731
    theirs = skrf.calibration.TRL(measured=[net(b.thru), net(b.refl), net(b.lines[1])], ideals=[None, -1, None],
                                  estimate_line=True)
    theirs.run()
    ours = trl.trl(b.f, b.thru, b.refl, b.lines[1], line_length=LENGTHS[1], er_est=3.0, convention="engineering")
    assert worst_relative(coefs(ours), theirs.coefs) < 1e-9
    theirs = skrf.calibration.NISTMultilineTRL(measured=[net(b.thru), net(b.refl)] + [net(x) for x in b.lines],
                                               Grefls=[-1], l=[0.0] + LENGTHS, er_est=3.0)
    theirs.run()
    ours = trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=LENGTHS, er_est=3.0, convention="engineering")
    assert worst_relative(coefs(ours), theirs.coefs) < 1e-9
    np.testing.assert_allclose(ours.terms["eps_eff"], theirs.er_eff, rtol=1e-9)


def test_single_line_warns_where_its_phase_nears_the_thrus():
    b = Bench(f=(0.2e9, 20e9), n=199)
    with pytest.warns(trl.TRLConditionWarning, match=r"line's phase is within 10 degrees of 0 or 180") as record:
        cal = trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=LENGTHS[0], er_est=3.0, convention="engineering")
    assert "(0.2 to 1.5 GHz)" in str(record[0].message) and len(record) == 1
    assert cal.terms["condition"][0] < 0.1 < cal.terms["condition"].max()
    with warnings.catch_warnings():
        warnings.simplefilter("error", trl.TRLConditionWarning)
        trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=LENGTHS, er_est=3.0, convention="engineering")


def test_open_reflect_and_a_thru_of_nonzero_length():
    b = Bench(reflect=0.97, thru_length=0.002)
    cal = trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=LENGTHS, thru_length=0.002,
                            reflect_like="open", er_est=3.0, ref_plane=-0.001, convention="engineering")
    # the planes at the thru's ends: the error boxes' own planes
    assert np.max(np.abs(cal.apply(b.measure(b.D)) - b.D)) < 1e-10
    assert np.max(np.abs(cal.terms["reflect"] - b.reflect)) < 1e-10
    centre = trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=LENGTHS, thru_length=0.002,
                               reflect_like="open", er_est=3.0, convention="engineering")
    back = b.line(-0.001)                   # from the centre, the device's planes lie 1 mm back
    assert np.max(np.abs(centre.apply(b.measure(b.D)) - cascade(back, b.D, back))) < 1e-10


@pytest.mark.parametrize("call,message", [
    (lambda b: trl.multiline_trl(b.f, b.thru, b.refl, b.lines[:1], line_lengths=LENGTHS[:1]),
     "multiline TRL needs two or more lines, not 1; with one line use trl"),
    (lambda b: trl.multiline_trl(b.f, b.thru, b.refl, b.lines[:2], line_lengths=[0.01, 0.01]),
     "line 1 and line 2 have the same length"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.0),
     "the thru and line 1 have the same length"),
    (lambda b: trl.trl(b.f, b.thru[:-1], b.refl, b.lines[0], line_length=0.01),
     r"thru: shape \(100, 2, 2\); the grid has 101 points"),
    (lambda b: trl.trl(b.f[::-1], b.thru, b.refl, b.lines[0], line_length=0.01), "increasing grid"),
    (lambda b: trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=LENGTHS[:2]),
     "one length per line: 3 lines, 2 lengths"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, reflect_like="load"), "reflect_like"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, thru_length=np.nan), "thru_length"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, ref_plane=np.inf), "ref_plane"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, reflect_offset="1 mm"), "reflect_offset"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, er_est=np.nan), "er_est"),
    (lambda b: trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=[0.003, np.nan, 0.035]),
     "line_lengths: the length of line 2 is nan"),
    (lambda b: trl.multiline_trl(b.f, b.thru, b.refl, b.lines, line_lengths=[0.003, 0.003 + 1e-18, 0.035]),
     "line 1 and line 2 have lengths closer than 0.1 um"),
    (lambda b: trl.multiline_trl(b.f, b.thru, np.where(b.refl == 0, np.nan, b.refl), b.lines, line_lengths=LENGTHS),
     "reflect: 101 points hold values that are not finite"),
    (lambda b: trl.multiline_trl(b.f, b.thru, b.refl, [b.lines[0], b.lines[1] * np.inf, b.lines[2]],
                                 line_lengths=LENGTHS), r"lines\[1\]: 101 points"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, switch_terms=(b.f[:-1], b.f)),
     r"switch_terms\[0\]: a switch term needs 101"),
    (lambda b: trl.trl(b.f, b.thru, b.refl, b.lines[0], line_length=0.01, convention="ejwt"), "convention"),
])
def test_bad_inputs(call, message):
    with pytest.raises(ValueError, match=message):
        call(Bench(n=101))


def measure_trl(board, settings, names):
    from orvane_ex import hidden

    with board.unattended(hidden):
        return [hidden.prompt2PortMeasure(board, settings, PORTS, name) for name in names]


@pytest.mark.parametrize("seed", [1, 2, 3])
def test_virtual_board_with_noise(seed):
    medium = PlanarMedium()
    settings = Settings(1e9, 6e9, 201)
    board = Board(settings, seed=seed, medium=medium)
    f = settings.freqRange.f
    Tm, Rm, *Lm, Sm = measure_trl(board, settings, ["THRU", "REFLECT", "LINE 1", "LINE 2", "LINE 3", "DUT"])
    with pytest.warns(trl.TRLConditionWarning):
        single = trl.trl(f, Tm, Rm, Lm[0], line_length=medium.line_lengths[0], er_est=3.0, convention="board")
    with warnings.catch_warnings():
        warnings.simplefilter("error", trl.TRLConditionWarning)      # no point fails
        multi = trl.multiline_trl(f, Tm, Rm, Lm, line_lengths=medium.line_lengths, er_est=3.0, convention="board")

    def worst(cal):
        return 20 * np.log10(np.max(np.abs(cal.apply(Sm) - board.device)))

    assert worst(multi) < -60 and worst(single) - worst(multi) >= 10
    assert np.max(np.abs(multi.terms["eps_eff"].real - medium.eps_eff(f))) < 0.02


def test_saved_and_built_from_files(tmp_path, capsys):
    b = Bench(n=41)
    cal = trl.multiline_trl(b.f, np.conj(b.thru), np.conj(b.refl), [np.conj(x) for x in b.lines],
                            line_lengths=LENGTHS, er_est=3.0, convention="board", notes="board 7")
    cal.save(tmp_path / "trl.npz")
    again = calset.load(tmp_path / "trl.npz")
    assert type(again) is trl.MultilineTRLCal and again.parameters["line_lengths"] == LENGTHS
    for k in cal.terms:
        np.testing.assert_array_equal(again.terms[k], cal.terms[k])
    folder = tmp_path / "standards"
    folder.mkdir()
    for name, s in [("thru", b.thru), ("reflect", b.refl)] + [(f"line{i + 1}", x) for i, x in enumerate(b.lines)]:
        touchstone.write(folder / f"{name}.s2p", b.f, s)
    lengths = ["0"] + [str(x) for x in LENGTHS]
    assert cli.main(["build", "-m", "multiline-trl", "-s", str(folder), "--lengths", *lengths, "--er-est", "3",
                     "-o", str(tmp_path / "cli.npz")]) == 0
    built = calset.load(tmp_path / "cli.npz")
    np.testing.assert_allclose(built.apply(b.measure(b.D)), b.D, atol=1e-10)
    assert cli.main(["build", "-m", "trl", "-s", str(folder), "--lengths", "0", "0.003", "0.010", "-o",
                     str(tmp_path / "x.npz")]) == 2
    assert "takes one line" in capsys.readouterr().err


def test_warning_names_each_band_apart():
    # a 10 mm line's phase passes 180 and 360 degrees of the thru's at about 8.4 and 16.8 GHz
    b = Bench(f=(1e9, 20e9), n=381)
    with pytest.warns(trl.TRLConditionWarning) as record:
        trl.trl(b.f, b.thru, b.refl, b.lines[1], line_length=LENGTHS[1], er_est=3.0)
    text = str(record[0].message)
    assert text.count(" to ") == 2 and text.count(" GHz") == 2, text


def test_floating_point_traps_do_not_kill_the_process(tmp_path):
    code = """
        import ctypes, ctypes.util, warnings
        import numpy as np
        from orvane_ex import trl
        n = 11
        f = np.linspace(1e9, 2e9, n)
        zero = np.zeros((n, 2, 2), complex)                  # S21 = 0: every T-parameter divides by zero
        libm = ctypes.CDLL(ctypes.util.find_library("m"))
        libm.feenableexcept(0x01 | 0x04 | 0x08)              # invalid, divide-by-zero, overflow
        warnings.simplefilter("ignore")
        cal = trl.multiline_trl(f, zero, zero, [zero, zero], line_lengths=[0.01, 0.02])
        libm.fedisableexcept(0x3d)
        print("survived", np.isnan(cal.terms["q"]).all())
    """
    result = run_python(code, tmp_path)
    assert result.returncode == 0 and "survived True" in result.stdout, result.stderr


@pytest.mark.filterwarnings("ignore::orvane_ex.trl.TRLConditionWarning")
def test_a_saved_trl_calibration_loads_in_a_fresh_process(tmp_path):
    b = Bench(n=21)
    for method, call in [("trl", lambda: trl.trl(b.f, b.thru, b.refl, b.lines[1], line_length=LENGTHS[1],
                                                 er_est=3.0)),
                         ("multiline-trl", lambda: trl.multiline_trl(b.f, b.thru, b.refl, b.lines,
                                                                     line_lengths=LENGTHS, er_est=3.0))]:
        call().save(tmp_path / f"{method}.npz")
        touchstone.write(tmp_path / "raw.s2p", b.f, b.measure(b.D))
        result = run_python(f"""
            import sys
            from orvane_ex import calset
            from orvane_ex.cli import main
            cal = calset.load({str(tmp_path / f'{method}.npz')!r})
            print(type(cal).__name__)
            sys.exit(main(["info", {str(tmp_path / f'{method}.npz')!r}])
                     or main(["apply", {str(tmp_path / f'{method}.npz')!r}, {str(tmp_path / 'raw.s2p')!r},
                              "-o", {str(tmp_path / method)!r}, "-q"])
                     or main(["export", {str(tmp_path / f'{method}.npz')!r}, "-o", {str(tmp_path / 'boxes')!r}]))
        """, tmp_path)
        assert result.returncode == 0, result.stderr
        assert f"{method} calibration, 21 points" in result.stdout
        np.testing.assert_allclose(touchstone.read(tmp_path / method / "raw.s2p")[1], b.D, atol=1e-9)
