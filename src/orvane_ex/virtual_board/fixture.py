"""A printed test fixture for 2x-thru de-embedding: two halves that differ
(each a coaxial launch, a capacitive discontinuity, and traces of other
impedances than the reference on a lossy board), their 2x-thru, and the
fixture around the device. The board connects them at the prompts
"2X-THRU" and "FIXTURE-DUT"."""
from __future__ import annotations

import numpy as np

from .._common.cascade import cascade
from .._common.constants import SPEED_OF_LIGHT

# what the board's prompts connect
NAMES = ("2X-THRU", "FIXTURE-DUT")


def line(f, z, length, eps_eff, loss_db_per_m_ghz, z0=50.0) -> np.ndarray:
    """A uniform line of impedance z (ohm) and `length` (m) in a z0 system,
    e^{jwt} convention: loss in dB/m at 1 GHz, rising as sqrt(f) (conductor)
    and f (dielectric) half and half."""
    f = np.asarray(f, float)
    g = f / 1e9
    alpha = loss_db_per_m_ghz / 8.686 * (0.5 * np.sqrt(g) + 0.5 * g)
    gamma = alpha + 2j * np.pi * f * np.sqrt(eps_eff) / SPEED_OF_LIGHT
    gl = gamma * length
    sh, ch = np.sinh(gl), np.cosh(gl)
    den = (z ** 2 + z0 ** 2) * sh + 2 * z0 * z * ch
    S = np.empty((len(f), 2, 2), complex)
    S[:, 0, 0] = S[:, 1, 1] = (z ** 2 - z0 ** 2) * sh / den
    S[:, 0, 1] = S[:, 1, 0] = 2 * z0 * z / den
    return S


def shunt_capacitance(f, c, z0=50.0) -> np.ndarray:
    """A capacitance c (F) to ground between two lines of z0, e^{jwt}."""
    y = 2j * np.pi * np.asarray(f, float) * c * z0
    S = np.empty((len(f), 2, 2), complex)
    S[:, 0, 0] = S[:, 1, 1] = -y / (2 + y)
    S[:, 0, 1] = S[:, 1, 0] = 2 / (2 + y)
    return S


def series_inductance(f, inductance, z0=50.0) -> np.ndarray:
    """An inductance (H) in series between two lines of z0, e^{jwt}."""
    x = 2j * np.pi * np.asarray(f, float) * inductance / z0
    S = np.empty((len(f), 2, 2), complex)
    S[:, 0, 0] = S[:, 1, 1] = x / (2 + x)
    S[:, 0, 1] = S[:, 1, 0] = 2 / (2 + x)
    return S


class PCBFixture:
    """Two different fixture halves on a lossy printed board.

    Each half, from the analyser to the device: the connector's launch (a
    series inductance, then a pad's capacitance to ground) and traces of the
    given (impedance, length) pairs. Side 2 is given the same way, from its
    analyser port towards the device.
    """

    def __init__(self, side1=((46.0, 0.015), (53.0, 0.010)), side2=((55.0, 0.012), (48.0, 0.013)),
                 launch1=(0.12e-9, 0.10e-12), launch2=(0.08e-9, 0.14e-12), eps_eff=3.4, loss_db_per_m_ghz=6.0,
                 z0=50.0):
        self.side1_traces, self.side2_traces = tuple(side1), tuple(side2)
        self.launch1, self.launch2 = launch1, launch2
        self.eps_eff, self.loss = eps_eff, loss_db_per_m_ghz
        self.z0 = z0

    def half(self, f, side: int) -> np.ndarray:
        """S [n,2,2] of one half, e^{jwt}: port 1 at the analyser, port 2 at the device."""
        traces, (inductance, capacitance) = ((self.side1_traces, self.launch1) if side == 1
                                             else (self.side2_traces, self.launch2))
        parts = [series_inductance(f, inductance, self.z0), shunt_capacitance(f, capacitance, self.z0)]
        parts += [line(f, z, length, self.eps_eff, self.loss, self.z0) for z, length in traces]
        return cascade(*parts)

    def thru2x(self, f) -> np.ndarray:
        """The two halves joined: the 2x-thru, e^{jwt}."""
        return cascade(self.half(f, 1), self.half(f, 2)[:, ::-1, ::-1])

    def around(self, f, device) -> np.ndarray:
        """Fixture, device [n,2,2], fixture: what the analyser sees, e^{jwt}."""
        return cascade(self.half(f, 1), device, self.half(f, 2)[:, ::-1, ::-1])

    def network(self, name: str, f, device) -> np.ndarray:
        """What the prompt `name` (one of NAMES) connects, e^{jwt}."""
        return self.thru2x(f) if name == "2X-THRU" else self.around(f, device)
