"""What this build is: the kernel copy chosen at import, the copy forced by
ORVANE_EX_KERNELS, and the two copies giving the same results."""
import os

import numpy as np
import pytest

import orvane_ex
from conftest import run_python


def test_build_info_describes_the_running_kernels():
    info = orvane_ex.build_info()
    forced = os.environ.get("ORVANE_EX_KERNELS") == "baseline"
    able = info["cpu_has_avx2_fma"] and info["avx2_kernels_built"]
    assert info["kernels"] == ("avx2" if able and not forced else "baseline")
    assert info["complex_products"] in ("fused", "plain")
    assert set(info) == {"kernels", "cpu_has_avx2_fma", "avx2_kernels_built", "complex_products", "compiler", "python"}


RESULTS = """
import matplotlib
matplotlib.use("Agg")
import numpy as np, orvane_ex
from orvane_ex import hidden
from orvane_ex.virtual_board import PORTS
rng = np.random.default_rng(3)
n = 37
S = rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2))
G = np.tile([1, -1, 0], (n, 1)) + 0.1 * (rng.standard_normal((n, 3)) + 1j * rng.standard_normal((n, 3)))
Gm = G + 0.1 * (rng.standard_normal((n, 3)) + 1j * rng.standard_normal((n, 3)))
rec = {k: rng.standard_normal(n) + 1j * rng.standard_normal(n) for k in range(1, 7)}
out = {
    "S2T": hidden.S2T(S), "T2S": hidden.T2S(S), "ab2S_SwitchCorrect": hidden.ab2S_SwitchCorrect(rec, rec, PORTS),
    "get1PortModel": hidden.get1PortModel(G, Gm), "correctPortExt": hidden.correctPortExt(S, Gm[:, 0], 2),
    "correct12Term": hidden.correct12Term(S, np.c_[G, Gm], np.c_[Gm, G]),
}
out.update(("get8TermModel" + str(i), x) for i, x in enumerate(hidden.get8TermModel(G, Gm, G, Gm, S, S[::-1].copy())))
np.savez(OUT, kernels=orvane_ex.build_info()["kernels"], **out)
"""


@pytest.mark.skipif(not orvane_ex.build_info()["cpu_has_avx2_fma"], reason="this CPU runs only the baseline copy")
def test_both_kernel_copies_give_the_same_results(tmp_path):
    files = {}
    for copy in ("baseline", "auto"):
        files[copy] = tmp_path / f"{copy}.npz"
        result = run_python(f"OUT = {str(files[copy])!r}\n" + RESULTS, env={"ORVANE_EX_KERNELS": copy})
        assert result.returncode == 0, result.stderr
    baseline, avx2 = np.load(files["baseline"]), np.load(files["auto"])
    assert (str(baseline["kernels"]), str(avx2["kernels"])) == ("baseline", "avx2")
    for key in baseline.files:
        if key != "kernels":
            np.testing.assert_array_equal(baseline[key], avx2[key], err_msg=key)
