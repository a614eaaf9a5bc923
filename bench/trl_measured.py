"""Multiline TRL on the measured on-wafer set (tests/data/measured-mtrl)
against scikit-rf's NISTMultilineTRL, in one run: agreement of the corrected
device per S-parameter, effective permittivity, a line left out, speed.

    python bench/trl_measured.py
"""
import os
import sys
import warnings

import numpy as np
import skrf

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests"))
from test_calibration_trl_measured import LENGTHS_UM, THRU, Measured, corrected_by_nist  # noqa: E402
from timing import best_of  # noqa: E402



def table(ours, theirs):
    d = np.abs(ours - theirs)
    for i in range(2):
        for j in range(2):
            x = d[:, i, j]
            print(f"  S{i + 1}{j + 1}   median {np.median(x):8.1e}   99th pct {np.percentile(x, 99):8.1e}   "
                  f"max {x.max():8.1e}")


def main():
    warnings.simplefilter("ignore")
    m = Measured()
    device = m.lines[5]
    print(f"scikit-rf {skrf.__version__}; {len(m.f)} points {m.f[0] / 1e9:g}-{m.f[-1] / 1e9:g} GHz, thru "
          f"{LENGTHS_UM[0]} um, lines {LENGTHS_UM[1:5]} um, device the {LENGTHS_UM[5]} um line")
    for label, offset in [("reflect estimate at the short (refl_offset=+100 um from the thru's ends)", THRU / 2),
                          ("the published estimate (refl_offset=-100 um from the thru's ends)", -100e-6)]:
        nist = m.nist(refl_offset=offset)
        theirs = corrected_by_nist(nist, device)
        print(f"\n{label}")
        ours = m.ours()
        print(" ours (reflect sign followed across the band) against NISTMultilineTRL:")
        table(ours.apply(device), theirs)
        if offset < 0:
            per_point = m.ours(reflect_offset=offset - THRU / 2, reflect_root="estimate")
            print(" ours with reflect_root='estimate' against NISTMultilineTRL:")
            table(per_point.apply(device), theirs)
        print(f"  eps_eff   max |difference| {np.max(np.abs(ours.terms['eps_eff'] - nist.er_eff)):.1e}")

    held = m.ours(calibration_lines=(1, 2, 4, 5)).apply(m.lines[3])
    db = 20 * np.log10(np.abs(held[:, [0, 1], [0, 1]]))
    print(f"\n1800 um line left out, corrected: |S11| median {np.median(db[:, 0]):.1f} dB (max {db[:, 0].max():.1f}),"
          f" |S22| median {np.median(db[:, 1]):.1f} dB (max {db[:, 1].max():.1f}), median |S11 - S22| "
          f"{np.median(np.abs(held[:, 0, 0] - held[:, 1, 1])):.4f}")

    ours_time = best_of(lambda: m.ours())
    theirs_time = best_of(lambda: m.nist(refl_offset=THRU / 2), 2)
    print(f"\nspeed: {theirs_time / ours_time:.0f}x  ({ours_time * 1e3:.1f} ms / NISTMultilineTRL "
          f"{theirs_time * 1e3:.0f} ms, both with switch correction)")


if __name__ == "__main__":
    main()
