"""Physical constants."""

SPEED_OF_LIGHT = 299792458.0  # m/s, exact
