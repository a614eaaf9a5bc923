"""S-parameters extended down to 0 Hz on a harmonic grid, for low-pass mode."""
from __future__ import annotations

import numpy as np

from .._common.network import take


def _linear(f0, f1, y0, y1, x):
    return y0 + (y1 - y0) * ((x - f0) / (f1 - f0))


def extrapolate_to_dc(f, s=None, *, points: int | None = None, dc=None, kind: str | int = "cubic",
                      coords: str = "cart", convention: str = "engineering"):
    """S-parameters on the harmonic grid 0, df, 2 df, ... up to the last
    frequency, as low-pass mode needs.

    The points below the first frequency come from a straight line through
    the first two points in magnitude and unwrapped phase; the DC value is
    that line's value at 0 Hz, made real (the DC value of a real network is
    real) unless `dc` gives it. Everything is then interpolated onto the new
    grid. When the first frequency is a multiple of the step and `points` is
    left to its default, the measured points are kept as they are.

    Parameters
    ----------
    f : array_like or skrf.Network
        Frequencies (Hz), increasing; or a Network (then `s` is omitted).
    s : array_like, optional
        S-parameters, [n] or [n, p, p].
    points : int, optional
        Points of the new grid, DC included. Default: the points given plus
        those that fit below the first frequency at the first step.
    dc : complex or array_like, optional
        The value at 0 Hz ([p, p] for a multiport); default extrapolated.
    kind : str or int
        Interpolation onto the new grid, as scipy.interpolate.interp1d takes
        it ('linear', 'quadratic', 'cubic', a spline order).
    coords : {'cart', 'polar'}
        Interpolate real and imaginary parts, or magnitude and unwrapped phase.
    convention : {'engineering', 'board'}
        Phase convention of array data; results come back in it.

    Returns
    -------
    (f, s) or skrf.Network
        The new grid and values, or a Network (as given).

    Notes
    -----
    This is scikit-rf's ``Network.extrapolate_to_dc`` (without its
    'rational' kind); the values agree with it to rounding. A grid that
    already starts at 0 Hz is returned as given.
    """
    from scipy.interpolate import interp1d

    data = take(f, s, convention=convention)
    f, s = data.f, data.s
    if f[0] == 0:
        return data.back(f, s.copy())
    if coords not in ("cart", "polar"):
        raise ValueError(f"coords must be 'cart' or 'polar', not {coords!r}")
    step = f[1] - f[0]
    if points is None:
        points = len(f) + int(round(f[0] / step))
    if isinstance(points, bool) or not isinstance(points, (int, np.integer)) or points < 2:
        raise ValueError(f"points must be a whole number >= 2, not {points!r}")
    new_step = f[-1] / (points - 1)
    low_f = np.zeros(0)
    low_s = np.zeros((0,) + s.shape[1:], complex)
    if dc is None:
        rad = np.unwrap(np.angle(s[:2]), axis=0)
        mag = np.abs(s[:2])

        def line(x):
            return _linear(f[0], f[1], mag[0], mag[1], x) * np.exp(1j * _linear(f[0], f[1], rad[0], rad[1], x))

        dc = line(0.0)
        if f[0] >= 2 * new_step:
            low_f = np.linspace(new_step, (points - len(f) - 1) * new_step, points - len(f) - 1)
            low_s = np.array([line(x) for x in low_f]).reshape((len(low_f),) + s.shape[1:])
    else:
        try:
            dc = np.broadcast_to(np.asarray(dc, complex), s.shape[1:])
        except (TypeError, ValueError):
            raise ValueError(f"dc must be one value per S-parameter, shape {s.shape[1:]}") from None
        if not np.all(np.isfinite(dc)):
            raise ValueError("dc must be finite")
    f_all = np.concatenate([[0.0], low_f, f])
    s_all = np.concatenate([np.reshape(dc, (1,) + s.shape[1:]), low_s, s])
    new_f = np.linspace(0.0, f[-1], points)
    try:
        if coords == "cart":
            s_new = interp1d(f_all, s_all, axis=0, kind=kind)(new_f)
        else:
            rad = np.unwrap(np.angle(s_all), axis=0)
            s_new = (interp1d(f_all, np.abs(s_all), axis=0, kind=kind)(new_f)
                     * np.exp(1j * interp1d(f_all, rad, axis=0, kind=kind)(new_f)))
    except ValueError as e:
        raise ValueError(f"interpolation ({kind!r}) onto {points} points: {e}") from None
    s_new = np.asarray(s_new, complex)
    s_new[0] = s_new[0].real
    return data.back(new_f, s_new)
