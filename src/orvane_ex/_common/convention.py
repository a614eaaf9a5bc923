"""The two phase conventions data come in.

"engineering" is the e^{jwt} convention of Touchstone files, kit datasheets
and scikit-rf: a delay's phase falls with frequency. "board" is the QLM-417's
own: a delay's phase rises with frequency. The two differ by a complex
conjugate.
"""
from typing import Literal

import numpy as np

Convention = Literal["board", "engineering"]
CONVENTIONS = ("board", "engineering")
# how a printed phase names its convention
CONVENTION_NAMES = {"engineering": "e^{jwt} (Touchstone files, other analysers)",
                    "board": "the QLM-417's (conjugate of e^{jwt})"}


def in_convention(values: np.ndarray, convention: str) -> np.ndarray:
    """Values of the e^{jwt} (engineering) convention in `convention`, or back:
    the two differ by a complex conjugate, so the same call converts either way."""
    if convention == "engineering":
        return values
    if convention == "board":
        return np.conj(values)
    raise ValueError(f"convention must be 'board' or 'engineering', not {convention!r}")
