"""Saved calibrations: every model recovers the virtual board's device when
built with the kit's model; files round-trip exactly and damaged ones are
refused by name; grids; error boxes."""
import io
import os
import zipfile

import numpy as np
import pytest
import skrf

from conftest import cascade, close
from orvane_ex import calset, touchstone
from orvane_ex.calkit import example_kit
from orvane_ex.virtual_board import PORTS, Board, Settings


@pytest.fixture(scope="module")
def measured():
    """Standards, isolation and a device measured on a noiseless board whose
    standards follow the example kit."""
    from orvane_ex import hidden

    settings = Settings(1e9, 6e9, 61)
    board = Board(settings, seed=5, noise=False, crosstalk_db=-250, ideal_standards=False)
    with board.unattended(hidden):
        Gm1, Gm2, Tm, Im = hidden.prompt2PortSOLT(board, settings, PORTS, isolation=True)
        Sm = hidden.prompt2PortMeasure(board, settings, PORTS, "DUT")
    return dict(f=settings.freqRange.f, Gm1=Gm1, Gm2=Gm2, Tm=Tm, Im=Im, Sm=Sm, device=board.device)


def build(method, m, G, T):
    f = m["f"]
    if method == "one-port":
        return calset.OnePortCal.build(f, G, m["Gm1"])
    if method == "response":
        return calset.ResponseCal.build(f, G[:, 1], m["Gm1"][:, 1], G[:, 1], m["Gm2"][:, 1], T, m["Tm"])
    if method == "eight-term":
        return calset.EightTermCal.build(f, G, m["Gm1"], G, m["Gm2"], T, m["Tm"])
    if method == "unknown-thru":
        return calset.UnknownThruCal.build(f, G, m["Gm1"], G, m["Gm2"], m["Tm"])
    return calset.TwelveTermCal.build(f, G, m["Gm1"], G, m["Gm2"], T, m["Tm"], m["Im"])


def worst_db(S, D):
    return 20 * np.log10(np.max(np.abs(S - D)))


@pytest.mark.parametrize("method", ["eight-term", "unknown-thru", "twelve-term"])
def test_kit_model_recovers_the_device_where_ideal_standards_do_not(hidden, measured, method):
    kit = example_kit()
    f = measured["f"]
    with_kit = build(method, measured, kit.reflect(f), kit.thru(f))
    assert worst_db(with_kit.apply(measured["Sm"]), measured["device"]) < -60
    ideal = build(method, measured, *hidden.getIdealSparams(len(f)))
    assert worst_db(ideal.apply(measured["Sm"]), measured["device"]) > -20


def test_one_port_and_response_models(measured):
    kit = example_kit()
    f = measured["f"]
    G, T = kit.reflect(f), kit.thru(f)
    one = build("one-port", measured, G, T)
    close(one.apply(measured["Gm1"][:, 0]), G[:, 0], 1e-9)
    assert one.apply(measured["Gm1"][:, :1, None]).shape == (len(f), 1, 1)
    response = build("response", measured, G, T)
    close(response.apply(measured["Tm"]), np.where(np.eye(2, dtype=bool), response.apply(measured["Tm"]), T), 1e-9)


METHODS = ["one-port", "response", "eight-term", "unknown-thru", "twelve-term"]


@pytest.mark.parametrize("method", METHODS)
def test_save_load_round_trip_is_exact(tmp_path, measured, method):
    kit = example_kit()
    f = measured["f"]
    cal = build(method, measured, kit.reflect(f), kit.thru(f))
    cal.kit, cal.notes = kit.to_dict(), "bench 3, 23 C"
    if cal.ports == 2:
        cal = cal.with_port_extension(2, np.full(len(f), 0.9 + 0.1j))
    cal.save(tmp_path / "cal.npz")
    again = calset.load(tmp_path / "cal.npz")
    assert type(again) is type(cal) and again.method == method
    assert (again.created, again.notes, again.kit) == (cal.created, cal.notes, cal.kit)
    np.testing.assert_array_equal(again.f, cal.f)
    for group in ("terms", "standards"):
        a, b = getattr(again, group), getattr(cal, group)
        assert a.keys() == b.keys()
        for k in a:
            np.testing.assert_array_equal(a[k], b[k])
    if cal.port_extension is not None:
        assert again.port_extension[0] == 2
        np.testing.assert_array_equal(again.port_extension[1], cal.port_extension[1])
    # readable with numpy alone, nothing executed
    with np.load(tmp_path / "cal.npz", allow_pickle=False) as z:
        assert str(z["format"]) == "orvane_ex calibration" and int(z["version"]) == 1
    assert not list(tmp_path.glob("*.part"))


@pytest.mark.parametrize("what", ["calibration", "kit"])
def test_a_failed_save_keeps_the_previous_file(tmp_path, monkeypatch, measured, what):
    import tomli_w

    kit = example_kit()
    f = measured["f"]
    cal = build("one-port", measured, kit.reflect(f), kit.thru(f))
    path = tmp_path / "saved"
    path.write_bytes(b"previous")

    def half_then_fail(fp, *args, **kwargs):
        fp.write(b"half")
        raise OSError("disk full")

    if what == "calibration":
        monkeypatch.setattr(np, "savez", half_then_fail)
    else:  # text that cannot be encoded fails in the middle of the write
        monkeypatch.setattr(tomli_w, "dumps", lambda data: "name = 'half'\n\ud800")
    with pytest.raises((OSError, UnicodeEncodeError)):
        (cal if what == "calibration" else kit).save(path)
    assert path.read_bytes() == b"previous" and not list(tmp_path.glob("*.part"))


@pytest.mark.parametrize("kind", ["linear", "cubic"])
def test_interpolation(measured, kind):
    kit = example_kit()
    f = measured["f"]
    cal = build("twelve-term", measured, kit.reflect(f), kit.thru(f))
    same = cal.interpolate(f, kind)
    for k in cal.terms:
        np.testing.assert_array_equal(same.terms[k], cal.terms[k])
    finer = cal.interpolate(np.linspace(f[0], f[-1], 121), kind)
    assert finer.terms["fwd"].shape == (121, 6)
    np.testing.assert_array_equal(finer.terms["fwd"][::2], cal.terms["fwd"])
    with pytest.raises(ValueError, match=r"0.5 to 2 GHz is outside the calibrated span 1 to 6 GHz"):
        cal.interpolate([0.5e9, 2e9], kind)


def damaged(path, how):
    data = path.read_bytes()
    if how == "truncated":
        path.write_bytes(data[: len(data) // 2])
    elif how == "garbage":
        path.write_bytes(b"\x00not a calibration" * 10)
    elif how == "other npz":
        np.savez(path, x=np.ones(3))
    elif how == "newer":
        with np.load(path) as z:
            arrays = dict(z)
        arrays["version"] = np.array(7)
        with open(path, "wb") as fp:
            np.savez(fp, **arrays)
    elif how == "missing term":
        with np.load(path) as z:
            arrays = {k: v for k, v in z.items() if k != "term.rev"}
        with open(path, "wb") as fp:
            np.savez(fp, **arrays)
    elif how == "corrupt member":
        with zipfile.ZipFile(path) as z:
            members = {n: z.read(n) for n in z.namelist()}
        members["term.fwd.npy"] = members["term.fwd.npy"][:100]
        with zipfile.ZipFile(path, "w") as z:
            for n, b in members.items():
                z.writestr(n, b)


@pytest.mark.parametrize("how,message", [
    ("truncated", "damaged or not a calibration file"), ("garbage", "damaged or not a calibration file"),
    ("other npz", "not a calibration file"), ("newer", "format 7 by a newer orvane_ex"),
    ("missing term", "missing error term 'rev'"), ("corrupt member", "damaged or not a calibration file"),
])
def test_damaged_files_are_refused_by_name(tmp_path, measured, how, message):
    kit = example_kit()
    cal = build("twelve-term", measured, kit.reflect(measured["f"]), kit.thru(measured["f"]))
    path = tmp_path / "cal.npz"
    cal.save(path)
    damaged(path, how)
    with pytest.raises(calset.CalibrationFileError, match=message) as info:
        calset.load(path)
    assert str(path) in str(info.value)


def test_eight_term_error_boxes_reproduce_the_raw_measurement(tmp_path, measured):
    kit = example_kit()
    f = measured["f"]
    cal = build("eight-term", measured, kit.reflect(f), kit.thru(f))
    paths = cal.export_touchstone(tmp_path)
    assert [p.split("/")[-1] for p in paths] == ["error_port1.s2p", "error_port2.s2p"]
    # the files hold the e^{jwt} convention, the board's values their conjugates
    X, Y = (skrf.Network(p).s for p in paths)
    np.testing.assert_allclose(cascade(X, np.conj(measured["device"]), Y), np.conj(measured["Sm"]), atol=1e-9)


def test_twelve_term_and_one_port_boxes(tmp_path, measured):
    kit = example_kit()
    f = measured["f"]
    twelve = build("twelve-term", measured, kit.reflect(f), kit.thru(f))
    paths = twelve.export_touchstone(tmp_path / "12")
    assert len(paths) == 12 and all(p.endswith(".s1p") for p in paths)
    directivity = tmp_path / "12" / "error_forward_directivity.s1p"
    np.testing.assert_array_equal(touchstone.read(directivity, convention="board")[1][:, 0, 0],
                                  twelve.terms["fwd"][:, 0])
    one = build("one-port", measured, kit.reflect(f), kit.thru(f))
    (box,) = one.export_touchstone(tmp_path / "1")
    X = np.conj(skrf.Network(box).s)                 # e^{jwt} file, board-convention calibration
    G = kit.reflect(f)[:, 1]
    np.testing.assert_allclose(X[:, 0, 0] + X[:, 0, 1] * X[:, 1, 0] * G / (1 - X[:, 1, 1] * G),
                               measured["Gm1"][:, 1], atol=1e-9)


def test_applying_a_file(tmp_path, measured):
    kit = example_kit()
    f = measured["f"]
    cal = build("twelve-term", measured, kit.reflect(f), kit.thru(f))
    assert cal.convention == "board"        # built from the board's recordings: files are converted
    touchstone.write(tmp_path / "raw.s2p", f, measured["Sm"], convention="board")
    cal.apply_file(tmp_path / "raw.s2p", tmp_path / "out.s2p")
    assert worst_db(touchstone.read(tmp_path / "out.s2p", convention="board")[1], measured["device"]) < -60
    touchstone.write(tmp_path / "half.s2p", f[::2], measured["Sm"][::2], convention="board")
    with pytest.raises(ValueError, match="31 points from 1 to 6 GHz, the calibration has 61"):
        cal.apply_file(tmp_path / "half.s2p", tmp_path / "x.s2p")
    cal.apply_file(tmp_path / "half.s2p", tmp_path / "x.s2p", interpolate="linear")
    assert worst_db(touchstone.read(tmp_path / "x.s2p", convention="board")[1], measured["device"][::2]) < -60
    touchstone.write(tmp_path / "one.s1p", f, measured["Sm"][:, :1, :1])
    with pytest.raises(ValueError, match="one.s1p: a 1-port file; a twelve-term calibration corrects 2-port"):
        cal.apply_file(tmp_path / "one.s1p", tmp_path / "y.s1p")


# -- hostile calibration files: every one is refused by name, before it can
# cost memory or time, and orvane-cal info says so in one line ----------------

def small_calibration(tmp_path):
    """A twelve-term calibration of 11 points with a port extension, saved."""
    f = np.linspace(1e9, 2e9, 11)
    kit = example_kit()
    G, T = kit.reflect(f), kit.thru(f)
    cal = calset.TwelveTermCal.build(f, G, 0.9 * G, G, 0.9 * G, T, 0.9 * T + 0.01, kit=kit.to_dict())
    cal = cal.with_port_extension(2, np.full(len(f), 0.9 + 0.1j))
    path = tmp_path / "cal.npz"
    cal.save(path)
    return path


def members(path):
    with zipfile.ZipFile(path) as z:
        return {n: z.read(n) for n in z.namelist()}


def write_members(path, items, compression=zipfile.ZIP_STORED):
    with zipfile.ZipFile(path, "w", compression) as z:
        for name, data in items:
            z.writestr(name, data)


def npy(array=None, header=None, data=b""):
    buffer = io.BytesIO()
    if header is None:
        np.lib.format.write_array(buffer, np.asarray(array), allow_pickle=True)
    else:
        np.lib.format.write_array_header_1_0(buffer, header)
        buffer.write(data)
    return buffer.getvalue()


def replaced(path, **entries):
    """The file with some entries' arrays replaced (None: removed) or added."""
    items = members(path)
    for name, value in entries.items():
        key = name.replace("__", ".") + ".npy"
        if value is None:
            del items[key]
        else:
            items[key] = value if isinstance(value, bytes) else npy(value)
    write_members(path, items.items())


def meta_of(path):
    with np.load(path) as z:
        return str(z["meta"])


def with_meta(path, text):
    replaced(path, meta=np.array(text))


def flipped_compression(path):
    data = bytearray(path.read_bytes())
    at = data.find(b"PK\x01\x02", 0)                    # the first member's central directory entry
    data[at + 10] ^= 0x01                               # compression method 0 -> 1
    local = int.from_bytes(data[at + 42: at + 46], "little")
    data[local + 8] ^= 0x01
    path.write_bytes(bytes(data))


def nested_meta(path):
    with_meta(path, '{"method": "twelve-term", "created": "x", "notes": ' + "[" * 100_000 + "]" * 100_000 + "}")


HOSTILE = {
    "version inf": (lambda p: replaced(p, version=np.array(np.inf)), "its version is float64"),
    "version -5": (lambda p: replaced(p, version=np.array(-5)), "format version -5"),
    "port extension 1e400": (lambda p: with_meta(p, meta_of(p).replace('"port_extension": 2', '"port_extension": 1e400')),
                             "meta holds 1e400"),
    "port extension 1.0": (lambda p: with_meta(p, meta_of(p).replace('"port_extension": 2', '"port_extension": 2.0')),
                           "port_extension is 2.0, not 1, 2 or null"),
    "meta nested 100,000 deep": (nested_meta, "meta nests deeper"),
    "meta NaN": (lambda p: with_meta(p, meta_of(p).replace('"notes": ""', '"notes": NaN')), "meta holds NaN"),
    "meta a list": (lambda p: with_meta(p, "[]"), "meta: a JSON list, not an object"),
    "meta.kit = 5": (lambda p: with_meta(p, meta_of(p).replace('"kit": {', '"kit": 5, "x": {')), "unknown field 'x'"),
    "meta.kit a number": (lambda p: with_meta(p, meta_of(p)[: meta_of(p).index('"kit":')] + '"kit": 5}'),
                          "kit is 5, not an object"),
    "meta.notes a number": (lambda p: with_meta(p, meta_of(p).replace('"notes": ""', '"notes": 5')),
                            "notes is 5, not a string"),
    "a .npy named .npz": (lambda p: np.save(open(p, "wb"), np.ones(3)), "damaged or not a calibration file"),
    "a Touchstone file": (lambda p: p.write_text("! raw\n# Hz S RI R 50\n1 0 0\n"),
                          "a Touchstone file, not a calibration file"),
    "compression method flipped": (flipped_compression, "compression method 1, not one numpy writes"),
    "a member declaring 2^40 doubles": (
        lambda p: replaced(p, term__fwd=npy(header={"descr": "<c16", "fortran_order": False, "shape": (2 ** 40, 6)},
                                            data=bytes(64))),
        r"error term 'fwd' has shape \(1099511627776, 6\), expected \(11, 6\)"),
    "a header larger than its data": (
        lambda p: replaced(p, term__fwd=npy(header={"descr": "<c16", "fortran_order": False, "shape": (11, 6)},
                                            data=bytes(64))),
        r"entry term.fwd: its header declares \(11, 6\) complex128 \(1056 bytes\), its data is 64 bytes"),
    "2^40 frequencies": (
        lambda p: replaced(p, f=npy(header={"descr": "<f8", "fortran_order": False, "shape": (2 ** 40,)})),
        r"f is float64 \(1099511627776,\); frequencies are float64 \[n\], 1 <= n <= 2000000"),
    "a header that does not parse": (
        lambda p: replaced(p, term__fwd=b"\x93NUMPY\x01\x00" + len(h := b"{'descr': '<c16', 'shape': (11,\n").to_bytes(
            2, "little") + h), "entry term.fwd: not a numpy array"),
    "a negative dimension": (
        lambda p: replaced(p, f=npy(header={"descr": "<f8", "fortran_order": False, "shape": (-11,)})),
        "a negative dimension"),
    "unknown entry": (lambda p: replaced(p, junk=np.ones(3)), "unknown entry 'junk.npy'"),
    "1000 extra members": (lambda p: write_members(p, list(members(p).items()) + [
        (f"standard.x{i}.npy", npy(np.ones(11))) for i in range(1000)]), r"10\d\d members, more than"),
    "a member twice": (lambda p: write_members(p, list(members(p).items()) + [("f.npy", npy(np.ones(11)))]),
                       "entry f appears twice"),
    "string term": (lambda p: replaced(p, term__fwd=np.full((11, 6), "0.1+0j")), "error term 'fwd' holds <U6, not float64"),
    "datetime standard": (lambda p: replaced(p, standard__Gm1=np.zeros((11, 3), "datetime64[s]")),
                          r"entry standard.Gm1 holds values of dtype datetime64\[s\], not numbers"),
    "structured standard": (lambda p: replaced(p, standard__Gm1=np.zeros(11, [("re", "f8"), ("im", "f8")])),
                            "not numbers"),
    "object standard": (lambda p: replaced(p, standard__Tm=np.array([None] * 11)), "dtype object, not numbers"),
    "integer term": (lambda p: replaced(p, term__fwd=np.ones((11, 6), int)), "holds int64, not float64 or complex128"),
    "unknown term of the wrong length": (lambda p: replaced(p, term__extra=np.ones(5, complex)),
                                         "unknown error term 'extra'; this method has fwd, rev"),
    "NaN term": (lambda p: replaced(p, term__rev=np.where(np.eye(11, 6) > 0, np.nan, 0.5 + 0j)),
                 "error term 'rev' holds values that are not finite"),
    "infinite standard": (lambda p: replaced(p, standard__Gm2=np.full((11, 3), np.inf + 0j)),
                          "standard 'Gm2' holds values that are not finite"),
    "complex f": (lambda p: replaced(p, f=np.linspace(1e9, 2e9, 11) + 0j), r"f is complex128 \(11,\)"),
    "decreasing f": (lambda p: replaced(p, f=np.linspace(2e9, 1e9, 11)), "f does not increase"),
    "standard on another grid": (lambda p: replaced(p, standard__Tm=np.ones((12, 2, 2), complex)),
                                 r"standard 'Tm' has shape \(12, 2, 2\); the grid has 11 points"),
    "port extension without meta": (lambda p: with_meta(p, meta_of(p).replace('"port_extension": 2',
                                                                              '"port_extension": null')),
                                    "the port extension's meta and its e10e01 entry disagree"),
    "wrong port extension shape": (lambda p: replaced(p, port_extension__e10e01=np.ones((11, 1), complex)),
                                   r"port_extension.e10e01 has shape \(11, 1\), expected \(11,\)"),
}


@pytest.mark.parametrize("case", list(HOSTILE))
@pytest.mark.filterwarnings("ignore:Duplicate name:UserWarning")       # zipfile, writing "a member twice"
def test_hostile_calibration_files_are_refused_by_name(tmp_path, capsys, case):
    from orvane_ex import cli

    damage, message = HOSTILE[case]
    path = small_calibration(tmp_path)
    damage(path)
    with pytest.raises(calset.CalibrationFileError, match=message) as info:
        calset.load(path)
    assert str(info.value).startswith(f"{path}: ")
    assert cli.main(["info", str(path)]) == 2
    err = capsys.readouterr().err
    assert err.startswith("orvane-cal: error: ") and err.count("\n") == 1 and "allow_pickle" not in err


def test_a_zip_bomb_is_refused_before_it_is_inflated(tmp_path):
    import tracemalloc

    path = small_calibration(tmp_path)
    items = members(path)
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=1) as z:
        for name, data in items.items():
            z.writestr(name, data)
        with z.open("standard.bomb.npy", "w", force_zip64=True) as fp:     # 300 MB of zeros, deflated
            fp.write(npy(header={"descr": "<c16", "fortran_order": False, "shape": (300 << 16,)}))
            zeros = bytes(1 << 24)
            for _ in range(300 << 20 >> 24):
                fp.write(zeros)
    assert path.stat().st_size < 2 << 20
    tracemalloc.start()
    try:
        with pytest.raises(calset.CalibrationFileError, match="more than a calibration file holds"):
            calset.load(path)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 20 << 20


@pytest.mark.parametrize("variant", ["compressed", "big-endian", "Fortran order"])
def test_files_numpy_writes_in_other_ways_still_load(tmp_path, variant):
    path = small_calibration(tmp_path)
    cal = calset.load(path)
    with np.load(path) as z:
        arrays = dict(z)
    if variant == "compressed":
        np.savez_compressed(path, **arrays)
    elif variant == "big-endian":
        np.savez(path, **{k: v.astype(v.dtype.newbyteorder(">")) for k, v in arrays.items()})
    else:
        np.savez(path, **{k: np.asfortranarray(v) if v.ndim > 1 else v for k, v in arrays.items()})
    again = calset.load(path)
    for k in cal.terms:
        np.testing.assert_array_equal(again.terms[k], cal.terms[k])
        assert again.terms[k].dtype == complex and again.terms[k].dtype.isnative


@pytest.mark.parametrize("change,message", [
    (lambda cal: cal.terms.__setitem__("fwd", np.full_like(cal.terms["fwd"], np.nan)),
     "error term 'fwd' holds values that are not finite"),
    (lambda cal: setattr(cal, "notes", 5), "notes is 5, not a string"),
    (lambda cal: cal.parameters.__setitem__("x", float("nan")), "Out of range float values are not JSON compliant"),
    (lambda cal: cal.standards.__setitem__("bad name", np.ones(11)), "unknown entry 'standard.bad name'"),
    (lambda cal: cal.standards.__setitem__("words", np.array(["a"] * 11)), "dtype <U1 cannot be saved"),
])
def test_save_refuses_what_load_would(tmp_path, change, message):
    path = small_calibration(tmp_path)
    cal = calset.load(path)
    before = path.read_bytes()
    change(cal)
    with pytest.raises(ValueError, match=message):
        cal.save(path)
    assert path.read_bytes() == before and os.listdir(tmp_path) == ["cal.npz"]


@pytest.mark.parametrize("kind", ["folder", "fifo", "device"])
def test_only_regular_files_are_loaded(tmp_path, kind):
    path = tmp_path / "cal.npz"
    if kind == "folder":
        path.mkdir()
    elif kind == "fifo":
        os.mkfifo(path)
    else:
        os.symlink("/dev/zero", path)
    with pytest.raises(calset.CalibrationFileError, match=f"{path}: not a regular file"):
        calset.load(path)


@pytest.mark.parametrize("method,shape", [("twelve-term", (61, 3, 3)), ("twelve-term", (61, 2)),
                                          ("twelve-term", (61,)), ("one-port", (61, 2, 2)), ("one-port", (61, 3))])
def test_measurements_of_the_wrong_shape_are_refused(measured, method, shape):
    kit = example_kit()
    cal = build(method, measured, kit.reflect(measured["f"]), kit.thru(measured["f"]))
    with pytest.raises(ValueError, match=rf"the measurement has shape \({shape[0]},.*; a {method} calibration "
                                         "corrects"):
        cal.apply(np.ones(shape, complex))
