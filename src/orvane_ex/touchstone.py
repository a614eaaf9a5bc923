"""Touchstone files: this import path is kept for scripts written before the
package was grouped by area; the code lives in `orvane_ex.files.touchstone`."""
from .files.touchstone import *  # noqa: F401,F403
from .files.touchstone import __all__  # noqa: F401
