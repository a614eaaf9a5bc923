"""A printed medium for TRL: its lines, thru and reflect."""
import numpy as np

from .._common.constants import SPEED_OF_LIGHT


class PlanarMedium:
    """Printed line standards for TRL: a lossy, dispersive microstrip-like
    medium of 50 ohm, its line lengths (LINE 1, LINE 2, ...), the thru's
    length and a short-like reflect of unknown value.

    Effective permittivity eps_r - (eps_r - eps_eff0) / (1 + (f / f_d)^2);
    attenuation conductor_loss sqrt(f / 1 GHz) + dielectric_loss f / 1 GHz
    (Np/m).
    """

    def __init__(self, line_lengths=(0.003, 0.010, 0.035), thru_length=0.0, eps_r=4.3, eps_eff0=3.2, f_d=15e9,
                 conductor_loss=1.0, dielectric_loss=0.4, reflect_offset=0.0005):
        self.line_lengths = tuple(float(x) for x in line_lengths)
        self.thru_length = float(thru_length)
        self.eps_r, self.eps_eff0, self.f_d = eps_r, eps_eff0, f_d
        self.conductor_loss, self.dielectric_loss = conductor_loss, dielectric_loss
        self.reflect_offset = reflect_offset

    def eps_eff(self, f):
        return self.eps_r - (self.eps_r - self.eps_eff0) / (1 + (np.asarray(f) / self.f_d) ** 2)

    def gamma(self, f):
        """Propagation constant (1/m), e^{jwt} convention: a line passes e^{-gamma l}."""
        f = np.asarray(f, dtype=float)
        alpha = self.conductor_loss * np.sqrt(f / 1e9) + self.dielectric_loss * f / 1e9
        return alpha + 1j * 2 * np.pi * f * np.sqrt(self.eps_eff(f)) / SPEED_OF_LIGHT

    def line(self, f, length):
        """A matched line in the board's phase convention."""
        S = np.zeros((len(f), 2, 2), complex)
        S[:, 0, 1] = S[:, 1, 0] = np.conj(np.exp(-self.gamma(f) * length))
        return S

    def reflect(self, f):
        """The reflect: a short behind a short stub of the line, board convention."""
        return np.conj(-0.995 * np.exp(-2 * self.gamma(f) * self.reflect_offset))
