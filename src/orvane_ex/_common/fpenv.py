"""Floating-point traps held off around our own numeric work.

A caller who enabled traps (feenableexcept, from a debugger or another
extension) makes every numpy operation that would only set a flag, a NaN
compared or a division by zero, kill the process instead. Our checks meet
such values on purpose, so they run with traps held and the caller's
environment restored after."""
import contextlib
import functools

from .. import _native


@contextlib.contextmanager
def traps_held():
    saved = _native.hold_fp_traps()
    try:
        yield
    finally:
        _native.restore_fp(saved)


def holding_traps(func):
    """`func` run inside `traps_held()`."""
    @functools.wraps(func)
    def wrapper(*args, **kwargs):
        with traps_held():
            return func(*args, **kwargs)

    return wrapper
