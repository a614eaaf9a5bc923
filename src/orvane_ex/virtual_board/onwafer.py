"""On-wafer work on the virtual board: a pair of probes and an impedance
standard substrate (ISS) with its thru, open, short and load."""
import numpy as np

from .._common.convention import in_convention


class ImpedanceStandardSubstrate:
    """An impedance standard substrate probed through two probes.

    The standards sit at the probe tips: a thru of `thru_delay` seconds (a
    matched, lossless line; 0 for the flush thru of TRM), an open of
    `open_capacitance` farad, a short of `short_inductance` henry and a load
    of `load_resistance` ohm in series with `load_inductance` henry, against
    50 ohm. The probes are error boxes of their own between the board's ports
    and the tips: a line of `probe_delay` seconds with `probe_loss_db` of
    loss and a small mismatch at each end, drawn from `seed`.

    With a board (``Board(settings, wafer=ImpedanceStandardSubstrate())``) the
    prompts "THRU", "OPEN", "SHORT" and "LOAD" connect the substrate's
    standards (on both probes at once) and any other name the device.
    """

    def __init__(self, thru_delay=1e-12, open_capacitance=4e-15, short_inductance=3e-12, load_resistance=50.2,
                 load_inductance=3e-12, probe_delay=45e-12, probe_loss_db=0.6, probe_mismatch=0.03, seed=7):
        self.thru_delay = float(thru_delay)
        self.open_capacitance = float(open_capacitance)
        self.short_inductance = float(short_inductance)
        self.load_resistance = float(load_resistance)
        self.load_inductance = float(load_inductance)
        self.probe_delay, self.probe_loss_db = float(probe_delay), float(probe_loss_db)
        self.probe_mismatch = float(probe_mismatch)
        self.seed = seed

    def reflections(self, f, z0=50.0) -> dict:
        """The open's, short's and load's reflections [n] against z0, e^{jwt}."""
        w = 2 * np.pi * np.asarray(f, float)
        z = {"OPEN": 1 / (1j * w * self.open_capacitance), "SHORT": 1j * w * self.short_inductance,
             "LOAD": self.load_resistance + 1j * w * self.load_inductance}
        return {k: (v - z0) / (v + z0) for k, v in z.items()}

    def thru(self, f) -> np.ndarray:
        """The thru's S-parameters [n, 2, 2], e^{jwt}."""
        S = np.zeros((len(f), 2, 2), complex)
        S[:, 0, 1] = S[:, 1, 0] = np.exp(-2j * np.pi * np.asarray(f, float) * self.thru_delay)
        return S

    def standards(self, f) -> dict:
        """The standards as the board models them: reflections [n] and the
        thru [n, 2, 2], in the board's phase convention."""
        out = {k: in_convention(v, "board") for k, v in self.reflections(f).items()}
        out["THRU"] = in_convention(self.thru(f), "board")
        return out

    def probes(self, f) -> tuple:
        """The two probes as error boxes [n, 2, 2] in the board's convention:
        port 1's from the board to its tip, port 2's from its tip to the board."""
        f = np.asarray(f, float)
        r = np.random.default_rng(self.seed)
        out = []
        for _ in range(2):
            S = np.empty((len(f), 2, 2), complex)
            through = 10 ** (-self.probe_loss_db / 20 * np.sqrt(f / f[-1])) * np.exp(-2j * np.pi * f * self.probe_delay)
            S[:, 0, 1] = S[:, 1, 0] = through
            for i in (0, 1):
                S[:, i, i] = self.probe_mismatch * np.exp(1j * r.uniform(-np.pi, np.pi)) * np.exp(
                    -2j * np.pi * f * r.uniform(5e-12, 20e-12))
            out.append(in_convention(S, "board"))
        return out[0], out[1][:, ::-1, ::-1].copy()
