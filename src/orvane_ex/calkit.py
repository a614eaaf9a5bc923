"""Calibration kits: this import path is kept for scripts written before the
package was grouped by area; the code lives in `orvane_ex.calibration.kit`."""
from .calibration.kit import *  # noqa: F401,F403
from .calibration.kit import __all__  # noqa: F401
