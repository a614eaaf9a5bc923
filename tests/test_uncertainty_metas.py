"""Linear propagation against an independent implementation: the METAS
uncertainty library (closed .NET binaries on Mono, its own derivatives)
propagates the same calibration (twelve-term; multiline TRL) and
correction from the same input covariances; the covariances of the
corrected device agree to rounding. Skips where the library or Mono is missing (it is an oracle,
never a dependency)."""
import importlib.util
import os
import subprocess
import sys
import time

import numpy as np
import pytest

from orvane_ex.uncertainty import Budget
from orvane_ex.uncertainty.linear import reading
from scenarios import scenario, terminate

LIBMONO = next((p for p in ("/usr/lib/libmonosgen-2.0.so.1", "/usr/lib/x86_64-linux-gnu/libmonosgen-2.0.so.1")
                if os.path.exists(p)), None)
FACADE = "/usr/lib/mono/4.5/Facades/netstandard.dll"
ORACLES = os.path.join(os.path.dirname(__file__), "oracles")

pytestmark = pytest.mark.skipif(
    importlib.util.find_spec("metas_unclib") is None or LIBMONO is None or not os.path.exists(FACADE),
    reason="the METAS uncertainty library on Mono is not installed (pip install metas-unclib pythonnet; "
           "Debian's mono-runtime, libmonosgen-2.0-1 and mono-devel)")


def metas(inputs: dict, tmp_path, oracle="metas_twelve_term.py") -> dict:
    source, target = tmp_path / "in.npz", tmp_path / "out.npz"
    np.savez(source, **inputs)
    env = dict(os.environ, PYTHONNET_RUNTIME="mono", PYTHONNET_MONO_LIBMONO=LIBMONO)
    command = [sys.executable, "-W", "ignore", os.path.join(ORACLES, oracle), str(source), str(target)]
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=600)
    assert done.returncode == 0, done.stderr[-2000:]
    with np.load(target) as z:
        return {k: z[k] for k in z.files}


@pytest.mark.parametrize("connector", [0.0, 10 ** (-50 / 20)])
def test_twelve_term_covariance_agrees_with_metas(tmp_path, connector):
    s = scenario("twelve-term", n=6)
    cal = s.cls.from_standards(s.f, s.measured, convention="engineering")
    noise = Budget.from_dict({"noise": {"floor": "-60 dB", "magnitude": "0.02 dB", "phase": "0.2 deg"}}).noise
    budget = Budget(noise=noise, connector=(connector, connector))
    start = time.perf_counter()
    ours = cal.apply(s.raw, budget=budget)
    elapsed = time.perf_counter() - start
    m = s.measured
    v = {"Gm1": np.stack([m["open1"], m["short1"], m["load1"]], 1),
         "Gm2": np.stack([m["open2"], m["short2"], m["load2"]], 1),
         "Tm": m["thru"], "Im": m["isolation"][:, [1, 0], [0, 1]], "Sm": s.raw,
         "G1": cal.standards["G1"], "G2": cal.standards["G2"], "T": cal.standards["T"]}
    inputs = dict(v)
    for name in ("Gm1", "Gm2", "Tm", "Im", "Sm"):
        inputs[f"C_{name}"] = reading(v[name].reshape(len(s.f), -1), s.f, Budget(noise=noise))
    inputs["C"] = np.array([connector, connector])
    theirs = metas(inputs, tmp_path)
    np.testing.assert_allclose(theirs["s"].reshape(ours.s.shape), ours.s, rtol=0, atol=1e-12)
    scale = np.abs(ours.cov).max()
    np.testing.assert_allclose(theirs["cov"], ours.cov, rtol=0, atol=1e-12 * scale)
    print(f"\nlargest difference {np.abs(theirs['cov'] - ours.cov).max() / scale:.1e} of the largest covariance")
    print(f"\n{len(s.f)} points: ours {elapsed * 1e3:.1f} ms, METAS {float(theirs['seconds']) * 1e3:.0f} ms")


# Every influence the budget knows for a multiline TRL, each large enough to
# show in the sum at the agreement asked.
TRL_BUDGET = {
    "noise": {"floor": "-60 dB", "magnitude": "0.02 dB", "phase": "0.2 deg"},
    "linearity": {"magnitude": "0.001 dB/dB"},
    "connector": {"port1": "-55 dB", "port2": "-50 dB"},
    "cable": {"port1": {"magnitude": "0.01 dB", "phase": "0.1 deg"},
              "port2": {"magnitude": "0.02 dB", "phase": "0.05 deg"}},
    "drift": {"port1": {"magnitude": "0.005 dB", "phase": "0.03 deg"}},
    "trl": {"line_length": "20 um", "eps_eff": 0.002, "impedance": 0.005, "reflect_asymmetry": 0.01},
}


@pytest.mark.filterwarnings("ignore::orvane_ex.trl.TRLConditionWarning")
@pytest.mark.parametrize("switched", [False, True], ids=["switch-corrected", "raw with switch terms"])
def test_multiline_trl_covariance_agrees_with_metas(tmp_path, switched):
    s = scenario("multiline-trl", n=6)            # the thru and three lines, 1 to 20 GHz
    # a thru of 1 mm, the lines as long beyond it, the planes moved 0.4 mm towards the analyser: the lines'
    # propagation constant (and with it their lengths and permittivity) then moves the corrected device
    thru_length, ref_plane = 1e-3, -0.4e-3
    # the standards read with noise, so that the pairs' estimates differ and the weights' own dependence on
    # the data (through gamma) moves the result too
    rng = np.random.default_rng(7)
    for name, x in s.measured.items():
        s.measured[name] = x + 3e-3 * (rng.standard_normal(x.shape) + 1j * rng.standard_normal(x.shape))
    switch, raw = None, s.raw
    if switched:
        switch = (0.1 * np.exp(1j * s.f / 1e9), 0.12 * np.exp(-1j * s.f / 2e9))
        s.measured = {k: terminate(v, *switch) for k, v in s.measured.items()}
        raw = terminate(s.raw, *switch)
    lengths = [x + thru_length for x in s.options["line_lengths"]]
    cal = s.cls.from_standards(s.f, s.measured, thru_length=thru_length, line_lengths=lengths, ref_plane=ref_plane,
                               er_est=s.options["er_est"], switch_terms=switch, convention="engineering")
    budget = Budget.from_dict(TRL_BUDGET)
    start = time.perf_counter()
    ours = cal.apply(raw, budget=budget)
    elapsed = time.perf_counter() - start
    n = len(s.f)
    m = s.measured
    L = np.stack([m["thru"]] + [m[f"line{i + 1}"] for i in range(len(lengths))]).reshape(-1, n, 4)
    R = m["reflect"].reshape(n, 4)
    inputs = {"f": s.f, "L": L, "R": R, "Sm": raw.reshape(n, 4), "lengths": np.array([thru_length, *lengths]),
              "er_est": s.options["er_est"], "reflect_estimate": -1.0, "reflect_offset": 0.0, "ref_plane": ref_plane,
              "u_length": budget.trl.line_length, "u_eps": budget.trl.eps_eff, "u_impedance": budget.trl.impedance,
              "u_asymmetry": budget.trl.reflect_asymmetry, "connector": np.array(budget.connector),
              "cable": np.array([[p.magnitude, p.phase] for p in budget.cable]),
              "drift": np.array([[p.magnitude, p.phase] for p in budget.drift])}
    readings = Budget(noise=budget.noise, linearity=budget.linearity)
    inputs["C_L"] = np.stack([reading(x, s.f, readings) for x in L])
    inputs["C_R"] = reading(R[:, [0, 3]], s.f, readings)               # the reflect's S11 and S22
    if switched:
        inputs["switch"] = np.stack(switch, axis=1)
    inputs["C_Sm"] = reading(inputs["Sm"], s.f, readings)
    theirs = metas(inputs, tmp_path, "metas_multiline_trl.py")
    np.testing.assert_allclose(theirs["s"].reshape(ours.s.shape), ours.s, rtol=0, atol=1e-12)
    scale = np.abs(ours.cov).max()
    # each influence shows: one left out on either side would not pass
    shares = {name: np.abs(part).max() / scale for name, part in ours.contributions.items()}
    assert min(shares.values()) > 1e-6, shares
    np.testing.assert_allclose(theirs["cov"], ours.cov, rtol=0, atol=1e-12 * scale)
    print(f"\nlargest difference {np.abs(theirs['cov'] - ours.cov).max() / scale:.1e} of the largest covariance; "
          f"smallest influence {min(shares.values()):.0e} of it")
    print(f"{n} points: ours {elapsed * 1e3:.1f} ms, METAS {float(theirs['seconds']) * 1e3:.0f} ms")
