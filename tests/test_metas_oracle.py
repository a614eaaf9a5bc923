"""Linear propagation against an independent implementation: the METAS
uncertainty library (closed .NET binaries on Mono, its own derivatives)
propagates the same twelve-term calibration and correction from the same
input covariances; the covariances of the corrected device agree to
rounding. Skips where the library or Mono is missing (it is an oracle,
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
from scenarios import scenario

LIBMONO = next((p for p in ("/usr/lib/libmonosgen-2.0.so.1", "/usr/lib/x86_64-linux-gnu/libmonosgen-2.0.so.1")
                if os.path.exists(p)), None)
FACADE = "/usr/lib/mono/4.5/Facades/netstandard.dll"
ORACLE = os.path.join(os.path.dirname(__file__), "oracles", "metas_twelve_term.py")

pytestmark = pytest.mark.skipif(
    importlib.util.find_spec("metas_unclib") is None or LIBMONO is None or not os.path.exists(FACADE),
    reason="the METAS uncertainty library on Mono is not installed (pip install metas-unclib pythonnet; "
           "Debian's mono-runtime, libmonosgen-2.0-1 and mono-devel)")


def metas(inputs: dict, tmp_path) -> dict:
    source, target = tmp_path / "in.npz", tmp_path / "out.npz"
    np.savez(source, **inputs)
    env = dict(os.environ, PYTHONNET_RUNTIME="mono", PYTHONNET_MONO_LIBMONO=LIBMONO)
    done = subprocess.run([sys.executable, "-W", "ignore", ORACLE, str(source), str(target)], env=env,
                          capture_output=True, text=True, timeout=600)
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
