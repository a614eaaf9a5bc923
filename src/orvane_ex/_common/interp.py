"""Values on frequency grids, moved onto other grids: shared by kits' data
standards and saved calibrations."""
from typing import Literal

import numpy as np

# how values move between grids
Interpolation = Literal["linear", "cubic"]


def interpolate(x: np.ndarray, y: np.ndarray, xi: np.ndarray, kind: Interpolation = "linear") -> np.ndarray:
    """y (first axis on the increasing grid x) at the points xi inside x's span:
    'linear' interpolates real and imaginary parts linearly, 'cubic' with a
    cubic spline. Points of xi on x keep their values exactly."""
    flat = y.reshape(len(x), -1)
    if kind == "linear":
        out = np.empty((len(xi), flat.shape[1]), np.result_type(flat, float))
        for j in range(flat.shape[1]):
            re = np.interp(xi, x, flat[:, j].real)
            out[:, j] = re + 1j * np.interp(xi, x, flat[:, j].imag) if np.iscomplexobj(flat) else re
    else:
        from scipy.interpolate import CubicSpline

        out = CubicSpline(x, flat, axis=0)(xi) if len(x) > 2 else interpolate(x, y, xi, "linear").reshape(
            len(xi), -1)
    where = np.searchsorted(x, xi).clip(0, len(x) - 1)
    hit = x[where] == xi
    out[hit] = flat[where[hit]]
    return out.reshape((len(xi),) + y.shape[1:])
