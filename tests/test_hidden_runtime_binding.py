"""Argument binding: every function, every kind of wrong call, exact texts."""
import inspect
import pickle
import traceback

import numpy as np
import pytest

from orvane_ex import hidden
from orvane_ex.virtual_board import PORTS

def functions():
    """name: (definition line, parameters, number of defaults, call form), read
    from the module itself: its table is the one source of these."""
    out = {}
    for name, f in vars(hidden).items():
        if not callable(f) or type(f).__module__ != "orvane_ex.hidden":
            continue
        parameters = inspect.signature(f).parameters.values()
        params = [p.name for p in parameters if p.kind != p.VAR_KEYWORD]
        positional_only = any(p.kind == p.POSITIONAL_ONLY for p in parameters)
        form = "none" if not params else "single" if positional_only else "normal"
        out[name] = (f.__code__.co_firstlineno, params, len(f.__defaults__ or ()), form)
    return out


TABLE = functions()
assert len(TABLE) == 32, sorted(TABLE)
NORMAL = [n for n, t in TABLE.items() if t[3] == "normal"]


def count_text(name, given):
    _, params, ndef, _ = TABLE[name]
    lo, hi = len(params) - ndef, len(params)
    exact = lo == hi
    if given < lo:
        word, n = ("exactly" if exact else "at least"), lo
    else:
        word, n = ("exactly" if exact else "at most"), hi
    return f"{name}() takes {word} {n} positional argument{'' if n == 1 else 's'} ({given} given)"


def wrong_calls():
    """(name, args, kwargs, expected text) for every function."""
    for name, (_, params, ndef, form) in TABLE.items():
        if form == "none":
            yield name, (1,), {}, "beep() takes no arguments (1 given)"
            yield name, (1, 2), {}, "beep() takes no arguments (2 given)"
            yield name, (), {"x": 1}, "beep() takes no keyword arguments"
        elif form == "single":
            yield name, (), {}, f"{name}() takes exactly one argument (0 given)"
            yield name, (1, 2), {}, f"{name}() takes exactly one argument (2 given)"
            yield name, (), {params[0]: 1}, f"{name}() takes no keyword arguments"
            yield name, (1,), {"x": 1}, f"{name}() takes no keyword arguments"
        else:
            nreq = len(params) - ndef
            args = tuple(range(len(params)))
            yield name, args[: nreq - 1], {}, count_text(name, nreq - 1)
            yield name, args + (0,), {}, count_text(name, len(params) + 1)
            yield name, args + (0,), {params[0]: 1}, count_text(name, len(params) + 1)
            # the first missing required parameter decides the count reported
            yield name, (), {p: 1 for p in params[1:]}, count_text(name, 0)
            if nreq >= 2:
                yield name, args[:1], {p: 1 for p in params[2:]}, count_text(name, 1)
            yield name, args[:nreq], {params[0]: 1}, \
                f"{name}() got multiple values for keyword argument '{params[0]}'"
            if name != "correct12Term":
                yield name, args[:nreq], {"bogus": 1}, f"{name}() got an unexpected keyword argument 'bogus'"
            if ndef:
                yield name, args[:nreq], {params[-1]: 1, "zz": 2}, \
                    f"{name}() got an unexpected keyword argument 'zz'"


@pytest.mark.parametrize("name,args,kwargs,text", list(wrong_calls()))
def test_wrong_call_text(name, args, kwargs, text):
    with pytest.raises(TypeError) as info:
        getattr(hidden, name)(*args, **kwargs)
    assert str(info.value) == text
    entry = traceback.extract_tb(info.tb)[-1]
    assert (entry.name, entry.filename, entry.lineno) == (f"orvane_ex.hidden.{name}", "orvane_ex\\hidden",
                                                          TABLE[name][0])


def test_examples_of_each_wrong_call():
    rec, ports = {}, {}
    cases = [
        (lambda: hidden.ab2G(rec), "ab2G() takes exactly 2 positional arguments (1 given)"),
        (lambda: hidden.ab2G(ports=ports), "ab2G() takes exactly 2 positional arguments (0 given)"),
        (lambda: hidden.ab2G(rec, ports, rec=rec), "ab2G() got multiple values for keyword argument 'rec'"),
        (lambda: hidden.ab2G(rec, ports, tx=1), "ab2G() got an unexpected keyword argument 'tx'"),
        (lambda: hidden.readSnP(), "readSnP() takes at least 1 positional argument (0 given)"),
        (lambda: hidden.readSnP("p", None, "dB", 4), "readSnP() takes at most 3 positional arguments (4 given)"),
        (lambda: hidden.prompt1PortSOL(1, 2), "prompt1PortSOL() takes exactly 4 positional arguments (2 given)"),
        (lambda: hidden.getIdealSparams(num_pts=3), "getIdealSparams() takes no keyword arguments"),
    ]
    for call, text in cases:
        with pytest.raises(TypeError, match="^" + text.replace("(", r"\(").replace(")", r"\)") + "$"):
            call()


@pytest.mark.parametrize("name", NORMAL)
def test_all_keyword_call_binds(name):
    # Binding succeeds; whatever comes after is the function's own business.
    _, params, ndef, _ = TABLE[name]
    kwargs = {p: object() for p in reversed(params)}
    try:
        getattr(hidden, name)(**kwargs)
    except TypeError as e:
        assert "argument" not in str(e) or "positional argument" not in str(e), e
    except Exception:
        pass


def test_keyword_forms_of_built_functions(rng):
    S = rng.standard_normal((4, 2, 2)) + 0j
    ports = dict(PORTS)
    rec = {k: rng.standard_normal(4) + 1j for k in range(1, 7)}
    assert np.array_equal(hidden.ab2S(ports=ports, rec_tx2=rec, rec_tx1=rec), hidden.ab2S(rec, rec, ports))
    assert np.array_equal(hidden.ab2S_SwitchCorrect(rec, rec_tx2=rec, ports=ports),
                          hidden.ab2S_SwitchCorrect(rec, rec, ports))
    assert hidden.ab2G(ports=ports, rec=rec) is None
    assert hidden.S2T(S).shape == (4, 2, 2)


def test_correct12Term_accepts_extra_keywords(rng):
    Sm = rng.standard_normal((5, 2, 2)) + 1j * rng.standard_normal((5, 2, 2))
    fwd = rng.standard_normal((5, 6)) + 1j
    rev = rng.standard_normal((5, 6)) + 1j
    plain = hidden.correct12Term(Sm, fwd, rev)
    np.testing.assert_array_equal(hidden.correct12Term(Sm, fwd, rev, anything=4, more=None), plain)
    np.testing.assert_array_equal(hidden.correct12Term(rev_terms=rev, fwd_terms=fwd, Sm=Sm, extra=0), plain)


@pytest.mark.parametrize("name", list(TABLE))
def test_function_attributes(name):
    f = getattr(hidden, name)
    _, params, ndef, form = TABLE[name]
    assert f.__name__ == f.__qualname__ == name
    assert f.__module__ == "orvane_ex.hidden"
    assert f.__kwdefaults__ is None
    assert f.__defaults__ is None if not ndef else type(f.__defaults__) is tuple
    sig = inspect.signature(f)
    assert list(sig.parameters)[: len(params)] == params
    kinds = {p.kind for p in sig.parameters.values()}
    if form == "single":
        assert kinds == {inspect.Parameter.POSITIONAL_ONLY}
    elif name == "correct12Term":
        assert str(sig) == "(Sm, fwd_terms, rev_terms, **kwargs)"
    elif params:
        assert kinds == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    if name != "beep":
        assert f.__doc__.startswith(("\n", " ")) and len(f.__doc__) > 40
    assert pickle.loads(pickle.dumps(f)) is f


def test_defaults_created_once():
    a, b = hidden.deEmbed.__defaults__
    assert a == [] and b == [] and a is not b
    assert hidden.deEmbed.__defaults__[0] is a
    assert str(inspect.signature(hidden.deEmbed)) == "(S_A_DUT_B, S_A=[], S_B=[])"
    assert str(inspect.signature(hidden.get8TermModelUThru)).endswith("phys_length=0.05)")


def test_help_shows_signature():
    import pydoc
    text = pydoc.render_doc(hidden.get12TermModel, renderer=pydoc.plaintext)
    assert "get12TermModel(G1, Gm1, G2, Gm2, T, Tm, isolation=None)" in text


def test_stubs_match_the_module():
    import ast
    import pathlib

    import orvane_ex

    tree = ast.parse((pathlib.Path(orvane_ex.__file__).parent / "hidden.pyi").read_text())
    stubbed = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            a = node.args
            stubbed[node.name] = [x.arg for x in a.posonlyargs + a.args] + (["**" + a.kwarg.arg] if a.kwarg else [])
    assert set(stubbed) == set(TABLE)
    for name, (_, params, _, _) in TABLE.items():
        extra = ["**kwargs"] if name == "correct12Term" else []
        assert stubbed[name] == params + extra, name
