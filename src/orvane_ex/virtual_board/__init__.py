"""A virtual QLM-417 board: the driver's board and settings objects over a
model of a two-port, four-receiver analyser, so that every function runs
without the hardware (see `Board`)."""
from .board import Board
from .devices import builtin_device, device_from_file, standards
from .fixtures import behind, launch_fixture, write_fixtured
from .medium import PlanarMedium
from .plan import PORTS, FreqRange, Settings

__all__ = ["Board", "Settings", "FreqRange", "PlanarMedium", "PORTS", "standards", "builtin_device",
           "device_from_file", "launch_fixture", "behind", "write_fixtured"]
