"""Import-time behaviour, each case in a fresh interpreter."""
import sys

import pytest

from conftest import SUBINTERPRETER, run_python
from orvane_ex import _native

BEEP_LINE = next(row["line"] for row in _native._hidden_surface()["functions"] if row["name"] == "beep")


def check(result):
    assert result.returncode == 0, result.stderr
    return result.stdout.split()


def test_tkagg_selected_when_matplotlib_not_loaded():
    # With a display named, matplotlib keeps the requested back end unresolved.
    out = check(run_python("""
        import sys
        assert 'matplotlib' not in sys.modules
        from orvane_ex import hidden
        import matplotlib
        print(dict.__getitem__(matplotlib.rcParams, 'backend'))
    """, env={"DISPLAY": ":99"}))
    assert out == ["TkAgg"]


def test_backend_left_alone_when_matplotlib_loaded():
    out = check(run_python("""
        import matplotlib
        matplotlib.use('Agg')
        from orvane_ex import hidden
        print(matplotlib.get_backend().lower())
    """))
    assert out == ["agg"]


def test_second_import_returns_same_module_without_rerunning():
    out = check(run_python("""
        import sys
        from orvane_ex import hidden
        first, s2t = hidden, hidden.S2T
        hidden.np = 'rebound'
        del sys.modules['orvane_ex.hidden']
        import orvane_ex.hidden as again
        import importlib
        third = importlib.import_module('orvane_ex.hidden')
        print(again is first, third is first, again.S2T is s2t, again.np == 'rebound')
    """))
    assert out == ["True"] * 4


def test_module_inside_package_takes_precedence():
    out = check(run_python("""
        import sys, types, numpy
        fake = types.ModuleType('orvane_ex.numpy')   # not a package: numpy.linalg stays numpy's
        sys.modules['orvane_ex.numpy'] = fake
        from orvane_ex import hidden
        print(hidden.np is fake, hidden.det is numpy.linalg.det)
    """))
    assert out == ["True", "True"]


def test_namespace_and_module_attributes():
    out = run_python("""
        from orvane_ex import hidden
        import numpy, scipy, skrf, matplotlib.pyplot, sys
        ns = vars(hidden)
        print(ns['np'] is numpy, ns['sp'] is scipy, ns['rf'] is skrf, ns['plt'] is matplotlib.pyplot,
              ns['sys'] is sys, ns['solve'] is numpy.linalg.solve, ns['inv'] is numpy.linalg.inv,
              hidden.__doc__ == '\\nhidden.py\\nhidden-source helper functions for QLM-417\\n',
              hidden.__name__ == 'orvane_ex.hidden', hidden.__package__ == 'orvane_ex',
              hidden.__file__.endswith('.so'), '__builtins__' in ns)
    """)
    assert check(out) == ["True"] * 12


@pytest.mark.skipif(sys.platform == "win32", reason="beep sounds on Windows")
def test_beep_off_windows():
    out = check(run_python("""
        from orvane_ex import hidden
        print(hidden.beep() is None, hidden.beep.__doc__ is None, hasattr(hidden, 'Beep'),
              hidden.beep.__code__.co_firstlineno)
    """))
    assert out == ["True", "True", "False", str(BEEP_LINE)]


def test_failed_import_reports_init_entry_and_can_be_retried():
    result = run_python("""
        import sys, traceback
        sys.modules['skrf'] = None          # makes `import skrf` fail
        try:
            import orvane_ex.hidden
        except ImportError:
            names = [f.name for f in traceback.extract_tb(sys.exc_info()[2])]
            print('init orvane_ex.hidden' in names, 'orvane_ex.hidden' in sys.modules)
        del sys.modules['skrf']
        import orvane_ex.hidden as h
        print(callable(h.S2T))
    """)
    assert check(result) == ["True", "False", "True"]


def test_other_interpreter_refused():
    out = check(run_python(SUBINTERPRETER + """
from orvane_ex import hidden
error = in_subinterpreter("import orvane_ex.hidden")
print("ImportError" in error, "Interpreter change detected - this module can only be loaded into one "
      "interpreter per process." in error)
"""))
    assert out == ["True", "True"]


def test_reinitialising_another_module_object_refused():
    out = check(run_python("""
        import ctypes, types
        from orvane_ex import hidden
        api = ctypes.pythonapi
        api.PyModule_GetDef.restype = ctypes.c_void_p
        api.PyModule_GetDef.argtypes = [ctypes.py_object]
        api.PyModule_ExecDef.restype = ctypes.c_int
        api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
        try:
            api.PyModule_ExecDef(types.ModuleType('orvane_ex.hidden'), api.PyModule_GetDef(hidden))
        except RuntimeError as e:
            print(str(e) == "Module 'hidden' has already been imported. Re-initialisation is not supported.")
    """))
    assert out == ["True"]


@pytest.mark.parametrize("old, new", [
    ("orvane_ex.calkit", "orvane_ex.calibration.kit"),
    ("orvane_ex.calset", "orvane_ex.calibration.base"),
    ("orvane_ex.calset", "orvane_ex.calibration.solt"),
    ("orvane_ex.trl", "orvane_ex.calibration.trl"),
    ("orvane_ex.touchstone", "orvane_ex.files.touchstone"),
])
def test_import_paths_of_earlier_releases_give_the_same_objects(old, new):
    import importlib

    before, now = importlib.import_module(old), importlib.import_module(new)
    assert now.__all__ and all(getattr(before, name) is getattr(now, name) for name in now.__all__)
