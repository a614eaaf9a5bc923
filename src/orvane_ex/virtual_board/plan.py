"""The board's frequency plan, its settings object and the port map."""
import numpy as np

PORTS = {"Tx1": 1, "Tx2": 2, "Rx1A": 3, "Rx1B": 4, "Rx2A": 5, "Rx2B": 6}


class FreqRange:
    """The frequency plan: `numFreqPoints` points from `start` to `stop` Hz."""

    def __init__(self, start: float = 1e9, stop: float = 6e9, numFreqPoints: int = 201) -> None:
        self.start = float(start)
        self.stop = float(stop)
        self.numFreqPoints = int(numFreqPoints)

    @property
    def f(self) -> np.ndarray:
        return np.linspace(self.start, self.stop, self.numFreqPoints)


class Settings:
    """The settings object: `txtr` picks the transmitting board port."""

    def __init__(self, start: float = 1e9, stop: float = 6e9, points: int = 201) -> None:
        self.txtr = PORTS["Tx1"]
        self.freqRange = FreqRange(start, stop, points)
