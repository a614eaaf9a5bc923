"""Touchstone 1.0, 1.1, 2.0 and 2.1 of any port count against scikit-rf: every
file it ships, files it writes, files we write; keywords, parameters, noise,
and the malformed files refused by line."""
import glob
import os

import numpy as np
import pytest
import skrf

from orvane_ex import touchstone

SHIPPED = sorted(glob.glob(os.path.join(os.path.dirname(skrf.__file__), "**", "*.s*p"), recursive=True)
                 + glob.glob(os.path.join(os.path.dirname(skrf.__file__), "**", "*.ts"), recursive=True))


def random_s(rng, n, p):
    return 0.4 * (rng.standard_normal((n, p, p)) + 1j * rng.standard_normal((n, p, p)))


def skrf_network(f, s, z0=50.0):
    return skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=s, z0=z0)


def test_scikit_rf_ships_files_to_check():
    assert len(SHIPPED) >= 15


@pytest.mark.parametrize("path", SHIPPED, ids=os.path.basename)
def test_every_file_scikit_rf_ships_reads_as_it_reads_it(path):
    try:
        want = skrf.Network(path)
    except Exception:
        pytest.skip("scikit-rf cannot read it either")
    f, s, z0 = touchstone.read(path)
    # bit for bit, in RI and MA alike
    np.testing.assert_array_equal(f, want.f)
    np.testing.assert_array_equal(s, want.s)
    np.testing.assert_array_equal(np.broadcast_to(z0, want.z0.shape), want.z0)


@pytest.mark.parametrize("version", ["1.0", "2.0", "2.1"])
@pytest.mark.parametrize("ports", [1, 2, 3, 4, 5, 8])
@pytest.mark.parametrize("form", ["ri", "ma", "db"])
def test_files_scikit_rf_writes_read_as_it_reads_them(tmp_path, rng, version, ports, form):
    f = np.linspace(0.5e9, 8e9, 17)
    net = skrf_network(f, random_s(rng, 17, ports), z0=[50.0 + 5 * k for k in range(ports)] if version != "1.0"
                       else 50.0)
    net.frequency.unit = "MHz"
    net.write_touchstone(filename="x", dir=str(tmp_path), form=form, version=version)
    path = glob.glob(str(tmp_path / "x.*"))[0]
    want = skrf.Network(path)
    data = touchstone.read_data(path)
    assert data.version == version and data.unit.lower() == "mhz" and data.format == form.upper()
    np.testing.assert_array_equal(data.f, want.f)
    np.testing.assert_allclose(data.s, want.s, rtol=0, atol=1e-15 if form == "db" else 0)
    np.testing.assert_array_equal(data.z0, want.z0[0].real)
    np.testing.assert_allclose(data.s, net.s, atol=1e-13)       # and the network written


@pytest.mark.parametrize("parameter", ["Y", "Z", "H", "G"])
@pytest.mark.parametrize("version", ["1.0", "2.1"])
def test_y_z_h_g_files_give_the_s_parameters_they_were_written_from(tmp_path, rng, parameter, version):
    # scikit-rf's own reader scales version 1 Y, H and G values by R instead of
    # undoing their normalisation, so the network written is the oracle here
    f = np.linspace(1e9, 3e9, 7)
    net = skrf_network(f, random_s(rng, 7, 2), z0=50.0)
    net.write_touchstone(filename="x", dir=str(tmp_path), parameter=parameter, version=version)
    path = glob.glob(str(tmp_path / "x.*"))[0]
    data = touchstone.read_data(path)
    assert data.parameter == parameter
    np.testing.assert_allclose(data.s, net.s, atol=1e-14)
    if version == "2.1" or parameter == "Z":
        np.testing.assert_allclose(data.s, skrf.Network(path).s, atol=1e-14)


VERSIONS = ["1.0", "1.1", "2.0", "2.1"]


@pytest.mark.parametrize("version", VERSIONS)
@pytest.mark.parametrize("ports", [1, 2, 3, 4, 8])
@pytest.mark.parametrize("form", ["RI", "MA", "DB"])
def test_what_we_write_reads_back_here_and_in_scikit_rf(tmp_path, rng, version, ports, form):
    f = np.linspace(1e6, 2e9, 23)
    s = random_s(rng, 23, ports)
    z0 = [50.0 + 25 * (k % 2) for k in range(ports)] if version != "1.0" else 75.0
    name = f"x.s{ports}p" if version < "2" else "x.ts"
    touchstone.write(tmp_path / name, f, s, version=version, z0=z0, format=form, unit="MHz", comment="bench 3")
    data = touchstone.read_data(tmp_path / name)
    np.testing.assert_allclose(data.f, f, rtol=1e-15)
    if form == "RI":
        np.testing.assert_array_equal(data.s, s)
    else:
        np.testing.assert_allclose(data.s, s, rtol=0, atol=1e-15)
    np.testing.assert_array_equal(data.z0, np.broadcast_to(z0, (ports,)))
    assert data.comments == "bench 3" and data.version == (version if ports > 1 or version != "1.1" else "1.0")
    theirs = skrf.Network(str(tmp_path / name))
    np.testing.assert_array_equal(theirs.f, data.f)
    np.testing.assert_allclose(theirs.s, data.s, rtol=0, atol=1e-15 if form == "DB" else 0)
    np.testing.assert_array_equal(theirs.z0[0].real, data.z0)


@pytest.mark.parametrize("parameter", ["Y", "Z", "H", "G"])
@pytest.mark.parametrize("version", ["1.1", "2.1"])
def test_parameters_written_read_back_as_the_s_they_came_from(tmp_path, rng, parameter, version):
    f = np.linspace(1e9, 2e9, 9)
    s = random_s(rng, 9, 2)
    z0 = 50.0 if version == "1.1" else [50.0, 75.0]
    touchstone.write(tmp_path / "x.ts" if version == "2.1" else tmp_path / "x.s2p", f, s, version=version,
                     parameter=parameter, z0=z0)
    path = tmp_path / ("x.ts" if version == "2.1" else "x.s2p")
    np.testing.assert_allclose(touchstone.read(path)[1], s, atol=1e-14)
    if version == "2.1":        # unnormalised, as scikit-rf reads them
        np.testing.assert_allclose(skrf.Network(str(path)).s, s, atol=1e-14)


@pytest.mark.parametrize("layout", ["Lower", "Upper"])
@pytest.mark.parametrize("ports", [2, 3, 5])
def test_lower_and_upper_matrices(tmp_path, rng, layout, ports):
    f = np.linspace(1e9, 2e9, 5)
    s = random_s(rng, 5, ports)
    s = s + s.transpose(0, 2, 1)
    touchstone.write(tmp_path / "x.ts", f, s, version="2.0", matrix_format=layout)
    text = (tmp_path / "x.ts").read_text()
    assert f"[Matrix Format] {layout}" in text
    np.testing.assert_array_equal(touchstone.read(tmp_path / "x.ts")[1], s)
    if ports > 2:   # scikit-rf fills the missing triangle wrongly for two-ports in 21_12 order
        np.testing.assert_array_equal(skrf.Network(str(tmp_path / "x.ts")).s, s)
    s[2, 0, 1] += 1e-12
    with pytest.raises(ValueError, match=r"s is not symmetric \(S12 != S21 at point 2\)"):
        touchstone.write(tmp_path / "y.ts", f, s, version="2.0", matrix_format=layout)


V2_TWO_PORT = """! a two-port with noise
[Version] 2.1
# MHz S MA R 50
[Number of Ports] 2
[Two-Port Data Order] {order}
[Number of Frequencies] 2
[Number of Noise Frequencies] 2
[Reference] 50
 25
[Begin Information]
anything at all [Network Data] 1 2 3
[End Information]
[Network Data]
100 0.9 -10 0.1 20 0.2 30 0.8 -40
200 0.8 -20 0.1 20 0.2 30 0.7 -50
[Noise Data]
100 0.5 0.3 40 12
200 0.7 0.2 60 14
[End]
"""


@pytest.mark.parametrize("order", ["12_21", "21_12"])
def test_version_2_keywords_and_noise_data(tmp_path, order):
    path = tmp_path / "amp.ts"
    path.write_text(V2_TWO_PORT.format(order=order))
    data = touchstone.read_data(path)
    plain = tmp_path / "plain.ts"       # scikit-rf reads no [Begin Information]
    plain.write_text("".join(V2_TWO_PORT.format(order=order).partition("[Begin Information]")[::2][0])
                     + V2_TWO_PORT.partition("[End Information]\n")[2])
    want = skrf.Network(str(plain))
    np.testing.assert_array_equal(data.s, want.s)
    np.testing.assert_array_equal(touchstone.read(plain)[1], data.s)
    np.testing.assert_array_equal(data.z0, [50, 25])
    twelve = 0.1 * np.exp(1j * np.deg2rad(20))
    assert np.isclose(data.s[0, 0, 1] if order == "12_21" else data.s[0, 1, 0], twelve)
    noise = data.noise
    np.testing.assert_array_equal(noise.f, [1e8, 2e8])
    np.testing.assert_array_equal(noise.rn, [12, 14])            # version 2: ohm
    np.testing.assert_allclose(noise.gamma_opt, [0.3 * np.exp(0.4j * np.pi * 40 / 72), 0.2 * np.exp(1j * np.pi / 3)])
    np.testing.assert_allclose(noise.nfmin_db, want.nfmin_db, atol=1e-12)
    board = touchstone.read_data(path, convention="board")
    np.testing.assert_array_equal(board.noise.gamma_opt, np.conj(noise.gamma_opt))
    assert data.comments == "a two-port with noise"


def test_version_1_noise_is_kept_apart_and_written_back(tmp_path, rng):
    f = np.linspace(1e9, 4e9, 4)
    s = random_s(rng, 4, 2)
    noise = touchstone.NoiseData(f=np.array([1e9, 2e9, 3e9]), nfmin_db=np.array([0.5, 0.6, 0.8]),
                                 gamma_opt=np.array([0.3 + 0.1j, 0.2 - 0.1j, 0.1j]), rn=np.array([10.0, 12.0, 15.0]))
    for version, name in [("1.1", "amp.s2p"), ("2.0", "amp.ts")]:
        touchstone.write(tmp_path / name, f, s, noise=noise, z0=25.0, version=version)
        data = touchstone.read_data(tmp_path / name)
        np.testing.assert_array_equal(data.s, s)                 # the noise lines are not taken for points
        np.testing.assert_array_equal(data.noise.f, noise.f)
        np.testing.assert_allclose(data.noise.rn, noise.rn, rtol=1e-15)
        np.testing.assert_allclose(data.noise.gamma_opt, noise.gamma_opt, atol=1e-16)
        theirs = skrf.Network(str(tmp_path / name))
        np.testing.assert_allclose(theirs.rn, np.interp(f, noise.f, noise.rn, right=np.nan), rtol=1e-12)
    late = touchstone.NoiseData(f=np.array([5e9]), nfmin_db=np.array([1.0]), gamma_opt=np.array([0.1]),
                                rn=np.array([10.0]))
    with pytest.raises(ValueError, match="noise from 5e\\+09 Hz needs version '2.0' or '2.1'"):
        touchstone.write(tmp_path / "late.s2p", f, s, noise=late)


def test_version_1_n_port_wrapping_and_per_port_reference(tmp_path, rng):
    f = np.array([1e9, 2e9])
    s = random_s(rng, 2, 6)
    touchstone.write(tmp_path / "x.s6p", f, s, z0=[50, 50, 75, 75, 100, 100])
    lines = (tmp_path / "x.s6p").read_text().splitlines()
    assert lines[0] == "# Hz S RI R 50 50 75 75 100 100"
    # a row on its own lines, four pairs at most a line
    assert [len(line.split()) for line in lines[1:13]] == [9, 4] + [8, 4] * 5
    data = touchstone.read_data(tmp_path / "x.s6p")
    assert data.version == "1.1"
    np.testing.assert_array_equal(data.s, s)
    np.testing.assert_array_equal(skrf.Network(str(tmp_path / "x.s6p")).s, s)
    # any wrapping of whole pairs reads the same
    numbers = [line.split() for line in lines[1:]]
    flat = [x for row in numbers for x in row]
    per = 1 + 2 * 36
    text = lines[0] + "\n" + "".join(" ".join(flat[k:k + per][:7]) + "\n" + " ".join(flat[k:k + per][7:]) + "\n"
                                     for k in range(0, len(flat), per))
    (tmp_path / "y.s6p").write_text(text)
    np.testing.assert_array_equal(touchstone.read(tmp_path / "y.s6p")[1], s)


def test_networks_and_one_port_vectors_are_written(tmp_path, rng):
    f = np.linspace(1e9, 2e9, 5)
    net = skrf_network(f, random_s(rng, 5, 3), z0=[50, 60, 70])
    touchstone.write(tmp_path / "net.ts", net, version="2.1")
    back = touchstone.read_data(tmp_path / "net.ts").to_network()
    assert back == net and np.array_equal(back.s, net.s)
    touchstone.write(tmp_path / "renorm.ts", net, version="2.1", z0=50.0)
    want = net.copy()
    want.renormalize(50.0)
    np.testing.assert_allclose(touchstone.read(tmp_path / "renorm.ts")[1], want.s, atol=1e-15)
    gamma = random_s(rng, 5, 1)[:, 0, 0]
    touchstone.write(tmp_path / "g.s1p", f, gamma)
    np.testing.assert_array_equal(touchstone.read(tmp_path / "g.s1p")[1][:, 0, 0], gamma)
    assert touchstone.ports(tmp_path / "net.ts") == 3 and touchstone.ports(tmp_path / "g.s1p") == 1


# Files refused, each by its file and line, on purpose: what they hold cannot be read as meant.
REFUSED = {
    "no two-port data order": ("x.ts", "[Version] 2.0\n# Hz S RI R 50\n[Number of Ports] 2\n[Number of Frequencies] 1\n"
                               "[Network Data]\n1 0 0 0 0 0 0 0 0\n[End]\n", "line 5: a two-port Version 2 file must give"),
    "fewer points than said": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 1\n[Number of Frequencies] 3\n"
                               "[Network Data]\n1 0 0\n2 0 0\n[End]\n",
                               "2 frequency points where \\[Number of Frequencies\\] says 3$"),
    "cut short": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 1\n[Number of Frequencies] 3\n[Network Data]\n1 0 0\n",
                  "and no \\[End\\]: the file may be cut short"),
    "mixed mode": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 2\n[Mixed-Mode Order] D1,2 C1,2\n",
                   "line 4: mixed-mode data \\(\\[Mixed-Mode Order\\]\\) are not read"),
    "data after end": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 1\n[Number of Frequencies] 1\n[Network Data]\n"
                       "1 0 0\n[End]\n2 0 0\n", "line 8: '2 0 0' after \\[End\\]"),
    "unknown keyword": ("x.ts", "[Version] 2.0\n[Frobnicate] 3\n", "line 2: unknown keyword \\[Frobnicate\\]"),
    "version 3": ("x.ts", "[Version] 3.0\n", "line 1: \\[Version\\] ' 3.0' is not read"),
    "data before network data": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 1\n1 0 0\n",
                                 "line 4: data before \\[Network Data\\]"),
    "short reference": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 3\n[Number of Frequencies] 1\n[Reference] 50 50\n"
                        "[Network Data]\n", "line 6: \\[Reference\\] \\(line 5\\) gives 2 of the 3 impedances"),
    "noise in a 3-port": ("x.ts", "[Version] 2.0\n#\n[Number of Ports] 3\n[Number of Frequencies] 1\n"
                          "[Number of Noise Frequencies] 1\n[Network Data]\n1" + " 0" * 18 + "\n[Noise Data]\n",
                          "line 8: noise data in a 3-port file"),
    "port count unlike the name": ("x.s2p", "[Version] 2.0\n#\n[Number of Ports] 3\n",
                                   "line 3: \\[Number of Ports\\] 3 in a file named for 2 ports"),
    "H in a 3-port": ("x.s3p", "# Hz H RI R 50\n1" + " 0" * 18 + "\n", "line 1: H-parameters describe two-ports"),
    "Y per-port normalised": ("x.s2p", "# Hz Y RI R 50 75\n1 0 0 0 0 0 0 0 0\n",
                              "line 1: Y-parameters normalised to a different R at each port are not read"),
    "wrong count of R": ("x.s3p", "# Hz S RI R 50 75\n1" + " 0" * 18 + "\n", "line 1: 2 reference impedances"),
    "HFSS port impedances": ("x.s1p", "# GHz S RI R 50\n1 0.1 0.2\n! Port Impedance 42.5 1.5\n",
                             "line 3: port 1's impedance \\(42.5 \\+ 1.5j ohm\\) is not the reference impedance R 50"),
    "pair split over lines": ("x.s3p", "# Hz S RI R 50\n1 0 0 0 0 0\n 0 0 0 0 0 0 0\n 0 0 0 0 0 0\n",
                              "line 2: incomplete point: 6 numbers where a 3-port file has 19"),
    "noise line of the wrong length": ("x.s2p", "# Hz S RI R 50\n2 0 0 0 0 0 0 0 0\n1 0.5 0.3 40\n",
                                       "line 3: incomplete point: 4 numbers where a 2-port file has 9"),
    "singular Z": ("x.s2p", "# Hz Z RI R 50\n1 -1 0 0 0 0 0 -1 0\n",
                   "line 2: Z-parameters at 1 Hz that no S-parameters describe"),
}


@pytest.mark.parametrize("case", list(REFUSED))
def test_files_that_cannot_be_read_as_meant_are_refused_by_line(tmp_path, case):
    name, text, message = REFUSED[case]
    path = tmp_path / name
    path.write_text(text)
    with pytest.raises(touchstone.TouchstoneError, match=message) as info:
        touchstone.read(path)
    assert str(info.value).startswith(str(path))


@pytest.mark.parametrize("args,message", [
    (dict(version="1.0", z0=[50, 75]), "a version 1.0 file holds one reference impedance"),
    (dict(version="1.1", z0=[50, 75], parameter="Z"), "Z-parameters normalised to a different R at each port"),
    (dict(matrix_format="Lower"), "'Lower' and 'Upper' are Touchstone 2"),
    (dict(format="DB", zero=True), "format 'DB' cannot hold an exact zero"),
    (dict(parameter="Q"), "parameter must be 'S', 'Y', 'Z', 'H' or 'G'"),
    (dict(version="3.0"), "version must be '1.0', '1.1', '2.0' or '2.1'"),
    (dict(parameter="Z", short=True), "has no Z-parameters"),
    (dict(name="x.ts"), "goes into a .s2p file"),
])
def test_the_writer_refuses_what_cannot_be_read_back(tmp_path, rng, args, message):
    f = np.linspace(1e9, 2e9, 4)
    s = random_s(rng, 4, 2)
    if args.pop("zero", False):
        s[1, 0, 1] = 0
    if args.pop("short", False):
        s[2] = np.eye(2)            # I - S singular
    name = args.pop("name", "x.s2p")
    with pytest.raises(ValueError, match=message):
        touchstone.write(tmp_path / name, f, s, **args)
    assert os.listdir(tmp_path) == []


def test_every_finite_double_is_written_exactly_and_shortest(tmp_path, rng):
    bits = rng.integers(0, 2**64, size=40000, dtype=np.uint64)
    values = bits.view(np.float64)
    values = values[np.isfinite(values)]
    special = [5e-324, -5e-324, 2.2250738585072014e-308, 1.7976931348623157e308, 0.1, 1e23, 9007199254740993.0,
               123456789012345678.0, 1e-5, 1e-4, 0.5, 1e16, 1e17, -0.0, 0.0]
    values = np.concatenate([values, special])[:len(values) // 2 * 2]
    s = values.view(complex)[:, None, None]
    f = np.arange(1.0, len(s) + 1)
    touchstone.write(tmp_path / "x.s1p", f, s)
    back = touchstone.read(tmp_path / "x.s1p")[1]
    np.testing.assert_array_equal(back.view(np.uint64), s.view(np.uint64))     # bit for bit, zeros' signs too
    text = (tmp_path / "x.s1p").read_text().split()[6:]
    ours = [t for k, t in enumerate(text) if k % 3]
    assert all(len(a.lstrip("-").replace(".", "").split("e")[0].strip("0")) <= len(repr(float(a)).lstrip("-")
               .replace(".", "").split("e")[0].strip("0")) for a in ours[:4000])
