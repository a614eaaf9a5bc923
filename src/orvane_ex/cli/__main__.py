"""python -m orvane_ex.cli: the orvane-cal command."""
import sys

from .main import main

sys.exit(main())
