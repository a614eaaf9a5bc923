import contextlib
import os
import subprocess
import sys
import textwrap
import types

import matplotlib

# Tests draw off screen; choosing the back end before the module is imported
# keeps the module from selecting TkAgg.
matplotlib.use("Agg")

import numpy as np  # noqa: E402
import pytest  # noqa: E402

from orvane_ex import hidden as _hidden  # noqa: E402
from orvane_ex._common.cascade import cascade  # noqa: E402,F401  (tests import it from here)


@pytest.fixture
def hidden():
    """The module, with its namespace restored after the test."""
    saved = dict(vars(_hidden))
    yield _hidden
    for name in set(vars(_hidden)) - set(saved):
        delattr(_hidden, name)
    for name, value in saved.items():
        if vars(_hidden).get(name) is not value:
            setattr(_hidden, name, value)


def numpy_copy():
    """A module with numpy's attributes: rebinding `np` to it forces the numpy
    path without changing what any numpy call does."""
    proxy = types.ModuleType("numpy")
    proxy.__dict__.update(np.__dict__)
    return proxy


@contextlib.contextmanager
def numpy_path():
    _hidden.np = numpy_copy()
    try:
        yield
    finally:
        _hidden.np = np


def both_paths(func, *args, **kwargs):
    """(native result, numpy-path result) of one call."""
    native = func(*args, **kwargs)
    with numpy_path():
        reference = func(*args, **kwargs)
    return native, reference


def run_python(code, tmp_path=None, env=None, timeout=300):
    """Runs code in a fresh interpreter; returns the CompletedProcess."""
    full_env = {k: v for k, v in os.environ.items() if k not in ("MPLBACKEND", "DISPLAY", "WAYLAND_DISPLAY")}
    if full_env.get("PYTHONPATH"):
        full_env["PYTHONPATH"] = os.pathsep.join(os.path.abspath(p) for p in full_env["PYTHONPATH"].split(os.pathsep))
    full_env.update(env or {})
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
        cwd=tmp_path,
        env=full_env,
        stdin=subprocess.DEVNULL,
    )


# Code for a fresh interpreter: in_subinterpreter(code) runs code in a new
# sub-interpreter and gives the error it reported, or None.
SUBINTERPRETER = """
try:
    import _interpreters as interpreters          # Python 3.13 and later
except ImportError:
    import _xxsubinterpreters as interpreters

def in_subinterpreter(code):
    interp = interpreters.create()
    try:
        failure = interpreters.run_string(interp, code)
    except Exception as e:                        # before 3.13 a failure raises RunFailedError
        return str(e)
    finally:
        interpreters.destroy(interp)
    return None if failure is None else f"{failure.type.__name__}: {failure.msg}"
"""


@pytest.fixture
def rng():
    return np.random.default_rng(20261208)


def random_stack(rng, n, dtype=complex):
    s = rng.standard_normal((n, 2, 2))
    if dtype is complex:
        s = s + 1j * rng.standard_normal((n, 2, 2))
    return s


def close(a, b, rel):
    """Largest difference relative to the largest value (or to 1 for values below it)."""
    a, b = np.asarray(a), np.asarray(b)
    assert a.shape == b.shape
    err = np.max(np.abs(a - b)) / max(np.max(np.abs(b)), 1.0)
    assert err <= rel, f"relative error {err:.3g}"
