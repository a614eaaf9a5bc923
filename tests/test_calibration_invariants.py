"""What every calibration method must do, run over every registered method
(a method joins by registering and adding its scenario in scenarios.py):
correct a known device back, save and load every field exactly, interpolate
onto its own grid as the identity, build from files as from arrays, and
agree with scikit-rf's own classes holding the same error terms."""
import dataclasses
import warnings

import numpy as np
import pytest
import skrf

from orvane_ex.calibration import METHODS, load
from orvane_ex.calibration.skrf_bridge import from_skrf
from orvane_ex.files import touchstone
from scenarios import scenario

pytestmark = [pytest.mark.filterwarnings("ignore::orvane_ex.trl.TRLConditionWarning"),
              pytest.mark.filterwarnings("error::orvane_ex.calibration.lrm.OnWaferWarning")]


@pytest.fixture(params=sorted(METHODS))
def built(request):
    s = scenario(request.param)
    cal = s.cls.from_standards(s.f, s.measured, convention="engineering", notes="invariants", **s.options)
    return s, cal


def test_every_method_has_a_scenario():
    assert sorted(METHODS) == ["eight-term", "lrm", "lrrm", "multiline-trl", "one-port", "response", "trl", "trm",
                               "twelve-term", "unknown-thru"]


def test_correcting_the_measurement_of_a_known_device_gives_it_back(built):
    s, cal = built
    np.testing.assert_allclose(cal.apply(s.raw), s.device, atol=1e-9)


def test_board_convention_is_the_conjugate_story(built):
    s, _ = built
    board = {k: np.conj(v) for k, v in s.measured.items()}
    cal = s.cls.from_standards(s.f, board, convention="board", **s.options)
    np.testing.assert_allclose(cal.apply(np.conj(s.raw)), np.conj(s.device), atol=1e-9)


def test_save_then_load_keeps_every_field(built, tmp_path):
    _, cal = built
    cal.save(tmp_path / "cal.npz")
    again = load(tmp_path / "cal.npz")
    assert type(again) is type(cal)
    for field in dataclasses.fields(cal):
        ours, theirs = getattr(cal, field.name), getattr(again, field.name)
        if isinstance(ours, dict) and field.name in ("terms", "standards"):
            assert ours.keys() == theirs.keys()
            for k in ours:
                np.testing.assert_array_equal(theirs[k], ours[k])
        elif isinstance(ours, np.ndarray):
            np.testing.assert_array_equal(theirs, ours)
        else:
            assert theirs == ours, field.name
    assert again.parameters == cal.parameters and again.convention == "engineering"


def test_interpolating_onto_its_own_grid_is_the_identity(built):
    _, cal = built
    for kind in ("linear", "cubic"):
        same = cal.interpolate(cal.f, kind=kind)
        for k in cal.terms:
            np.testing.assert_array_equal(same.terms[k], cal.terms[k])


def test_built_from_files_equals_built_from_arrays(built, tmp_path):
    s, cal = built
    for standard in s.cls.standards_for(**s.options):
        if standard.name in s.measured:
            value = s.measured[standard.name]
            touchstone.write(tmp_path / standard.file, s.f, value.reshape(len(s.f), standard.ports, standard.ports))
    options = dict(s.options)
    if "line_lengths" in options:      # files go with the command line's form of the lengths
        options["lengths"] = [0.0, *options.pop("line_lengths")]
    from_files = s.cls.from_folder(tmp_path, **options)
    for k in cal.terms:
        np.testing.assert_allclose(from_files.terms[k], cal.terms[k], rtol=1e-12, atol=1e-14)


def test_scikit_rf_holding_the_same_terms_corrects_and_embeds_alike(built):
    s, cal = built
    if s.method == "response":
        with pytest.raises(NotImplementedError, match="scikit-rf has no calibration"):
            cal.to_skrf()
        return
    freq = skrf.Frequency.from_f(s.f, unit="Hz")
    raw = skrf.Network(frequency=freq, s=s.raw)
    theirs = cal.to_skrf()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        corrected = theirs.apply_cal(raw)
        np.testing.assert_allclose(corrected.s.reshape(np.shape(s.device)), s.device, atol=1e-9)
        embedded = theirs.embed(skrf.Network(frequency=freq, s=s.device))
    if s.method != "twelve-term":          # scikit-rf embeds the switch-corrected measurement
        np.testing.assert_allclose(embedded.s.reshape(np.shape(s.raw)), s.raw, atol=1e-9)
    ours = cal.apply(raw)
    assert isinstance(ours, skrf.Network)
    np.testing.assert_allclose(ours.s, corrected.s, atol=1e-9)
    back = from_skrf(theirs)
    np.testing.assert_allclose(back.apply(s.raw), s.device, atol=1e-9)


def test_exported_error_boxes_re_embed_the_device(built, tmp_path):
    s, cal = built
    boxes = cal.error_networks()
    if s.method in ("eight-term", "unknown-thru", "trl", "multiline-trl", "lrm", "lrrm", "trm"):
        freq = skrf.Frequency.from_f(s.f, unit="Hz")
        chain = boxes["port1"] ** skrf.Network(frequency=freq, s=s.device) ** boxes["port2"]
        # e10 = e01 and e23 = e32 are a choice: the chain's transmission follows q, its reflections exactly
        np.testing.assert_allclose(chain.s[:, [0, 1], [0, 1]], s.raw[:, [0, 1], [0, 1]], atol=1e-9)
        np.testing.assert_allclose(chain.s[:, 1, 0] * chain.s[:, 0, 1], s.raw[:, 1, 0] * s.raw[:, 0, 1], atol=1e-9)
    paths = cal.export_touchstone(tmp_path)
    assert len(paths) == len(boxes)
    for path, (name, net) in zip(paths, boxes.items()):
        np.testing.assert_array_equal(skrf.Network(path).s, net.s)
