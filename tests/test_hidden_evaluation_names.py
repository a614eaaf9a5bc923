"""Every namespace name a function reaches decides its path: rebinding any
one of them makes the function take the numpy path, which calls what the name
is bound to. The names each function reaches are found by running it."""
import numpy as np
import pytest

from conftest import numpy_copy
from test_hidden_evaluation_kinds import all_calls

NAMES = ["np", "det", "inv", "solve", "sp", "S2T", "T2S", "get1PortModel", "get1PortResponseModel"]


class Recorder:
    """Stands in for a namespace name: forwards to the real object and notes
    that it was used."""

    def __init__(self, real, seen):
        self._real, self._seen = real, seen

    def __getattr__(self, attr):
        self._seen.add(True)
        return getattr(self._real, attr)

    def __call__(self, *args, **kwargs):
        self._seen.add(True)
        return self._real(*args, **kwargs)


def rebind(hidden, names, seen):
    for name in names:
        real = getattr(hidden, name)
        if name == "np":
            real = numpy_copy()                      # so that numpy's own functions stay intact
        setattr(hidden, name, Recorder(real, seen.setdefault(name, set())))


def reached(hidden, name, args):
    """The namespace names the numpy path of `name` uses (np forced off)."""
    seen = {}
    rebind(hidden, NAMES, seen)
    try:
        getattr(hidden, name)(*args)
    finally:
        for n in NAMES:
            setattr(hidden, n, getattr(hidden, n)._real if n != "np" else np)
    return sorted(n for n, s in seen.items() if s)


@pytest.mark.filterwarnings("ignore::RuntimeWarning")
@pytest.mark.parametrize("name", list(all_calls(np.random.default_rng(0), 3)))
def test_rebinding_any_reached_name_takes_the_numpy_path(hidden, rng, name):
    args, _ = all_calls(rng, 5)[name]
    for n in reached(hidden, name, args):
        seen = {}
        real = getattr(hidden, n)
        rebind(hidden, [n], seen)
        try:
            getattr(hidden, name)(*args)
        finally:
            setattr(hidden, n, real)
        assert seen[n], f"{name} kept its native path with {n} rebound"
