"""TRL and multiline TRL: this import path is kept for scripts written before
the package was grouped by area; the code lives in `orvane_ex.calibration.trl`."""
from .calibration.trl import *  # noqa: F401,F403
from .calibration.trl import __all__  # noqa: F401
