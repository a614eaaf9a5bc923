"""The type stubs tell the truth: mypy's stubtest compares them with the
module, and mypy accepts a typed script written the way the README reads."""
import os
import pathlib
import subprocess
import sys

import pytest

import orvane_ex

pytest.importorskip("mypy")

ROOT = pathlib.Path(__file__).resolve().parents[1]
PACKAGE_PARENT = pathlib.Path(orvane_ex.__file__).resolve().parents[1]


def mypy(*args):
    env = dict(os.environ, MPLBACKEND="Agg", MYPY_CACHE_DIR=str(ROOT / ".mypy_cache"))
    if "site-packages" not in PACKAGE_PARENT.parts:
        env["MYPYPATH"] = str(PACKAGE_PARENT)      # an editable install: mypy cannot follow its import hook
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True, env=env, cwd=ROOT,
                          timeout=600)


@pytest.mark.slow
def test_stubtest_finds_no_difference():
    result = mypy("mypy.stubtest", "orvane_ex.hidden", "orvane_ex._native")
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.slow
def test_typed_walk_through_passes_strict_mypy():
    result = mypy("mypy", "--strict", str(ROOT / "tests" / "typing" / "walk_through.py"))
    assert result.returncode == 0, result.stdout + result.stderr
