"""orvane-cal, the command line: calibration kits, saved calibrations and
batch correction of Touchstone files."""
from .main import main

__all__ = ["main"]
