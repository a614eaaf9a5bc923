"""Calibration methods: kits of standards, the error models built from them
(`solt`: one-port, response, eight-term, unknown thru, twelve-term; `trl`:
TRL and multiline TRL, `trl.trl` and `trl.multiline_trl`; `lrm`: the on-wafer LRM, TRM and LRRM,
`lrm.lrm`, `lrm.trm` and `lrm.lrrm`), applied to measurements, saved and loaded again."""
from .base import METHODS, Calibration, CalibrationFileError, EightTermModel, load, register
from .kit import CalKit, DataStandard, KitError, Load, Offset, Open, Short, Thru, example_kit
from .solt import EightTermCal, OnePortCal, ResponseCal, TwelveTermCal, UnknownThruCal
from .trl import MultilineTRLCal, TRLCal, TRLConditionWarning
from .lrm import LRMCal, LRRMCal, OnWaferWarning, TRMCal

__all__ = ["Calibration", "EightTermModel", "OnePortCal", "ResponseCal", "EightTermCal", "UnknownThruCal",
           "TwelveTermCal", "TRLCal", "MultilineTRLCal", "TRLConditionWarning", "LRMCal", "TRMCal", "LRRMCal",
           "OnWaferWarning", "load",
           "register", "METHODS", "CalibrationFileError", "CalKit", "Offset", "Open", "Short", "Load", "Thru",
           "DataStandard", "KitError", "example_kit"]
