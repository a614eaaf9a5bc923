"""Time gating: keep (or remove) what a response does in a span of time.

The spectrum is windowed, transformed to time, multiplied by the gate and
transformed back. A gate cut into a band-limited response does two things
besides removing what lies outside it: the gate's own shape weighs down the
response inside it ("gate loss"), and near the band edges the gated spectrum
rolls off towards half its value, because the convolution with the gate's
spectrum reaches beyond the measured band. Analysers correct both by
normalising; so does `gate` by default: the response is divided by the
gated response of an impulse at the gate's centre (a unit reflection
delayed by the gate centre, passed through the same window, transforms and
gate) and multiplied by that impulse's spectrum. For a response at the
centre of the gate this is exact at every frequency, the band edges
included; the frequency window cancels out of the ratio, so no window zero
is divided by.
"""
from __future__ import annotations

import numpy as np

from .._common.network import take, uniform_step
from . import windows as _windows
from .transform import time_axis
from .windows import Window


def _span(start, stop, center, span):
    given = {k: v for k, v in dict(start=start, stop=stop, center=center, span=span).items() if v is not None}
    for k, v in given.items():
        if isinstance(v, bool) or not isinstance(v, (int, float, np.integer, np.floating)) or not np.isfinite(v):
            raise ValueError(f"{k} must be a finite time in seconds, not {v!r}")
    if set(given) == {"start", "stop"}:
        if not start < stop:
            raise ValueError(f"the gate's start ({start:g} s) must come before its stop ({stop:g} s)")
        return float(start), float(stop)
    if set(given) == {"center", "span"}:
        if not span > 0:
            raise ValueError(f"the gate's span must be positive, not {span:g} s")
        return center - span / 2, center + span / 2
    raise ValueError("give the gate as start and stop, or as center and span (seconds)")


def gate(f, s=None, *, start: float | None = None, stop: float | None = None, center: float | None = None,
         span: float | None = None, mode: str = "bandpass", shape: Window = ("tukey", 0.5),
         window: Window = ("kaiser", 6), keep: str = "inside", compensate: bool = True,
         convention: str = "engineering"):
    """S-parameters time-gated: what happens between two times kept (or removed).

    Parameters
    ----------
    f : array_like or skrf.Network
        Frequencies (Hz), evenly spaced; or a Network (then `s` is omitted).
    s : array_like, optional
        S-parameters, [n] or [n, p, p]; every one is gated with the same gate
        (gate a reflection and a transmission separately: they arrive at
        different times).
    start, stop : float, optional
        The gate's ends (s).
    center, span : float, optional
        Or its centre and full width (s).
    mode : {'bandpass', 'lowpass'}
        Band-pass mode works on the measured band alone; low-pass mode takes
        the spectrum as Hermitian (a real network), with twice the time
        resolution, and needs a grid starting at 0 Hz (`extrapolate_to_dc`).
    shape : str, float, tuple, callable or None
        The gate's shape over [start, stop], as a window (sampled symmetric
        about the gate's middle sample): ('tukey', 0.5) (default: flat over
        the middle half of the span, cosine edges), ('tukey', a) (flat over
        the middle 1 - a), 'boxcar' (a rectangle: steepest, but its ringing
        spreads over the band), ('kaiser', 6) (scikit-rf's default), 'hann',
        ... A flat top passes a response that is not exactly at the centre,
        or lasts a while, unweighted; soft edges ring less in frequency.
    window : str, float, tuple, callable or None
        Frequency window applied before the transform and taken out after
        (default ('kaiser', 6)): it lowers the time side lobes of responses
        outside the gate that would otherwise leak in.
    keep : {'inside', 'outside'}
        Keep what is inside the gate (a band-pass gate), or remove it (a
        notch gate: the response less what is inside).
    compensate : bool
        Normalise by the gated response of an impulse at the gate's centre,
        on a spectrum padded to twice its points (default; see the module's
        notes): removes the gate loss and the roll-off at the band edges.
        False leaves both and takes the window out by division, as
        scikit-rf does.
    convention : {'engineering', 'board'}
        Phase convention of array data; the result comes back in it.

    Returns
    -------
    ndarray or skrf.Network
        The gated S-parameters on the same grid, or a Network (as given).

    Notes
    -----
    The gate is sampled on the transform's own time axis (spaced 1 / (m df)
    in band-pass mode, 1 / ((2m - 1) df) in low-pass mode, for m points, or
    on the twice finer axis of the padded spectrum when compensating), its
    ends at the samples nearest to `start` and `stop`. With
    ``compensate=False`` this is scikit-rf's ``time_gate`` with
    ``method='fft'`` (band-pass) or ``'rfft'`` (low-pass), ``window=shape``
    and ``fft_window=window``: the values agree with it. Deliberate
    differences: a gate reaching beyond the time axis, one spanning fewer
    than three samples, low-pass mode without a DC point and (uncompensated)
    a window with zeros, which cannot be taken out again, are refused instead
    of giving clipped, wrong or infinite values; and every S-parameter of a
    multiport is gated, not only one-ports. The default shape differs
    (scikit-rf's is ('kaiser', 6), weighing a response that lasts a while
    down towards the gate's ends), and so does the default window
    (scikit-rf's 'cosine').
    """
    if mode not in ("bandpass", "lowpass"):
        raise ValueError(f"mode must be 'bandpass' or 'lowpass', not {mode!r}")
    if keep not in ("inside", "outside"):
        raise ValueError(f"keep must be 'inside' or 'outside', not {keep!r}")
    data = take(f, s, convention=convention)
    lo, hi = _span(start, stop, center, span)
    f, x = data.f, data.s
    step = uniform_step(f, "gating")
    m = len(f)
    lowpass = mode == "lowpass"
    if lowpass and f[0] != 0:
        raise ValueError(f"low-pass gating needs a grid starting at 0 Hz (this one starts at {f[0]:g} Hz): "
                         "extrapolate_to_dc() adds the points below it, or use mode='bandpass'")
    # Compensated gating works on a spectrum padded with zeros to twice its
    # points, so that the gate's convolution in frequency runs into zeros
    # beyond the band instead of wrapping round from the other band edge.
    pad = m if compensate else 0
    n_t = 2 * (m + pad) - 1 if lowpass else m + pad
    t = time_axis(n_t, step)
    dt = t[1] - t[0]
    if lo < t[0] - dt / 2 or hi > t[-1] + dt / 2:
        raise ValueError(f"the gate {lo:.4g} to {hi:.4g} s reaches beyond the time axis, {t[0]:.4g} to "
                         f"{t[-1]:.4g} s for {m} points {step:g} Hz apart")
    i0, i1 = int(np.argmin(np.abs(t - lo))), int(np.argmin(np.abs(t - hi)))
    if i1 - i0 + 1 < 3:
        raise ValueError(f"the gate {lo:.4g} to {hi:.4g} s spans {i1 - i0 + 1} time samples of {dt:.4g} s; "
                         "widen it to three or more")
    g = np.zeros(n_t)
    g[i0:i1 + 1] = _windows.samples(shape, i1 - i0 + 1, symmetric=True)
    w = _windows.lowpass(window, m) if lowpass else _windows.bandpass(window, m)

    def gated(y):
        # windowed, into time, gated, back: the window is still in
        y = y * w.reshape((m,) + (1,) * (y.ndim - 1))
        gg = g.reshape((n_t,) + (1,) * (y.ndim - 1))
        if lowpass:
            td = np.fft.fftshift(np.fft.irfft(y, n=n_t, axis=0), axes=0)
            return np.fft.rfft(np.fft.ifftshift(td * gg, axes=0), axis=0)[:m]
        td = np.fft.fftshift(np.fft.ifft(y, n=n_t, axis=0), axes=0)
        return np.fft.fft(np.fft.ifftshift(td * gg, axes=0), axis=0)[:m]

    inside = gated(x)
    if compensate:
        reference = np.exp(-2j * np.pi * f * (t[i0] + t[i1]) / 2)
        norm = reference / gated(reference)
        inside = inside * norm.reshape((m,) + (1,) * (x.ndim - 1))
    else:
        if np.any(w == 0):
            raise ValueError(f"the window {window!r} is zero at {np.count_nonzero(w == 0)} of the points, so it "
                             "cannot be taken out of the gated spectrum: choose another or compensate=True")
        inside = inside / w.reshape((m,) + (1,) * (x.ndim - 1))
    out = inside if keep == "inside" else x - inside
    if data.network is None:
        return data.back(f, out)[1]
    return data.back(f, out)
