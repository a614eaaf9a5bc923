"""The README's calibration, written with the types a checker sees."""
import numpy as np
import numpy.typing as npt

from orvane_ex import hidden
from orvane_ex.virtual_board import Board, Settings

ports = {"Tx1": 1, "Tx2": 2, "Rx1A": 3, "Rx1B": 4, "Rx2A": 5, "Rx2B": 6}
settings = Settings(start=1e9, stop=6e9, points=21)
board = Board(settings, seed=1)

Gm1, Gm2, Tm, Im = hidden.prompt2PortSOLT(board, settings, ports, isolation=True)
Gm1, Gm2, Tm = hidden.prompt2PortSOLT(board, settings, ports)
f: npt.NDArray[np.float64] = settings.freqRange.f
G, T = hidden.getIdealSparams(len(f))
fwd, rev = hidden.get12TermModel(G, Gm1, G, Gm2, T, Tm, Im)
Sm = hidden.prompt2PortMeasure(board, settings, ports, "DUT")
S = hidden.correct12Term(Sm, fwd, rev)
A, B, q = hidden.get8TermModel(G, Gm1, G, Gm2, T, Tm)
S8 = hidden.correct8Term(Sm, A, B, q)
hidden.writeSnP(f, S, "dut.s2p")
S_file, f_file = hidden.readSnP("dut.s2p")
resampled = hidden.readSnP("dut.s2p", f, "RI")
hidden.plotCompareDbDeg(f / 1e6, [Sm, S, S8], ["raw", "twelve-term", "eight-term"])
