"""The examples in the package's docstrings run and print what they say."""
import doctest
import importlib
import pkgutil

import numpy as np
import pytest

import orvane_ex

MODULES = sorted(m.name for m in pkgutil.walk_packages(orvane_ex.__path__, "orvane_ex.")
                 if not m.name.startswith(("orvane_ex.hidden", "orvane_ex._native", "orvane_ex.demo"))
                 and not m.name.endswith("__main__"))


def examples(name):
    module = importlib.import_module(name)
    finder = doctest.DocTestFinder(exclude_empty=True)
    # only what the module defines, not what it imports
    return [t for t in finder.find(module, name, globs={"np": np, **vars(module)})
            if t.examples and t.name.startswith(name)]


@pytest.mark.parametrize("name", [m for m in MODULES if examples(m)])
def test_docstring_examples_run(name):
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    for test in examples(name):
        runner.run(test)
    result = runner.summarize(verbose=False)
    assert result.failed == 0, f"{result.failed} of {result.attempted} examples in {name} failed (see above)"


def test_the_public_entry_points_have_an_example():
    """The functions a new user starts from show how they are called."""
    from orvane_ex.files import touchstone
    from orvane_ex.timedomain import windows

    for function in (touchstone.read, windows.window_properties):
        assert ">>> " in (function.__doc__ or ""), function.__qualname__
