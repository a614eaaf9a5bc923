"""Calibration and measurement helpers for the QLM-417 vector network analyser.

The helpers live in the extension module ``orvane_ex.hidden``; importing this
package alone does not load it (importing it selects matplotlib's back end).
"""


def build_info():
    """What this build holds and what this process runs: a dict.

    ``kernels`` is the copy of the native kernels in use, ``"avx2"`` or
    ``"baseline"``, chosen at import from the running CPU; the environment
    variable ``ORVANE_EX_KERNELS=baseline`` forces the baseline copy (for
    tests and bug reports). Also ``cpu_has_avx2_fma``, ``avx2_kernels_built``,
    ``complex_products`` (how numpy rounds complex products on this CPU),
    ``compiler`` and ``python``.
    """
    from . import _native

    return _native.build_info()
