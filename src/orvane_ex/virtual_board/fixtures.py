"""Test fixtures for the virtual board: a device mounted behind launches that
reflect, as on a test board, so that there is something to gate away.

The board measures a device from a Touchstone file; `write_fixtured` writes
the device between two fixtures into one, so that the board measures it
behind them (`Board(settings, device=path)`)."""
from __future__ import annotations

import numpy as np

from .._common.cascade import cascade


def launch_fixture(f, *, capacitance: float = 0.5e-12, delay: float = 3e-9, loss_db: float = 0.5,
                   z0: float = 50.0) -> np.ndarray:
    """A fixture half [n,2,2], e^{jwt}, port 1 towards the analyser: a launch
    (a shunt capacitance, F) then a matched line of `delay` seconds whose
    loss grows as sqrt(f) to `loss_db` at the highest frequency. The default
    launch reflects about -7 dB at 6 GHz."""
    f = np.asarray(f, float)
    y = 2j * np.pi * f * capacitance * z0
    launch = np.empty((len(f), 2, 2), complex)
    launch[:, 0, 0] = launch[:, 1, 1] = -y / (2 + y)
    launch[:, 0, 1] = launch[:, 1, 0] = 2 / (2 + y)
    line = np.zeros((len(f), 2, 2), complex)
    line[:, 0, 1] = line[:, 1, 0] = 10 ** (-loss_db * np.sqrt(f / f[-1]) / 20) * np.exp(-2j * np.pi * f * delay)
    return cascade(launch, line)


def behind(device: np.ndarray, fixture: np.ndarray) -> np.ndarray:
    """The device [n,2,2] between the fixture (at port 1) and its mirror image
    (at port 2), all e^{jwt}."""
    return cascade(fixture, device, np.asarray(fixture)[:, ::-1, ::-1])


def write_fixtured(path, f, device: np.ndarray, fixture: np.ndarray) -> str:
    """Writes the device behind the fixtures as a Touchstone file (e^{jwt})
    for the board to measure; returns the path."""
    from ..files import touchstone

    touchstone.write(path, f, behind(device, fixture), comment="a device behind two launch fixtures")
    return str(path)
