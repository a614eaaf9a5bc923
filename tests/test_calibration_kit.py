"""Calibration kits: the standards against an independent scikit-rf
construction, the two ways of writing offsets, kit files and their errors."""
import math
import os

import numpy as np
import pytest
import skrf

from orvane_ex import touchstone
from orvane_ex.calkit import (CalKit, DataStandard, KitError, Load, Offset, Open, Short, Thru, example_kit)

F = np.linspace(0.1e9, 26.5e9, 401)
OFFSET = Offset(29.24e-12, 2.2e9, 50.0)


def skrf_standard(f, offset, z_termination=None, z0=50.0):
    """The same standard built with scikit-rf: a line of the offset's
    propagation constant and impedance, terminated in the same impedance."""
    w, root = 2 * np.pi * f, np.sqrt(f / 1e9)
    alpha = offset.loss * offset.delay / (2 * offset.z0) * root
    gamma_l = alpha + 1j * (w * offset.delay + alpha)
    zc = offset.z0 + (1 - 1j) * offset.loss / (2 * w) * root
    freq = skrf.Frequency.from_f(f, unit="Hz")
    line = skrf.media.DefinedGammaZ0(frequency=freq, z0_port=z0, z0=zc, gamma=gamma_l).line(1, "m")
    if z_termination is None:
        return line.s
    termination = skrf.Network(frequency=freq, s=(z_termination - z0) / (z_termination + z0), z0=z0)
    return (line ** termination).s[:, 0, 0]


def poly(c, f):
    return c[0] + c[1] * f + c[2] * f ** 2 + c[3] * f ** 3


CAP = (49.43e-15, -310.1e-27, 23.17e-36, -0.1597e-45)
IND = (2.077e-12, -108.5e-24, 2.171e-33, -0.01e-42)


# (a lossless line whose phase lands on a multiple of pi is where scikit-rf's own conversion loses digits;
# the grid avoids it)
@pytest.mark.parametrize("offset", [OFFSET, Offset(), Offset(101.3e-12, 0.0, 35.0), Offset.from_length(0.01, 0.02)])
@pytest.mark.parametrize("standard", ["open", "short", "load", "thru"])
@pytest.mark.filterwarnings("ignore:divide by zero:RuntimeWarning")   # scikit-rf's line of zero length
def test_standards_match_scikit_rf(standard, offset):
    w = 2 * np.pi * F
    if standard == "open":
        ours, zt = Open(CAP, offset).gamma(F, 50.0), 1 / (1j * w * poly(CAP, F))
    elif standard == "short":
        ours, zt = Short(IND, offset).gamma(F, 50.0), 1j * w * poly(IND, F)
    elif standard == "load":
        ours, zt = Load(52.0, 3e-12, offset).gamma(F, 50.0), 52.0 + 1j * w * 3e-12
    else:
        ours, zt = Thru(offset).s(F, 50.0), None
    np.testing.assert_allclose(ours, skrf_standard(F, offset, zt), rtol=0, atol=1e-12)


def test_board_convention_is_the_conjugate():
    kit = example_kit()
    np.testing.assert_array_equal(kit.reflect(F), np.conj(kit.reflect(F, convention="engineering")))
    np.testing.assert_array_equal(kit.thru(F), np.conj(kit.thru(F, convention="engineering")))
    # a delay's phase rises with frequency on the board
    assert np.all(np.diff(np.unwrap(np.angle(kit.thru(F)[:, 1, 0]))) > 0)
    with pytest.raises(ValueError, match="convention"):
        kit.reflect(F, convention="other")


def test_length_and_db_loss_convert_exactly():
    o = Offset.from_length(0.0123, 0.0456, 50.0)
    assert o.delay == 0.0123 / 299792458.0
    length, loss_db = o.to_length()
    assert math.isclose(length, 0.0123, rel_tol=1e-15) and math.isclose(loss_db, 0.0456, rel_tol=1e-15)
    # one-way loss at 1 GHz in dB from the delay-and-ohm/s form
    alpha = o.loss * o.delay / (2 * o.z0)
    assert math.isclose(20 * math.log10(math.e) * alpha, 0.0456, rel_tol=1e-14)
    np.testing.assert_allclose(Thru(o).s(F, 50.0), Thru(Offset(o.delay, o.loss)).s(F, 50.0), rtol=1e-15)


def test_example_kit_shapes_and_file_round_trip(tmp_path):
    kit = example_kit()
    G, T = kit.reflect(F), kit.thru(F)
    assert G.shape == (len(F), 3) and G.dtype == complex and T.shape == (len(F), 2, 2)
    assert np.all(np.abs(G[:, :2]) > 0.99) and np.all(np.abs(G[:, 2]) < 0.05)
    kit.save(tmp_path / "kit.toml")
    again = CalKit.load(tmp_path / "kit.toml")
    assert again.name == kit.name and again.standards == kit.standards
    np.testing.assert_array_equal(again.reflect(F), G)
    assert "open" in kit.describe() and "ps" in kit.describe()


def test_offsets_written_as_length_and_db_loss(tmp_path):
    (tmp_path / "k.toml").write_text('''
name = "lengths"
[open]
capacitance = ["40 fF"]
offset = { length = "8.7 mm", loss = "0.006 dB/sqrt(GHz)" }
[short]
inductance = "1 pH"
[load]
resistance = 50
[thru]
''')
    kit = CalKit.load(tmp_path / "k.toml")
    assert kit.standards["open"].offset == Offset.from_length(8.7e-3, 0.006)
    assert kit.standards["thru"].offset == Offset()


def test_data_standards_from_touchstone_files(tmp_path):
    f = np.linspace(1e9, 10e9, 31)
    gamma = 0.9 * np.exp(-2j * np.pi * f * 20e-12)
    touchstone.write(tmp_path / "open.s1p", f, gamma[:, None, None])
    thru = np.zeros((31, 2, 2), complex)
    thru[:, 0, 1] = thru[:, 1, 0] = np.exp(-2j * np.pi * f * 50e-12)
    touchstone.write(tmp_path / "thru.s2p", f, thru)
    (tmp_path / "k.toml").write_text('''
name = "data"
[open]
file = "open.s1p"
[short]
inductance = ["0 H"]
[load]
resistance = "50 ohm"
[thru]
file = "thru.s2p"
''')
    kit = CalKit.load(tmp_path / "k.toml")
    assert isinstance(kit.standards["open"], DataStandard)
    np.testing.assert_array_equal(kit.reflect(f, convention="engineering")[:, 0], gamma)
    mid = (f[:-1] + f[1:]) / 2
    np.testing.assert_allclose(kit.reflect(mid, convention="engineering")[:, 0], (gamma[:-1] + gamma[1:]) / 2,
                               rtol=1e-14)
    np.testing.assert_array_equal(kit.thru(f, convention="engineering"), thru)
    with pytest.raises(KitError, match=r"open\.s1p covers 1e\+09 to 1e\+10 Hz"):
        kit.reflect([0.5e9, 2e9])


BAD = {
    "missing name": ('[open]\ncapacitance = 0\n', "missing field 'name'"),
    "missing section": ('name = "x"\n[open]\ncapacitance = 0\n[short]\ninductance = 0\n[load]\nresistance = 50\n',
                        r"missing section \[thru\]"),
    "missing field": ('name = "x"\n[open]\noffset = {}\n', r"open: missing field 'capacitance'"),
    "wrong unit": ('name = "x"\n[open]\ncapacitance = ["49 fF"]\noffset = { delay = "29 pF" }\n',
                   r"open\.offset\.delay: '29 pF' is not a time"),
    "wrong coefficient unit": ('name = "x"\n[open]\ncapacitance = ["49 fF", "1e-27 F"]\n',
                               r"open\.capacitance\[1\]: '1e-27 F' is not a capacitance \(expected F/Hz"),
    "negative capacitance": ('name = "x"\n[open]\ncapacitance = ["-4 fF"]\n', r"open.*C0 = -4e-15 F is negative"),
    "loss without delay": ('name = "x"\n[short]\ninductance = 0\noffset = { loss = "2 Gohm/s" }\n',
                           "short.offset: offset loss 2000000000.0 ohm/s with zero delay"),
    "negative resistance": ('name = "x"\n[load]\nresistance = "-50 ohm"\n', "load: load resistance -50.0 ohm"),
    "unknown field": ('name = "x"\n[open]\ncapacitence = 0\n', "open: unknown field 'capacitence'"),
    "newer format": ('format = 2\nname = "x"\n', "written in kit format 2; this version reads format 1"),
    "not toml": ('name = "x\n', "not a valid kit file"),
}


@pytest.mark.parametrize("case", list(BAD))
def test_bad_kit_files_name_file_and_field(tmp_path, case):
    text, message = BAD[case]
    path = tmp_path / "bad.toml"
    full = text
    for section, body in (("open", "capacitance = 0"), ("short", "inductance = 0"), ("load", "resistance = 50"),
                          ("thru", "")):
        if f"[{section}]" not in full and "missing" not in case and case not in ("newer format", "not toml"):
            full += f"\n[{section}]\n{body}\n"
    path.write_text(full)
    with pytest.raises(KitError, match=message) as info:
        CalKit.load(path)
    assert str(path) in str(info.value)


def test_capacitance_negative_within_the_band_is_refused():
    kit = CalKit("x", {"open": Open((1e-15, -1e-24)), "short": Short(), "load": Load(), "thru": Thru()})
    kit.reflect([1e6, 0.5e9])                           # positive up to 1 GHz
    with pytest.raises(KitError, match=r"open: open capacitance is negative at 2e\+09 Hz"):
        kit.reflect([1e9, 2e9])
    with pytest.raises(ValueError, match="positive"):
        kit.reflect([0.0, 1e9])


# (a standard's file when the kit is complete) the rest of a valid kit file
REST = '[short]\ninductance = 0\n[load]\nresistance = 50\n[thru]\n'

HOSTILE = {
    "not UTF-8": (b'name = "x"\ndescription = "\xff\xfe"\n[open]\ncapacitance = 0\n' + REST.encode(),
                  r"line 2: not a valid kit file: byte 0xff is not UTF-8 text"),
    "arrays nested 5000 deep": (b'name = "x"\n[open]\ncapacitance = ' + b"[" * 5000 + b"]" * 5000 + b"\n" +
                                REST.encode(), "values nested deeper than a kit has"),
    "capacitance 1e300 F": (b'name = "x"\n[open]\ncapacitance = "1e300 F"\n' + REST.encode(),
                            r"open\.capacitance\[0\]: 1e\+300 F is not physical for a standard \(at most 1e-06 F\)"),
    "inductance 1e300 H": (b'name = "x"\n[open]\ncapacitance = 0\n[short]\ninductance = ["1 pH", "1e300"]\n'
                           b'[load]\nresistance = 50\n[thru]\n', r"short\.inductance\[1\]: 1e\+300 H/Hz is not physical"),
    "series inductance": (b'name = "x"\n[open]\ncapacitance = 0\n[short]\ninductance = 0\n[load]\nresistance = 50\n'
                          b'inductance = "1e300 H"\n[thru]\n', r"load\.inductance: 1e\+300 H is not physical"),
    "resistance": (b'name = "x"\n[open]\ncapacitance = 0\n[short]\ninductance = 0\n[load]\nresistance = 1e300\n'
                   b'[thru]\n', r"load\.resistance: 1e\+300 ohm is not physical"),
    "delay": (b'name = "x"\n[open]\ncapacitance = 0\n' + REST.encode() + b'offset = { delay = "1e300 s" }\n',
              r"thru\.offset\.delay: 1e\+300 s is not physical"),
    "name a number": (b'name = 5\n[open]\ncapacitance = 0\n' + REST.encode(), "name must be a string, not 5"),
}


@pytest.mark.parametrize("case", list(HOSTILE))
def test_hostile_kit_files_are_refused_by_name(tmp_path, case):
    data, message = HOSTILE[case]
    path = tmp_path / "kit.toml"
    path.write_bytes(data)
    with pytest.raises(KitError, match=message) as info:
        CalKit.load(path)
    assert str(info.value).startswith(str(path))


@pytest.mark.parametrize("kind", ["fifo", "device", "too large"])
def test_kit_files_must_be_regular_files_of_a_kit_size(tmp_path, kind):
    path = tmp_path / "kit.toml"
    if kind == "fifo":
        os.mkfifo(path)
    elif kind == "device":
        os.symlink("/dev/zero", path)
    else:
        path.write_text('name = "x"\n' + "# padding\n" * 120_000)
    with pytest.raises(KitError, match="not a regular file" if kind != "too large" else "larger than 1 MiB"):
        CalKit.load(path)


@pytest.mark.parametrize("standard", [Open((1e300,)), Short((1e300,)), Load(1e300, 1e300), Thru(Offset(1e300))])
def test_standards_whose_model_overflows_are_refused(standard):
    std = {"open": Open(), "short": Short(), "load": Load(), "thru": Thru()}
    name = type(standard).__name__.lower()
    std[name] = standard
    kit = CalKit("x", std)
    with pytest.raises(KitError, match=rf"kit 'x': {name}: its model gives no finite value at 1e\+08 Hz"):
        kit.thru(F) if name == "thru" else kit.reflect(F)


def test_ideal_standards_are_exact():
    """An open of no capacitance behind no line has an infinite input
    impedance: its reflection is still 1, not NaN."""
    kit = CalKit("ideal", {"open": Open(), "short": Short(), "load": Load(), "thru": Thru()})
    np.testing.assert_array_equal(kit.reflect(F), np.tile([1, -1, 0], (len(F), 1)))
    np.testing.assert_array_equal(kit.thru(F), np.tile([[0, 1], [1, 0]], (len(F), 1, 1)))


def test_data_standards_resolve_against_the_kit_file_and_save_relative_to_the_new_one(tmp_path, monkeypatch):
    f = np.linspace(1e9, 10e9, 11)
    (tmp_path / "kit" / "data").mkdir(parents=True)
    (tmp_path / "shared").mkdir()
    touchstone.write(tmp_path / "kit" / "data" / "open.s1p", f, np.full((11, 1, 1), 0.9 + 0j))
    touchstone.write(tmp_path / "shared" / "short.s1p", f, np.full((11, 1, 1), -0.9 + 0j))
    touchstone.write(tmp_path / "thru.s2p", f, np.tile([[0, 0.9], [0.9, 0]], (11, 1, 1)).astype(complex))
    (tmp_path / "kit" / "kit.toml").write_text(f'''
name = "data"
[open]
file = "data/open.s1p"
[short]
file = "../shared/short.s1p"
[load]
resistance = 50
[thru]
file = "{tmp_path / 'thru.s2p'}"
''')
    monkeypatch.chdir(tmp_path)
    kit = CalKit.load("kit/kit.toml")                 # loaded by a relative path
    assert kit.to_dict()["open"] == {"file": "data/open.s1p"}       # as the file holds it
    want = kit.reflect(f, convention="engineering")
    (tmp_path / "elsewhere" / "deeper").mkdir(parents=True)
    for target in ("kit/kit.toml", "kit/copy.toml", "elsewhere/deeper/copy.toml", "copy.toml"):
        kit.save(target)
        monkeypatch.chdir(tmp_path / "elsewhere")     # the saved kit loads from anywhere
        again = CalKit.load(tmp_path / target)
        monkeypatch.chdir(tmp_path)
        np.testing.assert_array_equal(again.reflect(f, convention="engineering"), want)
        assert again.to_dict()["thru"] == {"file": str(tmp_path / "thru.s2p")}      # absolute stays absolute
    assert CalKit.load("copy.toml").to_dict()["open"] == {"file": "kit/data/open.s1p"}
    assert CalKit.load("elsewhere/deeper/copy.toml").to_dict()["short"] == {"file": "../../shared/short.s1p"}
