"""The native Touchstone reader and writer: agreement with readSnP/writeSnP
(scikit-rf), every format and unit, and malformed files named by line."""
import os

import numpy as np
import pytest
import skrf

from orvane_ex import touchstone


@pytest.fixture
def network(rng):
    f = np.linspace(1e9, 6e9, 41)
    return f, rng.standard_normal((41, 2, 2)) + 1j * rng.standard_normal((41, 2, 2))


@pytest.mark.parametrize("form", ["ri", "ma", "db"])
@pytest.mark.parametrize("ports", [1, 2])
def test_reads_what_writeSnP_and_scikit_rf_write(hidden, tmp_path, network, form, ports):
    f, S = network
    S = S[:, :ports, :ports]
    net = skrf.Network(frequency=skrf.Frequency.from_f(f / 1e9, unit="GHz"), s=S, z0=50)
    net.write_touchstone(filename="x", dir=str(tmp_path), form=form)
    path = tmp_path / f"x.s{ports}p"
    ff, s, z0 = touchstone.read(path)
    want = skrf.Network(str(path))
    assert z0 == 50 and s.shape == (41, ports, ports)
    np.testing.assert_allclose(ff, want.f, rtol=1e-15)
    np.testing.assert_allclose(s, want.s, rtol=1e-15, atol=0)
    if form == "ri":
        hidden.writeSnP(f, S, str(tmp_path / f"w.s{ports}p"))
        np.testing.assert_array_equal(touchstone.read(tmp_path / f"w.s{ports}p")[1], hidden.readSnP(
            str(tmp_path / f"w.s{ports}p"))[0])


@pytest.mark.parametrize("unit", ["Hz", "kHz", "MHz", "GHz"])
def test_written_files_read_back_exactly(hidden, tmp_path, network, unit):
    f, S = network
    touchstone.write(tmp_path / "a.s2p", f, S, unit=unit, comment="corrected\nbench 3")
    text = (tmp_path / "a.s2p").read_text()
    assert text.startswith("! corrected\n! bench 3\n# " + unit + " S RI R 50")
    ff, s, _ = touchstone.read(tmp_path / "a.s2p")
    np.testing.assert_array_equal(s, S)
    np.testing.assert_allclose(ff, f, rtol=1e-15)
    theirs, f_theirs = hidden.readSnP(str(tmp_path / "a.s2p"))
    np.testing.assert_array_equal(theirs, S)


def test_comments_spacing_and_option_defaults(tmp_path):
    path = tmp_path / "odd.S1P"
    path.write_text("! a comment\n!another\n#   ghz   s   ma  r   75 ! trailing\n"
                    "1.0\t0.5   90 ! inline\n\n  2.0 0.25 -90\n# MHz S RI R 50\n")
    f, s, z0 = touchstone.read(path)
    np.testing.assert_array_equal(f, [1e9, 2e9])
    assert z0 == 75
    np.testing.assert_allclose(s[:, 0, 0], [0.5j, -0.25j], atol=1e-16)
    path = tmp_path / "default.s1p"
    path.write_text("1 0.5 0\n")                       # no option line: GHz S MA R 50
    f, s, z0 = touchstone.read(path)
    assert f[0] == 1e9 and z0 == 50 and s[0, 0, 0] == 0.5


MALFORMED = {
    "bad number": ("# Hz S RI R 50\n1 0.1 0.2\n2 0.1 x0.2\n", "line 3: 'x0.2' is not a number"),
    "incomplete": ("# Hz S RI R 50\n1 0.1 0.2\n2 0.1\n", "line 3: incomplete point: 2 numbers where a 1-port"),
    "decreasing": ("# Hz S RI R 50\n2 0.1 0.2\n1 0.1 0.2\n", "line 3: frequencies must increase"),
    "y parameters": ("# Hz Y RI R 50\n1 0.1 0.2\n", "line 1: only S-parameters are read"),
    "bad option": ("# Hz S RI Q 50\n1 0.1 0.2\n", "line 1: unknown option 'Q'"),
    "bad z0": ("# Hz S RI R -5\n1 0.1 0.2\n", "line 1: reference impedance '-5' is not a positive number"),
    "version 2": ("[Version] 2.0\n", "line 1: Touchstone 2.0 keywords"),
    "empty": ("! nothing\n", "no data"),
    "not finite": ("# Hz S RI R 50\n1 nan 0.2\n", "line 2: a value is not finite"),
}


@pytest.mark.parametrize("case", list(MALFORMED))
def test_malformed_files_are_named_by_line(tmp_path, case):
    text, message = MALFORMED[case]
    path = tmp_path / "bad.s1p"
    path.write_text(text)
    with pytest.raises(touchstone.TouchstoneError, match=message) as info:
        touchstone.read(path)
    assert str(info.value).startswith(str(path))
    assert isinstance(info.value, ValueError)


def test_files_that_cannot_be_read_or_written(tmp_path, network):
    f, S = network
    with pytest.raises(FileNotFoundError):
        touchstone.read(tmp_path / "missing.s2p")
    with pytest.raises(ValueError, match="only one- and two-port"):
        touchstone.read(tmp_path / "x.s4p")
    with pytest.raises(FileNotFoundError):
        touchstone.write(tmp_path / "no" / "dir.s2p", f, S)
    with pytest.raises(ValueError, match="a 2-port network goes into a .s2p file"):
        touchstone.write(tmp_path / "x.s1p", f, S)
    with pytest.raises(ValueError, match="unit"):
        touchstone.write(tmp_path / "x.s2p", f, S, unit="THz")
    assert os.listdir(tmp_path) == []                  # nothing half-written
    (tmp_path / "folder.s2p").mkdir()                  # has no size to read by
    with pytest.raises(IsADirectoryError):
        touchstone.read(tmp_path / "folder.s2p")
