"""ERA5 single-level variable names and the quantity each holds: kept
importable here; the lookup lives in :mod:`quarnel.tmrt.names`."""

from quarnel.tmrt.names import ERA5_NAMES, SHORT_NAMES, standard_name

__all__ = ["ERA5_NAMES", "SHORT_NAMES", "standard_name"]
