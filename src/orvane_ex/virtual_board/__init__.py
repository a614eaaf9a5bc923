"""A virtual QLM-417 board: the driver's board and settings objects over a
model of a two-port, four-receiver analyser, so that every function runs
without the hardware (see `Board`)."""
from .board import Board
from .devices import builtin_device, device_from_file, standards
from .fixture import PCBFixture
from .medium import PlanarMedium
from .plan import PORTS, FreqRange, Settings

__all__ = ["Board", "Settings", "FreqRange", "PlanarMedium", "PCBFixture", "PORTS", "standards", "builtin_device",
           "device_from_file"]
