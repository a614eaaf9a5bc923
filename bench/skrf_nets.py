"""scikit-rf networks from the [N,3] and [N,2,2] arrays the module's functions take,
shared by the benches."""
import numpy as np
import skrf


def network_maker(f):
    """A function that wraps an S array on the grid f (Hz) in a 50-ohm Network."""
    freq = skrf.Frequency.from_f(f, unit="Hz")
    return lambda s: skrf.Network(frequency=freq, s=s, z0=50)


def two_port_reflects(net, a, b):
    """The three reflect standards as two-ports: column i of a on port 1, of b on port 2."""
    out = []
    for i in range(3):
        s = np.zeros((len(a), 2, 2), complex)
        s[:, 0, 0], s[:, 1, 1] = a[:, i], b[:, i]
        out.append(net(s))
    return out
