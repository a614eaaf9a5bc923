"""What the virtual board can measure besides its lines: the kit's standards
and the device (built in, or from a Touchstone file)."""
import numpy as np


def standards(f, ideal=True, kit=None):
    """Reflections of Open, Short, Load ([n] each) and the thru's S ([n,2,2]):
    ideal, or the calibration kit's model (the shipped example kit unless
    `kit` is given) in the board's phase convention."""
    n = len(f)
    if ideal:
        thru = np.zeros((n, 2, 2), complex)
        thru[:, 0, 1] = thru[:, 1, 0] = 1
        return {"OPEN": np.ones(n, complex), "SHORT": -np.ones(n, complex), "LOAD": np.zeros(n, complex),
                "THRU": thru}
    from ..calibration.kit import example_kit

    kit = kit or example_kit()
    G = kit.reflect(f)
    return {"OPEN": G[:, 0], "SHORT": G[:, 1], "LOAD": G[:, 2], "THRU": kit.thru(f)}


def builtin_device(f, f0=None, q=4.0):
    """A lossy series resonator in the line: a simple band-pass two-port, in
    the e^{jwt} convention (its reactance j q (f/f0 - f0/f))."""
    f0 = f0 if f0 is not None else np.sqrt(f[0] * f[-1])
    x = 1j * q * (f / f0 - f0 / f)
    S = np.empty((len(f), 2, 2), complex)
    S[:, 0, 0] = S[:, 1, 1] = 0.97 * x / (1 + x)
    S[:, 0, 1] = S[:, 1, 0] = 0.95 / (1 + x)
    return S


def device_from_file(path, f):
    """A device's S-parameters from a Touchstone file (any version), on the
    board's grid, as the file holds them (the e^{jwt} convention),
    interpolated linearly in real and imaginary parts as scikit-rf's
    `Network.interpolate` does."""
    from ..files import touchstone

    ff, s, _ = touchstone.read(path)
    if s.shape[1] != 2:
        raise ValueError(f"{path}: a two-port device is needed, this file has {s.shape[1]} ports")
    if f[0] < ff[0] or f[-1] > ff[-1]:
        raise ValueError(f"{path} covers {ff[0]:g} to {ff[-1]:g} Hz, the plan needs {f[0]:g} to {f[-1]:g} Hz")
    flat = s.reshape(len(ff), 4)
    out = np.stack([np.interp(f, ff, flat[:, k].real) + 1j * np.interp(f, ff, flat[:, k].imag) for k in range(4)], 1)
    return out.reshape(len(f), 2, 2)
