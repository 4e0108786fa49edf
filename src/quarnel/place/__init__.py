"""Where people stand: the geometry of a place on a digital surface model.

Sky view factors, horizons, shadows and walls on a raster of heights
(:mod:`quarnel.place.geometry`): what the mean radiant temperature of a
person at each pixel needs besides the weather (after SOLWEIG, Lindberg,
Holmer & Thorsson 2008; Lindberg & Grimmond 2011).
"""

from quarnel.place.geometry import (
    SkyView,
    Walls,
    horizon_angles,
    shadow,
    sky_view,
    sky_view_factor,
    sunlit_walls,
    walls,
)

__all__ = ["SkyView", "Walls", "horizon_angles", "shadow", "sky_view", "sky_view_factor",
           "sunlit_walls", "walls"]
