"""The sun: where it is at the time stamp, and the sun paired with the
radiation (the mean over the sunlit part of an accumulation's interval)."""

from __future__ import annotations

from dataclasses import dataclass
from typing import Any

import numpy as np

from quarnel import ufunc as U
from quarnel._elementwise import where
from quarnel.tmrt.interval_sun import interval_cos_zenith

__all__ = ["Sun", "sun"]


@dataclass(frozen=True)
class Sun:
    zenith: Any             # at the time stamp [°]
    azimuth: Any            # at the time stamp, clockwise from north [°]; None: not asked for
    mu: Any                 # cos z paired with the radiation [1], 0 without sun
    sunlit: Any             # the sunlit share of the radiation's interval [1]
    paired_zenith: Any      # arccos mu [°], 90 without sun

    def outputs(self) -> dict[str, Any]:
        out = {"zenith_angle": self.zenith, "azimuth_angle": self.azimuth,
               "radiation_zenith_angle": self.paired_zenith, "sunlit_fraction": self.sunlit}
        return {k: v for k, v in out.items() if v is not None}


def sun(szeit: Any, latitude: Any, day: Any, accumulation_hours: float,
        interval_end: float = 0.0, azimuth: bool = True) -> Sun:
    """The sun at apparent solar time ``szeit`` [h] on ``day`` of the year.
    Radiation accumulated (or averaged) over ``accumulation_hours`` ending
    ``interval_end`` hours after each stamp is paired with mu, the mean
    cos z over the sunlit part of the interval (Hogan and Hirahara 2016),
    and that part's share; instantaneous radiation (0 hours) with the sun
    of the stamp. The azimuth, which nothing in the chain needs, only if
    ``azimuth``."""
    zenith = U.Zenitwinkel(szeit, latitude, day)
    azimuth_ = U.Azimutwinkel(szeit, latitude, day) if azimuth else None
    if accumulation_hours > 0:
        end = szeit + interval_end if interval_end else szeit
        mu, sunlit = interval_cos_zenith(end, latitude, day, accumulation_hours)
        paired = where(mu > 0, np.degrees(np.arccos(mu)), 90.0)
    else:
        up = zenith < 90.0
        mu = where(up, np.cos(np.radians(zenith)), 0.0)
        sunlit = where(up, 1.0, 0.0)
        paired = np.minimum(zenith, 90.0)
    paired = where(np.isnan(zenith), np.nan, paired)
    return Sun(zenith, azimuth_, mu, sunlit, paired)


def when(accumulation_hours: float, interval_end: float = 0.0) -> str:
    """The sun the radiation is paired with, in words (for the sources)."""
    if accumulation_hours > 0:
        place = ("before" if interval_end == 0 else "after" if interval_end == accumulation_hours
                 else "around")
        return (f"with the sun of the {accumulation_hours:g} h interval {place} each time (mean "
                "cos z over its sunlit part)")
    return "with the sun at each time"
