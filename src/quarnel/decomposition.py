"""Direct and diffuse solar radiation from global radiation (DISC): kept
importable here; the code lives in :mod:`quarnel.tmrt.decomposition`."""

from quarnel.tmrt.decomposition import disc, extraterrestrial_normal, split_global, station_pressure

__all__ = ["extraterrestrial_normal", "station_pressure", "disc", "split_global"]
