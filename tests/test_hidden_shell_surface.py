"""The module against its fixed surface, as src/hidden/shell/surface.hpp writes
it down (read through _native, which compiles the same header): the namespace
holds exactly its names; each function has its row's docstring, definition
line, generator-expression line and the namespace names it reaches; the
import sequence reports its statements' lines. Scripts parse these tracebacks
and compare these texts, so a difference here is a break for them."""
import ast
import hashlib
import inspect
import json
import pathlib
import sys
import traceback

import numpy as np
import pytest

import orvane_ex
from conftest import numpy_copy, run_python
from orvane_ex import _native
from orvane_ex import hidden as module
from orvane_ex.virtual_board import PORTS
from test_hidden_evaluation_kinds import all_calls
from test_hidden_evaluation_names import Recorder

SURFACE = _native._hidden_surface()
ROWS = {row["name"]: row for row in SURFACE["functions"]}
WINDOWS = sys.platform == "win32"
STUB = pathlib.Path(orvane_ex.__file__).with_name("hidden.pyi")   # the stub shipped beside the package


def row_line(name):
    return SURFACE["beep_line_on_windows"] if name == "beep" and WINDOWS else ROWS[name]["line"]


# The digest of everything in the surface that Python sees (the names reached
# only decide which path runs). It changes only with the surface itself, which
# scripts depend on: a change here breaks them, whatever the rest of the
# suite says.
VISIBLE_DIGEST = "4c6cc0ae63571a713d80613c876c6bc8499720d37bb9990526692294f5c6245f"


def test_visible_surface_unchanged():
    visible = {k: v for k, v in SURFACE.items() if k != "functions"}
    visible["functions"] = [{k: v for k, v in row.items() if k != "reaches"} for row in SURFACE["functions"]]
    digest = hashlib.sha256(json.dumps(visible, sort_keys=True).encode()).hexdigest()
    assert digest == VISIBLE_DIGEST, "src/hidden/shell/surface.hpp changed what orvane_ex.hidden shows"


def test_rows_are_the_functions_in_order_of_definition_line():
    lines = [row["line"] for row in SURFACE["functions"]]
    assert lines == sorted(lines) and len(set(lines)) == len(lines) == len(ROWS) == 32


def test_namespace_holds_exactly_the_surface():
    # In a fresh interpreter: nothing else has touched the namespace there.
    result = run_python("""
        import json
        from orvane_ex import hidden
        print(json.dumps({"names": sorted(vars(hidden)), "doc": hidden.__doc__,
                          "order": [n for n, v in vars(hidden).items() if type(v).__module__ == 'orvane_ex.hidden']}))
    """)
    assert result.returncode == 0, result.stderr
    seen = json.loads(result.stdout)
    libraries = [n for n in SURFACE["libraries"] if n != "Beep" or WINDOWS]
    dunders = ["__builtins__", "__doc__", "__file__", "__loader__", "__name__", "__package__", "__spec__"]
    assert seen["names"] == sorted(dunders + libraries + list(ROWS))
    assert seen["doc"] == SURFACE["doc"]
    # the functions are defined in order of definition line (beep first either way)
    assert seen["order"] == list(ROWS)


def stub_parameters():
    """name: (positional-only names, other names, takes **kwargs) from hidden.pyi."""
    out = {}
    for node in ast.parse(STUB.read_text()).body:
        if isinstance(node, ast.FunctionDef):
            a = node.args
            out[node.name] = ([p.arg for p in a.posonlyargs], [p.arg for p in a.args], a.kwarg is not None)
    return out


STUB_PARAMETERS = stub_parameters()


@pytest.mark.parametrize("name", list(ROWS))
def test_function_matches_its_row(name):
    row, f = ROWS[name], getattr(module, name)
    assert type(f).__module__ == "orvane_ex.hidden" and f.__name__ == name
    assert f.__doc__ == (None if name == "beep" and not WINDOWS else row["doc"])
    assert f.__code__.co_firstlineno == row_line(name)
    # the stub names the same parameters, in the same kinds
    params = inspect.signature(f).parameters.values()
    posonly = [p.name for p in params if p.kind == p.POSITIONAL_ONLY]
    normal = [p.name for p in params if p.kind == p.POSITIONAL_OR_KEYWORD]
    assert STUB_PARAMETERS[name] == (posonly, normal, any(p.kind == p.VAR_KEYWORD for p in params))
    # a failing call reports the definition line
    with pytest.raises(TypeError) as info:
        f(*range(len(posonly) + len(normal) + 1))
    last = traceback.extract_tb(info.tb)[-1]
    assert (last.name, last.filename, last.lineno) == (f"orvane_ex.hidden.{name}", "orvane_ex\\hidden", row_line(name))


def test_every_stub_function_has_a_row():
    assert set(STUB_PARAMETERS) == set(ROWS)


# Calls that fail inside each function's generator expression.
GENEXPR_FAILURES = {
    "ab2S_SwitchCorrect": lambda h: h.ab2S_SwitchCorrect({3: np.ones(2)}, {}, PORTS),
    "get12TermModel": lambda h: h.get12TermModel(*[np.ones((3, 3))] * 4, *[np.ones((3, 2, 2))] * 2),
    "correct12Term": lambda h: h.correct12Term(np.ones((3, 2, 2)), np.ones((3, 2)), np.ones((3, 6))),
}


def test_genexpr_rows_are_the_failing_calls():
    assert {n for n, row in ROWS.items() if row["genexpr_line"]} == set(GENEXPR_FAILURES)


@pytest.mark.parametrize("name", list(GENEXPR_FAILURES))
def test_generator_failure_reports_the_rows_lines(hidden, name):
    if name == "get12TermModel":
        hidden.get1PortModel = lambda G, Gm: np.ones(3)     # one-port terms without columns
    with pytest.raises((IndexError, KeyError)) as info:
        GENEXPR_FAILURES[name](hidden)
    entries = [(e.name, e.lineno) for e in traceback.extract_tb(info.tb)][-2:]
    assert entries == [(f"orvane_ex.hidden.{name}", ROWS[name]["line"]), ("genexpr", ROWS[name]["genexpr_line"])]


def reaching_calls():
    calls = {name: args for name, (args, _) in all_calls(np.random.default_rng(1), 5).items()}
    calls["getIdealSparams"] = (5,)
    return calls


CALLS = reaching_calls()
# Every name a function could reach: the libraries that stand in for numpy
# and scipy, and every function (rebinding one to a forwarding recorder
# changes nothing but what is noted).
WATCHED = ["np", "det", "inv", "solve", "sp", *ROWS]


def test_every_row_with_names_has_a_call():
    assert {n for n, row in ROWS.items() if row["reaches"]} == set(CALLS)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("name", sorted(CALLS))
def test_numpy_path_reaches_the_rows_names(hidden, name):
    seen = {}
    for n in WATCHED:
        real = numpy_copy() if n == "np" else getattr(hidden, n)
        setattr(hidden, n, Recorder(real, seen.setdefault(n, set())))
    # the call under test is made on the function itself, not through its recorder
    getattr(hidden, name)._real(*CALLS[name])
    # np is listed even where the numpy path uses only array operators:
    # rebinding it is how a caller forces the numpy path
    assert sorted({"np"} | {n for n, s in seen.items() if s}) == sorted(ROWS[name]["reaches"])


def test_import_sequence_reports_the_surfaces_lines():
    # Each statement made to fail in turn, in one fresh interpreter: a failed
    # import leaves nothing behind, so the next one starts afresh.
    result = run_python("""
        import builtins, json, sys, traceback, types

        def failing_line():
            try:
                import orvane_ex.hidden
            except Exception:
                return [e.lineno for e in traceback.extract_tb(sys.exc_info()[2])
                        if e.name == 'init orvane_ex.hidden'][0]
            return None

        lines = {}
        real_input = builtins.input
        del builtins.input
        lines['start'] = failing_line()
        builtins.input = real_input

        class Block:
            def __init__(self, name, error):
                self.name, self.error = name, error
            def find_spec(self, name, path=None, target=None):
                if name == self.name:
                    raise self.error('blocked')
        # `import sys` tries orvane_ex.sys first; only an ImportError there is passed over
        sys.meta_path.insert(0, Block('orvane_ex.sys', RuntimeError))
        lines['sys'] = failing_line()
        sys.meta_path[0] = Block('matplotlib', ImportError)
        lines['matplotlib'] = failing_line()
        del sys.meta_path[0]

        fake = types.ModuleType('orvane_ex.matplotlib')   # found first: a module of the package wins
        def use(backend):
            raise RuntimeError(backend)
        fake.use = use
        sys.modules['orvane_ex.matplotlib'] = fake
        lines['use_tkagg'] = failing_line()
        del sys.modules['orvane_ex.matplotlib']

        import matplotlib
        matplotlib.use('Agg')
        import matplotlib.pyplot, numpy, numpy.linalg, scipy, skrf
        for key, name in [('matplotlib_loaded', 'matplotlib'), ('pyplot', 'matplotlib.pyplot'),
                          ('numpy', 'numpy'), ('linalg', 'numpy.linalg'), ('scipy', 'scipy'), ('skrf', 'skrf')]:
            saved = sys.modules[name]
            sys.modules[name] = None
            lines[key] = failing_line()
            sys.modules[name] = saved
        lines['then'] = failing_line()
        print(json.dumps(lines))
    """)
    assert result.returncode == 0, result.stderr
    lines = json.loads(result.stdout)
    expected = {k: v for k, v in SURFACE["import_lines"].items() if k != "winsound"}   # Windows only
    assert lines == {**expected, "then": None}
