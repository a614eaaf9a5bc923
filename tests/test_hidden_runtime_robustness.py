"""No argument crashes the interpreter, and calls do not leak."""
import gc
import sys
import tracemalloc

import numpy as np
import pytest

from conftest import run_python
from orvane_ex.virtual_board import PORTS

FUZZ = r"""
import sys, os, warnings, inspect
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
plt.show = lambda *a, **k: None
import numpy as np
from hypothesis import given, settings, strategies as st, HealthCheck
from orvane_ex import hidden

warnings.simplefilter("ignore")
NAMES = sorted(n for n, f in vars(hidden).items() if type(f).__name__ == "function")
assert len(NAMES) == 32, NAMES

arrays = st.one_of(
    st.builds(lambda shape, kind: np.ones(shape, kind),
              st.lists(st.integers(0, 4), min_size=0, max_size=4).map(tuple),
              st.sampled_from([np.float64, np.complex128, np.int64, np.bool_, np.complex64, object, "U3"])),
    st.builds(lambda n: np.random.default_rng(n).standard_normal((n, 2, 2)) + 0j, st.integers(0, 6)),
    st.builds(lambda n: np.full((n, 2, 2), np.nan + 0j), st.integers(1, 3)),
    st.builds(lambda n: np.zeros((n, 2, 2)), st.integers(1, 3)),
)
scalars = st.one_of(st.none(), st.booleans(), st.integers(-3, 10), st.floats(allow_nan=True),
                    st.complex_numbers(), st.text(max_size=5), st.binary(max_size=3))
recordings = st.dictionaries(st.integers(0, 7), arrays, max_size=7)
ports = st.fixed_dictionaries({k: st.integers(1, 6) for k in ("Tx1", "Tx2", "Rx1A", "Rx1B", "Rx2A", "Rx2B")})
values = st.recursive(st.one_of(scalars, arrays, recordings, ports),
                      lambda inner: st.one_of(st.lists(inner, max_size=3), st.tuples(inner, inner)), max_leaves=6)
keywords = st.dictionaries(st.sampled_from(["S", "rec", "ports", "G", "Gm", "path", "kind", "x", "kwargs", "Sm"]),
                           values, max_size=3)

class Board:
    def ApplySettings(self, s): pass
    def Record(self): pass
    def GetRecordingResult(self): return {k: np.ones(3) + 0j for k in range(1, 7)}

@settings(max_examples=int(os.environ.get("FUZZ_EXAMPLES", "2000")), deadline=None, database=None,
          suppress_health_check=list(HealthCheck))
@given(st.sampled_from(NAMES), st.lists(st.one_of(values, st.just(Board())), max_size=8), keywords)
def fuzz(name, args, kwargs):
    try:
        getattr(hidden, name)(*args, **kwargs)
    except (Exception, SystemExit):
        pass

fuzz()
print("survived")
"""


def test_random_arguments_never_crash(tmp_path):
    result = run_python(FUZZ, tmp_path=tmp_path, timeout=1200)
    assert result.returncode == 0, result.stderr[-3000:]
    assert "survived" in result.stdout


def _growth(call, rounds=3000):
    for _ in range(200):
        call()
    gc.collect()
    tracemalloc.start()
    before = tracemalloc.get_traced_memory()[0]
    for _ in range(rounds):
        call()
    gc.collect()
    after = tracemalloc.get_traced_memory()[0]
    tracemalloc.stop()
    return after - before


def _calls(hidden):
    rng = np.random.default_rng(3)
    S = rng.standard_normal((16, 2, 2)) + 1j * rng.standard_normal((16, 2, 2))
    ports = dict(PORTS)
    rec = {k: rng.standard_normal(16) + 1j for k in range(1, 7)}
    rec[1][0] = 0
    bad = {k: np.zeros(16) for k in range(1, 7)}

    def raising(f, *a, **k):
        def call():
            try:
                f(*a, **k)
            except Exception:
                pass
        return call

    return {
        "S2T": lambda: hidden.S2T(S),
        "T2S": lambda: hidden.T2S(S),
        "getIdealSparams": lambda: hidden.getIdealSparams(16),
        "ab2G": lambda: hidden.ab2G(rec, ports),
        "ab2S": lambda: hidden.ab2S(rec, rec, ports),
        "ab2S_SwitchCorrect": lambda: hidden.ab2S_SwitchCorrect(rec, rec, ports),
        "zero divisors": raising(hidden.ab2S_SwitchCorrect, bad, bad, ports),
        "wrong count": raising(hidden.ab2G, rec),
        "bad keyword": raising(hidden.ab2S, rec, rec, ports=ports),
        "unexpected keyword": raising(hidden.deEmbed, S, nothing=1),
        "missing key": raising(hidden.ab2S_SwitchCorrect, {}, {}, ports),
        "list argument": raising(hidden.S2T, [[1, 2], [3, 4]]),
        "missing file": raising(hidden.readSnP, "no/such/file.s2p"),
        "extra keywords": raising(hidden.correct12Term, S, S, S, extra=1),
        "signature": lambda: hidden.S2T.__code__,
    }


CASES = ["S2T", "T2S", "getIdealSparams", "ab2G", "ab2S", "ab2S_SwitchCorrect", "zero divisors", "wrong count",
         "bad keyword", "unexpected keyword", "missing key", "list argument", "missing file", "extra keywords",
         "signature"]


@pytest.mark.parametrize("case", CASES)
def test_repeated_calls_do_not_grow_memory(hidden, case):
    import warnings
    call = _calls(hidden)[case]
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        growth = _growth(call)
    assert growth < 64 * 1024, f"{case}: {growth} bytes after 3000 calls"


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
def test_arguments_keep_their_reference_counts(hidden):
    S = np.ones((4, 2, 2), complex)
    rec = {k: np.ones(4) + 1j for k in range(1, 7)}
    ports = dict(PORTS)
    before = [sys.getrefcount(x) for x in (S, rec, ports, *rec.values())]
    for _ in range(100):
        hidden.S2T(S)
        hidden.ab2S_SwitchCorrect(rec, rec, ports)
        hidden.ab2G(rec, ports)
        try:
            hidden.ab2S(rec, rec, ports, rec_tx1=S)
        except TypeError:
            pass
    assert [sys.getrefcount(x) for x in (S, rec, ports, *rec.values())] == before
