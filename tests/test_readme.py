"""README.md's walk-through, run block by block as a reader would."""
import pathlib
import re
import textwrap

from conftest import run_python

README = pathlib.Path(__file__).resolve().parents[1] / "README.md"


def python_blocks(text):
    return [textwrap.dedent(b) for b in re.findall(r"^ *```python\n(.*?)^ *```", text, re.S | re.M)]


def test_walk_through_runs_as_written(tmp_path):
    blocks = python_blocks(README.read_text())
    assert len(blocks) >= 5
    result = run_python(f"""
        import io, sys
        import numpy as np
        sys.stdin = io.StringIO("\\n" * 100)     # the operator presses Enter at every prompt
        ns = {{"__name__": "__main__"}}
        for i, block in enumerate({blocks!r}):
            exec(compile(block, f"README.md block {{i + 1}}", "exec"), ns)
        err = np.max(np.abs(ns["S"] - ns["board"].device))
        print("worst error dB", 20 * np.log10(err))
        print("trl worst error dB", 20 * np.log10(np.max(np.abs(ns["S_trl"] - ns["trl_board"].device))))
        print("lrrm worst error dB", 20 * np.log10(np.max(np.abs(ns["S_lrrm"] - ns["wafer"].device))))
    """, tmp_path=tmp_path)
    assert result.returncode == 0, result.stderr[-3000:]
    worst = float(result.stdout.split("worst error dB")[1].split()[0])
    assert float(result.stdout.split("trl worst error dB")[1].split()[0]) < -60
    assert float(result.stdout.split("lrrm worst error dB")[1]) < -60
    assert worst < -60, result.stdout
    assert (tmp_path / "results" / "dut.s2p").stat().st_size > 1000
    assert (tmp_path / "results" / "dut.png").read_bytes().startswith(b"\x89PNG")
    assert (tmp_path / "results" / "calibration.npz").stat().st_size > 10000
    assert (tmp_path / "results" / "dut-error.png").read_bytes().startswith(b"\x89PNG")
    page = (tmp_path / "results" / "calibration.html").read_text(encoding="utf-8")
    assert "<h2>Error terms</h2>" in page and "<h2>Devices</h2>" in page and "bench 3" in page
    assert (tmp_path / "results" / "dut-with-uncertainty.s2p.cov").stat().st_size > 10000
