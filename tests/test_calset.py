"""Saved calibrations: every model recovers the virtual board's device when
built with the kit's model; files round-trip exactly and damaged ones are
refused by name; grids; error boxes."""
import io
import sys
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
    import contextlib

    from orvane_ex import hidden

    settings = Settings(1e9, 6e9, 61)
    board = Board(settings, seed=5, noise=False, crosstalk_db=-250, ideal_standards=False)
    stdin, sys.stdin = sys.stdin, io.StringIO("\n" * 20)
    try:
        with contextlib.redirect_stdout(io.StringIO()), board.follow(hidden):
            Gm1, Gm2, Tm, Im = hidden.prompt2PortSOLT(board, settings, PORTS, isolation=True)
            Sm = hidden.prompt2PortMeasure(board, settings, PORTS, "DUT")
    finally:
        sys.stdin = stdin
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
    X, Y = (skrf.Network(p).s for p in paths)
    np.testing.assert_allclose(cascade(X, measured["device"], Y), measured["Sm"], atol=1e-9)


def test_twelve_term_and_one_port_boxes(tmp_path, measured):
    kit = example_kit()
    f = measured["f"]
    twelve = build("twelve-term", measured, kit.reflect(f), kit.thru(f))
    paths = twelve.export_touchstone(tmp_path / "12")
    assert len(paths) == 12 and all(p.endswith(".s1p") for p in paths)
    np.testing.assert_array_equal(touchstone.read(tmp_path / "12" / "error_forward_directivity.s1p")[1][:, 0, 0],
                                  twelve.terms["fwd"][:, 0])
    one = build("one-port", measured, kit.reflect(f), kit.thru(f))
    (box,) = one.export_touchstone(tmp_path / "1")
    X = skrf.Network(box).s
    G = kit.reflect(f)[:, 1]
    np.testing.assert_allclose(X[:, 0, 0] + X[:, 0, 1] * X[:, 1, 0] * G / (1 - X[:, 1, 1] * G),
                               measured["Gm1"][:, 1], atol=1e-9)


def test_applying_a_file(tmp_path, measured):
    kit = example_kit()
    f = measured["f"]
    cal = build("twelve-term", measured, kit.reflect(f), kit.thru(f))
    touchstone.write(tmp_path / "raw.s2p", f, measured["Sm"])
    cal.apply_file(tmp_path / "raw.s2p", tmp_path / "out.s2p")
    assert worst_db(touchstone.read(tmp_path / "out.s2p")[1], measured["device"]) < -60
    touchstone.write(tmp_path / "half.s2p", f[::2], measured["Sm"][::2])
    with pytest.raises(ValueError, match="31 points from 1 to 6 GHz, the calibration has 61"):
        cal.apply_file(tmp_path / "half.s2p", tmp_path / "x.s2p")
    cal.apply_file(tmp_path / "half.s2p", tmp_path / "x.s2p", interpolate="linear")
    assert worst_db(touchstone.read(tmp_path / "x.s2p")[1], measured["device"][::2]) < -60
    touchstone.write(tmp_path / "one.s1p", f, measured["Sm"][:, :1, :1])
    with pytest.raises(ValueError, match="one.s1p: a 1-port file; a twelve-term calibration corrects 2-port"):
        cal.apply_file(tmp_path / "one.s1p", tmp_path / "y.s1p")
