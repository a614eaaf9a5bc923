"""Files: Touchstone (`touchstone`) and calibration files (`calfile`)."""
