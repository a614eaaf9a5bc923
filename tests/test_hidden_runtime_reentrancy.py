"""Re-entrancy fuzzing: arguments and namespace names whose Python hooks
(__eq__, __hash__, __index__, __array__, __getattr__, finalisers) mutate the
call's other arguments while it runs. Every function, many times, in a fresh
interpreter: it must survive, and where the hook runs inside the call its
outcome must be the numpy path's."""
from conftest import run_python

FUZZ = r"""
import gc, os, random, re, sys, time, types, warnings
import matplotlib
matplotlib.use("Agg")
import matplotlib.pyplot as plt
plt.show = lambda *a, **k: None
import numpy as np
from orvane_ex import hidden

warnings.simplefilter("ignore")
seeds = random.Random(int(os.environ.get("FUZZ_SEED", "417")))
rnd = random.Random()   # the case being built; reseeded for each case
N = 6
from orvane_ex.virtual_board import PORTS


def cx(*shape):
    return np.asarray(np.random.default_rng(rnd.randrange(1 << 30)).standard_normal(shape) + 0.5j)


def base_args(name):
    S, G, rec = cx(N, 2, 2), cx(N, 3), {k: cx(N) for k in range(1, 7)}
    rec[1][0] = 0
    rec2 = {k: cx(N) for k in range(1, 7)}
    f = np.linspace(1e9, 2e9, N)
    table = {
        "S2T": [S], "T2S": [S], "getIdealSparams": [N],
        "ab2G": [rec, dict(PORTS)], "ab2S": [rec, rec2, dict(PORTS)], "ab2S_SwitchCorrect": [rec, rec2, dict(PORTS)],
        "get1PortModel": [G, cx(N, 3)], "correct1Port": [cx(N), G],
        "get1PortResponseModel": [cx(N), cx(N)], "getPortExtModel": [cx(N), cx(N)],
        "get2PortResponseModel": [cx(N), cx(N), cx(N), cx(N), S, cx(N, 2, 2)],
        "correctResponse": [S, cx(N, 2, 2)],
        "get8TermModel": [G, cx(N, 3), G, cx(N, 3), S, cx(N, 2, 2)],
        "get8TermModelUThru": [G, cx(N, 3), G, cx(N, 3), S, f],
        "correct8Term": [S, cx(N, 2, 2), cx(N, 2, 2), cx(N)],
        "get12TermModel": [G, cx(N, 3), G, cx(N, 3), S, cx(N, 2, 2), cx(N, 2, 2)],
        "correct12Term": [S, cx(N, 6), cx(N, 6)],
        "correctPortExt": [S, cx(N), 1], "deEmbed": [S, cx(N, 2, 2), cx(N, 2, 2)],
        "plotCompareDb": [f / 1e6, [S, S], ["a", "b"]], "plotCompareDbDeg": [f / 1e6, [S, S], ["a", "b"]],
    }
    return table[name]


NAMES = ["S2T", "T2S", "getIdealSparams", "ab2G", "ab2S", "ab2S_SwitchCorrect", "get1PortModel", "correct1Port",
         "get1PortResponseModel", "getPortExtModel", "get2PortResponseModel", "correctResponse", "get8TermModel",
         "get8TermModelUThru", "correct8Term", "get12TermModel", "correct12Term", "correctPortExt", "deEmbed",
         "plotCompareDb", "plotCompareDbDeg"]
# the plots cost milliseconds a call: drawn a quarter as often
WEIGHTED = [n for n in NAMES if not n.startswith("plot")] * 4 + [n for n in NAMES if n.startswith("plot")]
NAMESPACE = ["np", "det", "inv", "solve", "sp", "S2T", "T2S", "get1PortModel", "get1PortResponseModel"]


def mutations(args, rnd):
    # What a hook does to the call's arguments: drop, replace, reshape, poison.
    # It draws from its own generator: a hook left over from an earlier case
    # (a finaliser) must not shift the draws of the case being replayed.
    def any_dict():
        ds = [a for a in args if isinstance(a, dict)]
        return rnd.choice(ds) if ds else None

    def act():
        kind = rnd.randrange(6)
        d = any_dict()
        if kind == 0 and d is not None:
            d.clear()
        elif kind == 1 and d is not None:
            for k in list(d):
                d[k] = np.full(1 << 16, 2.0 + 0j)[: rnd.randrange(1, 9)]
        elif kind == 2:
            arrays = [a for a in args if isinstance(a, np.ndarray) and a.size]
            if arrays:
                a = rnd.choice(arrays)
                a[...] = np.nan
        elif kind == 3 and d is not None:
            for k in list(d):
                d[k] = None
        elif kind == 4:
            for i, a in enumerate(args):
                if isinstance(a, np.ndarray) and rnd.random() < 0.5:
                    args[i] = None
        else:
            gc.collect(0)
    return act


class Collider:
    def __init__(self, like, act):
        self.like, self.act = like, act
    def __hash__(self):
        return hash(self.like)
    def __eq__(self, other):
        self.act()
        return self.like == other


class IntLike:
    def __init__(self, value, act):
        self.value, self.act = value, act
    def __index__(self):
        self.act()
        return self.value
    __int__ = __index__
    def __hash__(self):
        self.act()
        return hash(self.value)
    def __eq__(self, other):
        self.act()
        return self.value == other


class ArrayLike:
    def __init__(self, array, act):
        self.array, self.act = array, act
    def __array__(self, dtype=None, copy=None):
        self.act()
        return np.asarray(self.array, dtype)
    def __getitem__(self, key):
        self.act()
        return self.array[key]
    def __len__(self):
        return len(self.array)
    @property
    def shape(self):
        self.act()
        return self.array.shape


HOOK_WAS_FINALISER = [False]
WHERE = [None]


class Finaliser:
    def __init__(self, act):
        self.act, self.cycle = act, self
    def __del__(self):
        self.act()


def hostile(name):
    # (call, restores): the arguments with one hostile element planted
    args = base_args(name)
    act = mutations(args, random.Random(rnd.random()))
    where = rnd.randrange(5)
    HOOK_WAS_FINALISER[0] = where == 4
    WHERE[0] = where
    undo = []
    if where == 0:
        dicts = [a for a in args if isinstance(a, dict)]
        if dicts:
            d = rnd.choice(dicts)
            d[Collider(rnd.choice(list(d)), act)] = rnd.choice([3, np.ones(N)])
    elif where == 1:
        dicts = [a for a in args if isinstance(a, dict) and "Tx1" in a]
        if dicts:
            d = dicts[0]
            key = rnd.choice(list(d))
            d[key] = IntLike(d[key], act)
        elif name in ("getIdealSparams", "correctPortExt"):
            i = 0 if name == "getIdealSparams" else 2
            args[i] = IntLike(args[i], act)
    elif where == 2:
        i = rnd.randrange(len(args))
        if isinstance(args[i], np.ndarray):
            args[i] = ArrayLike(args[i], act)
    elif where == 3:
        n = rnd.choice(NAMESPACE)
        real = getattr(hidden, n)
        if isinstance(real, types.ModuleType):
            proxy = types.ModuleType(real.__name__)
            proxy.__dict__.update(real.__dict__)
            def __getattr__(attr, real=real):
                act()
                return getattr(real, attr)
            del_names = [k for k in ("array", "zeros", "ones", "matmul", "constants") if k in proxy.__dict__]
            for k in del_names:
                del proxy.__dict__[k]
            proxy.__getattr__ = __getattr__
            setattr(hidden, n, proxy)
        else:
            def wrapper(*a, real=real):
                act()
                return real(*a)
            setattr(hidden, n, wrapper)
        undo.append((n, real))
    else:
        for _ in range(rnd.randrange(1, 4)):
            Finaliser(act)
    return (lambda: getattr(hidden, name)(*args)), undo


def outcome(seed, numpy_forced):
    rnd.seed(seed)
    gc.disable()            # no finaliser of an earlier case while this one is built
    try:
        call, undo = hostile(NAME_OF[seed])
    finally:
        gc.enable()
    forced = numpy_forced and not any(n == "np" for n, _ in undo)
    if forced:
        proxy = types.ModuleType("numpy")
        proxy.__dict__.update(np.__dict__)
        hidden.np = proxy
    try:
        return ("ok", call())
    except Exception as e:
        return ("error", type(e).__name__, re.sub(r"0x[0-9a-f]+", "0x", str(e)))
    finally:
        if forced:
            hidden.np = np
        for n, real in undo:
            setattr(hidden, n, real)
        plt.close("all")


def same(a, b):
    if isinstance(a, tuple) and isinstance(b, tuple):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, np.ndarray) and isinstance(b, np.ndarray):
        if a.shape != b.shape or a.dtype != b.dtype or not (np.isfinite(a) == np.isfinite(b)).all():
            return False
        finite = np.isfinite(b)
        if not np.array_equal(a[~finite], b[~finite], equal_nan=True):
            return False
        scale = max(np.max(np.abs(b[finite]), initial=0), 1.0)
        # random standards can be ill-conditioned: LAPACK and the native LU then part in the low digits
        return np.max(np.abs(a[finite] - b[finite]), initial=0) <= 1e-8 * scale
    return type(a) is type(b) and (a is b or a == b)


gc.set_threshold(50)
count = int(os.environ.get("FUZZ_CALLS", "3000"))
NAME_OF = {}
SPENT = {}
for i in range(count):
    seed = seeds.randrange(1 << 62)
    NAME_OF[seed] = seeds.choice(WEIGHTED)
    t0 = time.perf_counter()
    native = outcome(seed, numpy_forced=False)
    reference = outcome(seed, numpy_forced=True)
    SPENT[NAME_OF[seed]] = SPENT.get(NAME_OF[seed], 0) + time.perf_counter() - t0
    # A hook inside the call runs at the same step on both paths; a
    # finaliser runs whenever a collection happens, so only survival counts.
    if not HOOK_WAS_FINALISER[0] and not same(native, reference):
        brief = lambda o: o if o[0] == "error" else ("ok", type(o[1]).__name__)
        print("differs:", NAME_OF[seed], "hook", WHERE[0], brief(native), brief(reference))
        sys.exit(1)
print("survived", count)
print("slowest:", sorted(SPENT.items(), key=lambda kv: -kv[1])[:3])
"""


def test_hooks_that_mutate_arguments_mid_call_never_crash(tmp_path):
    result = run_python(FUZZ, tmp_path=tmp_path, timeout=1200)
    assert result.returncode == 0, f"exit {result.returncode}\n{result.stdout[-3000:]}\n{result.stderr[-3000:]}"
    assert "survived" in result.stdout
