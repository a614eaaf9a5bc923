"""Impulse and step responses, and the impedance profile of a TDR."""
from __future__ import annotations

import numpy as np

from .._common.network import Data, take, uniform_step
from . import windows as _windows
from .windows import Window

_MODES = (None, "lowpass", "bandpass")


def _mode(data: Data, mode):
    if mode not in _MODES:
        raise ValueError(f"mode must be 'lowpass', 'bandpass' or None, not {mode!r}")
    if mode is None:
        mode = "lowpass" if data.f[0] == 0 else "bandpass"
    if mode == "lowpass" and data.f[0] != 0:
        raise ValueError(f"low-pass mode needs a grid starting at 0 Hz (this one starts at {data.f[0]:g} Hz): "
                         "extrapolate_to_dc() adds the points below it, or use mode='bandpass'")
    return mode


def _length(m: int, pad, n, lowpass: bool) -> int:
    """Number of time samples: 2(m + pad) - 1 in low-pass mode, m + pad in band-pass mode."""
    if isinstance(pad, bool) or not isinstance(pad, (int, np.integer)) or pad < 0:
        raise ValueError(f"pad must be a whole number of points >= 0, not {pad!r}")
    if n is None:
        return 2 * (m + pad) - 1 if lowpass else m + pad
    if isinstance(n, bool) or not isinstance(n, (int, np.integer)):
        raise ValueError(f"n must be a whole number of time samples, not {n!r}")
    least = 2 * (m - 1) if lowpass else m
    if n < least:
        raise ValueError(f"n = {n} time samples would drop frequency points: {m} points need n >= {least}")
    return int(n)


def time_axis(n: int, step: float) -> np.ndarray:
    """Times (s) of n samples of a transform over frequencies `step` Hz
    apart, zero in the middle (at index n // 2) as after fftshift."""
    return (np.arange(n) - n // 2) / (n * step)


def _impulse(data: Data, mode, window, pad, n):
    """(t, raw impulse, unity gain): the transform with numpy's 1/n and the
    window's weight left in, and the height a flat unit spectrum gives at 0."""
    mode = _mode(data, mode)
    step = uniform_step(data.f, f"the {mode} transform")
    m = len(data.f)
    lowpass = mode == "lowpass"
    n_t = _length(m, pad, n, lowpass)
    w = _windows.lowpass(window, m) if lowpass else _windows.bandpass(window, m)
    x = data.s * w.reshape((m,) + (1,) * (data.s.ndim - 1))
    if lowpass:
        y = np.fft.fftshift(np.fft.irfft(x, n=n_t, axis=0), axes=0)
        unity = np.fft.irfft(w, n=n_t)[0]
    else:
        y = np.fft.fftshift(np.fft.ifft(x, n=n_t, axis=0), axes=0)
        unity = np.sum(w) / n_t
    return time_axis(n_t, step), y, unity


def impulse_response(f, s=None, *, mode: str | None = None, window: Window = ("kaiser", 6), pad: int = 0,
                     n: int | None = None, normalize: bool = True, convention: str = "engineering"):
    """Impulse response of S-parameters (a reflection or a transmission).

    Parameters
    ----------
    f : array_like or skrf.Network
        Frequencies in Hz, evenly spaced; or a Network (then `s` is omitted).
    s : array_like, optional
        S-parameters, [n] or [n, p, p].
    mode : {None, 'lowpass', 'bandpass'}
        'lowpass': the spectrum is taken as Hermitian (a real network), so the
        response is real and has twice the resolution; the grid must start at
        0 Hz (see `extrapolate_to_dc`). 'bandpass': the measured band alone;
        the response is complex, its magnitude the envelope (the phase lacks
        the carrier at the start frequency). None: low-pass if the grid starts
        at 0 Hz, band-pass otherwise.
    window : str, float, tuple, callable or None
        Frequency window, as in `windows` (default ('kaiser', 6)); in
        low-pass mode its right half, 1 at DC.
    pad : int
        Zero points added above the last frequency: a finer time axis, the
        same resolution.
    n : int, optional
        Number of time samples (default 2(m + pad) - 1 in low-pass mode,
        m + pad in band-pass mode, for m points). Fewer than the points need
        is refused.
    normalize : bool
        Scale the response so that a frequency-flat reflection Gamma shows a
        peak of height Gamma whatever the window and the padding, as
        analysers show it (default). False leaves numpy's 1/n and the
        window's mean weight in, as scikit-rf's ``Network.impulse_response``
        does.
    convention : {'engineering', 'board'}
        Phase convention of array data: 'board' data are conjugated first, so
        that delays come out at positive times.

    Returns
    -------
    t : ndarray
        Times (s), 0 at index len(t) // 2, spaced 1 / (len(t) df).
    y : ndarray
        The response, [len(t)] or [len(t), p, p]; real in low-pass mode.

    Notes
    -----
    With ``normalize=False`` the values are scikit-rf's for the same window,
    padding and n (its `bandpass` argument is our `mode`). Deliberate
    differences: low-pass mode on a grid that does not start at 0 Hz, uneven
    grids and an `n` that would drop points are refused instead of giving a
    distorted response; for an even `n` in low-pass mode the time axis is
    spaced 1 / (n df) exactly (scikit-rf's spreads n samples over n steps).
    The default window here is ('kaiser', 6), scikit-rf's 'hamming'.
    """
    data = take(f, s, convention=convention)
    t, y, unity = _impulse(data, mode, window, pad, n)
    return t, (y / unity if normalize else y)


def step_response(f, s=None, *, window: Window = ("kaiser", 6), pad: int = 0, n: int | None = None,
                  convention: str = "engineering"):
    """Step response (low-pass mode): the running integral of the impulse
    response, in units of the S-parameter (its final value is the DC value).

    Parameters
    ----------
    f, s, window, pad, n, convention
        As for `impulse_response`; the grid must start at 0 Hz.

    Returns
    -------
    t : ndarray
        Times (s).
    y : ndarray
        The step response, real, [len(t)] or [len(t), p, p].

    Notes
    -----
    The impulse is integrated by the trapezoid rule from the first sample, as
    scikit-rf's ``Network.step_response`` does; the values agree with it for
    the same window, padding and n. A grid not starting at 0 Hz is refused
    (scikit-rf warns and gives a wrong step).
    """
    from scipy.integrate import cumulative_trapezoid

    data = take(f, s, convention=convention)
    t, y, _ = _impulse(data, "lowpass", window, pad, n)
    return t, cumulative_trapezoid(y, initial=0, axis=0)


def impedance_profile(f, s=None, *, z0: float | None = None, window: Window = ("kaiser", 6), pad: int = 0,
                      n: int | None = None, convention: str = "engineering"):
    """Impedance along a line from its reflection, as a TDR shows it.

    Z(t) = z0 (1 + rho(t)) / (1 - rho(t)), with rho the low-pass step
    response of the reflection. t is the round-trip time: a feature at
    distance d along a line of phase velocity v shows at t = 2 d / v.

    Parameters
    ----------
    f, s
        Frequencies (Hz, evenly spaced from 0 Hz) and one reflection [n]; or a
        one-port Network.
    z0 : float, optional
        Reference impedance (ohm): a Network's own (its first port's, real
        part) or 50.
    window, pad, n, convention
        As for `impulse_response`.

    Returns
    -------
    t : ndarray
        Times (s).
    z : ndarray
        Impedance (ohm); +inf where the step reaches 1 (an open).
    """
    data = take(f, s, convention=convention)
    if data.s.ndim != 1:
        raise ValueError("the impedance profile is of one reflection: pass s[:, i, i] (or net.s11), "
                         f"not S-parameters of shape {data.s.shape}")
    if z0 is None:
        z0 = float(np.real(data.network.z0[0, 0])) if data.network is not None else 50.0
    if not (np.isfinite(z0) and z0 > 0):
        raise ValueError(f"z0 must be a positive impedance in ohms, not {z0!r}")
    t, rho = step_response(data.f, data.s, window=window, pad=pad, n=n)
    with np.errstate(divide="ignore", invalid="ignore"):
        z = z0 * (1 + rho) / (1 - rho)
    z[rho >= 1] = np.inf
    return t, z
