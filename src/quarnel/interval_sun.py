"""The sun of an accumulation interval: kept importable here; the code
lives in :mod:`quarnel.tmrt.interval_sun`."""

from quarnel.tmrt.interval_sun import declination, interval_cos_zenith

__all__ = ["declination", "interval_cos_zenith"]
