"""Touchstone files: reading, resampling and writing through scikit-rf."""
import os

import numpy as np
import pytest
import skrf


def write(path, S, f):
    net = skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=S, z0=50)
    d, name = os.path.split(str(path))
    net.write_touchstone(filename=name, dir=d)
    return str(path) + (".s%dp" % S.shape[1] if not str(path).endswith("p") else "")


@pytest.fixture
def files(tmp_path, rng):
    f = np.linspace(1e9, 2e9, 11)
    S2 = 0.5 * (rng.standard_normal((11, 2, 2)) + 1j * rng.standard_normal((11, 2, 2)))
    S1 = 0.5 * (rng.standard_normal((11, 1, 1)) + 1j * rng.standard_normal((11, 1, 1)))
    return f, S1, S2, write(tmp_path / "one.s1p", S1, f), write(tmp_path / "two.s2p", S2, f)


def test_read_without_grid(hidden, files):
    f, S1, S2, p1, p2 = files
    s, ff = hidden.readSnP(p1)
    assert s.shape == (11, 1, 1) and np.allclose(s, S1) and np.allclose(ff, f)
    s, ff = hidden.readSnP(p2)
    assert s.shape == (11, 2, 2) and np.allclose(s, S2)
    net = skrf.Network(p2)
    s, ff = hidden.readSnP(net, kind=None)
    assert s is net.s and ff is net.f


@pytest.mark.parametrize("kind", ["RI", "ri", "dB", "DB", "db", "Db", "MA", "ma"])
def test_own_grid_returns_file_values(hidden, files, kind):
    f, S1, S2, p1, p2 = files
    two = hidden.readSnP(p2, f, kind)
    one = hidden.readSnP(p1, f, kind)
    assert two.shape == (11, 2, 2) and one.shape == (11,)
    np.testing.assert_allclose(two, S2, rtol=1e-12, atol=1e-14)
    np.testing.assert_allclose(one, S1[:, 0, 0], rtol=1e-12, atol=1e-14)
    np.testing.assert_allclose(hidden.readSnP(skrf.Network(p2), f, kind), two)


@pytest.mark.parametrize("kind,two,one", [("RI", (1, 2, 2), (1,)), ("dB", (2, 2), ()), ("MA", (2, 2), ())])
def test_one_point_grid_shapes(hidden, files, kind, two, one):
    f, S1, S2, p1, p2 = files
    assert hidden.readSnP(p2, [1.5e9], kind).shape == two
    assert hidden.readSnP(p1, [1.5e9], kind).shape == one


def test_phase_crossing_180_is_interpolated_continuously(hidden, tmp_path):
    f = np.array([1e9, 2e9])
    S = np.exp(1j * np.deg2rad(np.array([170.0, -170.0])))[:, None, None]
    p = write(tmp_path / "wrap.s1p", S, f)
    mid = hidden.readSnP(p, [1.5e9], "dB")
    assert np.isclose(np.rad2deg(np.angle(mid)), 180) or np.isclose(np.rad2deg(np.angle(mid)), -180)
    assert np.isclose(abs(mid), 1)
    ri = hidden.readSnP(p, [1.5e9], "RI")
    assert np.isclose(ri[0], (S[0, 0, 0] + S[1, 0, 0]) / 2)


def test_bad_arguments(hidden, files, capsys):
    f, S1, S2, p1, p2 = files
    assert hidden.readSnP(p2, f, "MP") is None
    assert capsys.readouterr().out == "Invalid option for kind. Please choose 'MA', 'DB', or 'RI'\n"
    with pytest.raises(ValueError):
        hidden.readSnP(p2, [0.5e9], "RI")
    with pytest.raises(ValueError):
        hidden.readSnP(p2, [3e9], "dB")
    for path in (3, b"two.s2p", type("P", (str,), {})(p2)):
        with pytest.raises(UnboundLocalError, match="^local variable 'ntwk' referenced before assignment$"):
            hidden.readSnP(path)
        with pytest.raises(UnboundLocalError):
            hidden.readSnP(path, f)
    with pytest.raises(AttributeError):
        hidden.readSnP(p2, f, None)
    with pytest.raises(TypeError):
        hidden.readSnP(p2, 1.5e9, "RI")


def test_path_objects_are_accepted(hidden, tmp_path, files):
    import pathlib
    f, S1, S2, p1, p2 = files
    s, ff = hidden.readSnP(pathlib.Path(p2))
    np.testing.assert_array_equal(s, hidden.readSnP(p2)[0])
    np.testing.assert_array_equal(hidden.readSnP(pathlib.Path(p1), f, "RI"), hidden.readSnP(p1, f, "RI"))
    (tmp_path / "sub").mkdir()
    assert hidden.writeSnP(f, S2, tmp_path / "sub" / "copy.s2p") is None
    np.testing.assert_allclose(skrf.Network(str(tmp_path / "sub" / "copy.s2p")).s, S2)


@pytest.mark.parametrize("path,where", [
    ("data/run1/dut.s2p", "data/run1/dut.s2p"),
    ("dut.s2p", "dut.s2p"),
    ("/dut.s2p", "dut.s2p"),
    ("data\\run1\\dut.s2p", "data\\run1\\dut.s2p"),
])
def test_write_splits_the_path_at_the_last_slash(hidden, tmp_path, monkeypatch, rng, path, where):
    monkeypatch.chdir(tmp_path)
    os.makedirs("data/run1", exist_ok=True)
    f = np.linspace(1e9, 2e9, 5)
    S = rng.standard_normal((5, 2, 2)) + 0j
    assert hidden.writeSnP(f, S, path) is None
    net = skrf.Network(where)
    np.testing.assert_allclose(net.s, S)
    np.testing.assert_allclose(net.f, f)
    assert np.all(net.z0 == 50)


def test_write_units_and_trailing_slash(hidden, tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    os.makedirs("out")
    S = np.full((3, 2, 2), 0.25 + 0j)
    hidden.writeSnP([1.5, 2.0, 2.5], S, "out/ghz.s2p", "GHz")
    np.testing.assert_allclose(skrf.Network("out/ghz.s2p").f, [1.5e9, 2e9, 2.5e9])
    hidden.writeSnP([1.5, 2.0, 2.5], S, "out/", "GHz")    # an empty name, passed on as it is
    assert any(name.startswith(".s2p") or name == ".s2p" for name in os.listdir("out"))
    with pytest.raises(AttributeError):
        hidden.writeSnP([1.0], S[:1], 42)
