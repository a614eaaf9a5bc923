"""Python code that runs in the middle of a call (a key's __eq__, a rebound
name, a finaliser, a floating-point trap) never crashes the interpreter: the
native path owns what it reads, and the numpy path's result or error stands.
Each crash-prone case runs in a fresh interpreter whose exit status is checked."""
import sys

import numpy as np
import pytest

from conftest import SUBINTERPRETER, run_python

PRELUDE = """
import sys, functools
import matplotlib
matplotlib.use("Agg")
import numpy as np
from orvane_ex import hidden
from orvane_ex.virtual_board import PORTS
"""


def run(code, **kw):
    result = run_python(PRELUDE + code, **kw)
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stderr[-3000:]}"
    return result.stdout.split()


# A port-map key that collides with a real key's hash; comparing it runs
# code that replaces the recordings' vectors with new (large) ones, dropping
# the only references to the old.
HOSTILE_KEY = """
def big(n, value):
    return np.full(1 << 20, value, complex)[:n]        # a view: its buffer dies with its base

def recordings(n):
    rec1 = {k: big(n, 0.5 + k) for k in range(1, 7)}
    rec2 = {k: big(n, 1.5 + k) for k in range(1, 7)}
    rec1[1][0] = 0
    return rec1, rec2

class Collider:
    def __init__(self, target, action):
        self.target, self.action = target, action
    def __hash__(self):
        return hash(self.target)
    def __eq__(self, other):
        self.action()
        return False

def outcome(call):
    try:
        r = call()
        return "None" if r is None else repr(np.round(np.asarray(r), 9).tolist())
    except Exception as e:
        return type(e).__name__ + ": " + str(e)

def both(make):
    native = outcome(make())
    real_np = hidden.np
    hidden.np = type(sys)("numpy"); hidden.np.__dict__.update(np.__dict__)
    try:
        reference = outcome(make())
    finally:
        hidden.np = real_np
    return native, reference
"""


@pytest.mark.parametrize("func", ["ab2S", "ab2S_SwitchCorrect"])
def test_port_key_that_replaces_the_waves(func):
    out = run(HOSTILE_KEY + f"""
def make():
    rec1, rec2 = recordings(5)
    def swap():
        for k in list(rec1):
            rec1[k] = np.ones(5, complex) * 3
    ports = {{Collider("Rx2A", swap): 9}}       # first in the probe sequence of "Rx2A": compared by its look-up
    ports.update(PORTS)
    return lambda: hidden.{func}(rec1, rec2, ports)

native, reference = both(make)
print(native == reference)
""")
    assert out == ["True"]


def test_port_key_that_rebinds_a_receiver_in_ab2G():
    out = run(HOSTILE_KEY + """
def make():
    rec1, _ = recordings(5)
    def rebind():
        ports["Rx1B"] = 6
        rec1[4] = None
    ports = {Collider("Rx1A", rebind): 9}
    ports.update(PORTS)
    return lambda: hidden.ab2G(rec1, ports)

native, reference = both(make)
print(native == reference)
""")
    assert out == ["True"]


def test_recording_key_that_swaps_the_vectors():
    out = run(HOSTILE_KEY + """
def make():
    rec1, waves = recordings(6)
    def swap():
        rec1.clear()
        rec1.update({k: big(6, 9.0) for k in range(1, 7)})
    rec2 = {Collider(5, swap): np.ones(6)}       # compared by the look-up of receiver 5
    rec2.update(waves)
    return lambda: hidden.ab2S_SwitchCorrect(rec1, rec2, PORTS)

native, reference = both(make)
print(native == reference)
""")
    assert out == ["True"]


def test_np_whose_ndarray_is_new_on_every_access():
    out = run("""
class Fickle:
    def __getattr__(self, name):
        if name == "ndarray":
            return type("ndarray", (), {})        # a fresh class each time, dropped at once
        return getattr(np, name)

S = np.random.default_rng(1).standard_normal((4, 2, 2)) + 0j
A = np.random.default_rng(2).standard_normal((4, 2, 2)) + 0j
hidden.np = Fickle()
r = hidden.deEmbed(S, A)
hidden.np = np
print(np.allclose(r, hidden.deEmbed(S)))
""")
    assert out == ["True"]


def test_sub_interpreter_importing_first_is_refused():
    out = run_python(SUBINTERPRETER + """
error = in_subinterpreter("import orvane_ex.hidden")
print("refused", "Interpreter change detected" in error)
import matplotlib
matplotlib.use("Agg")
from orvane_ex import hidden
print(callable(hidden.S2T))
""", timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.split() == ["refused", "True", "True"]


@pytest.mark.parametrize("loop", ["functools.partial(hidden.deEmbed)", "lambda S: hidden.deEmbed(S)"])
def test_unbounded_recursion_is_a_recursion_error(loop):
    out = run(f"""
S = np.ones((3, 2, 2), complex)
hidden.S2T = {loop}
try:
    hidden.deEmbed(S)
except RecursionError:
    print("RecursionError")
""")
    assert out == ["RecursionError"]


def test_finalisers_that_call_numpy_do_not_hide_floating_point_errors():
    out = run("""
import gc

class Clears:
    # Each collection finds one of these and runs its finaliser, which
    # leaves the next one behind: every allocation the call makes can run
    # numpy, which clears the floating-point status flags before its loops.
    left = 0

    def __del__(self):
        np.add(np.ones(2), np.ones(2))
        if Clears.left > 0:
            Clears.left -= 1
            c = Clears()
            c.cycle = c

n = 9
G = np.tile([1, -1, 0], (n, 1)).astype(complex)
T = np.tile([[0.0, 1.0], [1.0, 0.0]], (n, 1, 1)) + 0j
T[4, 1, 0] = 0                                   # the thru's S21: a division by zero at one point
gc.set_threshold(2, 2, 2)
raised = 0
with np.errstate(all="raise"):
    for _ in range(200):
        Clears.left = 50
        c = Clears()
        c.cycle = c
        del c
        try:
            hidden.get12TermModel(G, G, G, G, T, T)
        except FloatingPointError:
            raised += 1
        Clears.left = 0
print(raised)
""")
    assert out == ["200"]


@pytest.mark.parametrize("n", [5, 7, 9])
def test_a_points_value_does_not_depend_on_its_position(hidden, n):
    rng = np.random.default_rng(7)
    G = np.tile([1, -1, 0], (n, 1)).astype(complex)
    T = np.tile([[0.0, 1.0], [1.0, 0.0]], (n, 1, 1))
    f = np.full(n, 2.5e9)
    for _ in range(300):
        e = complex(*rng.standard_normal(2))
        out = hidden.correctPortExt(np.ones((n, 2, 2), complex), np.full(n, e), 1)
        assert (out == out[0]).all()
        Gm = np.tile(G[0] + 0.1 * (rng.standard_normal(3) + 1j * rng.standard_normal(3)), (n, 1))
        Tm = np.tile(T[0] + 0.1 * (rng.standard_normal((2, 2)) + 1j * rng.standard_normal((2, 2))), (n, 1, 1))
        for result in (hidden.get8TermModel(G, Gm, G, Gm, T, Tm), hidden.get8TermModelUThru(G, Gm, G, Gm, Tm, f)):
            for r in result:
                assert (r == r[0]).all()


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="feenableexcept is glibc's")
def test_floating_point_traps_leave_the_work_to_numpy():
    out = run("""
import ctypes
libm = ctypes.CDLL("libm.so.6")
FE_INVALID = 0x01
rec1 = {k: np.ones(6) + 1j * k for k in range(1, 7)}
rec2 = {k: np.ones(6) - 1j * k for k in range(1, 7)}
rec1[3][2] = 0                       # x / 0: numpy divides the parts by zero (inf), no invalid operation
import warnings
warnings.simplefilter("ignore")
with np.errstate(all="ignore"):
    want = hidden.ab2S(rec1, rec2, PORTS)
    libm.feenableexcept(FE_INVALID)
    got = hidden.ab2S(rec1, rec2, PORTS)
    libm.fedisableexcept(FE_INVALID)
print(np.array_equal(got, want, equal_nan=True), np.isinf(got[2]).any())
""")
    assert out == ["True", "True"]


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="feenableexcept is glibc's")
def test_native_functions_run_under_the_callers_floating_point_traps(tmp_path):
    """Values that overflow inside _native's loops give non-finite results
    or errors, never SIGFPE; the caller's traps are enabled again after."""
    (tmp_path / "db.s1p").write_text("# Hz S DB R 50\n1 1e300 0\n")
    out = run(f"""
import ctypes
from orvane_ex import _native
libm = ctypes.CDLL("libm.so.6")
TRAPS = 0x01 | 0x04 | 0x08                 # invalid, divide by zero, overflow
f = np.linspace(1e9, 2e9, 5)
libm.feenableexcept(TRAPS)
results = [_native.standard_reflection(f, kind="open", coefficients=(1e300, 0, 0, 0)),
           _native.standard_reflection(f, kind="short", coefficients=(1e300, 0, 0, 0)),
           _native.offset_line(f, delay=1e300, loss=1e300)]
try:
    _native.read_touchstone({str(tmp_path / "db.s1p")!r})
except ValueError as e:
    print("refused")
_native.write_touchstone({str(tmp_path / "x.s1p")!r}, [1e-300, 1e300], np.ones((2, 1, 1)), unit="GHz")
print(libm.fegetexcept() == TRAPS)
libm.fedisableexcept(TRAPS)
print(np.isnan(results[0]).all(), np.isnan(results[1]).all())
""")
    assert out == ["refused", "True", "True", "True"]
