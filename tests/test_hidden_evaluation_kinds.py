"""Every mix of real and complex arguments: the native path returns what the
numpy path returns, dtype, shape and strides included."""
import itertools
import warnings

import numpy as np
import pytest

from conftest import both_paths, close
from test_hidden_calibration import calls as calibration_calls
from orvane_ex.virtual_board import PORTS



def netparams_calls(rng, n):
    S = rng.standard_normal((n, 2, 2)) + 1j * rng.standard_normal((n, 2, 2))
    rec1 = {k: rng.standard_normal(n) + 1j * rng.standard_normal(n) for k in range(1, 7)}
    rec2 = {k: rng.standard_normal(n) + 1j * rng.standard_normal(n) for k in range(1, 7)}
    rec1[1][0] = rec2[2][0] = 0
    return {"S2T": ((S,), False), "T2S": ((S,), False), "ab2G": ((rec1, PORTS), True),
            "ab2S": ((rec1, rec2, PORTS), True), "ab2S_SwitchCorrect": ((rec1, rec2, PORTS), True)}


def all_calls(rng, n):
    return {**netparams_calls(rng, n), **calibration_calls(rng, n)}


def leaves(args):
    """Paths to the complex arrays among the arguments: whole arrays, and the
    receiver waves of recordings."""
    out = []
    for i, a in enumerate(args):
        if isinstance(a, np.ndarray) and a.dtype == complex:
            out.append((i,))
        elif isinstance(a, dict) and a is not PORTS:
            out += [(i, k) for k in sorted(PORTS.values()) if k > 2]
    return out


def with_real(args, chosen):
    args = [dict(a) if isinstance(a, dict) else a for a in args]
    for path in chosen:
        if len(path) == 1:
            args[path[0]] = args[path[0]].real.copy()
        else:
            args[path[0]][path[1]] = args[path[0]][path[1]].real.copy()
    return args


def mixes(args):
    paths = leaves(args)
    for r in range(len(paths) + 1):
        yield from itertools.combinations(paths, r)


NAMES = list(all_calls(np.random.default_rng(0), 2))


@pytest.mark.parametrize("n", [1, 6])
@pytest.mark.parametrize("name", NAMES)
def test_every_real_complex_mix(hidden, rng, name, n):
    args, exact = all_calls(rng, n)[name]
    func = getattr(hidden, name)
    for chosen in mixes(args):
        mixed = with_real(args, chosen)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            native, reference = both_paths(func, *mixed)
        if not isinstance(native, tuple):
            native, reference = (native,), (reference,)
        for a, b in zip(native, reference):
            where = f"{name} with real {chosen}"
            assert (a.dtype, a.shape, a.strides) == (b.dtype, b.shape, b.strides), where
            if exact:
                np.testing.assert_array_equal(a, b, err_msg=where)
            elif np.isfinite(b).all():
                close(a, b, 1e-12)
            else:
                np.testing.assert_allclose(a, b, rtol=1e-12, equal_nan=True, err_msg=where)
