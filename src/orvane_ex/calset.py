"""Saved calibrations: this import path is kept for scripts written before the
package was grouped by area; the code lives in `orvane_ex.calibration`
(`base` and `solt`)."""
from .calibration.base import *  # noqa: F401,F403
from .calibration.base import __all__ as _base
from .calibration.solt import *  # noqa: F401,F403
from .calibration.solt import __all__ as _solt

__all__ = _base + _solt
