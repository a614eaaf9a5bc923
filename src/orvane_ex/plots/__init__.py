"""Figures that read well: S-parameters in dB and phase, errors against a
known truth, values with uncertainty bands, Smith charts, time-domain
responses.

Every function takes arrays (f in Hz; S [n] or [n, p, p], in the e^{jwt}
convention unless ``convention='board'``) or scikit-rf Networks, and returns
the matplotlib Figure; those that draw on one axes also take ``ax=``. The
figures use constrained layout (titles, labels and ticks do not overlap),
put their legends outside the data, and have grids. They are pyplot figures,
so ``plt.show()`` and notebooks show them; on a machine without a display
choose ``matplotlib.use("Agg")`` first and save them with ``fig.savefig``.

- `db_phase`: magnitude and phase per S-parameter, traces compared.
- `error_vs_truth`: |S - S_true| in dB (the virtual board knows the truth).
- `uncertainty_band`: a value with shaded k-bands of its standard
  uncertainty, or between bounds.
- `smith`: reflections on an impedance or admittance Smith chart.
- `time_response`: impulses in dB, steps, impedance profiles, with a gate.
- `verification`: a verification standard against its reference, and E_n.
"""
from .bands import uncertainty_band
from .frequency import db_phase, error_vs_truth
from .smith import smith
from .time import time_response
from .verification import verification

__all__ = ["db_phase", "error_vs_truth", "uncertainty_band", "smith", "time_response", "verification"]
