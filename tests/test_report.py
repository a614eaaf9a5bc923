"""Calibration reports: the error terms by their field names against the
twelve-term model and scikit-rf, every method's page with the sections it
should have, hostile text escaped, nothing fetched from anywhere, and a page
written whole or not at all."""
import dataclasses
import html.parser
import os
import re
import warnings

import numpy as np
import pytest
import skrf

from orvane_ex.calibration import METHODS, skrf_bridge
from orvane_ex.calibration.solt import EightTermCal, TwelveTermCal
from orvane_ex.report import write_report
from orvane_ex.report.document import quantity
from orvane_ex.report.terms import NAMES, error_terms
from orvane_ex.uncertainty import Budget
from scenarios import scenario

pytestmark = pytest.mark.filterwarnings("ignore::orvane_ex.trl.TRLConditionWarning")

BUDGET = {"name": "bench", "noise": {"floor": "-60 dB"}, "connector": {"port1": "-50 dB", "port2": "-50 dB"},
          "kit": {"open": {"capacitance": ["2 fF"]}, "load": {"resistance": "0.5 ohm"}},
          "trl": {"line_length": "5 um"}}
HOSTILE = '<script>alert("x")</script></title><img src="http://example.com/x.png"> & \'quoted\' $\\frac$ _hidden'


def built(method, n=21, **kw):
    s = scenario(method, n=n)
    return s, s.cls.from_standards(s.f, s.measured, convention="engineering", **s.options, **kw)


class Page(html.parser.HTMLParser):
    """What a browser would take from the page: its elements, attributes and text."""

    def __init__(self, text):
        super().__init__(convert_charrefs=True)
        self.tags, self.attrs, self.text, self.headings = [], [], [], []
        self._heading = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.attrs.extend((tag, k, v) for k, v in attrs)
        if tag in ("h2", "h3", "title"):
            self._heading = (tag, [])

    def handle_endtag(self, tag):
        if self._heading and tag == self._heading[0]:
            self.headings.append((tag, "".join(self._heading[1]).strip()))
            self._heading = None

    def handle_data(self, data):
        self.text.append(data)
        if self._heading:
            self._heading[1].append(data)

    def sections(self):
        return [h for tag, h in self.headings if tag == "h2"]


def page(path):
    return Page(open(path, encoding="utf-8").read())


class EnResult:
    """A verification result as the uncertainty area hands it over: duck-typed."""

    def __init__(self, f, en, name="check standard", table=None):
        self.frequency, self.en, self.name = f, en, name
        self.passed = bool(np.all(np.abs(en) <= 1))
        self._table = table

    def table(self):
        return self._table if self._table is not None else [{"parameter": "S21", "worst": float(np.abs(self.en).max())}]


# -- the error terms --------------------------------------------------------------


def test_eight_term_equivalent_is_what_the_twelve_term_model_finds():
    """From the same (switch-corrected) standards, an eight-term model's load
    match and transmission tracking are the twelve-term calibration's."""
    s = scenario("eight-term", n=31)
    eight = EightTermCal.from_standards(s.f, s.measured, convention="engineering")
    twelve = TwelveTermCal.from_standards(s.f, s.measured, convention="engineering")
    a, b = error_terms(eight), error_terms(twelve)
    for direction in ("forward", "reverse"):
        for name in NAMES[:5]:
            np.testing.assert_allclose(a[direction][name], b[direction][name], rtol=1e-9, atol=1e-12)
        assert a[direction]["isolation"] is None and b[direction]["isolation"] is None    # none measured


@pytest.mark.parametrize("switch", [False, True])
def test_eight_term_with_switch_terms_is_scikit_rf_s_twelve_term_equivalent(rng, switch):
    n = 17
    A = rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2))
    B = rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2))
    A[:, 1, 1] = B[:, 1, 1] = 1
    terms = {"A": A, "B": B, "q": rng.standard_normal(n) + 1j * rng.standard_normal(n)}
    if switch:
        terms["switch_f"] = 0.1 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
        terms["switch_r"] = 0.1 * (rng.standard_normal(n) + 1j * rng.standard_normal(n))
    cal = EightTermCal(np.linspace(1e9, 2e9, n), terms, convention="engineering")
    coefs = {"forward switch term": np.zeros(n, complex), "reverse switch term": np.zeros(n, complex),
             **skrf_bridge.coefs(cal)[1]}
    theirs = skrf.calibration.convert_8term_2_12term(coefs)
    ours = error_terms(cal)
    for direction in ("forward", "reverse"):
        for name in NAMES[:5]:
            np.testing.assert_allclose(ours[direction][name], theirs[f"{direction} {name}"], rtol=1e-10)


@pytest.mark.parametrize("method", ["one-port", "twelve-term"])
def test_terms_are_scikit_rf_s_coefs(method):
    _, cal = built(method)
    coefs = cal.to_skrf().coefs
    for direction, named in error_terms(cal).items():
        for name, value in named.items():
            key = name if direction == "port 1" else f"{direction} {name}"
            if value is not None:
                np.testing.assert_allclose(value, coefs[key], rtol=1e-12)


def test_response_terms_are_each_parameter_s_own_factor():
    _, cal = built("response")
    H = cal.terms["H"]
    named = error_terms(cal)
    assert set(named["forward"]) == {"reflection tracking", "transmission tracking"}
    np.testing.assert_array_equal(named["forward"]["transmission tracking"], H[:, 1, 0])
    np.testing.assert_array_equal(named["reverse"]["reflection tracking"], H[:, 1, 1])


# -- every method's page ----------------------------------------------------------


@pytest.mark.parametrize("method", sorted(METHODS))
def test_every_method_s_page_has_its_sections_and_only_embedded_figures(method, tmp_path):
    s, cal = built(method, notes="bench 7")
    cal = cal.with_uncertainty(Budget.from_dict(BUDGET))
    raw = s.raw if cal.ports == 2 else s.raw[:, None, None]
    path = cal.report(tmp_path / "r.html", devices={"DUT": raw})
    p = page(path)
    standards = (["TRL conditioning and effective permittivity"] if "trl" in method else
                 ["On-wafer standards"] if method in ("lrm", "lrrm", "trm") else [])
    want = ["Calibration", "Error terms", *standards, "Uncertainty", "Devices"]
    assert p.sections() == want
    assert ("title", f"Calibration report: {method}") in p.headings
    assert "script" not in p.tags
    images = [v for tag, k, v in p.attrs if tag == "img" and k == "src"]
    # error terms, (TRL), term uncertainty; per device raw/corrected, Smith, bands, expanded
    assert len(images) == 2 + bool(standards) + 4
    assert all(v.startswith("data:image/svg+xml;base64,") and len(v) > 5000 for v in images)
    # nothing the page could fetch: every link is an anchor, every source embedded
    for tag, k, v in p.attrs:
        if k in ("src", "href"):
            assert v.startswith(("data:", "#")), (tag, k, v[:80])
    assert "bench 7" in "".join(p.text)
    source = open(path, encoding="utf-8").read()
    assert not re.search(r"[a-z]+://|url\(|@import|@font-face", source)
    assert ("meta", "http-equiv", "Content-Security-Policy") in p.attrs


class Fitted(TwelveTermCal):
    """A stand-in for any over-determined model: residuals as plain arrays."""

    residuals = None


def test_a_least_squares_fit_shows_its_residuals_and_the_standard_that_does_not_fit(tmp_path):
    s = scenario("one-port", n=31)
    measured = dict(s.measured, mismatch1=s.embed(np.full(len(s.f), 0.55 + 0j)))   # declared 0.5 below
    cal = s.cls.from_standards(s.f, measured, convention="engineering", extra={"mismatch1": 0.5})
    p = page(cal.report(tmp_path / "r.html"))
    assert p.sections() == ["Calibration", "Error terms", "Residuals"]
    text = "".join(p.text)
    assert "largest standardised misfit" in text and "mismatch1" in text
    worst = {k: np.max(np.abs(v["misfit"])) for k, v in cal.residuals.items()}
    assert f"{20 * np.log10(worst['mismatch1']):.4g} dB".replace("-", "−") in text


def test_residuals_as_arrays_and_their_shapes_checked(tmp_path):
    s = scenario("twelve-term", n=21)
    cal = Fitted.from_standards(s.f, s.measured, convention="engineering")
    cal.residuals = {"open1": 1e-4 * np.ones(len(cal.f)), "thru": np.full((len(cal.f), 2, 2), 3e-3)}
    p = page(cal.report(tmp_path / "r.html"))
    assert "Residuals" in p.sections()
    text = "".join(p.text)
    assert "−80 dB" in text and "−50.46 dB" in text         # each standard's worst, in dB
    assert "standardised" not in text
    cal.residuals = {"open1": np.ones(3)}
    with pytest.raises(ValueError, match="residual of 'open1'"):
        cal.report(tmp_path / "bad.html")
    assert not (tmp_path / "bad.html").exists()


def test_a_calibration_without_propagation_still_reports_its_devices(tmp_path):
    s = scenario("one-port", n=31)
    measured = dict(s.measured, mismatch1=s.embed(np.full(len(s.f), 0.5 + 0j)))
    cal = s.cls.from_standards(s.f, measured, convention="engineering", extra={"mismatch1": 0.5})
    p = page(cal.report(tmp_path / "r.html", devices={"DUT": s.raw}, budget=BUDGET))
    assert p.sections() == ["Calibration", "Error terms", "Residuals", "Uncertainty", "Devices"]
    assert "least-squares fit" in "".join(p.text)            # why there are no bands


@pytest.mark.parametrize("passed", [True, False])
def test_verification_results_show_e_n_and_their_verdict(passed, tmp_path):
    s, cal = built("eight-term")
    en = np.full((len(cal.f), 2, 2), 0.3)
    if not passed:
        en[5, 1, 0] = 2.5
    p = page(cal.report(tmp_path / "r.html", verification=[EnResult(cal.f, en)]))
    assert p.sections()[-1] == "Verification"
    text = "".join(p.text)
    assert ("PASS" if passed else "FAIL") in text and ("FAIL" if passed else "PASS") not in text
    assert f"{0 if passed else 1} of {en.size} values exceed 1" in text


@pytest.mark.parametrize("shift,verdict", [(0.0, "PASS"), (5.0, "FAIL")])
def test_a_verification_of_the_uncertainty_area_shows_with_its_units(shift, verdict, tmp_path):
    from orvane_ex.uncertainty.verification import verify

    s, cal = built("twelve-term")
    budget = Budget.from_dict(BUDGET)
    result = cal.apply(s.raw, budget=budget)
    u = result.std_re_im()[0]
    check = verify(result, result.s + shift * u, name="airline")       # the reference `shift` u away
    p = page(cal.report(tmp_path / "r.html", verification=[check], budget=budget))
    text = "".join(p.text)
    assert ("h3", f"airline {verdict}") in p.headings and "(k = 2)" in text
    for column in ("worst E_n", "|x − x_ref| there", "points passing"):
        assert column in text
    assert "GHz" in text and " %" in text and "(linear)" in text


# -- hostile text and failed writes -----------------------------------------------


@pytest.mark.parametrize("where", ["notes", "device", "kit", "verification", "title", "parameters", "residuals"])
def test_hostile_text_is_shown_as_text(where, tmp_path):
    s, cal = built("twelve-term")
    kw = {}
    if where == "notes":
        cal = dataclasses.replace(cal, notes=HOSTILE)
    elif where == "kit":
        cal = dataclasses.replace(cal, kit={**cal.kit, "name": HOSTILE, "description": HOSTILE})
    elif where == "parameters":
        cal = dataclasses.replace(cal, parameters={HOSTILE: HOSTILE})
    elif where == "device":
        kw["devices"] = {HOSTILE: s.raw}
    elif where == "residuals":           # a legend in a figure, too: matplotlib must take it literally
        cal = Fitted.from_standards(s.f, s.measured, convention="engineering")
        cal.residuals = {HOSTILE: np.full(len(cal.f), 1e-3)}
    elif where == "verification":
        kw["verification"] = [EnResult(cal.f, np.zeros((len(cal.f), 2, 2)), name=HOSTILE,
                                       table=[{HOSTILE: HOSTILE}])]
    else:
        kw["title"] = HOSTILE
    p = page(cal.report(tmp_path / "r.html", **kw))
    assert "script" not in p.tags
    assert all(not (tag == "img" and k == "src" and not v.startswith("data:")) for tag, k, v in p.attrs)
    assert HOSTILE in "".join(p.text)


def test_a_failing_report_writes_nothing_and_keeps_the_old_page(tmp_path):
    s, cal = built("twelve-term")
    target = tmp_path / "r.html"
    target.write_text("the old report")

    class Broken(EnResult):
        def table(self):
            raise RuntimeError("the result's table fails")

    with pytest.raises(RuntimeError, match="table fails"):
        cal.report(target, devices={"DUT": s.raw}, verification=[Broken(cal.f, np.zeros((len(cal.f), 2, 2)))])
    assert target.read_text() == "the old report" and os.listdir(tmp_path) == ["r.html"]


@pytest.mark.parametrize("case,error,message", [
    ("missing device file", OSError, "nothere.s2p"),
    ("device of another port count", ValueError, "1-port measurement"),
    ("device on another grid", ValueError, "give interpolate='cubic'"),
    ("device outside the span", ValueError, "outside the calibrated span"),
    ("no such folder", OSError, "r.html"),
    ("bad verification shape", ValueError, "en has shape"),
    ("bad budget", ValueError, "unknown field"),
])
def test_bad_input_is_named_and_nothing_is_written(case, error, message, tmp_path):
    s, cal = built("twelve-term")
    target = tmp_path / "r.html"
    kw = {}
    if case == "missing device file":
        kw["devices"] = [str(tmp_path / "nothere.s2p")]
    elif case == "device of another port count":
        kw["devices"] = {"one port": s.raw[:, :1, :1]}
    elif case == "device on another grid":
        kw["devices"] = [skrf.Network(frequency=skrf.Frequency.from_f(cal.f[1:-1] + 1e6, unit="Hz"),
                                      s=s.raw[1:-1], name="shifted")]
    elif case == "device outside the span":
        kw["devices"] = [skrf.Network(frequency=skrf.Frequency.from_f(cal.f + 1e6, unit="Hz"), s=s.raw)]
        kw["interpolate"] = "cubic"
    elif case == "no such folder":
        target = tmp_path / "missing" / "r.html"
    elif case == "bad verification shape":
        kw["verification"] = [EnResult(cal.f, np.zeros((3, 2, 2)))]
    else:
        kw["budget"] = {"noise": {"flor": "-60 dB"}}
    with pytest.raises(error, match=message):
        cal.report(target, **kw)
    assert os.listdir(tmp_path) == []


def test_devices_on_another_grid_are_corrected_with_interpolated_terms(tmp_path):
    s, cal = built("twelve-term", n=41)
    f = np.linspace(cal.f[2], cal.f[-3], 30)
    dev = skrf.Network(frequency=skrf.Frequency.from_f(f, unit="Hz"), s=np.zeros((30, 2, 2)) + 0.1, name="fine")
    p = page(cal.report(tmp_path / "r.html", devices=[dev], interpolate="cubic"))
    assert ("h3", "fine") in p.headings


def test_the_calibration_s_own_budget_gives_the_devices_bands(tmp_path):
    s, cal = built("eight-term")
    kept = cal.with_uncertainty(Budget.from_dict(BUDGET))
    bare, banded = (page(c.report(tmp_path / f"{k}.html", devices={"DUT": s.raw}))
                    for k, c in (("bare", cal), ("kept", kept)))
    alt = [v for tag, k, v in banded.attrs if k == "alt"]
    assert "DUT: uncertainty bands" in alt and "DUT: expanded uncertainties" in alt
    assert "Uncertainty" not in bare.sections()
    assert "noise (device)" in "".join(banded.text)        # the device's own reading, from the kept budget


@pytest.mark.parametrize("value,shown", [
    ("4.9430000000000004e-14 F", "49.43 fF"), ("2.2e9 ohm/s", "2.2 GΩ/s"), ("239.9735 ps", "239.974 ps"),
    ("0 s", "0 s"), (["2e-15 F", "-3.1e-25 F/Hz"], "2 fF, -3.1e-25 F/Hz"), ("0.02 dB", "0.02 dB"),
    (0.0031622776601683794, "0.00316228"), ("open", "open"), ("50.0 ohm", "50 Ω"),
])
def test_kit_and_budget_values_read_as_people_write_them(value, shown):
    assert quantity(value) == shown


@pytest.mark.parametrize("key,value,shown", [
    ("thru_delay", 1e-12, "1 ps"), ("inductance", 3.84445269e-12, "3.84445 pH"), ("resistance", 50.2, "50.2 Ω"),
    ("inductance", None, "None"), ("line_lengths", [0.0002, 0.00045], "0.2, 0.45 mm"),
    ("offsets", {"match": [0.0, 0.0, None], "short": [1e-12, 2e9, 45.0]},
     "match: none; short: 1 ps, 2 GΩ/s loss, 45 Ω"),
])
def test_calibration_parameters_read_with_their_units(key, value, shown):
    from orvane_ex.report.document import _value_text

    assert _value_text(key, value) == shown


def test_reports_leave_pyplot_and_its_back_end_alone(tmp_path):
    import matplotlib
    import matplotlib.pyplot as plt

    s, cal = built("one-port")
    before = plt.get_fignums()
    backend = matplotlib.get_backend()
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        write_report(cal, tmp_path / "r.html", devices={"DUT": s.raw})
    assert plt.get_fignums() == before and matplotlib.get_backend() == backend
