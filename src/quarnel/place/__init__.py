"""Where people stand: the geometry of a place on a digital surface model.

Sky view factors, horizons, shadows and walls on a raster of heights
(:mod:`quarnel.place.geometry`): what the mean radiant temperature of a
person at each pixel needs besides the weather (after SOLWEIG, Lindberg,
Holmer & Thorsson 2008; Lindberg & Grimmond 2011); and on them
:func:`compute`, maps of the mean radiant temperature and UTCI for every
time of the weather (:mod:`quarnel.place.maps`; the person:
:mod:`quarnel.place.person`, the weather's terms:
:mod:`quarnel.place.weather`, the raster: :mod:`quarnel.place.raster`).
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
from quarnel.place.maps import MAX_DISTANCE, VARIABLES, compute
from quarnel.place.raster import RasterError

__all__ = ["SkyView", "Walls", "horizon_angles", "shadow", "sky_view", "sky_view_factor",
           "sunlit_walls", "walls", "compute", "MAX_DISTANCE", "VARIABLES", "RasterError"]
