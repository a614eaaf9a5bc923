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
    assert z0.tolist() == [50.0] * ports and s.shape == (41, ports, ports)
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
    assert z0.tolist() == [75.0]
    np.testing.assert_allclose(s[:, 0, 0], [0.5j, -0.25j], atol=1e-16)
    path = tmp_path / "default.s1p"
    path.write_text("1 0.5 0\n")                       # no option line: GHz S MA R 50
    f, s, z0 = touchstone.read(path)
    assert f[0] == 1e9 and z0.tolist() == [50.0] and s[0, 0, 0] == 0.5


MALFORMED = {
    "bad number": ("# Hz S RI R 50\n1 0.1 0.2\n2 0.1 x0.2\n", "line 3: 'x0.2' is not a number"),
    "incomplete": ("# Hz S RI R 50\n1 0.1 0.2\n2 0.1\n", "line 3: incomplete point: 2 numbers where a 1-port"),
    "decreasing": ("# Hz S RI R 50\n2 0.1 0.2\n1 0.1 0.2\n", "line 3: frequencies must increase"),
    "h parameters": ("# Hz H RI R 50\n1 0.1 0.2\n", "line 1: H-parameters describe two-ports, this file has 1"),
    "bad option": ("# Hz S RI Q 50\n1 0.1 0.2\n", "line 1: unknown option 'Q'"),
    "bad z0": ("# Hz S RI R -5\n1 0.1 0.2\n", "line 1: reference impedance '-5' is not a positive number"),
    "version 2 keyword in version 1": ("# Hz S RI R 50\n[Number of Ports] 1\n", "line 2: \\[Number of Ports\\] is a "
                                       "Touchstone 2 keyword"),
    "version 2 without data": ("[Version] 2.0\n", "no \\[Network Data\\]"),
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
    (tmp_path / "x.txt").write_text("# Hz S RI R 50\n1 0 0\n")
    with pytest.raises(touchstone.TouchstoneError, match="a Touchstone 1 file, whose name must end in .sNp"):
        touchstone.read(tmp_path / "x.txt")
    (tmp_path / "x.txt").unlink()
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


# Files that used to read wrongly or fail with the wrong error: each is refused
# by line, or read as scikit-rf reads it.
HOSTILE = {
    "data before the option line": (b"1e9 0.5 0\n# Hz S MA R 50\n2e9 0.5 0\n",
                                    r"line 2: the option line follows data \(from line 1\)"),
    "frequency overflows": (b"# GHz S RI R 50\n1e300 0 0\n", "line 2: frequency 1e300 GHz is out of range"),
    "dB overflows": (b"# Hz S DB R 50\n1 1e300 0\n", r"line 2: a value is not finite once read as DB: S11"),
    "number out of range": (b"# Hz S RI R 50\n1 1e400 0\n", "line 2: '1e400' is out of the range"),
    "infinite z0": (b"# Hz S RI R inf\n1 0 0\n", "line 1: reference impedance 'inf' is not a positive number"),
    "infinite value": (b"# Hz S RI R 50\n1 -inf 0\n", "line 2: a value is not finite"),
    "bytes that are not UTF-8": (b"# Hz S RI R 50\n1 0.1 \xff\xfe0.2\n", r"line 2: '\\xff\\xfe0.2' is not a number"),
    "an option that is not UTF-8": (b"# Hz S RI \xe9\n1 0 0\n", r"line 1: unknown option '\\xe9'"),
    "plus then minus": (b"# Hz S RI R 50\n1 +-1 0\n", "line 2: '[+]-1' is not a number"),
    "one-port data in a .s2p": (b"# Hz S RI R 50\n1 0 0\n2 0 0\n3 0 0\n",
                                r"line 2: 3 numbers where a \.s2p file has 9: this is 1-port data, which belongs in "
                                r"a \.s1p file"),
    "two-port data in a .s1p": (b"# Hz S RI R 50\n1 0 0 0 0 0 0 0 0\n",
                                r"line 2: 9 numbers where a \.s1p file has 3: this is 2-port data"),
    "two points on a line": (b"# Hz S RI R 50\n1 0 0 2 0 0 3\n", "line 2: 7 numbers where a 1-port file has 3"),
}


@pytest.mark.parametrize("case", list(HOSTILE))
def test_hostile_files_are_refused_by_line(tmp_path, case):
    data, message = HOSTILE[case]
    path = tmp_path / ("bad.s2p" if ".s2p" in case else "bad.s1p")
    path.write_bytes(data)
    with pytest.raises(touchstone.TouchstoneError, match=message) as info:
        touchstone.read(path)
    assert str(info.value).startswith(str(path))


@pytest.mark.parametrize("data", [
    b"\xef\xbb\xbf# Hz S RI R 50\n1 0.1 0.2\n2 0.1 -0.2\n",          # a UTF-8 byte-order mark
    b"# Hz S RI R 50\r1 0.1 0.2 ! a comment\r2 0.1 -0.2\r",            # CR alone ends a line
    b"# Hz S RI R 50\r\n1 0.1 0.2 ! a comment\r\n2 0.1 -0.2\r\n",
    b"! before\n# Hz S RI R 50\n1 +0.1 0.2\n2 0.1 -0.2\n# MHz S DB R 75\n",  # a later option line is ignored
], ids=["BOM", "CR", "CRLF", "second option line"])
def test_line_endings_and_byte_order_mark_read_as_scikit_rf_reads_them(tmp_path, data):
    path = tmp_path / "ok.s1p"
    path.write_bytes(data)
    f, s, z0 = touchstone.read(path)
    np.testing.assert_array_equal(f, [1, 2])
    np.testing.assert_array_equal(s[:, 0, 0], [0.1 + 0.2j, 0.1 - 0.2j])
    if b"# MHz" not in data:                    # scikit-rf takes the last option line, we the first
        theirs = skrf.Network(str(path))
        np.testing.assert_array_equal(theirs.f, f)
        np.testing.assert_array_equal(theirs.s, s)


@pytest.mark.parametrize("kind", ["fifo", "device", "too large"])
def test_only_regular_files_of_sensible_size_are_read(tmp_path, kind):
    path = tmp_path / "x.s2p"
    if kind == "fifo":
        os.mkfifo(path)                         # opening it to read would wait for a writer forever
        message = "not a regular file"
    elif kind == "device":
        os.symlink("/dev/zero", path)           # would grow memory without end
        message = "not a regular file"
    else:
        with open(path, "wb") as fp:            # sparse: no disk used
            fp.truncate((256 << 20) + 1)
        message = "larger than 256 MiB"
    with pytest.raises(touchstone.TouchstoneError, match=message) as info:
        touchstone.read(path)
    assert str(info.value).startswith(str(path))


@pytest.mark.parametrize("change,message", [
    (dict(s=np.nan), "s: the S-parameters of point 3 "),
    (dict(s=np.inf * 1j), "s: the S-parameters of point 3 "),
    (dict(f=np.nan), "f: the frequency of point 3 is not finite"),
    (dict(f=1.0), r"f: frequencies must increase \(point 3, 1 Hz, follows 1.25e\+09 Hz\)"),
    (dict(f=-1.0), r"f: the frequency of point 3 is negative \(-1 Hz\)"),
    (dict(f="equal in GHz"), r"point 4, 1916.9709739423324 Hz, follows 1916.9709739423322 Hz, equal once written in GHz"),
    (dict(z0=np.inf), "z0 must be a positive, finite impedance"),
    (dict(z0=np.nan), "z0 must be a positive, finite impedance"),
    (dict(f="none"), "f: no frequencies"),
])
def test_the_writer_refuses_what_the_reader_would(tmp_path, network, change, message):
    f, S = network[0].copy(), network[1].copy()
    z0, unit = 50.0, "Hz"
    if "s" in change:
        S[3, 1, 0] = change["s"]
    elif change.get("f") == "equal in GHz":
        a = 1916.9709739423322                  # its neighbour reads back as the same frequency from GHz
        f = np.concatenate([[1e3, 1.5e3, 1.8e3, a, np.nextafter(a, np.inf)], np.linspace(2e3, 9e3, 36)])
        unit = "GHz"
    elif change.get("f") == "none":
        f, S = f[:0], S[:0]
    elif "f" in change:
        f[3] = change["f"]
    else:
        z0 = change["z0"]
    with pytest.raises(ValueError, match=message):
        touchstone.write(tmp_path / "x.s2p", f, S, z0=z0, unit=unit)
    assert os.listdir(tmp_path) == []


def test_a_comment_line_ending_in_cr_stays_a_comment(tmp_path, network):
    f, S = network
    touchstone.write(tmp_path / "x.s2p", f, S, comment="first\rsecond\r\nthird")
    assert (tmp_path / "x.s2p").read_bytes().startswith(b"! first\n! second\n! third\n#")
    np.testing.assert_array_equal(touchstone.read(tmp_path / "x.s2p")[1], S)
