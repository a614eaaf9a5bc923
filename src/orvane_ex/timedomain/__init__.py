"""Time domain: impulse and step responses, TDR impedance profiles and time
gating of S-parameters.

Everything takes either arrays (f in Hz, evenly spaced; S [n] or [n, p, p],
in the e^{jwt} convention unless ``convention='board'``) or a scikit-rf
Network, and gives frequency-domain results back in the form it was given
(a Network for a Network).

- `impulse_response`, `step_response`, `impedance_profile`: low-pass mode
  (a real network's Hermitian spectrum from 0 Hz: real responses, twice the
  resolution, steps and impedances) and band-pass mode (the measured band
  alone: the envelope of the impulse).
- `extrapolate_to_dc`: the harmonic grid from 0 Hz low-pass mode needs.
- `gate`: band-pass and notch gates in either mode, any gate shape, given as
  start/stop or centre/span, with the gate's loss and band-edge roll-off
  compensated.
- `window_properties`: side-lobe level, impulse width and step rise time of
  a window (see `orvane_ex.timedomain.windows` for the trade-off).

The methods are scikit-rf's (`Network.impulse_response`, `step_response`,
`extrapolate_to_dc`, `time_gate`) and give its numbers where the docstrings
say so; the defaults and the cases where we refuse instead are named there.
"""
from .dc import extrapolate_to_dc
from .gating import gate
from .transform import impedance_profile, impulse_response, step_response, time_axis
from .windows import Window, WindowProperties, window_properties

__all__ = ["impulse_response", "step_response", "impedance_profile", "extrapolate_to_dc", "gate",
           "window_properties", "WindowProperties", "Window", "time_axis"]
