"""The reports in a real browser: headless Chromium renders every page the
demo writes (and one with every section), a probe reads the rendered page
(title, sections, each figure loaded with a size), and the screenshots and a
printed copy are kept in build/artifacts/ for people to look at."""
import json
import os
import pathlib
import re
import shutil
import subprocess

import numpy as np
import pytest

from conftest import run_python

ROOT = pathlib.Path(__file__).resolve().parents[1]
ARTIFACTS = ROOT / "build" / "artifacts"
CHROMIUM = next((p for p in map(shutil.which, ("chromium", "chromium-browser", "google-chrome")) if p), None)

pytestmark = [pytest.mark.skipif(CHROMIUM is None, reason="no Chromium browser (Debian: apt-get install chromium)"),
              pytest.mark.slow]

# the reports the demo writes, and the sections each has besides Calibration, Error terms and Devices
SOLT = {"response": [], "eight-term": [], "unknown-thru": [], "twelve-term-ideal": [], "twelve-term-listed": [],
        "one-port": [], "twelve-term": [], "twelve-term-uncertainty": ["Uncertainty", "Verification"]}
LINES = {"trl": ["TRL conditioning and effective permittivity"],
         "multiline-trl": ["TRL conditioning and effective permittivity"]}
FIXTURE = {"fixture-twelve-term": []}
ONWAFER = {k: ["On-wafer standards"] for k in ("lrm", "lrrm", "trm")}
FOLDERS = {**{k: "solt" for k in SOLT}, **{k: "lines" for k in LINES}, **{k: "fixture" for k in FIXTURE},
           **{k: "onwafer" for k in ONWAFER}}

# Reads the rendered page once it has loaded: the page itself runs no script
# (its policy forbids it), so the probe is added to a copy whose policy lets
# this one inline script run; images stay under the page's own policy.
PROBE = """<pre id="orvane-probe"></pre><script>
window.addEventListener("load", () => {
  const images = [...document.images].map(i => {
    const box = i.getBoundingClientRect();
    return {alt: i.alt, complete: i.complete, natural: [i.naturalWidth, i.naturalHeight],
            shown: [box.width, box.height]};
  });
  document.getElementById("orvane-probe").textContent = JSON.stringify({
    title: document.title, sections: [...document.querySelectorAll("h2")].map(h => h.textContent),
    images, height: document.documentElement.scrollHeight});
});
</script>"""


def browse(tmp_path, *args):
    profile = tmp_path / "chromium-profile"
    # the browser runs as itself, not under the sanitizers a build of ours may be tested with
    env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS")}
    result = subprocess.run([CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
                             "--no-first-run", "--disable-extensions", "--disable-dev-shm-usage",
                             f"--user-data-dir={profile}", *args], capture_output=True, text=True, timeout=180, env=env)
    assert result.returncode == 0, result.stderr[-2000:]
    return result.stdout


def probe(path, tmp_path):
    text = path.read_text(encoding="utf-8")
    policy = "style-src &#x27;unsafe-inline&#x27;"
    assert policy in text
    probed = tmp_path / f"probe-{path.name}"
    probed.write_text(text.replace(policy, policy + "; script-src &#x27;unsafe-inline&#x27;", 1)
                      .replace("</body>", PROBE + "</body>", 1), encoding="utf-8")
    dom = browse(tmp_path, "--window-size=1280,1000", "--virtual-time-budget=15000", "--dump-dom", probed.as_uri())
    found = re.search(r'<pre id="orvane-probe">(.*?)</pre>', dom, re.S)
    assert found and found.group(1), "the probe did not run"
    import html

    return json.loads(html.unescape(found.group(1)))


def look(path, tmp_path, name):
    """Renders the page, checks what a reader sees, keeps a full-page screenshot."""
    seen = probe(path, tmp_path)
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    shot = ARTIFACTS / f"report-{name}.png"
    browse(tmp_path, f"--window-size=1280,{min(seen['height'], 16000)}", f"--screenshot={shot}", path.as_uri())
    import matplotlib.image

    pixels = matplotlib.image.imread(shot)
    assert pixels.shape[1] == 1280 and pixels.shape[0] >= 1000
    ink = np.mean(pixels[..., :3].min(axis=2) < 0.8)        # anything darker than the page's light greys
    assert ink > 0.02, f"{shot} is nearly blank"
    return seen


def check(seen, title, sections, count):
    assert seen["title"] == title
    assert seen["sections"] == sections
    assert len(seen["images"]) == count
    for image in seen["images"]:
        assert image["complete"] and min(image["natural"]) > 100 and min(image["shown"]) > 100, image


@pytest.fixture(scope="module")
def demo_pages(tmp_path_factory):
    out = tmp_path_factory.mktemp("demo")
    for method, folder in (("solt", "solt"), ("multiline-trl", "lines"), ("fixture", "fixture"), ("onwafer", "onwafer")):
        result = run_python(f"""
            import sys
            from orvane_ex import demo
            sys.exit(demo.main(['--unattended', '--points', '101', '--method', {method!r},
                                '--out', {str(out / folder)!r}]))
        """, tmp_path=out)
        assert result.returncode == 0, result.stderr[-3000:]
    return out


@pytest.mark.parametrize("name", list(FOLDERS))
def test_every_demo_report_renders_with_its_sections_and_figures(name, demo_pages, tmp_path):
    path = demo_pages / FOLDERS[name] / f"report-{name}.html"
    method = "twelve-term" if name.startswith(("twelve-term", "fixture")) else name
    extra = {**SOLT, **LINES, **FIXTURE, **ONWAFER}[name]
    sections = ["Calibration", "Error terms", *[s for s in extra if s.startswith(("TRL", "On-wafer"))]]
    sections += [s for s in extra if s == "Uncertainty"] + ["Devices"] + [s for s in extra if s == "Verification"]
    seen = look(path, tmp_path, f"demo-{name}")
    # error terms (+ TRL); per device: raw and corrected, Smith (the fixture demo has two devices); the
    # budget's: term uncertainty, bands, expanded uncertainties, E_n
    count = 3 + (name in LINES or name in ONWAFER) + 2 * (name in FIXTURE) + 4 * ("Uncertainty" in extra)
    check(seen, f"Calibration report: {method}", sections, count)


def test_a_page_with_every_section_renders_and_prints(tmp_path):
    from orvane_ex.calibration.solt import TwelveTermCal
    from orvane_ex.uncertainty import Budget
    from orvane_ex.uncertainty.verification import verify
    from scenarios import scenario

    class Fitted(TwelveTermCal):        # residuals beside the uncertainty, which no fit keeps yet
        residuals = None

    s = scenario("twelve-term", n=101)
    cal = Fitted.from_standards(s.f, s.measured, convention="engineering", notes="every section\nsecond line")
    budget = Budget.from_dict({"name": "bench", "noise": {"floor": "-60 dB"},
                               "kit": {"open": {"capacitance": ["2 fF"]}, "load": {"resistance": "0.5 ohm"}}})
    cal = cal.with_uncertainty(budget)
    cal.residuals = {"open1": 1e-4 * (1 + np.cos(cal.f / 1e9)), "thru": 3e-4 * np.ones(len(cal.f))}

    result = cal.apply(s.raw, budget=budget)
    verified = verify(result, result.s + 2.5 * result.std_re_im()[0] * np.sin(cal.f / 3e8)[:, None, None],
                      name="check standard")
    path = pathlib.Path(cal.report(tmp_path / "every.html", devices={"DUT": s.raw}, verification=[verified]))
    seen = look(path, tmp_path, "every-section")
    check(seen, "Calibration report: twelve-term",
          ["Calibration", "Error terms", "Residuals", "Uncertainty", "Devices", "Verification"], 8)
    pdf = ARTIFACTS / "report-every-section.pdf"
    browse(tmp_path, "--no-pdf-header-footer", f"--print-to-pdf={pdf}", path.as_uri())
    data = pdf.read_bytes()
    pages = [int(n) for n in re.findall(rb"/Count (\d+)", data)]
    assert data.startswith(b"%PDF") and pages and max(pages) >= 3
    assert os.path.getsize(pdf) > 50_000
